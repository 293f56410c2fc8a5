// Descriptors of files in the extended attribute user.orvex.ntsd, kept in
// step with the POSIX owner, group and mode that the kernel enforces.
//
// Reading trusts the attribute only when it parses and the mode it grants
// is the file's mode on disk; otherwise (no attribute, a file system
// without user extended attributes, a damaged or stale attribute) the file
// reads as the protection layout of its POSIX owner, group and mode.
// Writing stores the attribute, then gives the file the owner and group
// the descriptor names (when the process may) and the mode it grants.
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_registry.h>
#include <orvexnt/nt_security.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "internal/nt_alloc_fault.h"
#include "internal/nt_sd_internal.h"

namespace {

int nti_win(int err) { return nti_errno_to_win32(err); }

// A file named by host path, or an open descriptor when path is null.
struct Target {
  const char *path;
  int fd;

  int stat(struct stat *st) const {
    return path ? ::stat(path, st) : fstat(fd, st);
  }
  ssize_t get_attr(void *buf, size_t size) const {
    return path ? getxattr(path, NT_SD_XATTR_NAME, buf, size)
                : fgetxattr(fd, NT_SD_XATTR_NAME, buf, size);
  }
  int set_attr(const void *buf, size_t size) const {
    return path ? setxattr(path, NT_SD_XATTR_NAME, buf, size, 0)
                : fsetxattr(fd, NT_SD_XATTR_NAME, buf, size, 0);
  }
  int change_owner(uid_t uid, gid_t gid) const {
    return path ? ::chown(path, uid, gid) : fchown(fd, uid, gid);
  }
  int change_mode(mode_t mode) const {
    return path ? ::chmod(path, mode) : fchmod(fd, mode);
  }

