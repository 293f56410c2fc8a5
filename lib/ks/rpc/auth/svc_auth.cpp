// Server-side authentication: each call's credential is checked by the
// authenticator of its flavour before the call is dispatched. AUTH_NONE,
// AUTH_UNIX and AUTH_NT are built in; servers may register more flavours.
// Decoded credentials live in the request's scratch area, so nothing the
// authenticators make outlives the request.
#include <orvexks/qmthread.h>
#include <orvexks/rpc/svc.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal/thread_safety.h"
#include "thread/qmthread_internal.h"

namespace {

// ---- AUTH_UNIX.

// The scratch area of an AUTH_UNIX request.
struct unix_area {
  struct authunix_parms parms;
  char machname[MAX_MACHINE_NAME + 1];
  int32_t gids[NGRPS];
};
static_assert(sizeof(unix_area) <= KS_SVC_CLNTCRED_SIZE);

uint32_t get_word(const char *at) {
  uint32_t word;
  memcpy(&word, at, sizeof word);
  return ntohl(word);
}

// Parses an AUTH_UNIX body word by word. Every read is checked against the
// body length first.
enum auth_stat parse_unix_inline(const char *body, uint32_t body_len,
                                 unix_area *area) {
  struct authunix_parms *aup = &area->parms;
  if (body_len < 8) return AUTH_BADCRED;
  aup->aup_time = get_word(body);
  uint32_t name_len = get_word(body + 4);
  if (name_len > MAX_MACHINE_NAME) return AUTH_BADCRED;
  uint32_t padded = RNDUP(name_len);
  if (8 + padded + 12 > body_len) return AUTH_BADCRED;
  memcpy(area->machname, body + 8, name_len);
  area->machname[name_len] = '\0';
  const char *at = body + 8 + padded;
  aup->aup_uid = static_cast<int32_t>(get_word(at));
  aup->aup_gid = static_cast<int32_t>(get_word(at + 4));
  uint32_t ngids = get_word(at + 8);
  if (ngids > NGRPS) return AUTH_BADCRED;
  if ((5 + ngids) * 4 + padded > body_len) {
    printf("bad auth_len gid %d str %ld auth %u\n", static_cast<int>(ngids),
           static_cast<long>(padded), body_len);
    return AUTH_BADCRED;
  }
  at += 12;
  for (uint32_t i = 0; i < ngids; ++i, at += 4)
    area->gids[i] = static_cast<int32_t>(get_word(at));
  aup->aup_len = ngids;
  return AUTH_OK;
}

enum auth_stat authenticate_unix(struct svc_req *rqst, struct rpc_msg *msg) {
  auto *area = static_cast<unix_area *>(rqst->rq_clntcred);
  struct authunix_parms *aup = &area->parms;
  aup->aup_machname = area->machname;
  aup->aup_gids = area->gids;
  const struct opaque_auth *cred = &msg->rm_call.cb_cred;
  XDR xdrs;
  xdrmem_create(&xdrs, cred->oa_base, cred->oa_length, XDR_DECODE);
  int32_t *inline_body = XDR_INLINE(&xdrs, cred->oa_length);
  enum auth_stat stat;
  if (inline_body != nullptr) {
    stat = parse_unix_inline(reinterpret_cast<const char *>(inline_body),
                             cred->oa_length, area);
  } else {
    // The filter decodes into the area's fixed buffers and allocates nothing.
    stat = xdr_ks_authunix_parms(&xdrs, aup) ? AUTH_OK : AUTH_BADCRED;
  }
  if (stat != AUTH_OK) return stat;
  rqst->rq_xprt->xp_verf.oa_flavor = AUTH_NONE;
  rqst->rq_xprt->xp_verf.oa_length = 0;
  return AUTH_OK;
}

// ---- AUTH_NT.

constexpr size_t kNtNameSize = MAX_MACHINE_NAME + 1;
constexpr size_t kNtGroupSlots =
    (KS_SVC_CLNTCRED_SIZE - sizeof(struct authnt_parms) - kNtNameSize) /
    sizeof(nt_sid_t *);
static_assert(sizeof(struct authnt_parms) + kNtNameSize +
                  kNtGroupSlots * sizeof(nt_sid_t *) ==
              KS_SVC_CLNTCRED_SIZE);

// Copies SIDs the decoder allocated into the free tail of the scratch
// area, each 8-byte aligned, and releases the originals.
struct sid_mover {
  char *next;
  char *end;

