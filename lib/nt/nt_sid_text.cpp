// The text form of NT security identifiers: "S-1-<authority>-<sub>...".
#include <orvexnt/nt_sid.h>

#include <cinttypes>
#include <cstdio>

#include "internal/nt_tls.h"

namespace {

// Authorities up to this value print in decimal, larger ones in hex.
constexpr uint64_t kLargestDecimalAuthority = 0xFFFFFFFFull;

// Reads one non-empty run of digits in base 10 or 16 at *p, at most max in
// value, and moves *p past it. False on an empty run or overflow.
bool nti_parse_number(const char **p, unsigned base, uint64_t max,
                      uint64_t *out) {
  uint64_t value = 0;
  const char *s = *p;
  for (;; s++) {
    unsigned digit;
    if (*s >= '0' && *s <= '9')
      digit = static_cast<unsigned>(*s - '0');
    else if (base == 16 && *s >= 'a' && *s <= 'f')
      digit = *s - 'a' + 10u;
    else if (base == 16 && *s >= 'A' && *s <= 'F')
      digit = *s - 'A' + 10u;
    else
      break;
    if (value > (max - digit) / base) return false;
    value = value * base + digit;
  }
  if (s == *p) return false;
  *p = s;
  *out = value;
  return true;
}

// The authority: "0x" followed by hex digits, or decimal.
bool nti_parse_authority(const char **p, uint64_t *out) {
  if ((*p)[0] == '0' && ((*p)[1] == 'x' || (*p)[1] == 'X')) {
    *p += 2;
    return nti_parse_number(p, 16, NT_SID_MAX_AUTHORITY, out);
  }
  return nti_parse_number(p, 10, NT_SID_MAX_AUTHORITY, out);
}

}  // namespace

extern "C" {

NT_API const char *nt_sid_to_str(const nt_sid_t *sid, char *buf, size_t size) {
  if (buf == nullptr) {
    nti_tls_t *block = nti_tls();
    if (block == nullptr) return nullptr;
    buf = block->sid_string;
    size = sizeof block->sid_string;
  }
  if (size > 0) buf[0] = '\0';
  if (size == 0 || !nt_sid_is_valid(sid)) return nullptr;

  char text[NT_SID_STRING_MAX];
  const uint64_t authority = nt_sid_get_authority(sid);
  int len = authority <= kLargestDecimalAuthority
                ? snprintf(text, sizeof text, "S-%d-%" PRIu64, NT_SID_REVISION,
                           authority)
                : snprintf(text, sizeof text, "S-%d-0x%012" PRIX64,
                           NT_SID_REVISION, authority);
  const unsigned count = nt_sid_sub_authority_count(sid);
  for (unsigned i = 0; i < count; i++)
    len += snprintf(text + len, sizeof text - len, "-%" PRIu32,
                    nt_sid_get_sub_authority(sid, i));

  if (static_cast<size_t>(len) >= size) {
    buf[0] = '\0';
    return nullptr;
  }
  snprintf(buf, size, "%s", text);
  return buf;
}

NT_API nt_sid_t *nt_str_to_sid(const char *text) {
  if (text == nullptr || (text[0] != 'S' && text[0] != 's') || text[1] != '-')
    return nullptr;
  const char *p = text + 2;

  uint64_t revision;
  if (!nti_parse_number(&p, 10, 255, &revision) ||
      revision != NT_SID_REVISION || *p++ != '-')
    return nullptr;

  uint64_t authority;
  if (!nti_parse_authority(&p, &authority)) return nullptr;

  uint32_t subs[NT_SID_MAX_SUB_AUTHORITIES];
  unsigned count = 0;
  while (*p == '-') {
    p++;
    uint64_t sub;
    if (count == NT_SID_MAX_SUB_AUTHORITIES ||
        !nti_parse_number(&p, 10, UINT32_MAX, &sub))
      return nullptr;
    subs[count++] = static_cast<uint32_t>(sub);
  }
  if (*p != '\0') return nullptr;
  return nt_sid_alloc_from(authority, count, subs);
}

}  // extern "C"