  // Runs op; when the kernel refuses it for want of the permission bits
  // `bits` and the process owns the file, runs it once more with those
  // bits granted to the owner for the moment. op returns 0 or -1 (errno).
  template <typename Op>
  int with_owner_access(const struct stat &st, mode_t bits, Op op) const {
    if (op() == 0) return 0;
    if (errno != EACCES || st.st_uid != geteuid()) return -1;
    if (change_mode((st.st_mode & 07777) | bits) != 0) return -1;
    const int rc = op();
    const int err = errno;
    change_mode(st.st_mode & 07777);
    errno = err;
    return rc;
  }
};

// The descriptor a file has now: its attribute or the synthesised layout.
struct Current {
  uint8_t *bytes = nullptr;
  size_t size = 0;
  nt_sd_info_t info{};
  Current() = default;
  Current(const Current &) = delete;
  Current &operator=(const Current &) = delete;
  ~Current() { free(bytes); }
};

// Reads the attribute into cur when it is present and trustworthy: 0 and
// cur->bytes set; 0 with cur->bytes null when there is none to trust; an
// errno value when the file refuses to be read.
int nti_load_attr(const Target &t, const struct stat &st, Current *cur) {
  auto *buf = static_cast<uint8_t *>(nt_malloc(NT_SD_MAX_SIZE));
  if (buf == nullptr) return ENOMEM;
  ssize_t n = -1;
  const int rc = t.with_owner_access(st, S_IRUSR, [&] {
    n = t.get_attr(buf, NT_SD_MAX_SIZE);
    return n < 0 ? -1 : 0;
  });
  if (rc != 0 && (errno == EACCES || errno == EPERM || errno == ENOMEM)) {
    const int err = errno;
    free(buf);
    return err;
  }
  nt_sd_info_t info;
  if (rc == 0 && nt_sd_parse(buf, static_cast<size_t>(n), &info) == 0 &&
      nt_sd_mode(&info) == static_cast<int>(st.st_mode & 0777)) {
    cur->bytes = buf;
    cur->size = static_cast<size_t>(n);
    cur->info = info;
  } else {
    free(buf);
  }
  return 0;
}

// A new heap SID of the host id, or of S-1-0-0 when the id has none.
nt_sid_t *nti_id_sid(uint32_t id, bool group) {
  nt_sid_t *sid = nullptr;
  if ((group ? ntx_gid_to_sid(id, &sid) : ntx_uid_to_sid(id, &sid)) == 0)
    return sid;
  return nt_sid_copy(nt_get_enum_sid(NT_ENUM_SID_NOBODY));
}

// The protection layout of the file's POSIX owner, group and mode.
int nti_synthesise(const struct stat &st, Current *cur) {
  nt_sid_t *owner = nti_id_sid(st.st_uid, false);
  nt_sid_t *group = nti_id_sid(st.st_gid, true);
  nt_security_descriptor_t *sd = nullptr;
  int rc = NTI_ERROR_NOT_ENOUGH_MEMORY;
  if (owner != nullptr && group != nullptr)
    rc = nti_sd_layout(owner, owner, group, static_cast<int>(st.st_mode & 0777),
                       S_ISDIR(st.st_mode), false, false, &sd, &cur->size);
  nt_sid_free(owner);
  nt_sid_free(group);
  if (rc != 0) return rc;
  cur->bytes = reinterpret_cast<uint8_t *>(sd);
  return nt_sd_parse(cur->bytes, cur->size, &cur->info);
}

int nti_load_current(const Target &t, const struct stat &st, Current *cur) {
  const int err = nti_load_attr(t, st, cur);
  if (err != 0) return nti_win(err);
  return cur->bytes ? 0 : nti_synthesise(st, cur);
}

// The host uid of a user SID / gid of a group SID; -1 (keep) otherwise.
uid_t nti_owner_uid(const nt_sid_t *sid) {
  if (sid == nullptr || nt_sid_is_group(sid)) return static_cast<uid_t>(-1);
  const uint32_t id = nt_sid_to_uid(sid);
  return id == NT_ID_NONE ? static_cast<uid_t>(-1) : id;
}

gid_t nti_group_gid(const nt_sid_t *sid) {
  if (sid == nullptr || !nt_sid_is_group(sid)) return static_cast<gid_t>(-1);
  const uint32_t id = nt_sid_to_uid(sid);
  return id == NT_ID_NONE ? static_cast<gid_t>(-1) : id;
}

// Gives the file the descriptor sd (already parsed into info): attribute,
// then owner and group, then mode.
int nti_apply(const Target &t, const struct stat &st, const void *sd,
              size_t size, const nt_sd_info_t &info) {
  if (st.st_uid != geteuid() && !nti_has_capability(CAP_FOWNER))
    return NTI_ERROR_ACCESS_DENIED;
  const mode_t write_bits = S_ISDIR(st.st_mode) ? S_IWUSR | S_IXUSR : S_IWUSR;
  if (t.with_owner_access(st, write_bits,
                          [&] { return t.set_attr(sd, size); }) != 0 &&
      errno != ENOTSUP)
    return nti_win(errno);

  const uid_t uid = nti_owner_uid(nt_sd_unix_owner(&info));
  const gid_t gid = nti_group_gid(info.group);
  const bool new_uid = uid != static_cast<uid_t>(-1) && uid != st.st_uid;
  const bool new_gid = gid != static_cast<gid_t>(-1) && gid != st.st_gid;
  if ((new_uid || new_gid) && t.change_owner(uid, gid) != 0) {
    // Without the privilege a process may still give its file to one of
    // its own groups; the owner then stays.
    if (nt_is_chown_privileged()) return nti_win(errno);
    if (new_gid) t.change_owner(static_cast<uid_t>(-1), gid);
  }
  struct stat now;
  if (t.stat(&now) != 0) return nti_win(errno);
  const mode_t mode = static_cast<mode_t>(nt_sd_mode(&info));
  if (t.change_mode((now.st_mode & 07000) | mode) != 0) return nti_win(errno);
  return 0;
}

int nti_get(const Target &t, uint32_t what, nt_security_descriptor_t **sd_out,
            size_t *size_out) {
  if (sd_out == nullptr || (what & ~NT_ALL_SECURITY_INFORMATION) != 0)
    return NTI_ERROR_INVALID_PARAMETER;
  *sd_out = nullptr;
  struct stat st;
  if (t.stat(&st) != 0) return nti_win(errno);
  Current cur;
  const int rc = nti_load_current(t, st, &cur);
  if (rc != 0) return rc;
  const nt_sd_info_t &i = cur.info;
  return nti_sd_assemble(
      what & NT_OWNER_SECURITY_INFORMATION ? i.owner : nullptr,
      what & NT_GROUP_SECURITY_INFORMATION ? i.group : nullptr,
      what & NT_DACL_SECURITY_INFORMATION ? i.dacl : nullptr, sd_out, size_out);
}

int nti_set(const Target &t, uint32_t what, const nt_security_descriptor_t *sd,
            size_t size) {
  if (sd == nullptr || (what & ~NT_ALL_SECURITY_INFORMATION) != 0)
    return NTI_ERROR_INVALID_PARAMETER;
  nt_sd_info_t in;
  int rc = nt_sd_parse(sd, size, &in);
  if (rc != 0) return rc;
  if (((what & NT_OWNER_SECURITY_INFORMATION) && in.owner == nullptr) ||
      ((what & NT_GROUP_SECURITY_INFORMATION) && in.group == nullptr) ||
      ((what & NT_DACL_SECURITY_INFORMATION) && in.dacl == nullptr))
    return NT_ERROR_INVALID_SECURITY_DESCR;
  struct stat st;
  if (t.stat(&st) != 0) return nti_win(errno);
  Current cur;
  rc = nti_load_current(t, st, &cur);
  if (rc != 0) return rc;
  const nt_sd_info_t &c = cur.info;
  nt_security_descriptor_t *merged = nullptr;
  size_t merged_size = 0;
  rc =
      nti_sd_assemble(what & NT_OWNER_SECURITY_INFORMATION ? in.owner : c.owner,
                      what & NT_GROUP_SECURITY_INFORMATION ? in.group : c.group,
                      what & NT_DACL_SECURITY_INFORMATION ? in.dacl : c.dacl,
                      &merged, &merged_size);
  if (rc != 0) return rc;
  nt_sd_info_t info;
  rc = nt_sd_parse(merged, merged_size, &info);
  if (rc == 0) rc = nti_apply(t, st, merged, merged_size, info);
  nt_sd_free(merged);
  return rc;
}

// Maps a path of the library's forms to a host path in out.
int nti_host_path(const char *path, char (&out)[PATH_MAX]) {
  if (path == nullptr) return NTI_ERROR_INVALID_PARAMETER;
  const int err = nt_map_path(path, out, sizeof out);
  return err == EINVAL ? NTI_ERROR_INVALID_PARAMETER : nti_win(err);
}

// Whether getxattr on host answers as a file system with user attributes
// does: 0 and *has; ENOENT and other errno values otherwise.
int nti_probe_xattrs(const char *host, int *has) {
  if (getxattr(host, NT_SD_XATTR_NAME, nullptr, 0) >= 0 || errno == ENODATA ||
      errno == ERANGE || errno == EACCES) {
    // EACCES: the kernel checked permissions, which it does before it
    // looks for a handler; the answer then errs towards support.
    *has = 1;
    return 0;
  }
  if (errno == ENOTSUP) {
    *has = 0;
    return 0;
  }
  return errno;
}

}  // namespace

