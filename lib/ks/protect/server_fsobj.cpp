// Creating, protecting and removing one file-system object.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/server.h>

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_error.h>
#include <orvexnt/nt_security.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file/fileutl_internal.h"
#include "protect/server_id_nt_msgs.h"
#include "protect/server_internal.h"
#include "protect/server_layout.h"

namespace {

constexpr uint32_t kFileExists = 80;
constexpr uint32_t kAlreadyExists = 183;

bool is_dontcare(const credutl_sid_t &sid) {
  return sid.type == CREDUTL_SID_TYPE_DONTCARE;
}

// On a file system without descriptors only a file's read-only attribute
// (its write bits) follows the new mode.
int protect_without_acl(const char *path, const struct stat &st, int clear,
                        int set) {
  if (S_ISDIR(st.st_mode)) return 0;
  const bool readonly = (st.st_mode & 0222) == 0;
  const int mode = ((readonly ? 0555 : 0777) & ~clear) | (set == -1 ? 0 : set);
  if (((mode & 0222) == 0) == readonly) return 0;
  const mode_t now =
      (mode & 0222) == 0 ? st.st_mode & ~0222 : st.st_mode | 0200;
  char host[ksi_host_path_max];
  int err = ksi_map_host_path(path, host);
  if (err == 0 && chmod(host, now & 07777) != 0) err = errno;
  if (err != 0)
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_CANT_SET_ATTRIBUTE, path, imsg_strerror(err));
  return err;
}

}  // namespace

int ksi_remove_object(const char *path) {
  char host[ksi_host_path_max];
  int err = ksi_map_host_path(path, host);
  struct stat st;
  if (err == 0 && lstat(host, &st) != 0) err = errno;
  if (err != 0) return err;
  const bool dir = S_ISDIR(st.st_mode);
  err = (dir ? rmdir(host) : unlink(host)) == 0 ? 0 : errno;
  // A refusal may be lifted by the change-owner privileges (an entry of a
  // sticky directory that another account owns).
  if (err == EACCES || err == EPERM) {
    int saved = 0;
    if (nt_enable_chown_privileges(&saved))
      err = (dir ? rmdir(host) : unlink(host)) == 0 ? 0 : errno;
    nt_restore_chown_privileges(saved);
  }
  return err;
}

extern "C" {

int server_create_fsobj(const char *path,
                        const credutl_sid_credentials_t *creds, int mode,
                        int is_dir) {
  if (path == nullptr || creds == nullptr) return EINVAL;
  nt_sid_t *self = nt_get_user_sid();
  if (self == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_NO_USER_SID);
    return EIO;
  }
  uint8_t owner[NT_SID_MAX_LENGTH];
  uint8_t group[NT_SID_MAX_LENGTH];
  nt_security_descriptor_t *sd = nullptr;
  size_t size = 0;
  uint32_t rc = 87;
  if (ksi_server_nt_sid(&creds->user, owner) &&
      ksi_server_nt_sid(&creds->group, group))
    rc = static_cast<uint32_t>(nt_sd_build_layout(
        self, ksi_as_sid(owner), ksi_as_sid(group), mode & 0777, is_dir,
        ksi_network_write_enabled() ? 1 : 0, &sd, &size));
  nt_sid_free(self);
  if (rc != 0) return ksi_server_report_sd_failure(path, rc);
  rc = static_cast<uint32_t>(
      nt_create_file_with_security(path, is_dir, sd, size));
  nt_sd_free(sd);
  if (rc == 0) return 0;
  if (rc == kFileExists || rc == kAlreadyExists) return EEXIST;
  imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
             is_dir ? KSI_SERVER_CANT_CREATE_DIR : KSI_SERVER_CANT_CREATE_FILE,
             path, nt_get_error_string(rc, nullptr, 0));
  return ksi_server_errno(rc);
}

int server_protect_fsobj(const char *path,
                         const credutl_sid_credentials_t *creds, int clear,
                         int set) {
  if (path == nullptr || creds == nullptr) return EINVAL;
  const bool keep_user = is_dontcare(creds->user);
  const bool keep_group = is_dontcare(creds->group);
  if (keep_user && keep_group && clear == 0 && (set == 0 || set == -1))
    return 0;
  int has_acl = 0;
  if (nt_fs_has_acl(path, &has_acl) != 0) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_CANT_TELL_ACL_SUPPORT, path);
    return EINVAL;
  }
  struct stat st;
  if (const int err = ksi_stat_reported(path, &st); err != 0) return err;
  if (!has_acl) return protect_without_acl(path, st, clear, set);

  const int set_bits = set == -1 ? 0 : set;
  ksi_prot now = {};
  now.mode = 0;
  // The current protections matter unless every part is given anew.
  if (keep_user || keep_group || clear != -1) {
    const int err = ksi_read_protections(path, &now);
    if (err != 0) return err;
    if (now.mode < 0) {
      char reason[256];
      ksi_server_reason_text(now.reason, reason, sizeof reason);
      imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
                 KSI_SERVER_UNKNOWN_STYLE_ON, path, reason);
      return EINVAL;
    }
  }
  const int mode = ((now.mode & ~clear) | set_bits) & 0777;
  const credutl_sid_t &user = keep_user ? now.owner : creds->user;
  const credutl_sid_t &group = keep_group ? now.group : creds->group;
  uint8_t owner_sid[NT_SID_MAX_LENGTH];
  uint8_t group_sid[NT_SID_MAX_LENGTH];
  if (!ksi_server_nt_sid(&user, owner_sid) ||
      !ksi_server_nt_sid(&group, group_sid)) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_SET_OWNER,
               path, imsg_strerror(EINVAL));
    return EINVAL;
  }
  const bool owner_changes =
      !credutl_sid_eq(&user, &now.owner) || !credutl_sid_eq(&group, &now.group);
  return ksi_write_layout(path, ksi_as_sid(owner_sid), ksi_as_sid(group_sid),
                          mode, S_ISDIR(st.st_mode), owner_changes);
}

int server_remove_fsobj(const char *path) {
  if (path == nullptr) return EINVAL;
  const int err = ksi_remove_object(path);
  if (err != 0 && err != ENOENT)
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_REMOVE, path,
               imsg_strerror(err));
  return err;
}

}  // extern "C"
