// Textual normalisation: removing "." and ".." components, and making a
// path absolute against a directory. Neither reads the file system.
#include <orvexks/fileutl.h>

#include <cstring>

#include "file/fileutl_internal.h"

namespace {

// An output text of at most size-1 bytes.
struct Out {
  char *buf;
  size_t size;
  size_t len = 0;

  bool append(const char *text, size_t n) {
    if (len + n >= size) return false;
    std::memcpy(buf + len, text, n);
    len += n;
    buf[len] = '\0';
    return true;
  }
  void cut(size_t at) {
    len = at;
    buf[len] = '\0';
  }
  // Index of the last separator, or -1.
  long last_sep() const {
    for (size_t i = len; i > 0; --i)
      if (ksi_is_sep(buf[i - 1])) return static_cast<long>(i - 1);
    return -1;
  }
  bool ends_with_sep() const { return len > 0 && ksi_is_sep(buf[len - 1]); }
};

// After ".." cut the output back to the separator before it: the previous
// component goes too, unless it is ".." itself (then the new one is kept).
// Returns true when the separator after the ".." in the input is to be
// skipped (the output became empty).
bool apply_dot_dot(Out &out, bool *failed) {
  const long sep = out.last_sep();
  const char *last = out.buf + (sep + 1);
  if (std::strcmp(last, "..") == 0) {
    *failed = !out.append("\\..", 3);
    return false;
  }
  if (sep < 0) {
    out.cut(0);
    return true;
  }
  out.cut(static_cast<size_t>(sep));
  return false;
}

}  // namespace

extern "C" {

char *fileutl_remove_embedded_dots(const char *in, char *out, size_t size) {
  if (out == nullptr || size == 0) return nullptr;
  Out o{out, size};
  out[0] = '\0';
  const char *p = in;
  while (*p != '\0') {
    if (!ksi_is_sep(*p)) {
      const int n = ksi_path_step(p);
      if (!o.append(p, n)) return nullptr;
      p += n;
      continue;
    }
    const size_t sep_at = o.len;
    if (!o.append(p, 1)) return nullptr;
    size_t dots = 0;
    while (p[1 + dots] == '.') ++dots;
    // The dots are copied before they are looked at, so they count against
    // the size even when they are then taken back out.
    if (o.len + dots >= size) return nullptr;
    const char after = p[1 + dots];
    if (dots == 0 || dots > 2 || (after != '\0' && !ksi_is_sep(after))) {
      ++p;  // the dots, if any, are copied as an ordinary component
      continue;
    }
    p += 1 + dots;
    o.cut(sep_at);  // take the separator back out
    if (dots == 2) {
      bool failed = false;
      if (apply_dot_dot(o, &failed) && ksi_is_sep(*p)) ++p;
      if (failed) return nullptr;
    }
  }
  if (o.len == 0 && !o.append("\\", 1)) return nullptr;
  return out;
}

char *fileutl_make_abs_pn(char *out, size_t size, const char *path,
                          const char *cwd) {
  if (out == nullptr || size == 0 || path == nullptr || cwd == nullptr)
    return nullptr;
  if (fileutl_is_abspn(path))
    return ksi_path_copy(out, size, path) ? out : nullptr;
  Out o{out, size};
  out[0] = '\0';
  size_t floor = 0;
  if (fileutl_is_abspn(cwd)) {
    char root[1024];
    if (fileutl_root_split(cwd, root, sizeof root, out, size) != 0)
      return nullptr;
    floor = std::strlen(root);
    const size_t rest = std::strlen(out);
    if (floor + rest >= size) return nullptr;
    std::memmove(out + floor, out, rest + 1);
    std::memcpy(out, root, floor);
    o.len = floor + rest;
  } else if (!o.append(cwd, std::strlen(cwd))) {
    return nullptr;
  }

  for (const char *p = path; *p != '\0';) {
    while (ksi_is_sep(*p)) ++p;
    const char *start = p;
    while (*p != '\0' && !ksi_is_sep(*p)) p += ksi_path_step(p);
    const size_t n = static_cast<size_t>(p - start);
    if (n == 0 || (n == 1 && *start == '.')) continue;
    if (n == 2 && start[0] == '.' && start[1] == '.') {
      const long sep = o.last_sep();
      if (o.len < floor || sep < 0) return nullptr;
      // Never climb above the root: its separator stays.
      o.cut(static_cast<size_t>(sep) >= floor ? static_cast<size_t>(sep)
                                              : static_cast<size_t>(sep) + 1);
      continue;
    }
    if (o.len > 0 && !o.ends_with_sep() && !o.append("\\", 1)) return nullptr;
    if (!o.append(start, n)) return nullptr;
  }
  return out;
}

}  // extern "C"
