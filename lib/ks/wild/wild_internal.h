// The compiled pattern's tokens and the character stepping that compiling,
// matching and globbing share.
#pragma once

#include <cstddef>

#include "strings/strutl_internal.h"

// Every special token of a compiled pattern is kEsc followed by its kind.
inline constexpr char kWildEsc = '\x01';
inline constexpr char kWildLiteralEsc = '\x01';  // a literal byte 0x01
inline constexpr char kWildStar = '\x02';
inline constexpr char kWildAny = '\x03';     // '?'
inline constexpr char kWildClass = '\x04';   // items follow, a lone kEsc ends
inline constexpr char kWildLevels = '\x05';  // "..."

inline bool wild_is_sep(char c) { return c == '\\' || c == '/'; }

// Byte length of the character at p: 1 in a single-byte code page, else
// the code page's length (never 0 before the terminator, 1 for a byte that
// starts no valid character).
inline int wild_step(const char *p, bool single_byte) {
  if (single_byte) return 1;
  const int len = ksi_mb_step(p);
  return len > 0 ? len : 1;
}

// Character lengths, with the code page asked only when a byte above 0x7F
// starts a character: every code page of the platform keeps ASCII, so such
// a byte (a separator, a letter, a token) is a whole character. Asking the
// locale costs more than matching a short name.
class WildChars {
 public:
  int step(const char *p) {
    if (static_cast<unsigned char>(*p) < 0x80) return 1;
    return wild_step(p, single_byte());
  }
  bool single_byte() {
    if (single_ < 0) single_ = ksi_mb_single_byte() ? 1 : 0;
    return single_ == 1;
  }

 private:
  int single_ = -1;
};

// True when p starts "..." followed by a separator or the end.
inline bool wild_levels_at(const char *p) {
  return p[0] == '.' && p[1] == '.' && p[2] == '.' &&
         (p[3] == '\0' || wild_is_sep(p[3]));
}
