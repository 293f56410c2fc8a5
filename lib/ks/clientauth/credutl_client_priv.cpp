// Whether a client is privileged. Nothing a caller on another host says
// about itself makes it privileged: the host its credential names must be
// this host, and an RPC caller must also call from an address of this
// host, since a credential can name any host it likes.
#include <orvexks/credutl.h>
#include <orvexks/fileutl.h>
#include <orvexks/rpc/svc.h>
#include <orvexks/strutl.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_accounts.h>

#include <cstring>

#include "clientauth/credutl_client_internal.h"
#include "identity/credutl_internal.h"

namespace {

constexpr size_t kNameSize = CREDUTL_AUTH_NAME_SIZE;

// The NT form of a record; anything without one stands as the platform's
// placeholder SID.
const nt_sid_t *to_nt(const credutl_sid_t *sid, unsigned char *buf) {
  bool placeholder = sid->type == CREDUTL_SID_TYPE_NOBODY ||
                     sid->type == CREDUTL_SID_TYPE_DONTCARE;
  credutl_sid_to_nt_sid(
      placeholder || ksi_sid_has_nt_form(sid) ? sid : &CREDUTL_SID_NOBODY,
      CREDUTL_NT_SID_BUF_SIZE, buf);
  return reinterpret_cast<const nt_sid_t *>(buf);
}

bool sid_creds_privileged(const credutl_sid_credentials_t *s) {
  unsigned char user[CREDUTL_NT_SID_BUF_SIZE], group[CREDUTL_NT_SID_BUF_SIZE];
  unsigned char groups[CREDUTL_MAX_GROUPS][CREDUTL_NT_SID_BUF_SIZE];
  const nt_sid_t *group_ptrs[CREDUTL_MAX_GROUPS];
  int n = s->ngroups < 0 ? 0 : s->ngroups;
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  for (int i = 0; i < n; ++i) group_ptrs[i] = to_nt(&s->groups[i], groups[i]);
  return nt_is_privileged_sid_creds(to_nt(&s->user, user),
                                    to_nt(&s->group, group), n,
                                    group_ptrs) != 0;
}

// A privileged group's qualified name split into domain and name.
struct group_name {
  char domain[kNameSize];
  char name[kNameSize];
};

// The name of well-known group n; false when it has no SID or no group.
bool privileged_group(int n, group_name *out) {
  const nt_sid_t *nt = nt_get_enum_sid(n);
  if (nt == nullptr) return false;
  credutl_sid_t sid;
  credutl_nt_sid_to_sid(nt, &sid);
  const credutl_group_sid_t *group = credutl_getgrsid(&sid);
  if (group == nullptr || group->name == nullptr) return false;
  credutl_crack_fq_name(group->name, out->domain, sizeof out->domain, out->name,
                        sizeof out->name);
  return true;
}

bool names_group(const char *qualified, const group_name *g) {
  if (qualified == nullptr) return false;
  group_name client;
  credutl_crack_fq_name(qualified, client.domain, sizeof client.domain,
                        client.name, sizeof client.name);
  return strutl_stricoll(client.domain, g->domain) == 0 &&
         strutl_stricoll(client.name, g->name) == 0;
}

bool string_creds_privileged(const credutl_string_credentials_t *n) {
  int extra = 0;
  if (nt_is_elcc(0, &extra) != 0) return false;
  group_name groups[2];
  int count = 0;
  if (!privileged_group(NT_ENUM_SID_PRODUCT_GROUP, &groups[count++]))
    return false;
  if (extra != 0 &&
      !privileged_group(NT_ENUM_SID_ADMINISTRATORS, &groups[count++]))
    return false;
  int ngroups = n->ngroups < 0 ? 0 : n->ngroups;
  if (ngroups > CREDUTL_MAX_GROUPS) ngroups = CREDUTL_MAX_GROUPS;
  for (int g = 0; g < count; ++g) {
    if (names_group(n->group, &groups[g])) return true;
    for (int i = 0; i < ngroups; ++i)
      if (names_group(n->groups[i], &groups[g])) return true;
  }
  return false;
}

}  // namespace

extern "C" {

int credutl_client_is_privileged(const credutl_client_t *client, int *is_priv) {
  *is_priv = 0;
  int has_sids = 0, has_names = 0;
  credutl_sid_credentials_t sids;
  credutl_string_credentials_t names = {};
  char domain[kNameSize], host[kNameSize];
  if (credutl_crack_client(client, &has_sids, &has_names, &sids, &names,
                           sizeof domain, domain, sizeof host, host) != 0)
    return 0;
  bool local = fileutl_is_localhost(host) != 0;
  if (local && has_sids && client != nullptr &&
      client->auth_family == CREDUTL_AUTH_FAMILY_ONC)
    local = ksi_request_from_this_host(
        static_cast<const struct svc_req *>(client->auth_data));
  if (local && has_sids) *is_priv = sid_creds_privileged(&sids) ? 1 : 0;
  if (local && has_names) *is_priv = string_creds_privileged(&names) ? 1 : 0;
  if (has_names) credutl_free_string_credentials(&names);
  return 0;
}

int credutl_is_privileged(void) { return nt_is_privileged(); }

int credutl_set_server_group_lifetime(uint32_t seconds) {
  (void)seconds;
  return 1;
}

}  // extern "C"
