// Path names as text: the forms, comparison, splitting, normalisation and
// absolute and relative conversion, table-driven, with the properties that
// tie them together checked over generated paths.
#include <gtest/gtest.h>

#include <orvexks/fileutl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>

namespace {

std::string dots(const char *in, size_t size = 256) {
  char out[256];
  const char *r = fileutl_remove_embedded_dots(in, out, size);
  return r != nullptr ? r : "(null)";
}

std::string absolute(const char *path, const char *cwd, size_t size = 256) {
  char out[256];
  const char *r = fileutl_make_abs_pn(out, size, path, cwd);
  return r != nullptr ? r : "(null)";
}

std::string relative(const char *path, const char *base, int dot = 0,
                     int forward = 0, int max_up = 0, size_t size = 256) {
  char out[256];
  const char *r =
      fileutl_make_rel_pn(out, size, path, base, dot, forward, max_up);
  return r != nullptr ? r : "(null)";
}

TEST(FileutlForms, Predicates) {
  struct Row {
    const char *p;
    int drive, drive_style, abs, unc, root;
  };
  const Row rows[] = {
      {"", 0, 0, 0, 0, 0},           {"C:", 1, 0, 0, 0, 0},
      {"C:x", 1, 1, 0, 0, 0},        {"C:\\", 1, 1, 1, 0, 1},
      {"C:/\\", 1, 1, 1, 0, 1},      {"C:\\a", 1, 1, 1, 0, 0},
      {"\\", 0, 0, 1, 0, 1},         {"/", 0, 0, 1, 0, 1},
      {"\\a", 0, 0, 1, 0, 0},        {"\\\\h", 0, 0, 1, 0, 1},
      {"\\\\h\\", 0, 0, 1, 0, 1},    {"\\\\h\\s", 0, 0, 1, 1, 1},
      {"\\\\h\\s\\", 0, 0, 1, 1, 1}, {"\\\\h\\s\\t", 0, 0, 1, 1, 0},
      {"//h//s", 0, 0, 1, 1, 0},     {"\\\\\\s\\t", 0, 0, 1, 0, 0},
      {"1:\\x", 1, 1, 0, 0, 0},      {"a", 0, 0, 0, 0, 0},
      {"1:\\", 1, 1, 0, 0, 0},  // a drive root needs a letter
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.p);
    EXPECT_EQ(fileutl_has_drive(r.p), r.drive);
    EXPECT_EQ(fileutl_is_drive_style(r.p), r.drive_style);
    EXPECT_EQ(fileutl_is_abspn(r.p), r.abs);
    EXPECT_EQ(fileutl_is_unc_pn(r.p), r.unc);
    EXPECT_EQ(fileutl_is_root_pn(r.p), r.root);
  }
  EXPECT_EQ(fileutl_is_abspn(nullptr), 0);
}

TEST(FileutlForms, DrivesAndSeparators) {
  EXPECT_STREQ(fileutl_get_drive("x:\\a"), "x:");
  EXPECT_STREQ(fileutl_get_drive("\\a"), "");
  EXPECT_EQ(fileutl_is_drive_equal("c:\\a", "C:\\b"), 0);
  EXPECT_NE(fileutl_is_drive_equal("c:\\a", "d:\\a"), 0);
  const char *p = "ab/c\\d";
  EXPECT_EQ(fileutl_find_pname_sep_left(p), p + 2);
  EXPECT_EQ(fileutl_find_pname_sep_left("abc"), nullptr);
  const char *t = "ab/";
  EXPECT_EQ(fileutl_match_trailing_sep(t), t + 2);
  EXPECT_EQ(fileutl_match_trailing_sep("ab"), nullptr);
  EXPECT_EQ(fileutl_match_trailing_sep(""), nullptr);
  EXPECT_EQ(fileutl_ends_with_slash_dot("a\\.", -1), 1);
  EXPECT_EQ(fileutl_ends_with_slash_dot("/.", -1), 0);   // shorter than 3
  EXPECT_EQ(fileutl_ends_with_slash_dot("a/.x", 3), 1);  // measured to len
  EXPECT_EQ(fileutl_ends_with_slash_dot("a..", -1), 0);

  struct Strip {
    const char *in, *out;
  };
  for (const Strip &s :
       {Strip{"a\\b\\\\", "a\\b"}, Strip{"a\\", "a"}, Strip{"C:\\", "C:\\"},
        Strip{"\\\\", "\\\\"}, Strip{"a/", "a/"}, Strip{"C:a\\", "C:a"}}) {
    char buf[32];
    std::strcpy(buf, s.in);
    fileutl_strip_pname_sep(buf);
    EXPECT_STREQ(buf, s.out) << s.in;
  }
}

