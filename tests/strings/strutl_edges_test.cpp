// String routines exactly at their bounds: a wide copy of size units, a
// bracketed argument at its longest, the last code point of UTF-16.
#include <gtest/gtest.h>

#include <orvexks/strfmt.h>
#include <orvexks/strutl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

TEST(StrutlEdges, WideCopyIsCutWhenTheTextFillsTheWholeSize) {
  const strutl_wchar_t src[] = {'a', 'b', 'c', 'd', 0};
  for (size_t size : {size_t{5}, size_t{4}, size_t{3}}) {
    strutl_wchar_t dst[8];
    for (strutl_wchar_t &u : dst) u = 0x7777;
    int cut = strutl_wide_cpy_buf(dst, src, size);
    EXPECT_EQ(cut, size <= 4 ? 1 : 0) << "size " << size;
    size_t kept = size <= 4 ? size - 1 : 4;
    for (size_t i = 0; i < kept; ++i) EXPECT_EQ(dst[i], src[i]) << i;
    EXPECT_EQ(dst[kept], 0) << "size " << size;
    EXPECT_EQ(dst[size], 0x7777) << "nothing written past size " << size;
  }
}

int echo_argument(void *, char *dst, size_t room, int, int, const char *arg,
                  const char *, const char *, const char *) {
  std::snprintf(dst, room, "%zu", arg != nullptr ? std::string(arg).size() : 0);
  return 0;
}

TEST(StrutlEdges, BracketedArgumentOfAtMost1023Bytes) {
  for (size_t n : {size_t{1023}, size_t{1024}}) {
    std::string format = "%[" + std::string(n, 'x') + "]s";
    char out[64] = "";
    testing::internal::CaptureStderr();
    int rc = strfmt_gsprintf(out, sizeof out, "s", format.c_str(), nullptr,
                             echo_argument);
    std::string err = testing::internal::GetCapturedStderr();
    if (n == 1023) {
      EXPECT_EQ(rc, 0) << err;
      EXPECT_STREQ(out, "1023");
    } else {
      EXPECT_EQ(rc, 1) << "an argument of 1024 bytes must be refused";
      EXPECT_FALSE(err.empty());
    }
  }
}

TEST(StrutlEdges, LastCodePointBecomesTheLastSurrogatePair) {
  strutl_wchar_t out[4] = {0, 0, 0, 0x7777};
  size_t used = 0;
  EXPECT_EQ(strutl_utf8to16(out, "\xF4\x8F\xBF\xBF", 4, 3, &used), 0);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(out[0], 0xDBFF);
  EXPECT_EQ(out[1], 0xDFFF);
  char back[8] = "";
  EXPECT_EQ(strutl_utf16to8(back, out, 2, sizeof back), 0);
  EXPECT_STREQ(back, "\xF4\x8F\xBF\xBF");
}

}  // namespace
