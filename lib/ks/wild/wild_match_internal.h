// The pieces of matching that the quick matcher and the table matcher
// share.
#pragma once

#include "wild/wild_internal.h"

inline bool wild_is_token(const char *p, char kind) {
  return p[0] == kWildEsc && p[1] == kind;
}

// Where matching considers the name used up: its end, or in path-name mode
// the start of its trailing separators, which are ignored.
const char *wild_name_stop(const char *s, bool path, WildChars &chars);

// True when s holds nothing but separators (and s starts a character).
inline bool wild_only_seps(const char *s) {
  while (wild_is_sep(*s)) ++s;
  return *s == '\0';
}

// True when what is left of the pattern matches a used-up name: only stars
// and "..." (and in path-name mode separators that come before a "..." or
// end the pattern).
bool wild_matches_nothing(const char *p, bool path);

// Tests the len-byte character c against the class whose items start at p
// (after its token); *next is the pattern after the class. An item
// followed by '-' and another item is a range; an empty class matches
// nothing.
bool wild_class_match(const char *p, const char *c, int len, WildChars &chars,
                      const char **next);

// True when the len bytes at p begin s.
inline bool wild_starts_with(const char *s, const char *p, int len) {
  for (int i = 0; i < len; ++i)
    if (s[i] != p[i]) return false;
  return true;
}

// Exact matching by a table of (pattern item, name position) answers,
// computed from the ends backwards: time in proportion to their product,
// for the patterns where the quick matcher's single resume point per kind
// is not enough.
int wild_match_by_table(const char *p, const char *s, bool path,
                        WildChars &chars);
