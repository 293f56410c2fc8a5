// The protection operations over an explicit access list: objects whose
// descriptor carries a list of user, group and other entries rather than
// the protection layout.
#include <orvexks/imsg.h>
#include <orvexks/server.h>
#include <orvexks/sysutl_acl.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <orvexks/fileutl.h>

#include "protect/server_check_report.h"
#include "protect/server_id_nt_msgs.h"
#include "protect/server_internal.h"

namespace {

// Results of the list family: errno values, or platform codes from 1000 up.
int as_errno(int rc) {
  return rc >= 1000 ? ksi_server_errno(static_cast<uint32_t>(rc)) : rc;
}

bool in_groups(const credutl_sid_t &sid, const credutl_whole_credentials_t &c) {
  if (credutl_sid_eq(&c.group, &sid)) return true;
  for (int i = 0; i < c.ngroups; ++i)
    if (credutl_sid_eq(&c.groups[i], &sid)) return true;
  return false;
}

// Whether an entry speaks for the caller.
bool names_caller(sysutl_acl_entry_t entry,
                  const credutl_whole_credentials_t &who) {
  int tag = 0;
  credutl_sid_t sid;
  if (sysutl_acl_get_tag_type(entry, &tag) != 0) return false;
  if (tag == SYSUTL_ACL_OTHER) return true;
  if (sysutl_acl_get_qualifier(entry, &sid) != 0) return false;
  if (tag == SYSUTL_ACL_USER_OBJ || tag == SYSUTL_ACL_USER)
    return credutl_sid_eq(&sid, &who.user) != 0;
  if (tag == SYSUTL_ACL_GROUP_OBJ || tag == SYSUTL_ACL_GROUP)
    return in_groups(sid, who);
  return false;
}

bool grants(sysutl_acl_entry_t entry, int perm) {
  sysutl_acl_permset_t set = nullptr;
  int present = 0;
  const bool ok = sysutl_acl_get_permset(entry, &set) == 0 &&
                  sysutl_acl_check_perm(set, perm, &present) == 0 &&
                  present != 0;
  sysutl_acl_free(&set);
  return ok;
}

// Adds "title", the list's text (or why it cannot be shown) and a marker.
void add_acl_text(imsg_list_t *list, int title, sysutl_acl_t acl, bool wrong) {
  imsg_list_add_msg(list, &ksi_server_id_nt_msgs, title);
  char *text = nullptr;
  const int rc = sysutl_acl_to_text(acl, nullptr, &text);
  if (rc != 0) {
    imsg_list_add_msg(list, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_SHOW_ACL,
                      imsg_strerror(as_errno(rc)));
    return;
  }
  imsg_list_add_str(list, text);
  free(text);
  if (wrong) {
    imsg_list_add_msg(list, &ksi_server_id_nt_msgs, KSI_SERVER_REPORT_WRONG);
    imsg_list_add_str(list, "\n");
  }
}

}  // namespace

extern "C" {

int server_create_fsobj_acl(const char *path,
                            const credutl_sid_credentials_t *creds, int mode,
                            sysutl_acl_t acl, int is_dir) {
  if (acl == nullptr) return server_create_fsobj(path, creds, mode, is_dir);
  if (path == nullptr) return EINVAL;
  return as_errno(sysutl_acl_set_nt_sd(path, is_dir, acl));
}

int server_protect_fsobj_acl(const char *path,
                             const credutl_sid_credentials_t *creds, int clear,
                             int set, int acl_flag, sysutl_acl_t acl) {
  if (acl == nullptr && !acl_flag)
    return server_protect_fsobj(path, creds, clear, set);
  if (path == nullptr) return EINVAL;
  if (acl != nullptr) {
    struct stat st;
    if (fileutl_stat(path, 1, &st) != 0) return errno;
    return as_errno(sysutl_acl_set_nt_sd(path, S_ISDIR(st.st_mode), acl));
  }
  // The entries already there keep their principals; only their rights
  // change.
  sysutl_acl_t now = nullptr;
  int rc = sysutl_acl_get_file(path, SYSUTL_ACL_TYPE_ACCESS, &now);
  if (rc == 0)
    rc = sysutl_acl_modify_perms(&now, clear == -1 ? 0777 : clear,
                                 set == -1 ? 0 : set);
  if (rc == 0) rc = sysutl_acl_set_file(path, SYSUTL_ACL_TYPE_ACCESS, now);
  sysutl_acl_free(&now);
  if (rc != 0)
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_SET_ACL,
               path, imsg_strerror(as_errno(rc)));
  return as_errno(rc);
}

int server_check_fsobj_protections_acl(const char *path,
                                       const server_fsobj_prot_t *expected,
                                       int clear, sysutl_acl_t acl,
                                       int *mode_ok_out, char **report_out) {
  if (acl == nullptr)
    return server_check_fsobj_protections(path, expected, clear, mode_ok_out,
                                          report_out);
  if (path == nullptr || expected == nullptr) return EINVAL;
  // Owner and group as the protections say; the list replaces the mode.
  server_fsobj_prot_t ownership = *expected;
  ownership.mode = 0;
  imsg_list_t list;
  imsg_list_create(&list, 0);
  int ok = 0;
  int err = ksi_check_protections(path, &ownership, 0, &ok, &list);
  sysutl_acl_t actual = nullptr;
  if (err == 0) {
    const int rc = sysutl_acl_get_file(path, SYSUTL_ACL_TYPE_ACCESS, &actual);
    if (rc != 0) {
      imsg_print(IMSG_WARNING, &ksi_server_id_nt_msgs,
                 KSI_SERVER_CANT_RETRIEVE_ACL, path,
                 imsg_strerror(as_errno(rc)));
      ok = 0;
    } else {
      int equal = 0;
      if (sysutl_acl_eq(acl, actual, &equal) != 0) equal = 0;
      if (!equal) ok = 0;
      add_acl_text(&list, KSI_SERVER_REPORT_EXPECTED, acl, false);
      add_acl_text(&list, KSI_SERVER_REPORT_ACTUAL, actual, !equal);
    }
  }
  sysutl_acl_free(&actual);
  if (mode_ok_out != nullptr) *mode_ok_out = ok;
  ksi_finish_report(&list, report_out);
  return err;
}

int server_check_fsobj_access_acl(
    const char *path, const credutl_whole_credentials_t *whole_creds,
    int want_write, int *granted_out) {
  if (path == nullptr || whole_creds == nullptr || granted_out == nullptr)
    return EINVAL;
  *granted_out = 0;
  sysutl_acl_t acl = nullptr;
  const int rc = sysutl_acl_get_file(path, SYSUTL_ACL_TYPE_ACCESS, &acl);
  if (rc != 0) return as_errno(rc);
  const int perm = want_write ? SYSUTL_ACL_WRITE : SYSUTL_ACL_READ;
  sysutl_acl_entry_t entry = nullptr;
  int which = SYSUTL_ACL_FIRST_ENTRY;
  while (sysutl_acl_get_entry(acl, which, &entry) == 0 && entry != nullptr) {
    which = SYSUTL_ACL_NEXT_ENTRY;
    const bool hit = names_caller(entry, *whole_creds) && grants(entry, perm);
    sysutl_acl_free(&entry);
    if (hit) {
      *granted_out = 1;
      break;
    }
  }
  sysutl_acl_free(&acl);
  return 0;
}

}  // extern "C"
