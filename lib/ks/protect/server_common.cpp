// Reading an object's descriptor and protections, and writing the
// protection layout: the steps every server_ operation shares.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_error.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "identity/credutl_internal.h"
#include "protect/server_id_nt_msgs.h"
#include "protect/server_internal.h"
#include "protect/server_layout.h"

namespace {

// Platform codes the layer answers.
constexpr uint32_t kAccessDenied = 5;

void copy_sid(const nt_sid_t *sid, uint8_t *buf) {
  memset(buf, 0, NT_SID_MAX_LENGTH);
  memcpy(buf, sid, nt_sid_length(sid));
}

// The descriptor's owner and group must be there and not defaulted: 0, or
// the server_id_nt position of the message that says which is missing.
int missing_owner_or_group(const nt_sd_info_t &info) {
  if (info.owner == nullptr || (info.control & NT_SE_OWNER_DEFAULTED) != 0)
    return KSI_SERVER_CANT_DETERMINE_OWNER;
  if (info.group == nullptr || (info.control & NT_SE_GROUP_DEFAULTED) != 0)
    return KSI_SERVER_CANT_DETERMINE_GROUP;
  return 0;
}

// Recognises the DACL of a parsed descriptor into *out.
void recognise(const nt_sd_info_t &info, ksi_prot *out) {
  const auto *acl = reinterpret_cast<const uint8_t *>(info.dacl);
  if (acl == nullptr || (info.control & NT_SE_DACL_DEFAULTED) != 0 ||
      acl[0] != NT_ACL_REVISION) {
    out->mode = -1;
    out->reason = KSI_SERVER_SD_NO_ACL;
    return;
  }
  const ksi_layout layout = ksi_recognise_layout(info.dacl, out->is_dir);
  out->mode = layout.mode;
  out->reason = layout.reason;
  if (layout.mode >= 0) {
    credutl_nt_sid_to_sid(layout.owner, &out->owner);
    credutl_nt_sid_to_sid(layout.group, &out->group);
  }
}

}  // namespace

uint32_t ksi_set_security(const char *path, uint32_t what,
                          const nt_security_descriptor_t *sd, size_t size) {
  uint32_t rc =
      static_cast<uint32_t>(nt_set_file_security(path, what, sd, size));
  if (rc != kAccessDenied) return rc;
  int saved = 0;
  if (nt_enable_chown_privileges(&saved))
    rc = static_cast<uint32_t>(nt_set_file_security(path, what, sd, size));
  nt_restore_chown_privileges(saved);
  return rc;
}

bool ksi_server_join(const char *dir, const char *name, char *out) {
  const size_t dlen = strlen(dir);
  const size_t nlen = strlen(name);
  if (dlen + 1 + nlen >= kKsiServerPathMax) return false;
  memcpy(out, dir, dlen);
  out[dlen] = '\\';
  memcpy(out + dlen + 1, name, nlen + 1);
  return true;
}

credutl_sid_credentials_t ksi_server_dontcare_creds() {
  credutl_sid_credentials_t creds;
  memset(&creds, 0, sizeof creds);
  creds.user = CREDUTL_SID_DONTCARE;
  creds.group = CREDUTL_SID_DONTCARE;
  return creds;
}

void ksi_server_reason_text(int position, char *buf, size_t size) {
  imsg_snprintf(buf, size, &ksi_server_id_nt_msgs, position);
  buf[strcspn(buf, "\n")] = '\0';
}

void ksi_server_sid_name(const credutl_sid_t &sid, char *out, size_t size) {
  const char *name = nullptr;
  if (const credutl_passwd_sid_t *pw = credutl_getpwsid(&sid))
    name = pw->user.name;
  else if (const credutl_group_sid_t *gr = credutl_getgrsid(&sid))
    name = gr->name;
  char text[CREDUTL_SID_STR_SIZE];
  if (name == nullptr) name = credutl_sid_to_str(&sid, text);
  snprintf(out, size, "%s", name);
}

int ksi_server_errno(uint32_t code) {
  const int err = nt_win32error2errno(code);
  return err != 0 ? err : EIO;
}

int ksi_server_report_sd_failure(const char *path, uint32_t code) {
  if (nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP) == nullptr)
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_NO_PRODUCT_GROUP);
  imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_CREATE_SD,
             path, nt_get_error_string(code, nullptr, 0));
  return ksi_server_errno(code);
}

