// Windows path forms onto host paths through the drive and share tables.
#include <orvexnt/nt_registry.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace {

bool nti_is_separator(char c) { return c == '\\' || c == '/'; }

// Appends text to out (size bytes, holding *len bytes), turning every '\'
// into '/'. False when it does not fit.
bool nti_append(char *out, size_t size, size_t *len, const char *text,
                size_t n) {
  if (n >= size - *len) return false;
  for (size_t i = 0; i < n; i++)
    out[*len + i] = text[i] == '\\' ? '/' : text[i];
  *len += n;
  out[*len] = '\0';
  return true;
}

// out = base, then rest with its leading separators replaced by one '/'.
int nti_join(const char *base, const char *rest, char *out, size_t size) {
  size_t len = 0;
  out[0] = '\0';
  if (!nti_append(out, size, &len, base, strlen(base))) return ENAMETOOLONG;
  while (nti_is_separator(*rest)) rest++;
  if (*rest == '\0') return 0;
  if ((len == 0 || out[len - 1] != '/') && !nti_append(out, size, &len, "/", 1))
    return ENAMETOOLONG;
  return nti_append(out, size, &len, rest, strlen(rest)) ? 0 : ENAMETOOLONG;
}

// True when host names this machine: its name, the name's first label, or
// localhost, compared case-insensitively.
bool nti_is_this_host(const char *host, size_t n) {
  char name[256];
  if (n == 9 && strncasecmp(host, "localhost", 9) == 0) return true;
  if (gethostname(name, sizeof name) != 0) return false;
  name[sizeof name - 1] = '\0';
  const size_t full = strlen(name), label = strcspn(name, ".");
  return (n == full || n == label) && strncasecmp(host, name, n) == 0;
}

int nti_map_unc(const char *path, char *out, size_t size) {
  const char *host = path + 2;
  const size_t host_len = strcspn(host, "\\/");
  const char *share = host + host_len;
  while (nti_is_separator(*share)) share++;
  const size_t share_len = strcspn(share, "\\/");
  if (host_len == 0 || share_len == 0) return EINVAL;
  const char *rest = share + share_len;

  char base[1024], share_name[256];
  if (nti_is_this_host(host, host_len)) {
    if (share_len >= sizeof share_name) return ENOENT;
    memcpy(share_name, share, share_len);
    share_name[share_len] = '\0';
    if (nt_settings_get("shares", share_name, base, sizeof base) != NTREGY_OK)
      return ENOENT;
  } else {
    size_t len = 0;
    base[0] = '\0';
    if (!nti_append(base, sizeof base, &len, "/net/", 5) ||
        !nti_append(base, sizeof base, &len, host, host_len) ||
        !nti_append(base, sizeof base, &len, "/", 1) ||
        !nti_append(base, sizeof base, &len, share, share_len))
      return ENAMETOOLONG;
  }
  return nti_join(base, rest, out, size);
}

int nti_map_drive(const char *path, char *out, size_t size) {
  const char letter[2] = {
      static_cast<char>(tolower(static_cast<unsigned char>(path[0]))), '\0'};
  char base[1024];
  if (nt_settings_get("drives", letter, base, sizeof base) != NTREGY_OK) {
    if (letter[0] != 'c') return ENOENT;
    strcpy(base, "/");
  }
  return nti_join(base, path + 2, out, size);
}

}  // namespace

extern "C" {

NT_API int nt_map_path(const char *path, char *out, size_t size) {
  if (path == nullptr || out == nullptr) return EINVAL;
  if (size == 0) return ENAMETOOLONG;
  if (nti_is_separator(path[0]) && nti_is_separator(path[1]))
    return nti_map_unc(path, out, size);
  if (isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':')
    return nti_map_drive(path, out, size);
  size_t len = 0;
  out[0] = '\0';
  return nti_append(out, size, &len, path, strlen(path)) ? 0 : ENAMETOOLONG;
}

}  // extern "C"
