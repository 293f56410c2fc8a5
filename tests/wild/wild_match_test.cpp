// Pattern compilation and matching: the compiled form by table, malformed
// and oversized patterns, the matching rules by table, and the quick
// matcher against a plain recursive one over random patterns and names.
#include <gtest/gtest.h>

#include <orvexks/wild.h>

#include <clocale>
#include <random>
#include <string>
#include <vector>

namespace {

std::string compile(const std::string &pattern, int *wild = nullptr) {
  char out[512];
  int w = -1;
  const int n = wild_compile_pattern(pattern.c_str(), sizeof out, out, &w);
  if (wild != nullptr) *wild = w;
  return n < 0 ? "<" + std::to_string(n) + ">" : std::string(out, n - 1);
}

bool matches(const std::string &pattern, const std::string &name, int path) {
  char out[512];
  EXPECT_GT(wild_compile_pattern(pattern.c_str(), sizeof out, out, nullptr), 0)
      << pattern;
  return wild_match(out, name.c_str(), path) == 1;
}

TEST(WildCompile, TokensAndTheWildFlag) {
  struct Case {
    const char *pattern, *compiled;
    int wild;
  };
  const Case cases[] = {
      {"a*b", "a\1\2b", 1},
      {"a^*b", "a*b", 0},
      {"?", "\1\3", 1},
      {"[a-c]x", "\1\4a-c\1x", 1},
      {"[*?^]]", "\1\4*?]\1", 1},
      {"[]", "\1\4\1", 1},
      {"...", "\1\5", 1},
      {".../x", "\1\5/x", 1},
      {"d\\...\\x", "d\\\1\5\\x", 1},
      {"d/...", "d/\1\5", 1},
      {"....", "....", 0},
      {"a.../b", "a.../b", 0},
      {"a\1", "a\1\1", 0},
      {"a^", "a^", 0},
      {"^^", "^", 0},
  };
  for (const Case &c : cases) {
    int wild = -1;
    EXPECT_EQ(compile(c.pattern, &wild), c.compiled) << c.pattern;
    EXPECT_EQ(wild, c.wild) << c.pattern;
  }
  EXPECT_TRUE(wild_is_any_pat("\x01\x02"));
  EXPECT_FALSE(wild_is_any_pat("\x01\x02*"));
  EXPECT_FALSE(wild_is_any_pat("*"));
}

TEST(WildCompile, MalformedAndOversizedPatterns) {
  for (const char *bad : {"[", "]", "a]", "[a[b]", "[ab", "[a^", "[\x01]"})
    EXPECT_EQ(compile(bad), "<-1>") << bad;
  // "a*b" compiles to 4 bytes and a terminator; 4 bytes stay in reserve.
  char out[16];
  int wild = 42;
  EXPECT_EQ(wild_compile_pattern("a*b", 7, out, &wild), WILD_NO_ROOM);
  EXPECT_EQ(wild, 42);
  EXPECT_EQ(wild_compile_pattern("a*b", 8, out, &wild), 5);
  EXPECT_EQ(wild, 1);
  EXPECT_EQ(wild_compile_pattern("", 3, out, &wild), WILD_NO_ROOM);
  EXPECT_EQ(wild_compile_pattern("", 4, out, &wild), 1);
}

TEST(WildCompile, WildcardSymbols) {
  for (const char *yes : {"a[", "?", "x*", "~u", "a...b", "..."})
    EXPECT_EQ(wild_contains_wildcard_symbols(yes), 1) << yes;
  for (const char *no : {"", "a.b", "..", "a^b", "-]"})
    EXPECT_EQ(wild_contains_wildcard_symbols(no), 0) << no;
  EXPECT_EQ(wild_contains_wildcard_symbols(nullptr), 0);
}

// Classes and their ranges, quoting, "...", either separator, runs of them,
// trailing ones, and case.
TEST(WildMatch, RulesOfTheirOwn) {
  struct Case {
    const char *pattern;
    int path;
    std::vector<const char *> match, miss;
  };
  const Case cases[] = {
      {"[a-c]x", 0, {"ax", "bx", "cx"}, {"`x", "dx"}},
      {"[-a]", 0, {"-", "a"}, {}},
      {"[a-]", 0, {"-"}, {}},
      {"[]", 0, {}, {"]"}},
      {"[!a]", 0, {"!"}, {"b"}},
      {"[^]]", 0, {"]"}, {}},
      {"[a-c-e]", 0, {}, {"d"}},
      {"^*", 0, {"*"}, {"x"}},
      {"a\\b", 0, {"a\\b"}, {}},
      {"a/b", 0, {}, {"a\\b"}},
      {"*", 0, {"d/e\\f"}, {}},
      {"a*", 0, {}, {"A"}},
      {"?", 0, {"/"}, {}},
      {"d/.../x", 0, {"d/e/x"}, {}},
      {"d/*.c", 1, {"d/x.c", "d\\x.c"}, {"d/e/x.c"}},
      {"d\\*.c", 1, {"d//x.c"}, {}},
      {"d//*.c", 1, {"d/x.c"}, {}},
      {"d/*", 1, {}, {"d/", "d"}},
      {"d/", 1, {"d"}, {}},
      {"d", 1, {"d//"}, {}},
      {"d?", 1, {}, {"d/"}},
      {"d?e", 1, {"d/e"}, {}},
      {"d/.../x.c", 1, {"d/x.c", "d/e/f/x.c"}, {"dx.c", "d/e/fx.c"}},
      {".../x.c", 1, {"x.c", "a\\b/x.c"}, {}},
      {"d/...", 1, {"d", "d/e/"}, {"d/e"}},
      {"d/.../", 1, {"d"}, {}},
      {".../*/x", 1, {"a//b/x"}, {}},
      {"a/.../b/.../c", 1, {"a/x/b/y/b/c"}, {}},
      {"*/.../*.h", 1, {"s/x/y.h"}, {"y.h"}},
      {"*?*x", 1, {"a/bx"}, {}},
      {"*[/]*x", 1, {"ab/cx"}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + (c.path ? " (path names)" : ""));
    for (const char *name : c.match)
      EXPECT_TRUE(matches(c.pattern, name, c.path)) << name;
    for (const char *name : c.miss)
      EXPECT_FALSE(matches(c.pattern, name, c.path)) << name;
  }
}

// The matcher's rules written as the plain recursion, for short inputs.
// stop: where the name counts as used up (before trailing separators in
// path-name mode).
bool reference(const char *p, const char *s, const char *stop, bool path) {
  auto sep = [](char c) { return c == '/' || c == '\\'; };
  if (s >= stop) {
    for (;;) {
      if (*p == '\0') return true;
      if (p[0] == 1 && (p[1] == 2 || p[1] == 5)) {
        p += 2;
      } else if (path && sep(*p)) {
        while (sep(*p)) ++p;
        if (*p != '\0' && !(p[0] == 1 && p[1] == 5)) return false;
      } else {
        return false;
      }
    }
  }
  if (p[0] == 1 && p[1] == 2) {
    for (const char *t = s;; ++t) {
      if (reference(p + 2, t, stop, path)) return true;
      if (t >= stop || (path && sep(*t))) return false;
    }
  }
  if (p[0] == 1 && p[1] == 3) return reference(p + 2, s + 1, stop, path);
  if (p[0] == 1 && p[1] == 5) {
    const char *q = p + 2;
    while (sep(*q)) ++q;
    if (reference(q, s, stop, path)) return true;
    for (const char *t = s; *t != '\0'; ++t)
      if (sep(*t) && reference(q, t + 1, stop, path)) return true;
    return false;
  }
  if (p[0] == 1 && p[1] == 4) {
    bool hit = false;
    const char *q = p + 2;
    for (; *q != 1; ++q) {
      if (q[1] == '-' && q[2] != 1) {
        hit = hit || (q[0] <= *s && *s <= q[2]);
        q += 2;
      } else {
        hit = hit || *q == *s;
      }
    }
    return hit && reference(q + 1, s + 1, stop, path);
  }
  if (path && sep(*p)) {
    if (!sep(*s)) return false;
    while (sep(*p)) ++p;
    while (sep(*s)) ++s;
    return reference(p, s, stop, path);
  }
  return *p != '\0' && *p == *s && reference(p + 1, s + 1, stop, path);
}

// Random patterns and names over a small alphabet, where many attempts
// almost match: the resume points and the table matcher must give what
// the recursion gives.
TEST(WildMatch, BoundedBacktrackingMatchesTheRecursion) {
  const std::vector<std::string> tokens = {"a", "b", "/",   "\\",   "*",
                                           "*", "?", "...", "[ab]", "[/]"};
  const char letters[] = "aab/\\";
  std::mt19937 gen(17);
  int matched = 0;
  for (int round = 0; round < 40000; ++round) {
    std::string p, s;
    const int np = 1 + static_cast<int>(gen() % 7);
    for (int i = 0; i < np; ++i) p += tokens[gen() % tokens.size()];
    const int ns = static_cast<int>(gen() % 9);
    for (int i = 0; i < ns; ++i) s += letters[gen() % 5];
    char out[128];
    if (wild_compile_pattern(p.c_str(), sizeof out, out, nullptr) < 0) continue;
    for (int path = 0; path < 2; ++path) {
      const char *stop = s.c_str() + s.size();
      while (path && stop > s.c_str() && (stop[-1] == '/' || stop[-1] == '\\'))
        --stop;
      const bool want = reference(out, s.c_str(), stop, path);
      EXPECT_EQ(wild_match(out, s.c_str(), path) == 1, want)
          << p << " ~ " << s << " path " << path;
      matched += want;
    }
  }
  EXPECT_GT(matched, 5000);
}

TEST(WildMatch, ManyStarsStayPolynomial) {
  // A backtracking matcher tries every way of spreading the a's over the
  // stars here before failing.
  const std::string name(4000, 'a');
  EXPECT_FALSE(matches("*a*a*a*a*a*a*a*a*a*a*b", name, 0));
  EXPECT_FALSE(matches("*a*?*a*?*a*?*a*b", name + "/" + name, 1));
  EXPECT_FALSE(matches(".../*a/.../*a*a/.../*b", name + "/" + name, 1));
}

TEST(WildMatch, MultibyteCharactersAreTakenWhole) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
    GTEST_SKIP() << "no UTF-8 locale";
  EXPECT_TRUE(matches("?", "\xc3\xa9", 0));
  EXPECT_FALSE(matches("??", "\xc3\xa9", 0));
  EXPECT_TRUE(matches("[\xc3\xa8-\xc3\xaa]x", "\xc3\xa9x", 0));
  EXPECT_TRUE(matches("*?", "\xc3\xa9", 1));
  EXPECT_TRUE(matches("^\xc3\xa9*", "\xc3\xa9t\xc3\xa9", 1));
  // A star's scan for the byte after it must not stop inside a character.
  EXPECT_FALSE(matches("*\xa9", "\xc3\xa9", 1));
  EXPECT_TRUE(matches("*\xa9/x", "\xc3\xa9\xa9/x", 1));
  std::setlocale(LC_CTYPE, saved.c_str());
}

}  // namespace
