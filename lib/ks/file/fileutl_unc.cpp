// Where a path lives: UNC names of this host's shares and network drives,
// and UNC names back to a host and a local path. This host's shares are
// the [shares] table of the settings store (name=directory); a drive whose
// [drives] target is /net/HOST/SHARE is a network connection to
// \\HOST\SHARE. Another host's paths would need its location broker, which
// answers only for this host: they fail with EINVAL.
#include <orvexks/fileutl.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_registry.h>

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "file/fileutl_internal.h"

namespace {

constexpr size_t kPathMax = 4096;
constexpr size_t kLocalMax = 1024;  // longest local path of a UNC name
// The exported drive expansion keeps the limit of the system call behind it
// on the original platform (260 bytes with the terminator).
constexpr size_t kMappedMax = 260;

struct Unc {
  char host[256];
  char share[256];
  const char *rest;  // after the share and its separators
};

bool fail(int error) {
  errno = error;
  return false;
}

bool split_unc(const char *p, Unc *unc) {
  if (!ksi_is_sep(p[0]) || !ksi_is_sep(p[1])) return fail(EINVAL);
  const char *host = p + 2;
  const size_t host_len = std::strcspn(host, "\\/");
  const char *share = host + host_len;
  while (ksi_is_sep(*share)) ++share;
  const size_t share_len = std::strcspn(share, "\\/");
  if (host_len == 0 || share_len == 0) return fail(EINVAL);
  if (host_len >= sizeof unc->host || share_len >= sizeof unc->share)
    return fail(ENAMETOOLONG);
  std::memcpy(unc->host, host, host_len);
  unc->host[host_len] = '\0';
  std::memcpy(unc->share, share, share_len);
  unc->share[share_len] = '\0';
  unc->rest = share + share_len;
  while (ksi_is_sep(*unc->rest)) ++unc->rest;
  return true;
}

// The directory of one of this host's shares, without a trailing separator.
bool share_directory(const char *share, char *dir, size_t size) {
  if (nt_settings_get("shares", share, dir, size) != NTREGY_OK)
    return fail(EINVAL);
  for (size_t n = std::strlen(dir); n > 1 && ksi_is_sep(dir[n - 1]); --n)
    dir[n - 1] = '\0';
  return true;
}

// The local path of a UNC name of this host: the share's directory, a '\'
// unless it ends in a separator, and the rest.
bool local_of_unc(const Unc &unc, char *out, size_t size) {
  char dir[kPathMax];
  if (!share_directory(unc.share, dir, sizeof dir)) return false;
  const size_t n = std::strlen(dir);
  const int len =
      std::snprintf(out, size, "%s%s%s", dir,
                    n > 0 && ksi_is_sep(dir[n - 1]) ? "" : "\\", unc.rest);
  if (len < 0 || static_cast<size_t>(len) >= size ||
      static_cast<size_t>(len) > kLocalMax)
    return fail(ENAMETOOLONG);
  return true;
}

// The local path of a UNC name on this host; another host's fails.
bool locate(const Unc &unc, char *out, size_t size) {
  if (!fileutl_is_localhost(unc.host)) return fail(EINVAL);
  return local_of_unc(unc, out, size);
}

// The connection of p's drive when it is a network drive ("\\HOST\SHARE").
bool network_drive(const char *p, char *connection, size_t size) {
  if (!fileutl_has_drive(p)) return false;
  const char letter[2] = {
      static_cast<char>(std::tolower(static_cast<unsigned char>(p[0]))), '\0'};
  char target[kPathMax];
  if (nt_settings_get("drives", letter, target, sizeof target) != NTREGY_OK ||
      std::strncmp(target, "/net/", 5) != 0)
    return false;
  char host[256], share[256];
  if (std::sscanf(target + 5, "%255[^/]/%255[^/]", host, share) != 2)
    return false;
  const int len = std::snprintf(connection, size, "\\\\%s\\%s", host, share);
  return len > 0 && static_cast<size_t>(len) < size;
}

// A mapped network drive replaced by its UNC name; other paths unchanged.
bool expand_mapped(const char *p, char *out, size_t size) {
  char connection[kPathMax];
  if (!network_drive(p, connection, sizeof connection))
    return ksi_path_copy(out, size, p);
  const int len = std::snprintf(out, size, "%s%s", connection, p + 2);
  return len >= 0 && static_cast<size_t>(len) < size ? true
                                                     : fail(ENAMETOOLONG);
}

// The UNC name of a host path under one of this host's shares: the first
// share whose directory is a case-blind prefix of it at a component
// boundary.
bool share_unc(const char *host_path, char *out, size_t size) {
  char name[256], dir[kPathMax];
  for (uint32_t i = 0; nt_settings_enum("shares", i, name, sizeof name, dir,
                                        sizeof dir) == NTREGY_OK;
       ++i) {
    size_t n = std::strlen(dir);
    while (n > 1 && ksi_is_sep(dir[n - 1])) --n;
    if (n == 0 || strncasecmp(dir, host_path, n) != 0) continue;
    const char *rest = host_path + n;
    if (*rest != '\0' && !ksi_is_sep(*rest) && !ksi_is_sep(dir[n - 1]))
      continue;
    const int len =
        std::snprintf(out, size, "\\\\%s\\%s%s%s", sysutl_myhostname(), name,
                      *rest != '\0' && !ksi_is_sep(*rest) ? "\\" : "", rest);
    if (len < 0 || static_cast<size_t>(len) >= size) return fail(ENAMETOOLONG);
    for (char *q = out; *q != '\0'; ++q)
      if (*q == '/') *q = '\\';
    return true;
  }
  return false;
}

// The UNC name of p, or false; *no_share tells that p is local but under
// no share, with its drive letter and the path after it in *letter/*tail.
bool to_unc(const char *p, char *out, size_t size, bool *no_share, char *letter,
            char *tail, size_t tail_size) {
  *no_share = false;
  if (fileutl_is_unc_pn(p)) return ksi_path_copy(out, size, p);
  char connection[kPathMax];
  if (fileutl_is_abspn(p) && network_drive(p, connection, sizeof connection)) {
    const int len = std::snprintf(out, size, "%s%s", connection, p + 2);
    return len >= 0 && static_cast<size_t>(len) < size ? true
                                                       : fail(ENAMETOOLONG);
  }
  char full[kPathMax];
  const int rc = ksi_full_host_path(p, full, sizeof full);
  if (rc != 0) return fail(rc);
  if (share_unc(full, out, size)) return true;
  if (errno == ENAMETOOLONG) return false;
  *no_share = true;
  *letter = fileutl_has_drive(p) && fileutl_is_abspn(p) ? p[0] : 'c';
  const char *after =
      fileutl_has_drive(p) && fileutl_is_abspn(p) ? p + 2 : full;
  if (!ksi_path_copy(tail, tail_size, after)) return false;
  return ksi_path_copy(out, size, full) ? fail(EINVAL) : false;
}

}  // namespace

