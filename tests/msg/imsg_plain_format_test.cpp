// Table messages whose directives are all plain (s, c, d, i, u, x, X, %%,
// with at most an 'l') take a formatter of their own; every other text goes
// to the general one. Both must give exactly what snprintf gives, cut or
// not, and texts with the insert marker must keep their insert meaning.
#include <orvexks/imsg.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "msg_fixture.h"

namespace {

using msg_test::collect;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-truncation"

// imsg_snprintf of `fmt` as message 0 of a table against snprintf, for
// buffers from one byte to roomy; the bytes are compared up to the
// terminator snprintf placed (a %c of 0 writes a NUL inside the text).
template <typename... Args>
void expect_like_snprintf(const char *fmt, Args... args) {
  const char *const texts[] = {fmt};
  const int16_t ids[] = {1};
  const ks_msg_table_t table = {"ks_lib", "fmt", 6, 1, texts, ids};
  for (size_t size :
       {size_t{1}, size_t{2}, size_t{7}, size_t{20}, size_t{300}}) {
    std::vector<char> ours(size + 8, '#'), theirs(size + 8, '#');
    int got = imsg_snprintf(ours.data(), size, &table, 0, args...);
    int want = std::snprintf(theirs.data(), size, fmt, args...);
    EXPECT_EQ(got, want) << "\"" << fmt << "\" in " << size;
    EXPECT_EQ(std::string(ours.data(), size + 8),
              std::string(theirs.data(), size + 8))
        << "\"" << fmt << "\" in " << size;
  }
}

TEST(ImsgPlainFormat, PlainDirectivesMatchSnprintf) {
  expect_like_snprintf("no directives at all\n");
  expect_like_snprintf("");
  expect_like_snprintf("Unable to open file \"%s\": error %d\n",
                       "/var/tmp/f.txt", 13);
  expect_like_snprintf("[%s][%s]", "", static_cast<const char *>(nullptr));
  expect_like_snprintf("%d %i %d %d", INT_MIN, -1, 0, INT_MAX);
  expect_like_snprintf("%u %x %X %u", UINT_MAX, 0xabcdefu, 0xABCDEFu, 0u);
  expect_like_snprintf("%ld %li %lu %lx %lX", LONG_MIN, LONG_MAX, ULONG_MAX,
                       0x1234abcdUL, 0xfedcba98UL);
  expect_like_snprintf("100%% %c%c|%c", 'o', 'k', 0);
  expect_like_snprintf("ends with %%");
}

TEST(ImsgPlainFormat, OtherDirectivesTakeTheGeneralFormatter) {
  expect_like_snprintf("%5d|%-4s|%05u", 42, "ab", 7u);
  expect_like_snprintf("%.2f %e", 3.14159, 1e10);
  expect_like_snprintf("%lld %llu %hd", -5LL, 6ULL, 7);
  expect_like_snprintf("%+d % d %#x", 3, 4, 255u);
  expect_like_snprintf("%.3s|%*d", "abcdef", 4, 9);
  // A plain directive before an unusual one: the general formatter starts
  // over with the arguments untouched.
  expect_like_snprintf("%s then %3d then %s", "first", 2, "third");
}

#pragma GCC diagnostic pop

TEST(ImsgPlainFormat, InsertMarkerKeepsItsMeaning) {
  // "%%1!" holds the insert marker "%1!", so the text is an insert text:
  // "%%" becomes "%" and "%s" is no directive there.
  const char *const texts[] = {"100%%1! done %s", "50%% of %1!s!"};
  const int16_t ids[] = {1, 2};
  const ks_msg_table_t table = {"ks_lib", "fmt", 6, 2, texts, ids};
  char buf[64];
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, &table, 0, "arg"), 14);
  EXPECT_STREQ(buf, "100%1! done %s");
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, &table, 1, "arg"), 10);
  EXPECT_STREQ(buf, "50% of arg");
}

TEST(ImsgPlainFormat, PrefixesTakeNamesLiterallyAndGrowPastTheBuffer) {
  std::vector<std::string> got;
  imsg_redirect_output(collect, &got, collect, &got);
  const char *const texts[] = {"Disk %s is full\n"};
  const int16_t ids[] = {1};
  const ks_msg_table_t table = {"ks_lib", "fmt", 6, 1, texts, ids};
  imsg_set_app_name("odd%s%%name");
  imsg_print(IMSG_WARNING, &table, 0, "C:");
  // A name longer than the first output buffer: the prefix alone does not
  // fit, the buffer grows and the prefix is expanded again.
  std::string huge(40000, 'n');
  imsg_set_app_name(huge.c_str());
  imsg_print(IMSG_ERROR, &table, 0, "D:");
  imsg_set_app_name(nullptr);
  imsg_redirect_output(imsg_console_writer, nullptr, imsg_console_writer,
                       nullptr);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], "odd%s%%name: Warning: Disk C: is full\n");
  EXPECT_EQ(got[1], huge + ": Error: Disk D: is full\n");
}

}  // namespace
