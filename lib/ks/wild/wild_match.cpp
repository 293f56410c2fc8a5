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

#include <climits>
#include <cstring>

#include "wild/wild_match_internal.h"

const char *wild_name_stop(const char *s, bool path, bool single) {
  if (!path) return s + std::strlen(s);
  if (single) {
    const char *end = s + std::strlen(s);
    while (end > s && wild_is_sep(end[-1])) --end;
    return end;
  }
  // A trail byte may equal a separator: walk whole characters forwards.
  const char *stop = s;
  for (const char *q = s; *q != '\0';) {
    const bool sep = wild_is_sep(*q);
    q += wild_step(q, false);
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
              const char *c, int len, bool single) {
  if (single)
    return static_cast<signed char>(*low) <= static_cast<signed char>(*c) &&
           static_cast<signed char>(*c) <= static_cast<signed char>(*high);
  char l[MB_LEN_MAX + 1], h[MB_LEN_MAX + 1], x[MB_LEN_MAX + 1];
  char_text(low, low_len, l);
  char_text(high, high_len, h);
  char_text(c, len, x);
  return std::strcoll(l, x) <= 0 && std::strcoll(x, h) <= 0;
}

}  // namespace

bool wild_class_match(const char *p, const char *c, int len, bool single,
                      const char **next) {
  bool matched = false;
  while (*p != kWildEsc && *p != '\0') {
    const char *item = p;
    const int item_len = wild_step(p, single);
    p += item_len;
    if (p[0] == '-' && p[1] != kWildEsc && p[1] != '\0') {
      const char *high = p + 1;
      const int high_len = wild_step(high, single);
      p = high + high_len;
      matched =
          matched || in_range(item, item_len, high, high_len, c, len, single);
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

// True when the name holds a separator before stop.
bool has_separator(const char *s, const char *stop, bool single) {
  for (const char *q = s; q < stop; q += wild_step(q, single))
    if (wild_is_sep(*q)) return true;
  return false;
}

Quick match_quickly(const char *p, const char *s, const char *stop, bool path,
                    bool single) {
  const char *const name = s;
  int name_has_separator = -1;  // not looked at yet
  const char *star_p = nullptr, *star_s = nullptr;
  const char *levels_p = nullptr, *levels_s = nullptr;
  // A '?' or class was matched since the latest star was reached.
  bool one_since_star = false;
  for (;;) {
    if (s >= stop) {
      if (wild_matches_nothing(p, path)) return Quick::kYes;
    } else if (*p == kWildEsc) {
      const char kind = p[1];
      if (kind == kWildStar) {
        if (path && star_p != nullptr && one_since_star) {
          // Without a separator in the name a '?' or class cannot carry
          // this star out of its component.
          if (name_has_separator < 0)
            name_has_separator = has_separator(name, stop, single);
          if (name_has_separator) return Quick::kUnsure;
        }
        do p += 2;
        while (wild_is_token(p, kWildStar));
        star_p = p;
        star_s = s;
        one_since_star = false;
        if (!path) levels_p = nullptr;
        continue;
      }
      if (kind == kWildAny) {
        p += 2;
        s += wild_step(s, single);
        one_since_star = true;
        continue;
      }
      if (kind == kWildClass) {
        const int len = wild_step(s, single);
        const char *next;
        if (wild_class_match(p + 2, s, len, single, &next)) {
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
    } else {
      const int len = wild_step(p, single);
      if (wild_starts_with(s, p, len)) {
        p += len;
        s += len;
        continue;
      }
    }

    // No match from here: resume at the latest star, else at the latest
    // "...", else fail.
    if (star_p != nullptr && star_s < stop && !(path && wild_is_sep(*star_s))) {
      star_s += wild_step(star_s, single);
      // When a plain byte follows the star, no position before the next
      // occurrence of that byte can match.
      const char want = *star_p;
      if (single && want != kWildEsc && want != '\0' &&
          !(path && wild_is_sep(want))) {
        while (star_s < stop && *star_s != want &&
               !(path && wild_is_sep(*star_s)))
          ++star_s;
      }
      p = star_p;
      s = star_s;
      one_since_star = false;
      continue;
    }
    if (levels_p != nullptr) {
      const char *q = levels_s;
      while (*q != '\0' && !wild_is_sep(*q)) q += wild_step(q, single);
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
  const bool path = pathname_mode != 0, single = ksi_mb_single_byte();
  const char *stop = wild_name_stop(name, path, single);
  switch (match_quickly(compiled, name, stop, path, single)) {
    case Quick::kYes:
      return 1;
    case Quick::kNo:
      return 0;
    case Quick::kUnsure:
      break;
  }
  return wild_match_by_table(compiled, name, stop, path, single);
}