TEST(FileutlCompare, SeparatorsEqualCaseMatters) {
  EXPECT_EQ(fileutl_pname_equal("a/b", "a\\b"), 1);
  EXPECT_EQ(fileutl_pname_equal("A\\b", "a\\b"), 0);
  EXPECT_EQ(fileutl_pname_equal("a\\\\b", "a\\b"), 0);  // runs not collapsed
  EXPECT_EQ(fileutl_pname_equal("a", "ab"), 0);
  EXPECT_EQ(fileutl_pname_equal_or_parent("a\\b", "a/b"), 1);
  EXPECT_EQ(fileutl_pname_equal_or_parent("a\\b", "a/b\\c"), 1);
  EXPECT_EQ(fileutl_pname_equal_or_parent("a\\b", "a/bc"), 0);
  EXPECT_EQ(fileutl_pname_equal_or_parent("a\\b\\c", "a\\b"), 0);
  EXPECT_EQ(fileutl_pname_equal_or_parent("", ""), 1);
  EXPECT_EQ(fileutl_pname_equal_or_parent("", "\\x"), 1);
  EXPECT_EQ(fileutl_pname_equal_or_parent("", "x"), 0);
  EXPECT_EQ(fileutl_pname_equal_or_parent("\\", "\\x"), 1);
}

TEST(FileutlSplit, LeafSuffixHost) {
  // Each splitter parts a path in two: directory and leaf, base and
  // suffix, host and path.
  using Split = int (*)(const char *, size_t, char *, size_t, char *);
  struct Case {
    Split split;
    const char *p, *first, *second;
  };
  const Split leaf = fileutl_strip_leaf, suffix = fileutl_strip_suffix,
              host = fileutl_strip_hostname;
  const Case cases[] = {{leaf, "a\\b\\\\", "a", "b"},
                        {leaf, "X:\\f", "X:\\", "f"},
                        {leaf, "\\x", "\\", "x"},
                        {leaf, "x", "", "x"},
                        {leaf, "\\", "\\", ""},
                        {leaf, "a/b/c", "a/b", "c"},
                        {leaf, "a\\\\b", "a", "b"},
                        {leaf, "", "", ""},
                        {suffix, "a\\b.c", "a\\b", ".c"},
                        {suffix, "a.b\\c", "a.b\\c", ""},
                        {suffix, "d\\.profile", "d\\", ".profile"},
                        {suffix, "x.tar.gz\\", "x.tar", ".gz"},
                        {suffix, "noext", "noext", ""},
                        {host, "host:/x/y", "host", "/x/y"},
                        {host, "/a:b", "", "/a:b"},
                        {host, "C:\\x", "C", "\\x"},
                        {host, ":x", "", ":x"},
                        {host, "h:", "h", ""}};
  for (const Case &c : cases) {
    char first[16], second[16];
    ASSERT_EQ(c.split(c.p, sizeof first, first, sizeof second, second), 0)
        << c.p;
    EXPECT_STREQ(first, c.first) << c.p;
    EXPECT_STREQ(second, c.second) << c.p;
  }
}

