// Rewriting a UNC path name to the drive form through the map, and the
// environment expansion of names that begin with '%'.
#include <orvexks/ntpfxmap.h>
#include <orvexnt/nt_env.h>

#include <cerrno>
#include <cstring>

#include "pfxmap/ntpfxmap_internal.h"
#include "pfxmap/ntpfxmap_msgs.h"

namespace {

constexpr size_t kExpandMax = 1023;

bool is_sep(char c) { return c == '\\' || c == '/'; }

// Expands %NAME% references the way the platform does: a set name is
// replaced by its value, anything else stays as written. false when the
// result exceeds kExpandMax characters.
bool expand(const char *in, char *out) {
  size_t used = 0;
  for (const char *p = in; *p != '\0';) {
    const char *value = nullptr;
    size_t take = 1;
    const char *close = *p == '%' ? std::strchr(p + 1, '%') : nullptr;
    if (close != nullptr && close > p + 1) {
      char name[kExpandMax + 1];
      const size_t n = static_cast<size_t>(close - p - 1);
      if (n <= kExpandMax) {
        std::memcpy(name, p + 1, n);
        name[n] = '\0';
        value = nt_getenv_safe(name);
      }
      if (value != nullptr) take = n + 2;
    }
    const char *text = value != nullptr ? value : p;
    const size_t len = value != nullptr ? std::strlen(value) : 1;
    if (used + len > kExpandMax) return false;
    std::memcpy(out + used, text, len);
    used += len;
    p += take;
  }
  out[used] = '\0';
  return true;
}

int expand_in_place(char *path, size_t size) {
  char out[kExpandMax + 1];
  if (!expand(path, out) || std::strlen(out) >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::strcpy(path, out);
  return 0;
}

struct search {
  const char *path;
  char drive[kDriveText];
  size_t prefix_len;
  bool prefix_ends_in_sep;
  bool found;
};

bool match_entry(const ksi_pfxmap_entry &e, void *arg) {
  auto *s = static_cast<search *>(arg);
  const size_t len = std::strlen(e.prefix);
  if (*e.flag < 0 || !ksi_pfxmap_covers(e.prefix, len, s->path, true))
    return true;
  ksi_pfxmap_trace(2, "convert: found match. prefix [%s], mapping [%s]\n",
                   e.prefix, e.drive);
  std::strncpy(s->drive, e.drive, sizeof s->drive - 1);
  s->drive[sizeof s->drive - 1] = '\0';
  s->prefix_len = len;
  s->prefix_ends_in_sep = is_sep(e.prefix[len - 1]);
  s->found = true;
  return false;
}

// path with the found prefix replaced by its drive; a bare drive gets a
// separator.
int rewrite(char *path, size_t size, const search &s) {
  const char *rest = path + s.prefix_len;
  const size_t drive_len = std::strlen(s.drive);
  const size_t sep = s.prefix_ends_in_sep || *rest == '\0' ? 1 : 0;
  const size_t rest_len = std::strlen(rest);
  if (drive_len + sep + rest_len >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memmove(path + drive_len + sep, rest, rest_len + 1);
  std::memcpy(path, s.drive, drive_len);
  if (sep != 0) path[drive_len] = '\\';
  return 0;
}

}  // namespace

extern "C" {

int ntpfxmap_convert(char *path, size_t size) {
  if (path == nullptr) return 0;
  ksi_pfxmap_trace(2, "converting [%s]\n", path);
  if (path[0] == '%') return expand_in_place(path, size);
  if (ksi_pfxmap_init() != 0) return -1;
  if (ksi_pfxmap_disabled()) return 0;
  const char *host;
  size_t host_len;
  if (!ksi_pfxmap_unc_host(path, &host, &host_len)) {
    imsg_print(IMSG_ERROR, &ksi_ntpfxmap_msgs, KSI_NTPFXMAP_INVALID_UNC, path);
    return 0;
  }
  if (ksi_pfxmap_is_local(host, host_len)) {
    ksi_pfxmap_trace(2, "skipping convert of local name\n");
    return 0;
  }
  search s = {path, {}, 0, false, false};
  if (!ksi_pfxmap_lock()) return -1;
  ksi_pfxmap_each(ksi_pfxmap_area(), match_entry, &s);
  ksi_pfxmap_unlock();
  if (!s.found) {
    ksi_pfxmap_trace(2, "convert: no entry found\n");
    return 0;
  }
  return rewrite(path, size, s);
}

}  // extern "C"
