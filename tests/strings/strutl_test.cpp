// Multibyte characters, encodings, bounded copies, searching, editing,
// scrambling, tokens, names, separators and escapes. Locale-dependent
// behaviour is run under both the C locale and C.UTF-8.
#include <orvexks/list.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <thread>

namespace {

using testing::HasSubstr;

// Runs a test in the C locale and again in C.UTF-8.
class StrutlLocale : public testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    ASSERT_NE(std::setlocale(LC_ALL, GetParam()), nullptr);
  }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
  bool utf8() const { return std::strcmp(GetParam(), "C") != 0; }
};

INSTANTIATE_TEST_SUITE_P(Locales, StrutlLocale,
                         testing::Values("C", "C.UTF-8"));

// UTF-8 bytes of e-acute, the euro sign and a character beyond U+FFFF.
const char kEAcute[] = "\xc3\xa9";
const char kEuro[] = "\xe2\x82\xac";
const char kGrin[] = "\xf0\x9f\x98\x80";

TEST_P(StrutlLocale, CharacterLengthsFollowTheCodePage) {
  const std::string text = std::string("a") + kEAcute + kEuro + kGrin;
  EXPECT_EQ(strutl_mblen(kEAcute, 4), utf8() ? 2 : 1);
  EXPECT_EQ(strutl_mblen(kGrin, 4), utf8() ? 4 : 1);
  EXPECT_EQ(strutl_mblen("\xff", 4), 1);  // invalid: one byte
  EXPECT_EQ(strutl_mblen(kEuro, 2), 1);   // cut short: one byte
  EXPECT_EQ(strutl_mblen("", 4), 0);
  EXPECT_EQ(strutl_mb_strlen(text.c_str()), utf8() ? 4u : 10u);
  EXPECT_EQ(strutl_get_sys_char_type(), utf8() ? 0 : 1);

  char one[8];
  EXPECT_EQ(strutl_mb_char_from_str(kEuro, one, sizeof one), utf8() ? 3 : 1);
  EXPECT_EQ(strutl_mb_char_from_str(kEuro, one, 2), utf8() ? 0 : 1);
  strutl_wchar_t wc;
  EXPECT_EQ(strutl_wide_char_from_str(kEuro, &wc), utf8() ? 3 : 1);
  EXPECT_EQ(wc, utf8() ? 0x20AC : 0xE2);
  EXPECT_EQ(strutl_wide_char_from_str(kGrin, &wc), utf8() ? -1 : 1);
}

TEST_P(StrutlLocale, CaseConversion) {
  char buf[32];
  EXPECT_EQ(strutl_cvt_case_string("abc\xc3\xa9!", 1, sizeof buf, buf), 1);
  EXPECT_STREQ(buf, utf8() ? "ABC\xc3\x89!" : "ABC\xc3\xa9!");
  // Cut at a character boundary when the room runs out.
  EXPECT_EQ(strutl_cvt_case_string("\xc3\xa9\xc3\xa9", 1, 4, buf), 0);
  EXPECT_STREQ(buf, utf8() ? "\xc3\x89" : "\xc3\xa9\xc3");
  EXPECT_EQ(strutl_cvt_case_char("Q", 1, 0, buf), 1);
  EXPECT_EQ(buf[0], 'q');
  EXPECT_EQ(strutl_cvt_case_char("\xff", 1, 1, buf), 1);  // copied unchanged
  EXPECT_EQ(buf[0], '\xff');

  EXPECT_EQ(strutl_stricoll("Hello", "hELLO"), 0);
  EXPECT_LT(strutl_stricoll("apple", "BANANA"), 0);
  EXPECT_GT(strutl_stricoll("b", "A"), 0);
  if (utf8()) {
    EXPECT_EQ(strutl_stricoll("\xc3\x89t\xc3\xa9", "\xc3\xa9T\xc3\x89"), 0);
  }
}

TEST(StrutlCase, InPlaceConversionThatGrowsTheText) {
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  // U+0250 (2 bytes) upper-cases to U+2C6F (3 bytes).
  char buf[16] = "\xc9\x90\xc9\x90x";
  EXPECT_EQ(strutl_cvt_case_string(buf, 1, sizeof buf, buf), 1);
  EXPECT_STREQ(buf, "\xe2\xb1\xaf\xe2\xb1\xafX");
  std::setlocale(LC_ALL, "C");
}

