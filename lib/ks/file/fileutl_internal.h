// Character stepping, separators and bounded copies shared by the path-name
// routines.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "strings/strutl_internal.h"

inline bool ksi_is_sep(char c) { return c == '\\' || c == '/'; }

// Byte length of the character at p; a multibyte character is stepped over
// whole, so a trail byte equal to a separator is never taken for one.
inline int ksi_path_step(const char *p) {
  if (ksi_mb_single_byte()) return 1;
  const int len = ksi_mb_step(p);
  return len > 0 ? len : 1;
}

// Copies n bytes of src into dst (size bytes) with a terminator. False with
// errno ENAMETOOLONG when they do not fit.
inline bool ksi_path_copy(char *dst, size_t size, const char *src, size_t n) {
  if (dst == nullptr || n >= size) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memmove(dst, src, n);
  dst[n] = '\0';
  return true;
}

inline bool ksi_path_copy(char *dst, size_t size, const char *src) {
  return ksi_path_copy(dst, size, src, std::strlen(src));
}

// The start of the last character of p[0 .. end), stepping from p.
const char *ksi_path_last_char(const char *p, const char *end);

// The host path of a path in any of the forms (nt_map_path), made absolute
// against the current directory and with "." and ".." applied textually.
// 0, or an errno value.
int ksi_full_host_path(const char *p, char *out, size_t size);

// True when the host path names an existing file or directory.
bool ksi_host_path_exists(const char *host_path);

// Room for a host path mapped from a path name.
inline constexpr size_t ksi_host_path_max = 4096;

// The host path of path (nt_map_path) in out (ksi_host_path_max bytes).
// 0, or an errno value.
int ksi_map_host_path(const char *path, char *out);

// Prints "path: error text" at error level.
void ksi_print_path_error(const char *path, int err);

// fileutl_dump's work: 0 or an errno value; *opened tells whether a file
// was open for writing when it failed (else the file could not be made).
int ksi_dump(const void *buffer, uint64_t length, const char *path,
             bool *opened);
