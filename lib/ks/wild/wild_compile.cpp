// Compiling wildcard patterns into their token form, and the two quick
// questions callers ask before compiling or after.
#include <orvexks/wild.h>

#include <cstring>

#include "wild/wild_internal.h"

namespace {

// The compiled bytes written so far; a write that would take the output
// past its limit (the caller's size less the reserve) fails.
struct Output {
  char *out;
  size_t length;
  size_t limit;

  bool put(const char *bytes, size_t n) {
    if (length + n > limit) return false;
    std::memcpy(out + length, bytes, n);
    length += n;
    return true;
  }
  bool token(char kind) {
    const char bytes[2] = {kWildEsc, kind};
    return put(bytes, 2);
  }
};

constexpr size_t kReserve = 4;

}  // namespace

extern "C" {

int wild_contains_wildcard_symbols(const char *text) {
  if (text == nullptr) return 0;
  WildChars chars;
  for (const char *p = text; *p != '\0'; p += chars.step(p)) {
    if (*p == '[' || *p == '?' || *p == '*' || *p == '~') return 1;
    if (p[0] == '.' && p[1] == '.' && p[2] == '.') return 1;
  }
  return 0;
}

int wild_compile_pattern(const char *pattern, size_t size, char *out,
                         int *wild_out) {
  if (pattern == nullptr || out == nullptr) return WILD_BAD_PATTERN;
  if (size < kReserve) return WILD_NO_ROOM;
  WildChars chars;
  Output o{out, 0, size - kReserve};
  bool wild = false, in_class = false;
  const char *p = pattern;
  if (wild_levels_at(p)) {
    if (!o.token(kWildLevels)) return WILD_NO_ROOM;
    wild = true;
    p += 3;
  }
  while (*p != '\0') {
    const char c = *p;
    bool ok = true;
    if (c == kWildEsc) {
      // A class's items are plain bytes closed by a lone 0x01, so a 0x01
      // item could not be told from the end of the class.
      if (in_class) return WILD_BAD_PATTERN;
      ok = o.token(kWildLiteralEsc);
      ++p;
    } else if (in_class && c == '[') {
      return WILD_BAD_PATTERN;
    } else if (c == ']') {
      if (!in_class) return WILD_BAD_PATTERN;
      ok = o.put(&kWildEsc, 1);
      in_class = false;
      ++p;
    } else if (c == '[') {
      ok = o.token(kWildClass);
      in_class = wild = true;
      ++p;
    } else if (!in_class && (c == '*' || c == '?')) {
      ok = o.token(c == '*' ? kWildStar : kWildAny);
      wild = true;
      ++p;
    } else if (!in_class && wild_is_sep(c)) {
      ok = o.put(p, 1);
      ++p;
      if (ok && wild_levels_at(p)) {
        ok = o.token(kWildLevels);
        wild = true;
        p += 3;
      }
    } else {
      // '^' quotes the character after it (a '^' at the end is itself).
      if (c == '^' && p[1] != '\0') {
        ++p;
        if (*p == kWildEsc) {
          if (in_class) return WILD_BAD_PATTERN;
          ok = o.token(kWildLiteralEsc);
          ++p;
          if (!ok) return WILD_NO_ROOM;
          continue;
        }
      }
      const int len = chars.step(p);
      ok = o.put(p, static_cast<size_t>(len));
      p += len;
    }
    if (!ok) return WILD_NO_ROOM;
  }
  if (in_class) return WILD_BAD_PATTERN;
  out[o.length] = '\0';
  if (wild_out != nullptr) *wild_out = wild ? 1 : 0;
  return static_cast<int>(o.length + 1);
}

int wild_is_any_pat(const char *compiled) {
  return compiled != nullptr && compiled[0] == kWildEsc &&
         compiled[1] == kWildStar && compiled[2] == '\0';
}

}  // extern "C"
