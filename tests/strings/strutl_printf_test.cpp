// Bounded printf with 64-bit "I64" conversions, bounded copy and the printf
// directive scanner's classification.
#include <gtest/gtest.h>
#include <orvexks/strutl.h>

#include <string>

namespace {

struct directive_case {
  const char *format;
  int kind;
};

TEST(StrutlFindPrintfDirective, ClassifiesEveryConversion) {
  const directive_case cases[] = {
      {"%%", strutl_printf_kind_percent},
      {"%p", strutl_printf_kind_pointer},
      {"%s", strutl_printf_kind_string},
      {"%-20s", strutl_printf_kind_string},
      {"%e", strutl_printf_kind_double},
      {"%E", strutl_printf_kind_double},
      {"%f", strutl_printf_kind_double},
      {"%g", strutl_printf_kind_double},
      {"%G", strutl_printf_kind_double},
      {"%08.3f", strutl_printf_kind_double},
      {"%d", strutl_printf_kind_int},
      {"%i", strutl_printf_kind_int},
      {"%hd", strutl_printf_kind_int},
      {"%c", strutl_printf_kind_uint},
      {"%o", strutl_printf_kind_uint},
      {"%u", strutl_printf_kind_uint},
      {"%x", strutl_printf_kind_uint},
      {"%#X", strutl_printf_kind_uint},
      {"%ld", strutl_printf_kind_long},
      {"%li", strutl_printf_kind_long},
      {"%lu", strutl_printf_kind_ulong},
      {"%lx", strutl_printf_kind_ulong},
      {"%I64d", strutl_printf_kind_int64},
      {"%I64i", strutl_printf_kind_int64},
      {"%I64u", strutl_printf_kind_uint64},
      {"%016I64x", strutl_printf_kind_uint64},
  };
  for (const directive_case &c : cases) {
    SCOPED_TRACE(c.format);
    char dir[32];
    size_t next = 99;
    int kind = 0, star_w = 1, star_p = 1;
    ASSERT_EQ(strutl_find_printf_directive(c.format, 0, sizeof dir, dir, &next,
                                           &kind, &star_w, &star_p),
              1);
    EXPECT_EQ(kind, c.kind);
    EXPECT_EQ(next, std::string(c.format).size());
    EXPECT_STREQ(dir, c.format);
    EXPECT_EQ(star_w, 0);
    EXPECT_EQ(star_p, 0);
  }
}

TEST(StrutlFindPrintfDirective, MalformedDirectivesStopAtTheirPercent) {
  // "%lld" has two length modifiers; "%.d" a precision without digits;
  // "%+-5d" two flags; "%q" no conversion; "%" ends the text.
  for (const char *format : {"ab%lld", "ab%.d", "ab%+-5d", "ab%q", "ab%"}) {
    SCOPED_TRACE(format);
    size_t next = 99;
    int kind = 0, star_w = 0, star_p = 0;
    EXPECT_EQ(strutl_find_printf_directive(format, 0, 0, nullptr, &next, &kind,
                                           &star_w, &star_p),
              0);
    EXPECT_EQ(next, 2u);
  }
}

TEST(StrutlFindPrintfDirective, WalksStarsAndCutsTheDirectiveText) {
  const char *format = "x%*.*d y%.*s z";
  char dir[4];
  size_t next = 0;
  int kind = 0, star_w = 0, star_p = 0;
  ASSERT_EQ(strutl_find_printf_directive(format, 0, sizeof dir, dir, &next,
                                         &kind, &star_w, &star_p),
            1);
  EXPECT_EQ(kind, strutl_printf_kind_int);
  EXPECT_EQ(star_w, 1);
  EXPECT_EQ(star_p, 1);
  EXPECT_STREQ(dir, "%*.");  // cut to dir_size - 1 bytes
  EXPECT_EQ(next, 6u);
  ASSERT_EQ(strutl_find_printf_directive(format, next, sizeof dir, dir, &next,
                                         &kind, &star_w, &star_p),
            1);
  EXPECT_EQ(kind, strutl_printf_kind_string);
  EXPECT_EQ(star_w, 0);
  EXPECT_EQ(star_p, 1);
  EXPECT_EQ(strutl_find_printf_directive(format, next, sizeof dir, dir, &next,
                                         &kind, &star_w, &star_p),
            0);
  EXPECT_EQ(next, std::string(format).size());
}

TEST(StrutlSnprintf, RewritesI64AndReportsTheNeededLength) {
  char buf[64];
  EXPECT_EQ(strutl_snprintf(buf, sizeof buf, "%I64d|%08I64x|%%I64|%I64u",
                            -(1LL << 40), 0xabcULL, 7ULL),
            30);
  EXPECT_STREQ(buf, "-1099511627776|00000abc|%I64|7");
  char small[5];
  EXPECT_EQ(strutl_snprintf(small, sizeof small, "%s", "abcdefgh"), 8);
  EXPECT_STREQ(small, "abcd");
  EXPECT_EQ(strutl_snprintf(nullptr, 0, "%d", 12345), 5);
  // A long format with an I64 directive goes through a heap copy.
  std::string format(2000, 'a');
  format += "%I64d";
  std::string out(2100, '\0');
  EXPECT_EQ(strutl_snprintf(out.data(), out.size(), format.c_str(), 5LL), 2001);
  EXPECT_EQ(out.c_str(), std::string(2000, 'a') + "5");
}

TEST(StrutlCpyBuf, CopiesOrCuts) {
  char buf[4] = "xyz";
  EXPECT_EQ(strutl_cpy_buf(buf, "ab", sizeof buf), 0);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(strutl_cpy_buf(buf, "abc", sizeof buf), 0);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(strutl_cpy_buf(buf, "abcd", sizeof buf), 1);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(strutl_cpy_buf(buf, "q", 0), 1);
  EXPECT_STREQ(buf, "abc");
}

}  // namespace