TEST_P(StrutlLocale, CharacterClasses) {
  int len = -1;
  EXPECT_EQ(strutl_test_char("a", 1,
                             STRUTL_CHAR_ALPHA | STRUTL_CHAR_LOWER |
                                 STRUTL_CHAR_XDIGIT | STRUTL_CHAR_GRAPH,
                             &len),
            1);
  EXPECT_EQ(len, 1);
  EXPECT_EQ(
      strutl_test_char("a", 1, STRUTL_CHAR_ALPHA | STRUTL_CHAR_UPPER, &len), 0);
  EXPECT_EQ(strutl_test_char("\t", 1, STRUTL_CHAR_SPACE, &len), 1);
  EXPECT_EQ(
      strutl_test_char("!", 1, STRUTL_CHAR_PUNCT | STRUTL_CHAR_PRINT, &len), 1);
  EXPECT_EQ(strutl_test_char(kEAcute, 2, STRUTL_CHAR_ALPHA, &len),
            utf8() ? 1 : 0);
  EXPECT_EQ(len, utf8() ? 2 : 1);
  EXPECT_EQ(strutl_test_char("\xff", 1, STRUTL_CHAR_PRINT, &len), 0);
  EXPECT_EQ(len, 1);
  EXPECT_EQ(strutl_test_char("", 1, STRUTL_CHAR_SPACE, &len), 0);
  EXPECT_EQ(len, 0);
}

TEST(StrutlMultibyte, ShiftJisToEuc) {
  const unsigned char cases[][4] = {{0x81, 0x40, 0xA1, 0xA1},
                                    {0x82, 0xA0, 0xA4, 0xA2},
                                    {0x88, 0x9F, 0xB0, 0xA1},
                                    {0xE0, 0x40, 0xDF, 0xA1},
                                    {0x81, 0x80, 0xA1, 0xE0}};
  for (const auto &c : cases) {
    unsigned char hi, lo;
    strutl_cvt_sjis_to_euc(c[0], c[1], &hi, &lo);
    EXPECT_EQ(hi, c[2]);
    EXPECT_EQ(lo, c[3]);
  }
}

TEST(StrutlUtf, Utf16ToUtf8AtEveryLengthLimit) {
  const strutl_wchar_t src[] = {0x7F,   0x80,   0x7FF,  0x800,  0xFFFF, 0xD800,
                                0xDC00, 0xDBFF, 0xDFFF, 0xDC00, 0};
  char out[64];
  ASSERT_EQ(strutl_utf16to8(out, src, 10, sizeof out), 0);
  EXPECT_STREQ(out,
               "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"
               "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf\xed\xb0\x80");
  // Too small: cut after the last whole character.
  EXPECT_EQ(strutl_utf16to8(out, src, 10, 5), 3);
  EXPECT_STREQ(out, "\x7f\xc2\x80");
  // A high surrogate at the end of the counted units stays alone.
  EXPECT_EQ(strutl_utf16to8(out, src + 5, 1, sizeof out), 0);
  EXPECT_STREQ(out, "\xed\xa0\x80");
}

TEST(StrutlUtf, Utf8ToUtf16) {
  strutl_wchar_t out[16];
  size_t used = 0;
  const char text[] = "a\xc3\xa9\xf0\x9f\x98\x80\xf4\x90\x80\x80";
  ASSERT_EQ(strutl_utf8to16(out, text, sizeof text - 1, 16, &used), 0);
  EXPECT_EQ(used, sizeof text - 1);
  const strutl_wchar_t want[] = {'a', 0xE9, 0xD83D, 0xDE00, 0xFFFD, 0};
  EXPECT_EQ(std::memcmp(out, want, sizeof want), 0);

  // Ends in the first byte of a two-byte sequence.
  EXPECT_EQ(strutl_utf8to16(out, "ab\xc3", 3, 16, &used), 1);
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(out[2], 0);
  // A surrogate pair is written only when both units (and the terminator) fit.
  EXPECT_EQ(strutl_utf8to16(out, "a\xf0\x9f\x98\x80", 5, 3, &used), 3);
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(strutl_utf8to16(out, "abc", 3, 0, &used), 3);
}

TEST_P(StrutlLocale, WideTextRoundTrip) {
  stg_area_t area = stg_create_area(256);
  const char *text = utf8() ? "x\xc3\xa9\xe2\x82\xac" : "x\xe9y";
  strutl_wchar_t *wide = strutl_cvt_str_to_wide_str(text, area);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(strutl_wide_strlen(wide), 3u);
  char *back = strutl_cvt_wide_str_to_str(wide, area);
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back, text);
  stg_delete_area(&area);
}

