// Matching names and path names against compiled patterns.
//
// The quick matcher walks pattern and name once from the left and keeps two
// resume points instead of recursing: the latest '*' and the latest "...".
// A failed comparison first lets the star take one more character, then
// lets "..." skip one more directory level. One point of each kind is
// enough because
// - a star reached later can take over whatever the earlier star's taking
//   more characters would have made possible;
// - in path-name mode a star cannot cross a separator, so a separator
//   matched from the pattern fixes every star before it;
// - a "..." follows a separator, so it starts right after a separator of
//   the name; an earlier star taking more could only move that start to a
//   later such position, which the "..." tries anyway;
// - outside path-name mode a star covers everything an earlier "..." could
//   still do.
// In path-name mode the first two fail when a '?' or class stands between
// the star and what comes next, because those may match a separator and so
// carry the rest of the pattern past what a star can reach; and a second
// "..." cannot take over from the first, which may move on to let the
// pattern between them reach the end of the name. In those cases the table
// matcher answers instead. Each resume point only moves forward, which bounds
// the work by (pattern length) x (name length) x (separators + 1).
#include <orvexks/wild.h>

#include <array>
#include <climits>
#include <cstring>

#include "wild/wild_match_internal.h"

const char *wild_name_stop(const char *s, bool path, WildChars &chars) {
  if (!path) return s + std::strlen(s);
  // A trail byte may equal a separator: walk whole characters forwards.
  const char *stop = s;
  for (const char *q = s; *q != '\0';) {
    const bool sep = wild_is_sep(*q);
    q += chars.step(q);
    if (!sep) stop = q;
  }
  return stop;
}

bool wild_matches_nothing(const char *p, bool path) {
  for (;;) {
    if (*p == '\0') return true;
    if (wild_is_token(p, kWildStar) || wild_is_token(p, kWildLevels)) {
      p += 2;
    } else if (path && wild_is_sep(*p)) {
      while (wild_is_sep(*p)) ++p;
      if (*p != '\0' && !wild_is_token(p, kWildLevels)) return false;
    } else {
      return false;
    }
  }
}

namespace {

// Copies the len-byte character at c with a terminator, for strcoll.
void char_text(const char *c, int len, char *out) {
  std::memcpy(out, c, static_cast<size_t>(len));
  out[len] = '\0';
}

// low <= c <= high: by the locale's collation in a multibyte code page,
// else by signed byte value.
bool in_range(const char *low, int low_len, const char *high, int high_len,
              const char *c, int len, WildChars &chars) {
  if (chars.single_byte())
    return static_cast<signed char>(*low) <= static_cast<signed char>(*c) &&
           static_cast<signed char>(*c) <= static_cast<signed char>(*high);
  char l[MB_LEN_MAX + 1], h[MB_LEN_MAX + 1], x[MB_LEN_MAX + 1];
  char_text(low, low_len, l);
  char_text(high, high_len, h);
  char_text(c, len, x);
  return std::strcoll(l, x) <= 0 && std::strcoll(x, h) <= 0;
}

}  // namespace

bool wild_class_match(const char *p, const char *c, int len, WildChars &chars,
                      const char **next) {
  bool matched = false;
  while (*p != kWildEsc && *p != '\0') {
    const char *item = p;
    const int item_len = chars.step(p);
    p += item_len;
    if (p[0] == '-' && p[1] != kWildEsc && p[1] != '\0') {
      const char *high = p + 1;
      const int high_len = chars.step(high);
      p = high + high_len;
      matched =
          matched || in_range(item, item_len, high, high_len, c, len, chars);
    } else {
      matched =
          matched || (item_len == len &&
                      std::memcmp(item, c, static_cast<size_t>(len)) == 0);
    }
  }
  *next = *p == kWildEsc ? p + 1 : p;
  return matched;
}

