// Access lists to and from the NT discretionary ACL of a file. On disk the
// DACL starts with the Network deny entry and the product group's entry;
// one allowed entry per list entry follows, in list order, Everyone (the
// OTHER entry) last.
#include <orvexks/imsg.h>
#include <orvexks/sysutl_acl.h>
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_error.h>
#include <orvexnt/nt_security.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal/alloc_fault.h"
#include "protect/server_id_nt_msgs.h"
#include "protect/sysutl_acl_impl.h"

namespace {

constexpr uint32_t kNetworkDenied = 0x10116;
constexpr int kMinEntries = 6;  // Network, product group, at least four

bool ksi_same(const nt_sid_t *a, int well_known) {
  const nt_sid_t *b = nt_get_enum_sid(well_known);
  return a != nullptr && b != nullptr && nt_sid_equal(a, b);
}

int ksi_errno(int win32) { return win32 ? nt_win32error2errno(win32) : 0; }

// A file system without ACLs (or one that cannot be asked) gives EINVAL.
int ksi_require_acls(const char *path) {
  int has = 0;
  return nt_fs_has_acl(path, &has) == 0 && has ? 0 : EINVAL;
}

// The same for an open file, asked through the name /proc gives it.
int ksi_require_acls_fd(int fd) {
  if (fd < 0) return EINVAL;
  char name[32];
  snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
  return ksi_require_acls(name);
}

// Turns the DACL of a descriptor into a new ACL object: 0, the platform
// error 1336 for a DACL of another layout or revision, or ENOMEM.
int ksi_acl_from_sd(const nt_security_descriptor_t *sd, size_t size,
                    sysutl_acl_t *acl_out) {
  nt_sd_info_t info;
  if (nt_sd_parse(sd, size, &info) != 0 || info.dacl == nullptr ||
      reinterpret_cast<const uint8_t *>(info.dacl)[0] != NT_ACL_REVISION ||
      nt_acl_count(info.dacl) < kMinEntries)
    return NT_ERROR_INVALID_ACL;
  nt_ace_info_t ace;
  nt_acl_get_ace(info.dacl, 0, &ace);
  if (ace.type != NT_ACCESS_DENIED_ACE_TYPE ||
      !ksi_same(ace.sid, NT_ENUM_SID_NETWORK))
    return NT_ERROR_INVALID_ACL;
  nt_acl_get_ace(info.dacl, 1, &ace);
  if (ace.type != NT_ACCESS_ALLOWED_ACE_TYPE ||
      !ksi_same(ace.sid, NT_ENUM_SID_PRODUCT_GROUP))
    return NT_ERROR_INVALID_ACL;

  sysutl_acl_t h = ksi_acl_new();
  if (h == nullptr) return ENOMEM;
  ksi_acl *acl = ksi_acl_of(h);
  bool user_seen = false, group_seen = false, other_seen = false;
  int rc = 0;
  for (int i = 2, n = nt_acl_count(info.dacl); i < n && rc == 0; i++) {
    nt_acl_get_ace(info.dacl, i, &ace);
    const bool everyone = ksi_same(ace.sid, NT_ENUM_SID_EVERYONE);
    const bool group = !everyone && nt_sid_is_group(ace.sid);
    if (ace.type != NT_ACCESS_ALLOWED_ACE_TYPE || other_seen ||
        (!everyone && !group && group_seen)) {
      rc = NT_ERROR_INVALID_ACL;
      break;
    }
    ksi_acl_entry *e = ksi_acl_append(acl);
    if (e == nullptr) {
      rc = ENOMEM;
      break;
    }
    e->mask = ace.mask;
    if (everyone) {
      e->tag = SYSUTL_ACL_OTHER;
      e->sid = nt_get_enum_sid(NT_ENUM_SID_EVERYONE);
      other_seen = true;
      continue;
    }
    bool &seen = group ? group_seen : user_seen;
    e->tag = group ? (seen ? SYSUTL_ACL_GROUP : SYSUTL_ACL_GROUP_OBJ)
                   : (seen ? SYSUTL_ACL_USER : SYSUTL_ACL_USER_OBJ);
    seen = true;
    memcpy(e->own_sid, ace.sid, nt_sid_length(ace.sid));
    e->sid = reinterpret_cast<const nt_sid_t *>(e->own_sid);
  }
  if (rc != 0)
    sysutl_acl_free(&h);
  else
    *acl_out = h;
  return rc;
}

// A descriptor holding the ACL in the on-disk layout, owned by the process
// and with the ACL's first GROUP_OBJ (else the process's group) as group.
// 0, EINVAL for an entry without a SID or a missing product group, ENOMEM.
int ksi_sd_from_acl(ksi_acl *acl, nt_security_descriptor_t **sd_out,
                    size_t *size_out) {
  const nt_sid_t *product = nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP);
  if (product == nullptr) return EINVAL;
  auto *aces = static_cast<nt_ace_info_t *>(
      nt_calloc(static_cast<size_t>(acl->count) + 2, sizeof(nt_ace_info_t)));
  if (aces == nullptr) return ENOMEM;
  aces[0] = {NT_ACCESS_DENIED_ACE_TYPE, 0, kNetworkDenied,
             nt_get_enum_sid(NT_ENUM_SID_NETWORK)};
  aces[1] = {NT_ACCESS_ALLOWED_ACE_TYPE, 0, NT_FILE_ALL_ACCESS, product};
  int n = 2;
  const nt_sid_t *group = nullptr;
  int rc = 0;
  for (ksi_acl_entry *e = ksi_acl_first(acl); e && rc == 0;
       e = ksi_acl_next(acl, e)) {
    if (e->sid == nullptr || !nt_sid_is_valid(e->sid)) rc = EINVAL;
    if (e->tag == SYSUTL_ACL_GROUP_OBJ && group == nullptr) group = e->sid;
    aces[n++] = {NT_ACCESS_ALLOWED_ACE_TYPE, 0, e->mask, e->sid};
  }
  nt_sid_t *me = nt_get_user_sid();
  nt_sid_t *my_group = group ? nullptr : nt_getgroup_sid();
  if (rc == 0 && (me == nullptr || (group == nullptr && my_group == nullptr)))
    rc = ENOMEM;
  if (rc == 0) {
    const int err =
        nt_sd_build(me, group ? group : my_group, aces, n, sd_out, size_out);
    rc = err == NT_ERROR_INVALID_ACL ? EINVAL : ksi_errno(err);
  }
  nt_sid_free(me);
  nt_sid_free(my_group);
  free(aces);
  return rc;
}

