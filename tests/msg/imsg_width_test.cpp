// Display width, truncation, padding and tab expansion, in the C locale and
// in a UTF-8 locale.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include <orvexks/imsg.h>

namespace {

// "e" with an acute accent: two bytes in UTF-8.
#define E_ACUTE "\xc3\xa9"

class ImsgWidthUtf8 : public testing::Test {
 protected:
  void SetUp() override {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr)
      GTEST_SKIP() << "no C.UTF-8 locale";
  }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

struct Made {
  int ok;
  std::string text;
  int width;
};

Made make_width(const char *str, int width, int max_width, int keep_tail,
                int right_align, size_t dst_size = 64) {
  char dst[64] = "untouched";
  int out_width = -7;
  const int ok = imsg_make_width(str, width, max_width, keep_tail, right_align,
                                 dst_size, dst, &out_width);
  return {ok, dst, out_width};
}

struct Detabbed {
  int whole;
  std::string text;
  int width;
  size_t bytes;
};

Detabbed detabify(int tab_size, int start_column, const char *src,
                  int max_width, size_t dst_size = 64) {
  char dst[64];
  int width = -1;
  size_t bytes = 99;
  const int whole = imsg_detabify_general(
      tab_size, start_column, src, max_width, dst_size, dst, &width, &bytes);
  return {whole, dst, width, bytes};
}

TEST(ImsgWidth, StripStyleDropsOnlyCompleteMarkers) {
  char dst[64];
  imsg_strip_style_chars(dst,
                         "\x01\x01"
                         "1Bbold\x01\x01"
                         "0B \x01\x01"
                         "1Uu\x01\x01"
                         "0U");
  EXPECT_STREQ(dst, "bold u");
  // A pair that does not begin a whole marker is ordinary text, including
  // one cut short by the end of the text.
  imsg_strip_style_chars(dst,
                         "a\x01\x01"
                         "1Xb\x01\x01"
                         "2B\x01\x01"
                         "1");
  EXPECT_STREQ(dst,
               "a\x01\x01"
               "1Xb\x01\x01"
               "2B\x01\x01"
               "1");
}

TEST(ImsgWidth, SingleByteCountsBytes) {
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(imsg_charcount("h" E_ACUTE "llo"), 6);
  EXPECT_EQ(imsg_strwidth("h" E_ACUTE "llo"), 6);
  EXPECT_EQ(imsg_charcount(nullptr), 0);
  EXPECT_EQ(imsg_disp_width("x", 1), 1);
  EXPECT_EQ(imsg_disp_width("x", 0), 0);
  EXPECT_EQ(imsg_disp_width("", 1), 0);

  char text[] = "a" E_ACUTE "b";
  EXPECT_EQ(imsg_truncate(text, 2), 1);  // cuts inside the two-byte form
  EXPECT_STREQ(text, "a\xc3");
}

TEST(ImsgWidth, TruncateLeavesShortTextsAlone) {
  char text[] = "abc";
  EXPECT_EQ(imsg_truncate(text, 3), 0);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(imsg_truncate(text, 2), 1);
  EXPECT_STREQ(text, "ab");
  EXPECT_EQ(imsg_truncate(text, 0), 1);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(imsg_truncate(nullptr, 0), 0);
}

TEST_F(ImsgWidthUtf8, CharactersAreAsWideAsTheirBytes) {
  EXPECT_EQ(imsg_charcount("h" E_ACUTE "llo"), 5);
  EXPECT_EQ(imsg_strwidth("h" E_ACUTE "llo"), 6);
  EXPECT_EQ(imsg_disp_width(E_ACUTE, 2), 2);
  // An invalid byte is a character of its own.
  EXPECT_EQ(imsg_charcount("a\xff"
                           "b"),
            3);
  EXPECT_EQ(imsg_charcount("\xc3"), 1);
}

TEST_F(ImsgWidthUtf8, TruncateKeepsWholeCharacters) {
  char text[] = "a" E_ACUTE "b";
  EXPECT_EQ(imsg_truncate(text, 2), 1);
  EXPECT_STREQ(text, "a");
  char invalid[] =
      "a\xff\xfe"
      "b";
  EXPECT_EQ(imsg_truncate(invalid, 2), 1);
  EXPECT_STREQ(invalid, "a\xff");
}

TEST(ImsgWidth, MakeWidthCutsPadsAndRefusesASmallBuffer) {
  const struct {
    const char *str;
    int width, max_width, keep_tail, right_align;
    size_t dst_size;
    Made want;
  } cases[] = {
      {"abcdef", 4, 3, 0, 0, 64, {1, "abc ", 4}},
      {"abcdef", 4, 3, 1, 0, 64, {1, "def ", 4}},
      {"abcdef", 4, 3, 0, 1, 64, {1, " abc", 4}},
      {"abcdef", 4, 3, 1, 1, 64, {1, " def", 4}},
      {"abcdef", 2, -1, 0, 0, 64, {1, "abcdef", 6}},  // no limit, no padding
      {"ab", 2, 2, 0, 0, 64, {1, "ab", 2}},
      {"", 3, 0, 0, 1, 64, {1, "   ", 3}},
      // "abc " needs five bytes with the terminator.
      {"abcdef", 4, 3, 0, 0, 4, {0, "untouched", -7}},
      {"abcdef", 4, 3, 0, 0, 5, {1, "abc ", 4}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.str) + " in " + std::to_string(c.width));
    Made m = make_width(c.str, c.width, c.max_width, c.keep_tail, c.right_align,
                        c.dst_size);
    EXPECT_EQ(m.ok, c.want.ok);
    EXPECT_EQ(m.text, c.want.text);
    EXPECT_EQ(m.width, c.want.width);
  }
}