TEST(StrutlUtf, WideConversionFailuresPrintAndGiveEmptyOrNull) {
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  stg_area_t area = stg_create_area(256);
  testing::internal::CaptureStderr();
  strutl_wchar_t *wide = strutl_cvt_str_to_wide_str("a\xf0\x9f\x98\x80", area);
  const strutl_wchar_t lone[] = {'a', 0xD800, 0};
  char *text = strutl_cvt_wide_str_to_str(lone, area);
  char *none = strutl_cvt_wide_str_to_str(nullptr, area);
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide[0], 0);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(none, nullptr);
  EXPECT_THAT(err, HasSubstr("Error converting string to wide char string: a"));
  EXPECT_THAT(err, HasSubstr("Error converting wide char string to string.\n"));
  EXPECT_THAT(err, HasSubstr("The string to be converted is null.\n"));
  stg_delete_area(&area);
  std::setlocale(LC_ALL, "C");
}

TEST(StrutlUtfDeathTest, NullAreaIsABrokenInvariant) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(strutl_cvt_str_to_wide_str("a", STG_AREA_NULL),
              testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(area != STG_AREA_NULL\\) failed");
}

TEST_P(StrutlLocale, BoundedCopies) {
  char buf[8];
  EXPECT_EQ(strutl_ncpy_buf(buf, "abcdef", 3, sizeof buf), 0);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(strutl_ncpy_buf(buf, "abcdefghij", 10, sizeof buf), 1);
  EXPECT_STREQ(buf, "abcdefg");

  // Stops at a stop character, multibyte ones included; cut by the size.
  const char *end = nullptr;
  const std::string src = std::string("ab") + kEAcute + "cd/ef";
  EXPECT_EQ(strutl_ccpy_buf(buf, src.c_str(), sizeof buf, "/", &end), 0);
  EXPECT_STREQ(end, "/ef");
  // The trail byte of e-acute stops the copy only in a single-byte code page.
  EXPECT_EQ(strutl_ccpy_buf(buf, src.c_str(), sizeof buf, "\xa9/", &end), 0);
  EXPECT_STREQ(buf, utf8() ? "ab\xc3\xa9"
                             "cd"
                           : "ab\xc3");
  EXPECT_EQ(strutl_ccpy_buf(buf, src.c_str(), 4, "/", &end), 1);
  EXPECT_STREQ(buf, utf8() ? "ab" : "ab\xc3");
  EXPECT_EQ(end, src.c_str() + (utf8() ? 2 : 3));
}

TEST(StrutlCopy, PrependAdvanceAndPlainCopy) {
  char buf[10];
  std::strcpy(buf, "abc");
  const size_t at = strutl_prepend(buf, sizeof buf, buf);
  EXPECT_EQ(at, 6u);
  EXPECT_STREQ(buf + at, "abc");
  EXPECT_EQ(strutl_prepend(buf, 4, "toolong"), 0u);
  EXPECT_STREQ(buf, "too");

  char *p = buf;
  strutl_cpy_and_advance(&p, "xyz", 2);
  strutl_cpy_and_advance(&p, "123", 3);
  EXPECT_STREQ(buf, "xy123");
  EXPECT_EQ(p, buf + 5);
  EXPECT_STREQ(strutl_ncpy(buf, "0123456789abc", sizeof buf), "012345678");
}