TEST(FileutlSplit, PartsThatDoNotFitFailWithoutOverrun) {
  char dir[4], leaf[4];
  errno = 0;
  EXPECT_EQ(fileutl_strip_leaf("abcd\\e", sizeof dir, dir, sizeof leaf, leaf),
            1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(fileutl_strip_leaf("a\\bcde", sizeof dir, dir, sizeof leaf, leaf),
            1);
  char base[4], suffix[4];
  EXPECT_EQ(
      fileutl_strip_suffix("a.long", sizeof base, base, sizeof suffix, suffix),
      1);
  char host[3], path[8];
  EXPECT_EQ(
      fileutl_strip_hostname("abc:x", sizeof host, host, sizeof path, path), 1);
  char root[3], rest[8];
  EXPECT_EQ(fileutl_root_split("\\\\host\\s\\x", root, sizeof root, rest,
                               sizeof rest),
            1);
}

TEST(FileutlSplit, RootSplit) {
  struct Row {
    const char *p, *root, *rest;
  };
  const Row rows[] = {{"C:\\a\\b", "C:\\", "a\\b"},
                      {"\\a", "\\", "a"},
                      {"\\\\h\\s\\a\\b", "\\\\h\\s\\", "a\\b"},
                      {"\\\\h\\s", "\\\\h\\s", ""},
                      {"C:\\\\\\a", "C:\\", "a"},
                      {"/", "/", ""}};
  for (const Row &r : rows) {
    char root[32], rest[32];
    ASSERT_EQ(fileutl_root_split(r.p, root, sizeof root, rest, sizeof rest), 0)
        << r.p;
    EXPECT_STREQ(root, r.root) << r.p;
    EXPECT_STREQ(rest, r.rest) << r.p;
  }
}

TEST(FileutlNormalise, EmbeddedDots) {
  struct Row {
    const char *in, *out;
  };
  const Row rows[] = {
      {"a\\b\\..\\..\\c", "c"},   {"..\\a", "..\\a"},
      {"a\\...", "a\\..."},       {"\\..", "\\"},
      {"a\\.\\b", "a\\b"},        {"a\\.", "a"},
      {"b\\..\\c", "c"},          {"a\\b\\..\\c", "a\\c"},
      {"..\\..\\x", "..\\..\\x"}, {"C:\\a\\..\\b", "C:\\b"},
      {"\\a\\..\\b", "\\b"},      {"./a", "./a"},
      {"a/.x/..y", "a/.x/..y"},   {"", "\\"},
      {"a//./b", "a//b"},
  };
  for (const Row &r : rows) EXPECT_EQ(dots(r.in), r.out) << r.in;
  EXPECT_EQ(dots("abcd", 4), "(null)");  // would reach size
  EXPECT_EQ(dots("abc", 4), "abc");
  // The dots are copied before they are taken back out.
  EXPECT_EQ(dots("a\\b\\..\\c", 6), "(null)");
  EXPECT_EQ(dots("a\\b\\..\\c", 7), "a\\c");
}

TEST(FileutlNormalise, AbsoluteAgainstADirectory) {
  EXPECT_EQ(absolute("..", "C:\\"), "C:\\");
  EXPECT_EQ(absolute("x\\..\\..", "d"), "(null)");
  EXPECT_EQ(absolute("b\\.\\c", "C:\\a"), "C:\\a\\b\\c");
  EXPECT_EQ(absolute("..\\..\\..\\z", "C:\\a\\b"), "C:\\z");
  EXPECT_EQ(absolute("..", "\\\\h\\s\\x"), "\\\\h\\s\\");
  EXPECT_EQ(absolute("..\\..", "\\\\h\\s\\x"), "\\\\h\\s\\");
  EXPECT_EQ(absolute("D:\\y", "C:\\a"), "D:\\y");  // absolute: copied
  EXPECT_EQ(absolute("x", "\\"), "\\x");
  EXPECT_EQ(absolute("x\\y", "d"), "d\\x\\y");
  EXPECT_EQ(absolute("long-component", "C:\\", 10), "(null)");
}

TEST(FileutlNormalise, RelativeToABase) {
  EXPECT_EQ(relative("C:\\a\\b\\c", "C:\\a"), "b\\c");
  EXPECT_EQ(relative("C:\\a\\b\\c", "C:\\a\\x", 0, 0, 1), "..\\b\\c");
  EXPECT_EQ(relative("C:\\a\\b\\c", "C:\\a\\x", 0, 0, 0), "C:\\a\\b\\c");
  EXPECT_EQ(relative("C:\\a\\b\\c", "C:\\a\\x\\y", 0, 1, 2), "../../b/c");
  EXPECT_EQ(relative("C:\\a\\b\\c", "C:\\a\\x\\y", 0, 0, 1), "C:\\a\\b\\c");
  EXPECT_EQ(relative("C:\\a\\b\\", "C:\\a\\b", 1), ".");
  EXPECT_EQ(relative("C:\\a\\b", "C:\\a\\b", 0), "C:\\a\\b");
  EXPECT_EQ(relative("C:\\a\\b\\", "C:\\a\\b", 0, 1), "C:/a/b");
  EXPECT_EQ(relative("C:\\a\\\\b", "C:\\a"), "b");
  EXPECT_EQ(relative("C:\\ab", "C:\\a"), "C:\\ab");  // not at a boundary
  EXPECT_EQ(relative("\\x\\y", "\\"), "x\\y");       // a root base is empty
  EXPECT_EQ(relative("C:\\a\\b", "C:\\a\\x\\..", 1), "b");  // base normalised
  EXPECT_EQ(relative("C:\\A\\b", "C:\\a"), "C:\\A\\b");     // case-sensitive
  EXPECT_EQ(relative("C:\\a\\b\\c", "C:\\a", 0, 0, 0, 3),
            "b\\");  // cut to size
  const std::string huge(2000, 'x');
  EXPECT_EQ(relative(huge.c_str(), "x", 0, 0, 0, 8), "xxxxxxx");
}

// Random paths over a small alphabet, so that ".", ".." and separator runs
// turn up often.
std::string random_path(std::mt19937 &rng) {
  static const char *const parts[] = {"a", "b",  "..",  ".",   "\\",
                                      "/", "cd", "...", "\\\\"};
  std::string p;
  const int n = static_cast<int>(rng() % 8);
  for (int i = 0; i < n; ++i) p += parts[rng() % 9];
  return p;
}

// Normalising twice changes nothing, and neither normalising nor comparing
// cares which separator a path spells.
TEST(FileutlProperties, NormalisingIsStableAndSeparatorsAreAlike) {
  std::mt19937 rng(1234);
  for (int i = 0; i < 5000; ++i) {
    const std::string p = random_path(rng);
    std::string q = p;
    std::replace(q.begin(), q.end(), '\\', '/');
    const std::string once = dots(p.c_str());
    EXPECT_EQ(dots(once.c_str()), once) << p;
    EXPECT_EQ(fileutl_pname_equal(p.c_str(), q.c_str()), 1) << p;
    EXPECT_EQ(fileutl_pname_equal(once.c_str(), dots(q.c_str()).c_str()), 1)
        << p;
  }
}

TEST(FileutlProperties, AbsoluteThenRelativeGivesThePathBack) {
  std::mt19937 rng(99);
  static const char *const names[] = {"a", "bb", "c.d", "e"};
  for (int i = 0; i < 2000; ++i) {
    std::string rel;
    const int n = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < n; ++k)
      rel += std::string(k ? "\\" : "") + names[rng() % 4];
    const char *cwd = rng() % 2 ? "C:\\w\\x" : "\\\\h\\s\\w";
    const std::string abs = absolute(rel.c_str(), cwd);
    EXPECT_EQ(relative(abs.c_str(), cwd), rel) << cwd << " " << rel;
    // Comparison agrees: the directory is a parent of the absolute path.
    EXPECT_EQ(fileutl_pname_equal_or_parent(cwd, abs.c_str()), 1);
  }
}