TEST_F(ImsgWidthUtf8, MakeWidthNeverSplitsACharacter) {
  Made m = make_width("a" E_ACUTE "b", 3, 2, 0, 0);
  EXPECT_EQ(m.text, "a  ");
  EXPECT_EQ(m.width, 3);
  m = make_width(E_ACUTE "ab", 0, 2, 1, 0);
  EXPECT_EQ(m.text, "ab");
  EXPECT_EQ(m.width, 2);
  m = make_width("ab" E_ACUTE, 4, 3, 1, 1);
  EXPECT_EQ(m.text, " b" E_ACUTE);
  EXPECT_EQ(m.width, 4);
}

// -1 in the expected width or byte count: not checked.
TEST(ImsgWidth, DetabifyExpandsTabsOnOneLineWithinTheLimits) {
  const struct {
    int tab_size, start_column;
    const char *src;
    int max_width;
    size_t dst_size;
    Detabbed want;
  } cases[] = {
      {8, 0, "a\tb", -1, 64, {1, "a       b", 9, 9}},
      // Columns count from the start column; the width is what was written.
      {4, 3, "\tx\t", -1, 64, {1, " x   ", 5, size_t(-1)}},
      {8, 0, "ab\ncd", -1, 64, {1, "ab\n", 2, 3}},
      {8, 0, "ab\r\ncd", -1, 64, {1, "ab", -1, 2}},
      {8, 0, "abc\tx", 5, 64, {0, "abc", 3, size_t(-1)}},  // tab to column 8
      {8, 0, "abcdef", 6, 64, {1, "abcdef", -1, size_t(-1)}},  // at the limit
      // Seven blanks do not fit with a NUL; no room for newline and NUL.
      {8, 0, "a\tb", -1, 5, {0, "a", -1, 1}},
      {8, 0, "ab\n", -1, 3, {0, "ab", -1, size_t(-1)}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.src);
    Detabbed d =
        detabify(c.tab_size, c.start_column, c.src, c.max_width, c.dst_size);
    EXPECT_EQ(d.whole, c.want.whole);
    EXPECT_EQ(d.text, c.want.text);
    if (c.want.width >= 0) {
      EXPECT_EQ(d.width, c.want.width);
    }
    if (c.want.bytes != size_t(-1)) {
      EXPECT_EQ(d.bytes, c.want.bytes);
    }
  }
}

TEST_F(ImsgWidthUtf8, DetabifyCopiesWholeCharacters) {
  Detabbed d = detabify(4, 0, E_ACUTE "\tx", -1);
  EXPECT_EQ(d.text, E_ACUTE "  x");
  EXPECT_EQ(d.width, 5);
  EXPECT_EQ(d.bytes, 5u);

  d = detabify(4, 0, "a" E_ACUTE, 2);  // the accented letter needs 2 columns
  EXPECT_EQ(d.whole, 0);
  EXPECT_EQ(d.text, "a");
}

// The process tab size is read once per process, so each setting is tried
// in a child of its own; the child's exit code is the width of "a\tb".
int detab_width_with_env(const char *value) {
  if (value != nullptr) {
    setenv("QUILLMERE_TAB_SIZE", value, 1);
  } else {
    unsetenv("QUILLMERE_TAB_SIZE");
  }
  char dst[32];
  int width = 0;
  size_t bytes = 0;
  imsg_detabify("a\tb", -1, sizeof dst, dst, &width, &bytes);
  return width;
}

TEST(ImsgWidthProcessTabSize, ComesFromTheEnvironment) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(detab_width_with_env(nullptr)), testing::ExitedWithCode(9),
              "");
  EXPECT_EXIT(_exit(detab_width_with_env("0")), testing::ExitedWithCode(9), "");
  EXPECT_EXIT(_exit(detab_width_with_env("4")), testing::ExitedWithCode(5), "");
  EXPECT_EXIT(_exit(detab_width_with_env("junk")), testing::ExitedWithCode(9),
              "");
}

}  // namespace