TEST(StrutlCopy, ConcatenationWithTheDestinationAsOneText) {
  char buf[16] = "mid";
  EXPECT_EQ(strutl_concat(buf, sizeof buf, 3, "<", buf, ">"), 0);
  EXPECT_STREQ(buf, "<mid>");
  EXPECT_EQ(strutl_concat(buf, sizeof buf, 2, buf, nullptr), 0);
  EXPECT_STREQ(buf, "<mid>");
  EXPECT_EQ(strutl_concat(buf, 6, 3, "abc", "def", "ghi"), 1);
  EXPECT_STREQ(buf, "abcde");
  char exact[8] = "xxxxxxx";
  EXPECT_EQ(strutl_concat(exact, 4, 2, "ab", "cd"), 1) << "four into four";
  EXPECT_STREQ(exact, "abc");
  EXPECT_EQ(exact[4], 'x') << "nothing written past the size";
#define S8 "a", "a", "a", "a", "a", "a", "a", "a"
  char many[80];
  EXPECT_EQ(
      strutl_concat(many, sizeof many, 64, S8, S8, S8, S8, S8, S8, S8, S8), 0)
      << "64 texts are the most taken";
  EXPECT_EQ(strlen(many), 64u);
#undef S8

  char *heap = strutl_concat_heap(3, "a", "bc", "def");
  ASSERT_NE(heap, nullptr);
  EXPECT_STREQ(heap, "abcdef");
  stg_free(heap);
  stg_area_t area = stg_create_area(64);
  EXPECT_STREQ(strutl_concat_area(area, 2, "k=", "v"), "k=v");
  stg_delete_area(&area);

  strutl_wchar_t w[6] = {'b', 0};
  const strutl_wchar_t a[] = {'a', 0};
  const strutl_wchar_t c[] = {'c', 'd', 'e', 'f', 0};
  EXPECT_EQ(strutl_wide_concat(w, 6, 3, a, w, c), 1);
  const strutl_wchar_t want[] = {'a', 'b', 'c', 'd', 'e', 0};
  EXPECT_EQ(std::memcmp(w, want, sizeof want), 0);
  EXPECT_EQ(strutl_wide_cpy_buf(w, c, 3), 1);
  EXPECT_EQ(strutl_wide_strlen(w), 2u);
}

TEST_P(StrutlLocale, SearchesStepOverWholeCharacters) {
  const std::string s = std::string("a") + kEAcute + "b/c/d";
  size_t pos = 99;
  // The trail byte of e-acute is a character only in a single-byte code page.
  EXPECT_EQ(strutl_find_char(s.c_str(), 0, 0xA9, &pos), utf8() ? 0 : 1);
  EXPECT_EQ(strutl_find_char(s.c_str(), 0, '/', &pos), 1);
  EXPECT_EQ(pos, 4u);
  EXPECT_EQ(strutl_find_last_char(s.c_str(), 0, '/', &pos), 1);
  EXPECT_EQ(pos, 6u);
  int len = 0;
  EXPECT_EQ(strutl_find_char_from(s.c_str(), 0, "xb\xc3\xa9", &pos, &len), 1);
  EXPECT_EQ(pos, utf8() ? 1u : 1u);
  EXPECT_EQ(len, utf8() ? 2 : 1);
  EXPECT_EQ(strutl_right_char(kEAcute, &pos), 1);
  EXPECT_EQ(pos, utf8() ? 0u : 1u);
  EXPECT_EQ(strutl_match_last_char("a/b/", '/', &pos), 1);
  EXPECT_EQ(pos, 3u);
  EXPECT_EQ(strutl_match_last_char("", '/', &pos), 0);
  EXPECT_STREQ(strutl_strrpbrk("a/b\\c", "/\\"), "\\c");
  EXPECT_EQ(strutl_strrpbrk("abc", "/"), nullptr);
}

TEST(StrutlSearch, SubstringsDelimitersAndPrefixes) {
  size_t pos = 0;
  EXPECT_EQ(strutl_find_str("abcabc", 1, "abc", &pos), 1);
  EXPECT_EQ(pos, 3u);
  EXPECT_EQ(strutl_find_str("abcabc", 0, "x", &pos), 0);
  EXPECT_EQ(pos, 6u);
  EXPECT_EQ(strutl_find_str_range("abcabc", 1, 3, "abc", &pos), 0);
  EXPECT_EQ(pos, 3u);
  EXPECT_EQ(strutl_find_str_range("abcabc", 1, 4, "abc", &pos), 1);

  EXPECT_EQ(strutl_find_end_delim("${a{b}c}d", 2, '{', '}', &pos), 1);
  EXPECT_EQ(pos, 7u);
  EXPECT_EQ(strutl_find_end_delim("(a(b)", 1, '(', ')', &pos), 0);

  EXPECT_EQ(strutl_match_prefix("abcd", "abxd", &pos), 1);
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(strutl_match_prefix("abc", "abcd", &pos), 1);
  EXPECT_EQ(pos, 3u);
  EXPECT_EQ(strutl_match_prefix("abc", "abc", &pos), 0);
  EXPECT_EQ(pos, 3u);
}