TEST(FileutlHosts, CaseOnlyDifferencesNeedNoResolution) {
  EXPECT_EQ(fileutl_hostnames_equal("Build-Host", "bUILD-hOST"), 1);
  EXPECT_EQ(fileutl_hostnames_equal("a", "b"), 0);
  // The .invalid domain never resolves: equal without asking, unequal after.
  EXPECT_EQ(fileutl_hosts_equal("Nowhere.invalid", "NOWHERE.INVALID"), 1);
  EXPECT_EQ(fileutl_hosts_equal("one.invalid", "two.invalid"), 0);
  // Different names, same address.
  EXPECT_EQ(fileutl_hosts_equal("127.0.0.1", "127.000.000.001"), 1);
}

TEST(FileutlQmfs, ViewHostsAreRecognised) {
  EXPECT_EQ(fileutl_is_qmfs_pn("\\\\view\\tag\\x"), 1);
  EXPECT_EQ(fileutl_qmfs_vwtype_pn("\\\\VIEW\\tag"), 1);
  EXPECT_EQ(fileutl_qmfs_vwtype_pn("//rview/tag"), 2);
  EXPECT_EQ(fileutl_qmfs_vwtype_pn("\\\\viewer\\tag"), 0);
  EXPECT_EQ(fileutl_is_qmfs_pn("C:\\x"), 0);
  EXPECT_DEATH(fileutl_is_qmfs_pn("relative"), "FILEUTL_IS_ABSPN\\(pname\\)");
}

}  // namespace