bool ksi_server_nt_sid(const credutl_sid_t *sid, uint8_t *buf) {
  memset(buf, 0, NT_SID_MAX_LENGTH);
  if (ksi_sid_has_nt_form(sid)) {
    credutl_sid_to_nt_sid(sid, NT_SID_MAX_LENGTH, buf);
    return true;
  }
  if (sid->type != CREDUTL_SID_TYPE_UNIX || !CREDUTL_IS_VALID_SID(sid))
    return false;
  nt_sid_t *mapped = nullptr;
  const uint32_t id = sid->data[4] == CREDUTL_SID_UNIX_UID
                          ? credutl_sid_to_unix_uid(sid)
                          : credutl_sid_to_unix_gid(sid);
  const int rc = sid->data[4] == CREDUTL_SID_UNIX_UID
                     ? ntx_uid_to_sid(id, &mapped)
                     : ntx_gid_to_sid(id, &mapped);
  if (rc != 0) return false;
  copy_sid(mapped, buf);
  nt_sid_free(mapped);
  return true;
}

uint32_t ksi_read_file_sd(const char *path, ksi_file_sd *out) {
  memset(out, 0, sizeof *out);
  int rc = nt_get_file_security(path, NT_ALL_SECURITY_INFORMATION, &out->bytes,
                                &out->size);
  if (rc == 0) rc = nt_sd_parse(out->bytes, out->size, &out->info);
  if (rc != 0) {
    nt_sd_free(out->bytes);
    out->bytes = nullptr;
  }
  return static_cast<uint32_t>(rc);
}

void ksi_release_file_sd(ksi_file_sd *sd) {
  nt_sd_free(sd->bytes);
  sd->bytes = nullptr;
}

int ksi_stat_reported(const char *path, struct stat *st) {
  if (fileutl_stat(path, 1, st) == 0) return 0;
  const int err = errno;
  imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_GET_ATTRIBUTE,
             path, imsg_strerror(err));
  return err;
}

int ksi_read_protections(const char *path, ksi_prot *out) {
  memset(out, 0, sizeof *out);
  struct stat st;
  if (const int err = ksi_stat_reported(path, &st); err != 0) return err;
  out->is_dir = S_ISDIR(st.st_mode);
  out->readonly = (st.st_mode & 0222) == 0;
  ksi_file_sd sd;
  const uint32_t rc = ksi_read_file_sd(path, &sd);
  if (rc != 0) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_GET_SD, path,
               nt_get_error_string(rc, nullptr, 0));
    return ksi_server_errno(rc);
  }
  const int missing = missing_owner_or_group(sd.info);
  if (missing == 0) {
    credutl_nt_sid_to_sid(sd.info.owner, &out->owner);
    credutl_nt_sid_to_sid(sd.info.group, &out->group);
    recognise(sd.info, out);
  }
  // Released before printing: a raise may leave this frame from there.
  ksi_release_file_sd(&sd);
  if (missing == 0) return 0;
  char reason[256];
  ksi_server_reason_text(missing == KSI_SERVER_CANT_DETERMINE_OWNER
                             ? KSI_SERVER_SD_NO_OWNER
                             : KSI_SERVER_SD_NO_GROUP,
                         reason, sizeof reason);
  imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, missing, path, reason);
  return EINVAL;
}

int ksi_write_layout(const char *path, const nt_sid_t *owner,
                     const nt_sid_t *group, int mode, bool is_dir,
                     bool with_owner) {
  nt_sid_t *self = nt_get_user_sid();
  if (self == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_NO_USER_SID);
    return EIO;
  }
  nt_security_descriptor_t *sd = nullptr;
  size_t size = 0;
  uint32_t rc = static_cast<uint32_t>(
      nt_sd_build_layout(self, owner, group, mode, is_dir ? 1 : 0,
                         ksi_network_write_enabled() ? 1 : 0, &sd, &size));
  nt_sid_free(self);
  if (rc != 0) return ksi_server_report_sd_failure(path, rc);
  int failed_at = -1;
  if (with_owner) {
    rc = ksi_set_security(
        path, NT_OWNER_SECURITY_INFORMATION | NT_GROUP_SECURITY_INFORMATION, sd,
        size);
    if (rc != 0) failed_at = KSI_SERVER_CANT_SET_OWNER;
  }
  if (rc == 0) {
    rc = ksi_set_security(path, NT_DACL_SECURITY_INFORMATION, sd, size);
    if (rc != 0) failed_at = KSI_SERVER_CANT_SET_ACL;
  }
  nt_sd_free(sd);
  if (rc == 0) return 0;
  imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, failed_at, path,
             nt_get_error_string(rc, nullptr, 0));
  return ksi_server_errno(rc);
}