TEST(StrutlEdit, ReplaceInPlace) {
  char s[12] = "one two";
  EXPECT_EQ(strutl_replace_substr(s, 4, sizeof s, 3, "three"), 0);
  EXPECT_STREQ(s, "one three");
  EXPECT_EQ(strutl_replace_substr(s, 0, sizeof s, 4, ""), 0);
  EXPECT_STREQ(s, "three");
  // "three" -> "threeeeeeeeee" needs 14 bytes: refused, text unchanged.
  testing::internal::CaptureStderr();
  EXPECT_EQ(strutl_replace_substr(s, 4, sizeof s, 1, "eeeeeeeee"), 1);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("Supplied buffer too small.\n"));
  EXPECT_STREQ(s, "three");

  char path[32] = "a/./b/./c";
  size_t next = 0;
  while (strutl_find_replace_substr(path, next, sizeof path, "/./", "/",
                                    &next) == 0) {
  }
  EXPECT_STREQ(path, "a/b/c");

  char t[16] = "abcdef";
  strutl_slide_tail(t, 2, 3);
  std::memcpy(t + 2, "XYZ", 3);
  EXPECT_STREQ(t, "abXYZcdef");
  strutl_slide_tail(t, 5, -3);
  EXPECT_STREQ(t, "abcdef");
}

TEST(StrutlEdit, WhitespaceNumbersAndLists) {
  char s[] = " \t a b \t ";
  strutl_strip_whitespace(s, 0, 1);
  EXPECT_STREQ(s, " \t a b");
  strutl_strip_whitespace(s, 1, 0);
  EXPECT_STREQ(s, "a b");
  char blanks[] = "   ";
  strutl_strip_whitespace(blanks, 1, 0);
  EXPECT_STREQ(blanks, "");

  EXPECT_EQ(strutl_cmp_ignore_whitespace("a  b\t\nc", "a b c"), 0);
  EXPECT_NE(strutl_cmp_ignore_whitespace("ab", "a b"), 0);
  EXPECT_LT(strutl_cmp_ignore_whitespace("a b", "a c"), 0);

  EXPECT_EQ(strutl_match_numeric_string("0123"), 0);
  EXPECT_EQ(strutl_match_numeric_string("12a"), 1);
  EXPECT_EQ(strutl_match_numeric_string(""), 1);
  EXPECT_EQ(strutl_match_numeric_string(nullptr), 1);

  list_t *list = list_create(STG_AREA_HEAP, 0);
  list_append(list, const_cast<char *>("x"));
  list_append(list, const_cast<char *>("yy"));
  EXPECT_EQ(strutl_str_in_list(list, "yy"), 1);
  EXPECT_EQ(strutl_str_in_list(list, "y"), 0);
  list_destroy(list);
}

// Length of the scrambled form of an n-byte text.
size_t scrambled_len(size_t n) {
  return n == 0 ? 0 : n / 3 * 4 + (n % 3 ? n % 3 + 1 : 0) + 1;
}