  // The moved SID, or null (original released) when it does not fit.
  nt_sid_t *move(nt_sid_t *sid) {
    size_t len = nt_sid_length(sid);
    nt_sid_t *moved = nullptr;
    if (len > 0 && len <= static_cast<size_t>(end - next)) {
      memcpy(next, sid, len);
      moved = reinterpret_cast<nt_sid_t *>(next);
      next += (len + 7) & ~static_cast<size_t>(7);
      if (next > end) next = end;
    }
    nt_sid_free(sid);
    return moved;
  }
};

enum auth_stat authenticate_nt(struct svc_req *rqst, struct rpc_msg *msg) {
  char *area = static_cast<char *>(rqst->rq_clntcred);
  memset(area, 0, KS_SVC_CLNTCRED_SIZE);
  auto *parms = reinterpret_cast<struct authnt_parms *>(area);
  parms->ant_machname = area + sizeof(struct authnt_parms);
  parms->ant_groups =
      reinterpret_cast<nt_sid_t **>(parms->ant_machname + kNtNameSize);
  parms->ant_len = kNtGroupSlots;
  const struct opaque_auth *cred = &msg->rm_call.cb_cred;
  XDR xdrs;
  xdrmem_create(&xdrs, cred->oa_base, cred->oa_length, XDR_DECODE);
  if (!xdr_authnt_parms(&xdrs, parms)) return AUTH_BADCRED;

  sid_mover mover = {
      reinterpret_cast<char *>(parms->ant_groups + parms->ant_len),
      area + KS_SVC_CLNTCRED_SIZE};
  parms->ant_user = mover.move(parms->ant_user);
  parms->ant_group = mover.move(parms->ant_group);
  if (parms->ant_user == nullptr || parms->ant_group == nullptr) {
    for (uint32_t i = 0; i < parms->ant_len; ++i)
      nt_sid_free(parms->ant_groups[i]);
    return AUTH_BADCRED;
  }
  uint32_t kept = 0;
  for (uint32_t i = 0; i < parms->ant_len; ++i) {
    nt_sid_t *moved = kept == i ? mover.move(parms->ant_groups[i]) : nullptr;
    if (moved == nullptr) {
      if (kept != i) nt_sid_free(parms->ant_groups[i]);
      parms->ant_groups[i] = nullptr;
      continue;
    }
    parms->ant_groups[kept++] = moved;
  }
  parms->ant_len = kept;
  rqst->rq_xprt->xp_verf.oa_flavor = AUTH_NONE;
  rqst->rq_xprt->xp_verf.oa_length = 0;
  return AUTH_OK;
}

// ---- Registered flavours.

struct auth_node {
  auth_node *next;
  int flavor;
  ks_svc_authenticator_t handler;
};

qmthread_mutex_t registry_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(registry_mutex);
auth_node *registered KSI_GUARDED_BY(registry_mutex) = nullptr;

auth_node *find_registered(int flavor) KSI_REQUIRES(registry_mutex) {
  for (auth_node *n = registered; n != nullptr; n = n->next)
    if (n->flavor == flavor) return n;
  return nullptr;
}

enum auth_stat authenticate_registered(struct svc_req *rqst,
                                       struct rpc_msg *msg, int flavor) {
  qmthread_mutex_lock(&registry_mutex);
  auth_node *node = find_registered(flavor);
  enum auth_stat stat =
      node != nullptr ? node->handler(rqst, msg) : AUTH_REJECTEDCRED;
  qmthread_mutex_unlock(&registry_mutex);
  return stat;
}

}  // namespace

extern "C" {

KS_API enum auth_stat _ks_authenticate(struct svc_req *rqst,
                                       struct rpc_msg *msg) {
  rqst->rq_cred = msg->rm_call.cb_cred;
  rqst->rq_xprt->xp_verf.oa_flavor = AUTH_NONE;
  rqst->rq_xprt->xp_verf.oa_length = 0;
  switch (rqst->rq_cred.oa_flavor) {
    case AUTH_NONE:
      return AUTH_OK;
    case AUTH_UNIX:
      return authenticate_unix(rqst, msg);
    case AUTH_SHORT:
      return AUTH_REJECTEDCRED;  // short-hand credentials are never issued here
    case AUTH_NT:
      return authenticate_nt(rqst, msg);
    default:
      return authenticate_registered(rqst, msg, rqst->rq_cred.oa_flavor);
  }
}

KS_API int ks_svc_auth_reg(int flavor, ks_svc_authenticator_t handler) {
  if (flavor < 3) return 1;
  qmthread_mutex_lock(&registry_mutex);
  int result = 1;
  if (find_registered(flavor) == nullptr) {
    auto *node = static_cast<auth_node *>(malloc(sizeof(auth_node)));
    if (node == nullptr) {
      result = -1;
    } else {
      *node = {registered, flavor, handler};
      registered = node;
      result = 0;
    }
  }
  qmthread_mutex_unlock(&registry_mutex);
  return result;
}

}  // extern "C"
