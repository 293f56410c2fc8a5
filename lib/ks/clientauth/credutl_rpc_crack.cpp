// Cracking an RPC request's credential into the caller's SIDs, domain and
// host. The server's authenticators have already decoded the credential
// into the request's scratch area: an authunix_parms for AUTH_UNIX, an
// authnt_parms for AUTH_NT.
//
// Membership of the product group is believed only from this host: a
// caller on another host can claim any group in its credential, so the
// product group's SID becomes NOBODY in every credential that names
// another host or arrives from another host's address.
#include <orvexks/credutl.h>
#include <orvexks/rpc/svc.h>
#include <orvexks/stg.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_accounts.h>

#include <strings.h>

#include <cstring>

#include "clientauth/credutl_client_internal.h"

namespace {

constexpr int kCrackOk = 0;
constexpr int kCrackUnknownFlavor = 1;
constexpr int kCrackNoAuth = 2;
constexpr uint32_t kMaxNtGroups = CREDUTL_MAX_GROUPS;

void set_nobody(credutl_whole_credentials_t *w) {
  w->user = CREDUTL_SID_NOBODY;
  w->group = CREDUTL_SID_NOBODY;
  w->ngroups = 0;
  w->groups = nullptr;
}

// A group array of n SIDs from the guarded heap, as the whole-credentials
// frees expect; null for n 0 or when memory runs out (*ok false then).
credutl_sid_t *alloc_groups(uint32_t n, bool *ok) {
  *ok = true;
  if (n == 0) return nullptr;
  auto *groups =
      static_cast<credutl_sid_t *>(stg_malloc(n * sizeof(credutl_sid_t)));
  *ok = groups != nullptr;
  return groups;
}

// An NT SID from the wire to a record; anything the platform does not
// accept as an NT SID is NOBODY.
void nt_to_sid(const nt_sid_t *nt, credutl_sid_t *out) {
  if (nt != nullptr && nt_sid_is_valid(nt))
    credutl_nt_sid_to_sid(nt, out);
  else
    *out = CREDUTL_SID_NOBODY;
}

bool crack_unix(const struct authunix_parms *aup,
                credutl_whole_credentials_t *w, char *domain, size_t dsize,
                char *host, size_t hsize) {
  credutl_crack_authunix_machname(aup->aup_machname, domain, dsize, host,
                                  hsize);
  credutl_uid_to_sid(&w->user, static_cast<credutl_uid_t>(aup->aup_uid));
  credutl_gid_to_sid(&w->group, static_cast<credutl_gid_t>(aup->aup_gid));
  uint32_t n = aup->aup_gids == nullptr ? 0 : aup->aup_len;
  if (n > NGRPS) n = NGRPS;
  bool ok;
  w->groups = alloc_groups(n, &ok);
  if (!ok) return false;
  for (uint32_t i = 0; i < n; ++i)
    credutl_gid_to_sid(&w->groups[i],
                       static_cast<credutl_gid_t>(aup->aup_gids[i]));
  w->ngroups = static_cast<int32_t>(n);
  return true;
}

bool crack_nt(const struct authnt_parms *p, credutl_whole_credentials_t *w,
              char *domain, size_t dsize, char *host, size_t hsize) {
  credutl_crack_authunix_machname(p->ant_machname, domain, dsize, host, hsize);
  nt_to_sid(p->ant_user, &w->user);
  nt_to_sid(p->ant_group, &w->group);
  uint32_t n = p->ant_groups == nullptr ? 0 : p->ant_len;
  if (n > kMaxNtGroups) n = kMaxNtGroups;
  bool ok;
  w->groups = alloc_groups(n, &ok);
  if (!ok) return false;
  for (uint32_t i = 0; i < n; ++i) nt_to_sid(p->ant_groups[i], &w->groups[i]);
  w->ngroups = static_cast<int32_t>(n);
  return true;
}

// Replaces the product group by NOBODY wherever it appears. The group is
// found by its configured name through the account caches, so a server
// asks the account database once for it rather than on every call; a
// group that does not exist yet is asked for again on the next call.
void distrust_product_group(credutl_whole_credentials_t *w) {
  const char *name = nt_get_quillmere_group_name();
  const credutl_group_sid_t *found =
      name == nullptr ? nullptr : credutl_getgrnam(name);
  if (found == nullptr) return;
  const credutl_sid_t product = found->sid;
  if (credutl_sid_eq(&w->group, &product)) w->group = CREDUTL_SID_NOBODY;
  for (int32_t i = 0; i < w->ngroups; ++i)
    if (credutl_sid_eq(&w->groups[i], &product))
      w->groups[i] = CREDUTL_SID_NOBODY;
}

}  // namespace