struct SdBytes {
  nt_security_descriptor_t *sd = nullptr;
  size_t size = 0;
  SdBytes() = default;
  SdBytes(const SdBytes &) = delete;
  ~SdBytes() { nt_sd_free(sd); }
};

// Reads a file's DACL (path, or fd when path is null) into an ACL object.
int ksi_acl_get(const char *path, int fd, sysutl_acl_t *acl_out) {
  SdBytes b;
  const int rc = path ? nt_get_file_security(path, NT_ALL_SECURITY_INFORMATION,
                                             &b.sd, &b.size)
                      : nt_get_fd_security(fd, NT_ALL_SECURITY_INFORMATION,
                                           &b.sd, &b.size);
  if (rc != 0) return ksi_errno(rc);
  return ksi_acl_from_sd(b.sd, b.size, acl_out);
}

int ksi_acl_set(const char *path, int fd, sysutl_acl_t acl_h) {
  ksi_acl *acl = ksi_acl_of(acl_h);
  if (acl == nullptr) return EINVAL;
  SdBytes b;
  const int rc = ksi_sd_from_acl(acl, &b.sd, &b.size);
  if (rc != 0) return rc;
  return ksi_errno(path ? nt_set_file_security(
                              path, NT_DACL_SECURITY_INFORMATION, b.sd, b.size)
                        : nt_set_fd_security(fd, NT_DACL_SECURITY_INFORMATION,
                                             b.sd, b.size));
}

}  // namespace

extern "C" {

KS_API int sysutl_acl_valid(sysutl_acl_t acl_h, int *valid_out) {
  if (acl_h == nullptr) return 0;
  ksi_acl *acl = ksi_acl_of(acl_h);
  if (acl == nullptr || valid_out == nullptr) return EINVAL;
  SdBytes b;
  *valid_out = ksi_sd_from_acl(acl, &b.sd, &b.size) == 0 ? 1 : 0;
  return 0;
}

KS_API int sysutl_acl_get_file(const char *path, int, sysutl_acl_t *acl_out) {
  if (acl_out == nullptr || path == nullptr) return EINVAL;
  *acl_out = nullptr;
  const int rc = ksi_require_acls(path);
  return rc ? rc : ksi_acl_get(path, -1, acl_out);
}

KS_API int sysutl_acl_get_fd(int fd, sysutl_acl_t *acl_out) {
  if (acl_out == nullptr) return EINVAL;
  *acl_out = nullptr;
  const int rc = ksi_require_acls_fd(fd);
  return rc ? rc : ksi_acl_get(nullptr, fd, acl_out);
}

KS_API int sysutl_acl_set_file(const char *path, int, sysutl_acl_t acl) {
  if (acl == nullptr) return 0;
  if (path == nullptr) return EINVAL;
  const int rc = ksi_require_acls(path);
  return rc ? rc : ksi_acl_set(path, -1, acl);
}

KS_API int sysutl_acl_set_fd(int fd, sysutl_acl_t acl) {
  if (acl == nullptr) return 0;
  const int rc = ksi_require_acls_fd(fd);
  return rc ? rc : ksi_acl_set(nullptr, fd, acl);
}

KS_API int sysutl_acl_set_nt_sd(const char *path, int is_dir,
                                sysutl_acl_t acl_h) {
  if (acl_h == nullptr) return 0;
  ksi_acl *acl = ksi_acl_of(acl_h);
  if (acl == nullptr || path == nullptr) return EINVAL;
  SdBytes b;
  int rc = ksi_sd_from_acl(acl, &b.sd, &b.size);
  if (rc != 0) return rc;
  // A new object is created with the descriptor; an existing one only
  // gets the DACL.
  rc = nt_create_file_with_security(path, is_dir, b.sd, b.size);
  if (rc == 80 || rc == 183)
    return ksi_errno(
        nt_set_file_security(path, NT_DACL_SECURITY_INFORMATION, b.sd, b.size));
  if (rc != 0)
    imsg_print(
        IMSG_ERROR, &ksi_server_id_nt_msgs,
        is_dir ? KSI_SERVER_CANT_CREATE_DIR : KSI_SERVER_CANT_CREATE_FILE, path,
        nt_get_error_string(static_cast<uint32_t>(rc), nullptr, 0));
  return ksi_errno(rc);
}

}  // extern "C"
