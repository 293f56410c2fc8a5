// Making directories along a path, renaming, and names that do not exist
// yet: a renamed file's unique name and a unique path name.
#include <orvexks/date.h>
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/strutl.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "file/fileutl_internal.h"
#include "startup/ks_msgs.h"

namespace {

// Unique names are at most this long.
constexpr size_t kNameMax = 1024;
constexpr int kMaxUniqueNumber = 999;

// Creates the host directory dir unless a directory is already there.
int make_dir(const char *dir, int mode) {
  if (mkdir(dir, static_cast<mode_t>(mode)) == 0) return 0;
  const int err = errno;
  struct stat st;
  if (err == EEXIST)
    return stat(dir, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  return err;
}

int set_errno(int err) {
  errno = err;
  return err;
}

// The length of the host path of an absolute path's root (a drive, a
// share, or the host's root), which must exist already: directories are
// made below a root, never the root itself. 0 for a relative path; ENOENT
// in *err when the root is missing.
size_t existing_root_length(const char *path, int *err) {
  *err = 0;
  if (!fileutl_is_abspn(path)) return 0;
  char root[ksi_host_path_max], rest[ksi_host_path_max],
      host[ksi_host_path_max];
  if (fileutl_root_split(path, root, sizeof root, rest, sizeof rest) != 0) {
    *err = ENAMETOOLONG;
    return 0;
  }
  *err = ksi_map_host_path(root, host);
  if (*err != 0) return 0;
  struct stat st;
  if (stat(host, &st) != 0 || !S_ISDIR(st.st_mode)) {
    *err = ENOENT;
    return 0;
  }
  size_t n = std::strlen(host);
  while (n > 1 && host[n - 1] == '/') --n;
  return n;
}

// 0 when host is free, EEXIST when it is taken, or the errno value of a
// look that failed otherwise. A refused look is no answer here: on this
// platform it concerns the whole directory, so every candidate would be
// refused alike.
int look(const char *host) {
  struct stat st;
  if (lstat(host, &st) == 0) return EEXIST;
  return errno == ENOENT ? 0 : errno;
}

// Renames from to to unless to exists. 0, EEXIST, or another errno value.
int rename_no_replace(const char *from, const char *to) {
  char host_from[ksi_host_path_max], host_to[ksi_host_path_max];
  int err = ksi_map_host_path(from, host_from);
  if (err == 0) err = ksi_map_host_path(to, host_to);
  if (err != 0) return err;
  err = look(host_to);
  if (err != 0) return err;
  if (renameat2(AT_FDCWD, host_from, AT_FDCWD, host_to, RENAME_NOREPLACE) == 0)
    return 0;
  // A file system without the no-replace form: the check above stands.
  if (errno == EINVAL && rename(host_from, host_to) == 0) return 0;
  return errno;
}

}  // namespace

extern "C" {

int fileutl_mkpath(const char *path, int mode, int make_last) {
  char host[ksi_host_path_max];
  int err = ksi_map_host_path(path, host);
  if (err != 0) return set_errno(err);
  const size_t root = existing_root_length(path, &err);
  if (err != 0) return set_errno(err);
  size_t end = std::strlen(host);
  while (end > 1 && host[end - 1] == '/') --end;
  host[end] = '\0';
  if (!make_last) {
    while (end > 0 && host[end - 1] != '/') --end;
    while (end > 1 && host[end - 1] == '/') --end;
    if (end == 0 || (end == 1 && host[0] == '/')) return 0;
    host[end] = '\0';
  }
  if (end <= root) return 0;
  for (size_t i = root + 1; i < end; ++i) {
    if (host[i] != '/' || host[i - 1] == '/') continue;
    host[i] = '\0';
    const int rc = make_dir(host, mode);
    host[i] = '/';
    if (rc != 0) return set_errno(rc);
  }
  const int rc = make_dir(host, mode);
  return rc != 0 ? set_errno(rc) : 0;
}

int fileutl_rename(const char *from, const char *to) {
  char host_from[ksi_host_path_max], host_to[ksi_host_path_max];
  int err = ksi_map_host_path(from, host_from);
  if (err == 0) err = ksi_map_host_path(to, host_to);
  if (err == 0 && rename(host_from, host_to) != 0) err = errno;
  if (err == 0) return 0;
  errno = err;
  return -1;
}

int fileutl_rename_w(const uint16_t *from, const uint16_t *to) {
  char narrow_from[ksi_host_path_max], narrow_to[ksi_host_path_max];
  if (from == nullptr || to == nullptr ||
      strutl_utf16to8(narrow_from, from, SIZE_MAX, sizeof narrow_from) != 0 ||
      strutl_utf16to8(narrow_to, to, SIZE_MAX, sizeof narrow_to) != 0) {
    errno = from == nullptr || to == nullptr ? EINVAL : ENAMETOOLONG;
    return -1;
  }
  return fileutl_rename(narrow_from, narrow_to);
}

int fileutl_rename_unique_ext(const char *path, const char *suffix, int sepchar,
                              size_t size, char *out) {
  if (path == nullptr || out == nullptr) {
    errno = EINVAL;
    return 1;
  }
  if (suffix == nullptr) suffix = "";
  if (sepchar == 0) sepchar = '.';
  char candidate[kNameMax + 1];
  for (int n = 0;; ++n) {
    const int len =
        n == 0
            ? std::snprintf(candidate, sizeof candidate, "%s%s", path, suffix)
            : std::snprintf(candidate, sizeof candidate, "%s%s%c%d", path,
                            suffix, sepchar, n);
    if (len < 0 || static_cast<size_t>(len) >= sizeof candidate ||
        static_cast<size_t>(len) >= size) {
      errno = ENAMETOOLONG;
      return 1;
    }
    const int err = rename_no_replace(path, candidate);
    if (err == EEXIST) continue;
    if (err != 0) {
      errno = err;
      return 1;
    }
    std::memcpy(out, candidate, len + 1);
    return 0;
  }
}

int fileutl_rename_unique(const char *path, const char *suffix, size_t size,
                          char *out) {
  return fileutl_rename_unique_ext(path, suffix, 0, size, out);
}

int fileutl_rename_unique_w(const uint16_t *path, const uint16_t *suffix,
                            size_t size, uint16_t *out) {
  char narrow_path[kNameMax + 1], narrow_suffix[kNameMax + 1],
      result[kNameMax + 1];
  if (path == nullptr || out == nullptr || size == 0) {
    errno = EINVAL;
    return 1;
  }
  narrow_suffix[0] = '\0';
  if (strutl_utf16to8(narrow_path, path, SIZE_MAX, sizeof narrow_path) != 0 ||
      (suffix != nullptr && strutl_utf16to8(narrow_suffix, suffix, SIZE_MAX,
                                            sizeof narrow_suffix) != 0)) {
    errno = ENAMETOOLONG;
    return 1;
  }
  // The wide result must fit before anything is renamed: every UTF-8 byte
  // becomes at most one UTF-16 unit.
  if (fileutl_rename_unique_ext(narrow_path, narrow_suffix, 0,
                                size < sizeof result ? size : sizeof result,
                                result) != 0)
    return 1;
  std::memset(out, 0, size * sizeof *out);
  size_t consumed = 0;
  strutl_utf8to16(out, result, std::strlen(result), size - 1, &consumed);
  return 0;
}

int fileutl_make_unique_pn(const char *dir, const char *name, int control,
                           size_t size, char *out) {
  if (control != 0 && control != 1) {
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_UNIQUE_PN_BAD_CONTROL, control);
    errno = EINVAL;
    return 1;
  }
  char base[kNameMax + 1], candidate[kNameMax + 32];
  const int len =
      std::snprintf(base, sizeof base, "%s%s", dir != nullptr ? dir : "",
                    name != nullptr ? name : "");
  if (len < 0 || static_cast<size_t>(len) >= sizeof base) {
    errno = ENAMETOOLONG;
    return 1;
  }
  if (control == 0) {
    const char *token = date_fmt_token_date_time_pname(std::time(nullptr));
    if (token == nullptr) return 1;
    std::snprintf(candidate, sizeof candidate, "%s.%s", base, token);
    return ksi_path_copy(out, size, candidate) ? 0 : 1;
  }
  for (int n = 0; n <= kMaxUniqueNumber; ++n) {
    if (n == 0)
      std::memcpy(candidate, base, len + 1);
    else
      std::snprintf(candidate, sizeof candidate, "%s.%d", base, n);
    if (!fileutl_exists(candidate, 0))
      return ksi_path_copy(out, size, candidate) ? 0 : 1;
  }
  errno = EEXIST;
  return 1;
}

}  // extern "C"