int ksi_crack_onc_client(struct svc_req *req, credutl_sid_credentials_t *out,
                         size_t dsize, char *domain, size_t hsize, char *host) {
  int status = credutl_crack_rpc_auth(req, out, dsize, domain, hsize, host);
  if (status == kCrackOk) {
    if (domain != nullptr && dsize > 0 && domain[0] == '\0')
      ksi_copy_out(domain, dsize, kKsiUnknownName);
    if (host != nullptr && hsize > 0 && host[0] == '\0')
      ksi_copy_out(host, hsize, kKsiUnknownName);
    return status;
  }
  credutl_init_sid_credentials(&CREDUTL_SID_NOBODY, &CREDUTL_SID_NOBODY, 0,
                               nullptr, out);
  ksi_copy_out(domain, dsize, kKsiUnknownName);
  ksi_copy_out(host, hsize, kKsiUnknownName);
  return status;
}

extern "C" {

int credutl_crack_whole_rpc_auth(struct svc_req *req,
                                 credutl_whole_credentials_t *whole_out,
                                 size_t dsize, char *domain, size_t hsize,
                                 char *host) {
  ksi_copy_out(domain, dsize, "");
  ksi_copy_out(host, hsize, "");
  set_nobody(whole_out);
  if (req == nullptr) return kCrackUnknownFlavor;
  // The caller's domain and host, each at most a machine name long.
  char client_domain[MAX_MACHINE_NAME + 1];
  char client_host[MAX_MACHINE_NAME + 1];
  bool ok;
  enum_t flavor = req->rq_cred.oa_flavor;
  if (flavor == AUTH_NONE) return kCrackNoAuth;
  // The authenticators leave the decoded credential here.
  if (req->rq_clntcred == nullptr) return kCrackUnknownFlavor;
  switch (flavor) {
    case AUTH_UNIX:
      ok = crack_unix(static_cast<const authunix_parms *>(req->rq_clntcred),
                      whole_out, client_domain, sizeof client_domain,
                      client_host, sizeof client_host);
      break;
    case AUTH_NT:
      ok = crack_nt(static_cast<const authnt_parms *>(req->rq_clntcred),
                    whole_out, client_domain, sizeof client_domain, client_host,
                    sizeof client_host);
      break;
    default:
      return kCrackUnknownFlavor;
  }
  if (!ok) {
    set_nobody(whole_out);
    return kCrackUnknownFlavor;
  }
  if (strcasecmp(client_host, sysutl_myhostname()) != 0 ||
      !ksi_request_from_this_host(req))
    distrust_product_group(whole_out);
  ksi_copy_out(domain, dsize, client_domain);
  ksi_copy_out(host, hsize, client_host);
  return kCrackOk;
}

int credutl_crack_rpc_auth(struct svc_req *req,
                           credutl_sid_credentials_t *sid_out, size_t dsize,
                           char *domain, size_t hsize, char *host) {
  credutl_whole_credentials_t whole;
  int status =
      credutl_crack_whole_rpc_auth(req, &whole, dsize, domain, hsize, host);
  credutl_init_sid_credentials(&whole.user, &whole.group, whole.ngroups,
                               whole.groups, sid_out);
  credutl_free_whole_credentials(&whole);
  return status;
}

}  // extern "C"