extern "C" {

int fileutl_where(const char *p, char *out, size_t size) {
  char expanded[kPathMax], local[kPathMax];
  if (p == nullptr || !expand_mapped(p, expanded, sizeof expanded)) return 1;
  int len;
  if (!fileutl_is_unc_pn(expanded) &&
      !(ksi_is_sep(expanded[0]) && ksi_is_sep(expanded[1]))) {
    len = std::snprintf(out, size, "%s:%s", sysutl_myhostname(), expanded);
  } else {
    Unc unc;
    if (!split_unc(expanded, &unc) || !locate(unc, local, sizeof local))
      return 1;
    len = std::snprintf(out, size, "%s:%s", unc.host, local);
  }
  return len >= 0 && static_cast<size_t>(len) < size ? 0
                                                     : (fail(ENAMETOOLONG), 1);
}

int fileutl_expand_mapped_pn(const char *p, char *out, size_t size) {
  if (p == nullptr) return fail(EINVAL), 1;
  return expand_mapped(p, out, size < kMappedMax ? size : kMappedMax) ? 0 : 1;
}

int fileutl_path_host(const char *p, char *out, size_t size) {
  char expanded[kPathMax];
  if (p == nullptr || !expand_mapped(p, expanded, sizeof expanded)) return 1;
  if (!(ksi_is_sep(expanded[0]) && ksi_is_sep(expanded[1])))
    return ksi_path_copy(out, size, sysutl_myhostname()) ? 0 : 1;
  const char *host = expanded + 2;
  const size_t n = std::strcspn(host, "\\/");
  if (n == 0) return fail(EINVAL), 1;
  return ksi_path_copy(out, size, host, n) ? 0 : 1;
}

int fileutl_path_host_cmp(const char *p, const char *host, int *equal) {
  char of_p[256], other[256];
  if (fileutl_path_host(p, of_p, sizeof of_p) != 0) return -1;
  if (!ksi_path_copy(other, sizeof other,
                     host != nullptr ? host : sysutl_myhostname()))
    return -1;
  of_p[std::strcspn(of_p, ":")] = '\0';
  other[std::strcspn(other, ":")] = '\0';
  if (equal != nullptr) *equal = fileutl_hosts_equal(of_p, other);
  return 0;
}

int fileutl_non_admin_unc_pn(const char *p, char *out, size_t size) {
  bool no_share = false;
  char letter, tail[kPathMax];
  if (p == nullptr) return fail(EINVAL), 1;
  return to_unc(p, out, size, &no_share, &letter, tail, sizeof tail) ? 0 : 1;
}

int fileutl_unc_pn(const char *p, char *out, size_t size) {
  bool no_share = false;
  char letter, tail[kPathMax];
  if (p == nullptr) return fail(EINVAL), 1;
  if (to_unc(p, out, size, &no_share, &letter, tail, sizeof tail)) return 0;
  if (!no_share) return 1;
  // The administrative share of the drive: \\host\X$\path.
  const int len =
      std::snprintf(out, size, "\\\\%s\\%c$%s%s", sysutl_myhostname(), letter,
                    ksi_is_sep(tail[0]) ? "" : "\\", tail);
  if (len < 0 || static_cast<size_t>(len) >= size) return fail(ENAMETOOLONG), 1;
  for (char *q = out; *q != '\0'; ++q)
    if (*q == '/') *q = '\\';
  return 0;
}

int fileutl_get_local_path(const char *unc, int *is_local, char *out,
                           size_t size) {
  if (is_local != nullptr) *is_local = 0;
  Unc parts;
  if (unc == nullptr || !split_unc(unc, &parts)) return 1;
  if (!fileutl_is_localhost(parts.host))
    return ksi_path_copy(out, size, unc) ? 0 : 1;
  if (!local_of_unc(parts, out, size)) return 1;
  if (is_local != nullptr) *is_local = 1;
  return 0;
}

int fileutl_path_locate(const char *unc, char *host, size_t hsize, char *local,
                        size_t lsize, char *orig, size_t osize) {
  Unc parts;
  if (unc == nullptr || !split_unc(unc, &parts)) return 1;
  if (!ksi_path_copy(host, hsize, parts.host)) return 1;
  if (!locate(parts, local, lsize)) return 1;
  return ksi_path_copy(orig, osize, unc) ? 0 : 1;
}

int fileutl_get_location(const char *p, char *host, size_t hsize, char *local,
                         size_t lsize) {
  char expanded[kPathMax], orig[kPathMax];
  if (p == nullptr || !expand_mapped(p, expanded, sizeof expanded)) return 1;
  if (fileutl_is_unc_pn(expanded)) {
    if (fileutl_path_locate(expanded, host, hsize, local, lsize, orig,
                            sizeof orig) != 0)
      return 1;
    if (fileutl_is_localhost(host)) host[0] = '\0';
    return 0;
  }
  if (!ksi_path_copy(host, hsize, "", 0)) return 1;
  const int rc = ksi_full_host_path(p, local, lsize);
  return rc == 0 ? 0 : (fail(rc), 1);
}

int fileutl_mount_pname(const char *p, char *out, size_t size) {
  char full[kPathMax], rest[kPathMax];
  if (p == nullptr) return fail(EINVAL), 1;
  if (fileutl_is_unc_pn(p) || (fileutl_is_abspn(p) && fileutl_has_drive(p)))
    return fileutl_root_split(p, out, size, rest, sizeof rest);
  const int rc = ksi_full_host_path(p, full, sizeof full);
  if (rc != 0) return fail(rc), 1;
  return fileutl_root_split(full, out, size, rest, sizeof rest);
}

}  // extern "C"