namespace {

enum class Quick { kNo, kYes, kUnsure };

// True when the name holds a separator before its trailing ones. A trail
// byte equal to a separator counts too, which only sends a few more
// patterns to the table matcher.
bool has_inner_separator(const char *s) {
  const char *q = std::strpbrk(s, "\\/");
  return q != nullptr && !wild_only_seps(q);
}

// The bytes a path-name star's scan must look at more closely whatever
// follows the star: the terminator, the separators, and bytes above 0x7F
// (which may start a multibyte character whose trail bytes must be stepped
// over whole). One table lookup per byte keeps the scan to a load and two
// tests where testing each kind of byte in turn took five.
constexpr std::array<bool, 256> kPathStarStops = [] {
  std::array<bool, 256> stops{};
  stops[0] = stops['/'] = stops['\\'] = true;
  for (int c = 0x80; c < 256; ++c) stops[c] = true;
  return stops;
}();

// The first byte from s that is want or a stop of kPathStarStops.
inline const char *path_star_scan(const char *s, char want) {
  while (*s != want && !kPathStarStops[static_cast<unsigned char>(*s)]) ++s;
  return s;
}

// Steps over the character at s, whose first byte is above 0x7F. Kept out
// of line so that the scan around it needs no registers saved.
[[gnu::noinline]] const char *step_high(const char *s, WildChars &chars) {
  return s + chars.step(s);
}

// The first position from s where a star followed by the pattern p can
// end: where the name holds p's first byte, or in path-name mode a
// separator (which the star cannot cross), or the name ends. s itself when
// p starts with a token.
template <bool path>
const char *star_end(const char *p, const char *s, WildChars &chars) {
  const char want = *p;
  if (want == kWildEsc) return s;
  if constexpr (!path) {
    while (*s != '\0' && *s != want) s += chars.step(s);
    return s;
  }
  for (;;) {
    s = path_star_scan(s, want);
    // The terminator or a separator, unless it starts a multibyte
    // character.
    if (*s == want || static_cast<unsigned char>(*s) < 0x80) return s;
    s = step_high(s, chars);
  }
}

// The name is used up at s: its end, or in path-name mode its trailing
// separators.
template <bool path>
bool used_up(const char *s) {
  return *s == '\0' || (path && wild_is_sep(*s) && wild_only_seps(s));
}

// The pattern after a star with no "..." to fall back on, when it is
// plain text (no tokens, and in path-name mode no separators): the name
// must end with that text, and in path-name mode the star's part must hold
// no separator. kUnsure when the shortcut does not apply: a pattern that
// is not plain, a name with trailing separators, or where a multibyte code
// page could put a character boundary elsewhere.
template <bool path>
Quick match_plain_tail(const char *p, const char *s, WildChars &chars) {
  const char *end = p;
  while (*end != '\0' && *end != kWildEsc && !(path && wild_is_sep(*end)))
    ++end;
  const size_t tail = static_cast<size_t>(end - p);
  if (*end != '\0' || tail == 0) return Quick::kUnsure;
  const size_t n = std::strlen(s);
  if (path && n > 0 && wild_is_sep(s[n - 1])) return Quick::kUnsure;
  if (n < tail) return Quick::kNo;
  const char *at = s + n - tail;
  if (std::memcmp(at, p, tail) != 0) return Quick::kNo;
  bool high = false, sep = false;
  if (path) {
    for (const char *q = s; q < at; ++q) {
      high = high || static_cast<unsigned char>(*q) >= 0x80;
      sep = sep || wild_is_sep(*q);
    }
  } else {
    high = at > s && static_cast<unsigned char>(at[-1]) >= 0x80;
  }
  if (high && !chars.single_byte()) return Quick::kUnsure;
  return sep ? Quick::kNo : Quick::kYes;
}

// Path-name mode is a template argument: the loop runs once per character
// and the mode's tests are much of its work.
template <bool path>
Quick match_quickly(const char *p, const char *s, WildChars &chars) {
  const char *const name = s;
  const char *star_p = nullptr, *star_s = nullptr;
  const char *levels_p = nullptr, *levels_s = nullptr;
  // A '?' or class was matched since the latest star was reached.
  bool one_since_star = false;
  for (;;) {
    // The common step first: a plain ASCII character of the pattern equal
    // to the name's (so the name is not used up there).
    const char pc = *p;
    if (pc == *s && static_cast<unsigned char>(pc) < 0x80 && pc != kWildEsc &&
        pc != '\0' && !(path && wild_is_sep(pc))) {
      ++p;
      ++s;
      continue;
    }
    if (used_up<path>(s)) {
      if (wild_matches_nothing(p, path)) return Quick::kYes;
    } else if (*p == kWildEsc) {
      const char kind = p[1];
      if (kind == kWildStar) {
        // Without a separator in the name a '?' or class cannot carry this
        // star out of its component.
        if (path && star_p != nullptr && one_since_star &&
            has_inner_separator(name))
          return Quick::kUnsure;
        do p += 2;
        while (wild_is_token(p, kWildStar));
        if (levels_p == nullptr) {
          const Quick tail = match_plain_tail<path>(p, s, chars);
          if (tail != Quick::kUnsure) return tail;
        }
        star_p = p;
        // A star that ends the pattern takes the rest of the name, or in
        // path-name mode the rest of its component, and leaves only an
        // earlier "..." to try when that is not all.
        if (*p == '\0') {
          if (!path) return Quick::kYes;
          s = star_end<path>(p, s, chars);
          if (wild_only_seps(s)) return Quick::kYes;
          star_s = s;
          continue;
        }
        star_s = s = star_end<path>(p, s, chars);
        one_since_star = false;
        if (!path) levels_p = nullptr;
        continue;
      }
      if (kind == kWildAny) {
        p += 2;
        s += chars.step(s);
        one_since_star = true;
        continue;
      }
      if (kind == kWildClass) {
        const int len = chars.step(s);
        const char *next;
        if (wild_class_match(p + 2, s, len, chars, &next)) {
          p = next;
          s += len;
          one_since_star = true;
          continue;
        }
      } else if (kind == kWildLevels) {
        // A later "..." cannot stand in for an earlier one whose moving on
        // would let the pattern in between reach the end of the name.
        if (levels_p != nullptr) return Quick::kUnsure;
        p += 2;
        while (wild_is_sep(*p)) ++p;
        levels_p = p;
        levels_s = s;
        star_p = nullptr;
        continue;
      } else if (*s == kWildEsc) {
        // A literal 0x01 (or a token this matcher does not know, taken as
        // the byte itself).
        p += kind == '\0' ? 1 : 2;
        ++s;
        continue;
      }
    } else if (*p == '\0') {
      // The pattern ended before the name.
    } else if (path && wild_is_sep(*p)) {
      if (wild_is_sep(*s)) {
        // A '?' or class since the star may have to take this separator
        // instead, leaving this one of the pattern for a later one.
        if (star_p != nullptr && one_since_star) return Quick::kUnsure;
        do ++p;
        while (wild_is_sep(*p));
        do ++s;
        while (wild_is_sep(*s));
        star_p = nullptr;
        continue;
      }
    } else if (*p == *s) {
      const int len = chars.step(p);
      if (len == 1 || wild_starts_with(s, p, len)) {
        p += len;
        s += len;
        continue;
      }
    }

    // No match from here: resume at the latest star, else at the latest
    // "...", else fail.
    if (star_p != nullptr && *star_s != '\0' &&
        !(path && wild_is_sep(*star_s))) {
      star_s = star_end<path>(star_p, star_s + chars.step(star_s), chars);
      p = star_p;
      s = star_s;
      one_since_star = false;
      continue;
    }
    if (levels_p != nullptr) {
      const char *q = levels_s;
      while (*q != '\0' && !wild_is_sep(*q)) q += chars.step(q);
      if (*q == '\0') return Quick::kNo;
      levels_s = q + 1;
      p = levels_p;
      s = levels_s;
      star_p = nullptr;
      continue;
    }
    return Quick::kNo;
  }
}

}  // namespace

extern "C" int wild_match(const char *compiled, const char *name,
                          int pathname_mode) {
  if (compiled == nullptr || name == nullptr) return 0;
  const bool path = pathname_mode != 0;
  WildChars chars;
  const Quick quick = path ? match_quickly<true>(compiled, name, chars)
                           : match_quickly<false>(compiled, name, chars);
  switch (quick) {
    case Quick::kYes:
      return 1;
    case Quick::kNo:
      return 0;
    case Quick::kUnsure:
      break;
  }
  return wild_match_by_table(compiled, name, path, chars);
}