TEST(StrutlScramble, EveryTextIsRestoredExactly) {
  std::string text;
  for (int i = 1; i < 256; ++i) text += static_cast<char>(i);
  for (size_t n = 0; n <= text.size(); n += (n < 12 ? 1 : 37)) {
    const std::string in = text.substr(text.size() - n);
    char out[400], back[300];
    ASSERT_EQ(strutl_extract_head(in.c_str(), out, sizeof out), 0) << n;
    ASSERT_EQ(std::strlen(out), scrambled_len(n));
    EXPECT_EQ(
        std::strspn(
            out,
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@"),
        std::strlen(out));
    ASSERT_EQ(strutl_extract_tail(out, back, sizeof back), 0) << n;
    EXPECT_EQ(back, in);
  }
}

TEST(StrutlScramble, BoundsAndMalformedInput) {
  char out[16], back[16];
  ASSERT_EQ(strutl_extract_head("secret", out, 10), 0);  // 9 symbols + NUL
  EXPECT_EQ(strutl_extract_head("secret", out, 9), 1);
  ASSERT_EQ(strutl_extract_head("secret", out, sizeof out), 0);
  EXPECT_EQ(strutl_extract_tail(out, back, 7), 0);
  EXPECT_STREQ(back, "secret");
  EXPECT_EQ(strutl_extract_tail(out, back, 6), 1);

  EXPECT_EQ(strutl_extract_tail("abc-", back, sizeof back), 1);
  EXPECT_EQ(strutl_extract_tail("ab\xc3\xa9", back, sizeof back), 1);
  EXPECT_EQ(strutl_extract_tail("ab", back, sizeof back), 1);  // one symbol
  EXPECT_EQ(strutl_extract_tail("", back, sizeof back), 0);
  EXPECT_STREQ(back, "");
}

TEST_P(StrutlLocale, TokensWithAPerThreadCursor) {
  char text[] = ",,a,bb;;c,";
  EXPECT_STREQ(strutl_tokenize(text, ",;"), "a");
  std::thread other([] {
    char mine[] = "x y";
    EXPECT_STREQ(strutl_tokenize(mine, " "), "x");
    EXPECT_STREQ(strutl_tokenize(nullptr, " "), "y");
    EXPECT_EQ(strutl_tokenize(nullptr, " "), nullptr);
  });
  other.join();
  EXPECT_STREQ(strutl_tokenize(nullptr, ",;"), "bb");
  EXPECT_STREQ(strutl_tokenize(nullptr, ",;"), "c");
  EXPECT_EQ(strutl_tokenize(nullptr, ",;"), nullptr);

  // A delimiter byte inside a character does not split it.
  char mb[] = "a\xc3\xa9z";
  EXPECT_STREQ(strutl_tokenize(mb, "\xa9"), utf8() ? "a\xc3\xa9z" : "a\xc3");
}

TEST_P(StrutlLocale, Names) {
  EXPECT_EQ(strutl_is_ok_name("build_7", nullptr, nullptr), 0);  // '_'
  EXPECT_EQ(strutl_is_ok_name("build_7", nullptr, "_"), 1);
  EXPECT_EQ(strutl_is_ok_name("my view", nullptr, nullptr), 0);
  EXPECT_EQ(strutl_is_ok_name("my view", nullptr, " "), 1);
  EXPECT_EQ(strutl_is_ok_name("7up", "0123456789", nullptr), 0);
  EXPECT_EQ(strutl_is_ok_name("", nullptr, nullptr), 0);
  EXPECT_EQ(strutl_is_ok_name(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(strutl_is_ok_name("a\tb", nullptr, nullptr), 0);
  // Japanese text with the prolonged sound mark; the ideographic comma
  // is punctuation.
  EXPECT_EQ(strutl_is_ok_name("\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf", nullptr,
                              nullptr),
            utf8() ? 1 : 0);
  EXPECT_EQ(strutl_is_ok_name("a\xe3\x80\x81"
                              "b",
                              nullptr, nullptr),
            0);
}

TEST(StrutlSeparators, TranslateInPlaceOrIntoACopy) {
  char src[] = "a\\b/c\\d";
  char dst[16] = "untouched";
  int changed = -1;
  EXPECT_EQ(strutl_xlate_pname_sep(src, "\\/", '/', dst, sizeof dst, &changed),
            0);
  EXPECT_EQ(changed, 1);
  EXPECT_STREQ(dst, "a/b/c/d");
  EXPECT_STREQ(src, "a\\b/c\\d");

  char plain[] = "a/b";
  EXPECT_EQ(strutl_xlate_pname_sep(plain, "\\/", '/', dst, 2, &changed), 0);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(strutl_xlate_pname_sep(src, "\\", '/', dst, 4, &changed), 1);

  EXPECT_EQ(strutl_xlate_pname_sep(src, "/", '\\', src, 0, &changed), 0);
  EXPECT_STREQ(src, "a\\b\\c\\d");
}

TEST(StrutlEscapes, CharactersToStringsAndBack) {
  static const char *const kStrings[] = {"\\n", "\\t"};
  char out[32];
  EXPECT_EQ(strutl_xlate_chars_to_strings(out, "a\nb\tc", "\n\t", kStrings),
            7u);
  EXPECT_STREQ(out, "a\\nb\\tc");

  char *text = nullptr;
  ASSERT_EQ(strutl_cstr_to_str("\"a\\tb\\x41\\\"\\\\\\?\\'\"", 1, &text), 0);
  EXPECT_STREQ(text, "a\tbA\"\\?'");
  stg_free(text);
  ASSERT_EQ(strutl_cstr_to_str("\\a\\b\\f\\n\\r\\v\\0tail", 0, &text), 0);
  EXPECT_STREQ(text, "\a\b\f\n\r\v");
  stg_free(text);

  const struct {
    const char *text;
    int quoted;
  } bad[] = {{"\"abc", 1},  {"abc\"", 1},    {"\"", 1},
             {"\"\\\"", 1}, {"\"a\"b\"", 1}, {"\\q", 0},
             {"\\x", 0},    {"\\x100", 0},   {"end\\", 0}};
  for (const auto &b : bad) {
    EXPECT_EQ(strutl_cstr_to_str(b.text, b.quoted, &text), 1) << b.text;
    EXPECT_EQ(text, nullptr);
  }
}

}  // namespace
