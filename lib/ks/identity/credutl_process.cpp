// The calling process's own credentials, and the pruning of group lists
// down to the groups that stand for real groups or accounts.
#include <cerrno>
#include <cstring>

#include <orvexks/stg.h>
#include <orvexnt/nt_accounts.h>

#include "identity/credutl_internal.h"
#include "identity/credutl_msgs.h"
#include "memory/stg_heap.h"
#include "msg/msg_out.h"
#include "startup/ks_msgs.h"

namespace {

int report_getgroups_failure() {
  imsg_print(IMSG_ERROR, &ksi_credutl_msgs, KSI_CREDUTL_GETGROUPS_FAILED,
             imsg_strerror(errno));
  return 1;
}

// The process's groups in a heap array. The complete variant asks for
// every group the platform knows of the process. The primary group is
// left out of the list.
int process_whole_credentials(bool complete, credutl_whole_credentials_t *out) {
  int n = credutl_getgroups(0, nullptr);
  if (n < 0) return report_getgroups_failure();
  credutl_sid_t group = *credutl_getgsid();
  credutl_sid_t *groups = nullptr;
  int kept = 0;
  if (n > 0) {
    groups = static_cast<credutl_sid_t *>(
        ksi_heap_alloc(static_cast<size_t>(n) * sizeof *groups, true));
    if (groups == nullptr) {
      imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_NO_STORAGE);
      return 1;
    }
    kept = credutl_getgroups(complete ? -n : n, groups);
    if (kept < 0) {
      stg_free(groups);
      return report_getgroups_failure();
    }
    for (int i = 0; i < kept; ++i) {
      if (!credutl_sid_eq(&groups[i], &group)) continue;
      std::memmove(&groups[i], &groups[i + 1],
                   static_cast<size_t>(kept - i - 1) * sizeof *groups);
      --kept;
      break;
    }
    if (kept == 0) {
      stg_free(groups);
      groups = nullptr;
    }
  }
  out->user = *credutl_getusid();
  out->group = group;
  out->ngroups = kept;
  out->groups = groups;
  return 0;
}

// A group stays when it is a real group, or else the SID of a real account
// (a user standing in for a group); well-known groups and "nobody" go.
bool is_real_group(const credutl_sid_t *sid) {
  credutl_group_sid_t *gr = credutl_getgrsid(sid);
  if (gr != nullptr && std::strcmp(gr->name, "nobody") != 0 &&
      nt_is_well_known_group_cred(gr->name) == 0)
    return true;
  credutl_passwd_sid_t *pw = credutl_getpwsid(sid);
  return pw != nullptr && nt_is_well_known_group_cred(pw->user.name) == 0;
}

}  // namespace

extern "C" {

int credutl_get_sid_credentials(credutl_sid_credentials_t *out) {
  credutl_sid_t user = *credutl_getusid();
  credutl_sid_t group = *credutl_getgsid();
  credutl_sid_t groups[CREDUTL_MAX_GROUPS];
  int n = credutl_getgroups(CREDUTL_MAX_GROUPS, groups);
  if (n < 0) return report_getgroups_failure();
  return credutl_init_sid_credentials(&user, &group, n, groups, out);
}

int credutl_get_whole_credentials(credutl_whole_credentials_t *out) {
  return process_whole_credentials(false, out);
}

int credutl_get_complete_whole_credentials(credutl_whole_credentials_t *out) {
  return process_whole_credentials(true, out);
}

int credutl_remove_well_known_groups(credutl_sid_credentials_t *s) {
  size_t n = s->ngroups > 0 ? static_cast<size_t>(s->ngroups) : 0;
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!is_real_group(&s->groups[i])) continue;
    if (kept != i) s->groups[kept] = s->groups[i];
    ++kept;
  }
  std::memset(&s->groups[kept], 0, (n - kept) * sizeof s->groups[0]);
  s->ngroups = static_cast<int32_t>(kept);
  return 0;
}

}  // extern "C"
