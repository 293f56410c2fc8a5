// Path-name forms: drive, absolute, UNC and root predicates, the drive part,
// comparison of path names and the separator helpers.
#include <orvexks/fileutl.h>
#include <orvexks/strutl.h>

#include <cctype>
#include <cstring>

#include "file/fileutl_internal.h"
#include "thread/tls_impl.h"

const char *ksi_path_last_char(const char *p, const char *end) {
  const char *last = nullptr;
  while (p < end) {
    last = p;
    p += ksi_path_step(p);
  }
  return last;
}

namespace {

// The end of the host of a UNC name (p + 2 onwards), or null when the host
// is empty or p does not start with two separators.
const char *unc_host_end(const char *p) {
  if (!ksi_is_sep(p[0]) || !ksi_is_sep(p[1]) || p[2] == '\0' ||
      ksi_is_sep(p[2]))
    return nullptr;
  const char *q = p + 2;
  while (*q != '\0' && !ksi_is_sep(*q)) q += ksi_path_step(q);
  return q;
}

const char *skip_seps(const char *p) {
  while (ksi_is_sep(*p)) ++p;
  return p;
}

// The drive part's buffer of fileutl_get_drive, one per thread.
struct drive_tls {
  char drive[3];
};
ksi_tls_slot_t drive_slot = KSI_TLS_SLOT_INIT(drive_tls, nullptr);

}  // namespace

extern "C" {

int fileutl_has_drive(const char *p) {
  return p != nullptr && p[0] != '\0' && p[1] == ':' ? 1 : 0;
}

int fileutl_is_drive_style(const char *p) {
  return fileutl_has_drive(p) && p[2] != '\0' ? 1 : 0;
}

int fileutl_is_abspn(const char *p) {
  if (p == nullptr) return 0;
  if (ksi_is_sep(p[0])) return 1;
  return std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
                 ksi_is_sep(p[2])
             ? 1
             : 0;
}

int fileutl_is_unc_pn(const char *p) {
  if (p == nullptr || std::strlen(p) < 5) return 0;
  const char *host_end = unc_host_end(p);
  if (host_end == nullptr || *host_end == '\0') return 0;
  return *skip_seps(host_end) != '\0' ? 1 : 0;
}

int fileutl_is_root_pn(const char *p) {
  if (p == nullptr) return 0;
  if (ksi_is_sep(p[0]) && p[1] == '\0') return 1;
  if (std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
      ksi_is_sep(p[2]))
    return *skip_seps(p + 2) == '\0' ? 1 : 0;
  const char *q = unc_host_end(p);
  if (q == nullptr) return 0;
  if (*q == '\0') return 1;  // \\host
  ++q;
  while (*q != '\0' && !ksi_is_sep(*q)) q += ksi_path_step(q);  // the share
  if (*q == '\0') return 1;
  return q[1] == '\0' ? 1 : 0;  // one trailing separator
}

const char *fileutl_get_drive(const char *p) {
  char *drive = ksi_tls_needed<drive_tls>(&drive_slot)->drive;
  drive[0] = '\0';
  if (fileutl_has_drive(p)) {
    drive[0] = p[0];
    drive[1] = ':';
    drive[2] = '\0';
  }
  return drive;
}

int fileutl_is_drive_equal(const char *a, const char *b) {
  char first[3];
  std::memcpy(first, fileutl_get_drive(a), sizeof first);
  return strutl_stricoll(first, fileutl_get_drive(b));
}

int fileutl_pname_equal(const char *a, const char *b) {
  for (;; ++a, ++b) {
    if (*a != *b && !(ksi_is_sep(*a) && ksi_is_sep(*b))) return 0;
    if (*a == '\0') return 1;
  }
}

int fileutl_pname_equal_or_parent(const char *a, const char *b) {
  const char *start = a;
  for (; *a != '\0'; ++a, ++b)
    if (*a != *b && !(ksi_is_sep(*a) && ksi_is_sep(*b))) return 0;
  if (*b == '\0' || ksi_is_sep(*b)) return 1;
  // a ended with a separator of its own: a boundary too (\ is a parent of \x).
  return a != start && ksi_is_sep(a[-1]) ? 1 : 0;
}

char *fileutl_find_pname_sep_left(const char *p) {
  if (p == nullptr) return nullptr;
  for (; *p != '\0'; p += ksi_path_step(p))
    if (ksi_is_sep(*p)) return const_cast<char *>(p);
  return nullptr;
}

char *fileutl_match_trailing_sep(const char *p) {
  if (p == nullptr) return nullptr;
  const char *last = ksi_path_last_char(p, p + std::strlen(p));
  return last != nullptr && ksi_is_sep(*last) ? const_cast<char *>(last)
                                              : nullptr;
}

int fileutl_ends_with_slash_dot(const char *p, int len) {
  if (p == nullptr) return 0;
  const size_t n = len < 0 ? std::strlen(p) : static_cast<size_t>(len);
  return n >= 3 && p[n - 1] == '.' && ksi_is_sep(p[n - 2]) ? 1 : 0;
}

void fileutl_strip_pname_sep(char *p) {
  if (p == nullptr) return;
  char *end = p + std::strlen(p);
  if (end == p || end[-1] != '\\') return;
  // The directory part (after a drive) must hold more than backslashes.
  const char *dir = fileutl_has_drive(p) ? p + 2 : p;
  bool only_backslashes = true;
  for (const char *q = dir; q < end; ++q) only_backslashes &= *q == '\\';
  if (only_backslashes) return;
  while (end > dir && end[-1] == '\\') --end;
  *end = '\0';
}

}  // extern "C"
