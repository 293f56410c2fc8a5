// Reading an object's protections, checking them against what they should
// be, and the UNIX-style access decision they make for a caller.
#include <orvexks/imsg.h>
#include <orvexks/server.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "protect/server_check_report.h"
#include "protect/server_id_nt_msgs.h"
#include "protect/server_internal.h"

namespace {

bool in_groups(const credutl_sid_t &group,
               const credutl_whole_credentials_t &creds) {
  if (credutl_sid_eq(&creds.group, &group)) return true;
  for (int i = 0; i < creds.ngroups; ++i)
    if (credutl_sid_eq(&creds.groups[i], &group)) return true;
  return false;
}

}  // namespace

extern "C" {

int server_get_fsobj_protections(const char *path, int want_mode,
                                 server_fsobj_prot_t *prot_out, int *mode_out) {
  if (path == nullptr || prot_out == nullptr) return EINVAL;
  ksi_prot prot;
  const int err = ksi_read_protections(path, &prot);
  if (err != 0) return err;
  prot_out->owner = prot.owner;
  prot_out->group = prot.group;
  prot_out->mode = want_mode ? prot.mode : SERVER_MODE_UNKNOWN;
  if (mode_out != nullptr) *mode_out = prot_out->mode;
  return 0;
}

int server_check_fsobj_protections(const char *path,
                                   const server_fsobj_prot_t *expected,
                                   int clear, int *mode_ok_out,
                                   char **report_out) {
  if (path == nullptr || expected == nullptr) return EINVAL;
  imsg_list_t list;
  imsg_list_create(&list, 0);
  int ok = 0;
  const int err = ksi_check_protections(path, expected, clear, &ok, &list);
  if (mode_ok_out != nullptr) *mode_ok_out = ok;
  ksi_finish_report(&list, report_out);
  return err;
}

int server_check_fsobj_access(const char *path,
                              const credutl_whole_credentials_t *whole_creds,
                              int want_write, int *granted_out) {
  if (path == nullptr || whole_creds == nullptr || granted_out == nullptr)
    return EINVAL;
  *granted_out = 0;
  ksi_prot prot;
  const int err = ksi_read_protections(path, &prot);
  if (err != 0) return err;
  if (prot.mode < 0) return EACCES;
  const int bit = want_write ? 02 : 04;
  if (credutl_sid_eq(&whole_creds->user, &prot.owner))
    *granted_out = prot.mode & (bit << 6);
  else if (in_groups(prot.group, *whole_creds))
    *granted_out = prot.mode & (bit << 3);
  else
    *granted_out = prot.mode & bit;
  return 0;
}

}  // extern "C"