extern "C" {

NT_API int nt_get_file_security(const char *path, uint32_t what,
                                nt_security_descriptor_t **sd_out,
                                size_t *size_out) {
  char host[PATH_MAX];
  const int rc = nti_host_path(path, host);
  return rc ? rc : nti_get(Target{host, -1}, what, sd_out, size_out);
}

NT_API int nt_get_fd_security(int fd, uint32_t what,
                              nt_security_descriptor_t **sd_out,
                              size_t *size_out) {
  return nti_get(Target{nullptr, fd}, what, sd_out, size_out);
}

NT_API int nt_set_file_security(const char *path, uint32_t what,
                                const nt_security_descriptor_t *sd,
                                size_t size) {
  char host[PATH_MAX];
  const int rc = nti_host_path(path, host);
  return rc ? rc : nti_set(Target{host, -1}, what, sd, size);
}

NT_API int nt_set_fd_security(int fd, uint32_t what,
                              const nt_security_descriptor_t *sd, size_t size) {
  return nti_set(Target{nullptr, fd}, what, sd, size);
}

NT_API int nt_create_file_with_security(const char *path, int is_dir,
                                        const nt_security_descriptor_t *sd,
                                        size_t size) {
  char host[PATH_MAX];
  int rc = nti_host_path(path, host);
  if (rc != 0) return rc;
  if (sd == nullptr) return NTI_ERROR_INVALID_PARAMETER;
  nt_sd_info_t info;
  rc = nt_sd_parse(sd, size, &info);
  if (rc != 0) return rc;
  if (info.owner == nullptr || info.group == nullptr || info.dacl == nullptr)
    return NT_ERROR_INVALID_SECURITY_DESCR;

  int fd = -1;
  if (is_dir ? mkdir(host, S_IRWXU)
             : (fd = open(host, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          S_IRUSR | S_IWUSR)) < 0) {
    if (errno == EEXIST)
      return is_dir ? NTI_ERROR_ALREADY_EXISTS : NTI_ERROR_FILE_EXISTS;
    return nti_win(errno);
  }
  const Target t{is_dir ? host : nullptr, fd};
  struct stat st;
  rc = t.stat(&st) != 0 ? nti_win(errno) : nti_apply(t, st, sd, size, info);
  if (fd >= 0) close(fd);
  if (rc != 0) is_dir ? rmdir(host) : unlink(host);
  return rc;
}

NT_API int nt_fs_has_acl(const char *path, int *has_acl_out) {
  char host[PATH_MAX];
  int rc = nti_host_path(path, host);
  if (rc != 0) return rc;
  if (has_acl_out == nullptr) return NTI_ERROR_INVALID_PARAMETER;
  int err = nti_probe_xattrs(host, has_acl_out);
  if (err == ENOENT) {
    // Not there yet: ask about the directory that would hold it.
    char *slash = strrchr(host, '/');
    if (slash == host)
      slash[1] = '\0';
    else if (slash != nullptr)
      *slash = '\0';
    else
      strcpy(host, ".");
    err = nti_probe_xattrs(host, has_acl_out);
  }
  return nti_win(err);
}

}  // extern "C"
