// Wildcard matching of one path-name component, iterative: a failed match
// after a '*' retries with the star taking one more character.
#include "file/fileutl_leaf_match.h"

#include "file/fileutl_internal.h"

namespace {

// Matches c against the class that starts at p ('['); *next is the
// pattern after its ']'. False for no match or no ']'.
bool class_match(const char *p, char c, const char **next) {
  const signed char sc = static_cast<signed char>(c);
  bool matched = false;
  const char *q = p + 1;
  for (; *q != '\0' && *q != ']'; ++q) {
    const signed char low = static_cast<signed char>(*q);
    if (q[1] == '-' && q[2] != '\0' && q[2] != ']') {
      const signed char high = static_cast<signed char>(q[2]);
      matched = matched || (low <= sc && sc <= high);
      q += 2;
    } else {
      matched = matched || low == sc;
    }
  }
  if (*q != ']') return false;
  *next = q + 1;
  return matched;
}

}  // namespace

bool ksi_leaf_match(const char *pattern, const char *name) {
  const char *p = pattern, *s = name;
  const char *star_p = nullptr, *star_s = nullptr;
  for (;;) {
    if (*p == '*') {
      while (*p == '*') ++p;
      star_p = p;
      star_s = s;
      continue;
    }
    if (*s == '\0') return *p == '\0';
    const char *next = p + 1;
    int step = 1;
    bool ok;
    if (*p == '\0') {
      ok = false;
    } else if (*p == '?') {
      ok = true;
      step = ksi_path_step(s);
    } else if (*p == '[') {
      ok = class_match(p, *s, &next);
    } else if (*p == '^' && p[1] != '\0') {
      ok = p[1] == *s;
      next = p + 2;
    } else {
      ok = *p == *s;
    }
    if (ok) {
      p = next;
      s += step;
      continue;
    }
    if (star_p == nullptr) return false;
    p = star_p;
    star_s += ksi_path_step(star_s);
    s = star_s;
  }
}
