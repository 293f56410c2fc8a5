// Expressing a path relative to a base directory, climbing a bounded
// number of levels with "..".
#include <orvexks/fileutl.h>

#include <cstring>

#include "file/fileutl_internal.h"

namespace {

constexpr size_t kScratch = 1024;  // 1023 characters and a terminator

// Copies in to out, '/' for every separator when forward, without trailing
// separators. False when it does not fit.
bool prepare(const char *in, bool forward, char *out) {
  const size_t n = std::strlen(in);
  if (n >= kScratch) return false;
  for (size_t i = 0; i <= n; ++i)
    out[i] = forward && ksi_is_sep(in[i]) ? '/' : in[i];
  size_t end = n;
  while (end > 0 && ksi_is_sep(out[end - 1])) --end;
  out[end] = '\0';
  return true;
}

// When path lies under base (a run of separators counting as one, base
// used up at a component boundary of path), the remainder of path after
// its separators; else null. An empty base takes any path that starts with
// a separator.
const char *under(const char *path, const char *base) {
  if (*base == '\0') {
    if (!ksi_is_sep(*path)) return nullptr;
  } else {
    while (*base != '\0') {
      if (ksi_is_sep(*base) && ksi_is_sep(*path)) {
        while (ksi_is_sep(*base)) ++base;
        while (ksi_is_sep(*path)) ++path;
      } else if (*base == *path) {
        ++base;
        ++path;
      } else {
        return nullptr;
      }
    }
    if (*path != '\0' && !ksi_is_sep(*path)) return nullptr;
  }
  while (ksi_is_sep(*path)) ++path;
  return path;
}

// Drops base's last component and the separators before it; false when
// base holds no separator.
bool climb(char *base) {
  char *sep = std::strrchr(base, '\\'), *slash = std::strrchr(base, '/');
  if (slash > sep) sep = slash;
  if (sep == nullptr) return false;
  while (sep > base && ksi_is_sep(sep[-1])) --sep;
  *sep = '\0';
  return true;
}

void copy_cut(char *out, size_t size, const char *text) {
  size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
}

char *fallback(char *out, size_t size, const char *path, bool forward) {
  char prepared[kScratch];
  if (forward && prepare(path, true, prepared)) {
    copy_cut(out, size, prepared);
  } else if (forward) {
    copy_cut(out, size, path);
    for (char *p = out; *p != '\0'; ++p)
      if (*p == '\\') *p = '/';
    for (size_t n = std::strlen(out); n > 0 && out[n - 1] == '/'; --n)
      out[n - 1] = '\0';
  } else {
    copy_cut(out, size, path);
  }
  return out;
}

}  // namespace

extern "C" {

char *fileutl_make_rel_pn(char *out, size_t size, const char *path,
                          const char *base, int dot_if_same, int forward,
                          int max_up) {
  if (out == nullptr || size == 0) return nullptr;
  char p[kScratch], b[kScratch], normal[kScratch];
  if (!prepare(path, forward, p) || !prepare(base, forward, b) ||
      fileutl_remove_embedded_dots(b, normal, sizeof normal) == nullptr)
    return fallback(out, size, path, forward);
  if (fileutl_is_root_pn(normal)) normal[0] = '\0';

  const char *rest = under(p, normal);
  if (rest != nullptr) {
    if (*rest != '\0')
      copy_cut(out, size, rest);
    else if (dot_if_same)
      copy_cut(out, size, ".");
    else
      return fallback(out, size, path, forward);
    return out;
  }
  const char *sep = forward ? "/" : "\\";
  char result[kScratch * 2] = "";
  for (int level = 0; level < max_up; ++level) {
    if (!climb(normal)) break;
    if (level > 0) std::strcat(result, sep);
    std::strcat(result, "..");
    rest = under(p, normal);
    if (rest != nullptr) {
      if (*rest != '\0') {
        std::strcat(result, sep);
        std::strcat(result, rest);
      }
      copy_cut(out, size, result);
      return out;
    }
    if (std::strlen(result) + 3 >= kScratch) break;
  }
  return fallback(out, size, path, forward);
}

}  // extern "C"
