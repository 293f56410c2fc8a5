// String utilities: numbers, hashing, environment references, flag texts,
// whole-file reads and writes, and formatting with caller conversions.
#include <gtest/gtest.h>

#include <orvexks/stg.h>
#include <orvexks/strfmt.h>
#include <orvexks/strutl.h>
#include <orvexnt/nt_env.h>

#include "strings/strutl_msgs.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "scratch_dir.h"

namespace {

TEST(StrutlNumbers, WholeTextConversions) {
  long l = -1;
  EXPECT_EQ(strutl_strtol(" -42", 10, &l), 0);
  EXPECT_EQ(l, -42);
  EXPECT_EQ(strutl_strtol("12ab", 10, &l), 1);  // trailing text: value kept
  EXPECT_EQ(l, 12);
  EXPECT_EQ(strutl_strtol("", 10, &l), 1);
  EXPECT_EQ(strutl_strtol("99999999999999999999", 10, &l), 1);
  EXPECT_EQ(l, 0);
  unsigned long ul = 0;
  EXPECT_EQ(strutl_strtoul("ff", 16, &ul), 0);
  EXPECT_EQ(ul, 255u);
  double d = 0;
  EXPECT_EQ(strutl_strtod("2.5", &d), 0);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(strutl_strtod("1e999", &d), 1);
  EXPECT_EQ(d, 0);

  char *end = nullptr;
  EXPECT_EQ(strutl_strtol_extended("17 rest", 10, &l, &end), 0);
  EXPECT_EQ(l, 17);
  EXPECT_STREQ(end, " rest");
  EXPECT_EQ(strutl_strtod_extended("x", &d, &end), 1);

  EXPECT_EQ(strutl_process_long_param("50", 7, 0, 10), 10);
  EXPECT_EQ(strutl_process_long_param("-5", 7, 0, 10), 0);
  EXPECT_EQ(strutl_process_long_param("5x", 7, 0, 10), 7);
  EXPECT_EQ(strutl_process_long_param(nullptr, 7, 0, 10), 7);
}

TEST(StrutlNumbers, SizesWithSuffixes) {
  uint32_t v = 99;
  EXPECT_EQ(strutl_kstr_to_long("1.5m", &v), 0);
  EXPECT_EQ(v, 1536u);
  EXPECT_EQ(strutl_kstr_to_long("100", &v), 0);
  EXPECT_EQ(v, 1u);  // 0.09 KiB rounds up to 1
  EXPECT_EQ(strutl_kstr_to_long("0", &v), 0);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(strutl_kstr_to_long("2G", &v), 0);
  EXPECT_EQ(v, 2097152u);
  EXPECT_EQ(strutl_kstr_to_long("2kb", &v), 1);
  EXPECT_EQ(strutl_kstr_to_long("2x", &v), 1);
  EXPECT_EQ(strutl_kstr_to_long("-1k", &v), 1);
  EXPECT_EQ(strutl_kstr_to_long("k", &v), 1);

  EXPECT_EQ(strutl_kstr_or_str_to_long("3g", &v), 0);
  EXPECT_EQ(v, 3221225472u);
  EXPECT_EQ(strutl_kstr_or_str_to_long("4g", &v), 1);  // beyond 32 bits
  EXPECT_EQ(strutl_kstr_or_str_to_long("0.5", &v), 0);
  EXPECT_EQ(v, 1u);
}

TEST(StrutlNumbers, Uint64ToDoubleAboveTwoToThe63) {
  EXPECT_EQ(uint64_to_double(12345), 12345.0);
  EXPECT_EQ(uint64_to_double(uint64_t{1} << 63), 9223372036854775808.0);
  EXPECT_EQ(uint64_to_double(UINT64_MAX), 18446744073709551616.0);
}

TEST(StrutlNumbers, U32ToStrBasesAndWidths) {
  EXPECT_STREQ(strutl_u32tostr(255, 16, -1), "ff");
  EXPECT_STREQ(strutl_u32tostr(255, 16, 4), "00ff");
  EXPECT_STREQ(strutl_u32tostr(0, 10, -1), "0");
  EXPECT_STREQ(strutl_u32tostr(0xABC, 16, 2), "bc");
  EXPECT_STREQ(strutl_u32tostr(35, 36, -1), "z");
  EXPECT_STREQ(strutl_u32tostr(UINT32_MAX, 2, -1),
               std::string(32, '1').c_str());
  EXPECT_STREQ(strutl_u32tostr(1, 2, 40), (std::string(31, '0') + "1").c_str());
  EXPECT_EQ(strutl_u32tostr(1, 1, -1), nullptr);
  EXPECT_EQ(strutl_u32tostr(1, 37, -1), nullptr);

  // Each thread has its own buffer.
  const char *mine = strutl_u32tostr(7, 10, -1);
  std::thread([] { EXPECT_STREQ(strutl_u32tostr(9, 10, 3), "009"); }).join();
  EXPECT_STREQ(mine, "7");
}

TEST(StrutlHash, RotatesAndAdds) {
  EXPECT_EQ(strutl_str_to_hash32(0, "A"), 65u);
  EXPECT_EQ(strutl_str_to_hash32(0, "ab"), (97u << 5) + 98u);
  EXPECT_EQ(strutl_str_to_hash32(0x80000001u, "a"), 0x30u + 97u);
  EXPECT_EQ(strutl_str_to_hash32(0, "\xff"), 255u);  // bytes are unsigned
  EXPECT_EQ(strutl_str_to_hash32(5, ""), 5u);
}

class StrutlEnv : public testing::Test {
 protected:
  void SetUp() override {
    nt_putenv_safe("SE_HOME=/h");
    nt_putenv_safe("SE_A=$SE_B");
    nt_putenv_safe("SE_B=end");
    nt_putenv_safe("SE_LOOP=$SE_LOOP");
    nt_putenv_safe("SE_UNSET=");
  }

  static std::string expand(const char *text, int *expanded = nullptr) {
    char *out = strutl_expand_evs_status(text, expanded);
    EXPECT_NE(out, nullptr);
    std::string s = out != nullptr ? out : "";
    stg_free(out);
    return s;
  }
};

TEST_F(StrutlEnv, ReferencesEscapesAndLiteralDollars) {
  int expanded = -1;
  EXPECT_EQ(expand("$SE_HOME/x", &expanded), "/h/x");
  EXPECT_EQ(expanded, 1);
  EXPECT_EQ(expand("\\$SE_HOME/x", &expanded), "$SE_HOME/x");
  EXPECT_EQ(expanded, 0);
  EXPECT_EQ(expand("${SE_HOME}y"), "/hy");
  EXPECT_EQ(expand("[$SE_UNSET]", &expanded), "[]");
  EXPECT_EQ(expanded, 1);
  EXPECT_EQ(expand("cost: 5$ $- ${open"), "cost: 5$ $- ${open");
  EXPECT_EQ(expand("a\\\\b\\"), "a\\b\\");
  std::string long_value(5000, 'v');
  nt_putenv_safe(("SE_LONG=" + long_value).c_str());
  EXPECT_EQ(expand("<$SE_LONG>"), "<" + long_value + ">");
}

TEST_F(StrutlEnv, IterateUntilNothingExpands) {
  char *out = strutl_expand_evs_iterate("[$SE_A]", 0);
  ASSERT_NE(out, nullptr);
  EXPECT_STREQ(out, "[end]");
  stg_free(out);

  // Two expanding passes are needed: a limit of 1 is not enough.
  errno = 0;
  EXPECT_EQ(strutl_expand_evs_iterate("$SE_A", 1), nullptr);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(strutl_expand_evs_iterate("$SE_LOOP", 0), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

const strutl_flag_name_t kFlags[] = {
    {"read", 0x1}, {"write", 0x2}, {"rw", 0x3}, {"exec", 0x4}, {"big", 0x30}};

TEST(StrutlFlags, ToStrSharesBitsInTableOrder) {
  EXPECT_STREQ(strutl_flags_to_str(0x7, nullptr, kFlags, 5), "read write exec");
  EXPECT_STREQ(strutl_flags_to_str(0x5, "|", kFlags, 5), "read|exec");
  // "big" shares a bit with 0x10 and takes both of its bits away.
  EXPECT_STREQ(strutl_flags_to_str(0x110, ",", kFlags, 5),
               "big UNKNOWN(0x100)");
  EXPECT_STREQ(strutl_flags_to_str(0x100, "", kFlags, 5), " UNKNOWN(0x100)");
  EXPECT_STREQ(strutl_flags_to_str(0, nullptr, kFlags, 5), "");
}

TEST(StrutlFlags, ToStrListTakesOnlyWholeMasks) {
  char **v = nullptr;
  int n = -1;
  ASSERT_EQ(strutl_flags_to_str_list(0x1B, kFlags, 5, &v, &n), 0);
  ASSERT_EQ(n, 3);
  EXPECT_STREQ(v[0], "read");
  EXPECT_STREQ(v[1], "write");
  EXPECT_STREQ(v[2], " UNKNOWN(0x18)");  // "big" needs 0x30, only 0x10 is set
  for (int i = 0; i < n; ++i) stg_free(v[i]);
  stg_free(v);
  ASSERT_EQ(strutl_flags_to_str_list(0, kFlags, 5, &v, &n), 0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(v, nullptr);
}

TEST(StrutlFlags, FromStrMatchesPiecesAndPointsAtTheBadOne) {
  const char *bad = "x";
  EXPECT_EQ(strutl_flags_from_str("read exec", 1, nullptr, kFlags, 5, &bad),
            0x5u);
  EXPECT_EQ(bad, nullptr);
  EXPECT_EQ(strutl_flags_from_str("READ, Big", 0, ", ", kFlags, 5, &bad),
            0x31u);
  EXPECT_EQ(bad, nullptr);
  const char *text = "read,WRITE,exec";
  EXPECT_EQ(strutl_flags_from_str(text, 1, ",", kFlags, 5, &bad), 0u);
  EXPECT_EQ(bad, text + 5);
  EXPECT_EQ(strutl_flags_from_str("", 1, nullptr, kFlags, 5, &bad), 0u);
  EXPECT_EQ(bad, nullptr);

  // Only the first 1,023 bytes count: the cut leaves "rea", no name.
  std::string longer;
  for (int i = 0; i < 204; ++i) longer += "read ";
  longer += "read";
  EXPECT_EQ(strutl_flags_from_str(longer.c_str(), 1, nullptr, kFlags, 5, &bad),
            0u);
  EXPECT_EQ(bad, longer.c_str() + 1020);
  longer.resize(1019);
  EXPECT_EQ(strutl_flags_from_str(longer.c_str(), 1, nullptr, kFlags, 5, &bad),
            0x1u);
}

TEST(StrutlMultibyte, WholeCharactersInUtf8) {
  const char *old = setlocale(LC_ALL, nullptr);
  std::string saved = old != nullptr ? old : "C";
  if (setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8";
  nt_putenv_safe("SE_MB=\xc3\xa9");
  char *out = strutl_expand_evs("\\\xc3\xa9${SE_MB}");
  EXPECT_STREQ(out, "\xc3\xa9\xc3\xa9");
  stg_free(out);
  const char *bad = nullptr;
  EXPECT_EQ(strutl_flags_from_str("read\xc2\xb7"
                                  "exec",
                                  1, "\xc2\xb7", kFlags, 5, &bad),
            0x5u);
  EXPECT_EQ(bad, nullptr);
  setlocale(LC_ALL, saved.c_str());
}

using StrutlFiles = ScratchTest;

TEST_F(StrutlFiles, WriteThenReadIntoHeapAndArea) {
  std::string big(20000, 'x');
  big += "\nend\n";
  std::string p = path("f.txt");
  ASSERT_EQ(strutl_write(big.c_str(), p.c_str(), 0, 0), 0);
  char *heap = strutl_read(STG_AREA_HEAP, p.c_str(), 0, 0, 0);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(heap, big);
  stg_free(heap);

  stg_area_t area = stg_create_area(1024);
  char *in_area = strutl_read(area, p.c_str(), 1, 0, 0);
  ASSERT_NE(in_area, nullptr);
  EXPECT_EQ(in_area, big);

  // The stream reader grows its buffer past 8,192 bytes, or stops at a
  // given size and says so.
  FILE *f = std::fopen(p.c_str(), "r");
  int changed = -1;
  char *grown = strutl_read_fp(area, 0, f, 0, &changed);
  EXPECT_EQ(grown, big);
  EXPECT_EQ(changed, 0);
  rewind(f);
  char *cut = strutl_read_fp(STG_AREA_HEAP, 6, f, 0, &changed);
  EXPECT_STREQ(cut, "xxxxx");
  EXPECT_EQ(changed, 1);
  stg_free(cut);
  std::fclose(f);
  stg_delete_area(&area);

  EXPECT_EQ(strutl_write(nullptr, p.c_str(), 0, 0), 0);
}

TEST_F(StrutlFiles, MissingFilesAndFailures) {
  std::string missing = path("none");
  char *empty = strutl_read(STG_AREA_HEAP, missing.c_str(), 0, 1, 1);
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  stg_free(empty);

  testing::internal::CaptureStderr();
  EXPECT_EQ(strutl_read(STG_AREA_HEAP, missing.c_str(), 0, 0, 0), nullptr);
  EXPECT_EQ(strutl_read(STG_AREA_HEAP, missing.c_str(), 0, 1, 0), nullptr);
  EXPECT_EQ(strutl_write("t", (missing + "/sub").c_str(), 0, 0), 1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Unable to open " + missing + ": "), std::string::npos);
  EXPECT_NE(err.find("Unable to open " + missing + "/sub: "),
            std::string::npos);
  EXPECT_EQ(err.find("Unable to open " + missing + ": ",
                     err.find("Unable to open " + missing + ": ") + 1),
            std::string::npos);  // the quiet read printed nothing

  if (access("/dev/full", W_OK) == 0) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(strutl_write("t", "/dev/full", 0, 0), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Operation write, /dev/full: "),
              std::string::npos);
  }
}

TEST_F(StrutlFiles, FileLongerThanItsSizeIsRefused) {
  // Files of /proc report size 0 but have contents.
  testing::internal::CaptureStderr();
  errno = 0;
  EXPECT_EQ(strutl_read(STG_AREA_HEAP, "/proc/self/status", 0, 0, 0), nullptr);
  EXPECT_EQ(errno, EFBIG);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "File \"/proc/self/status\" changed size during read."),
            std::string::npos);
}

// Converts 's' to the bracketed argument (or data's text) padded on the
// left to width; 'x' fails.
int convert(void *data, char *dst, size_t room, int width, int precision,
            const char *arg, const char *arg2, const char *modifiers,
            const char *conversion) {
  if (conversion[0] == 'x') return 1;
  const char *text = arg != nullptr ? arg : static_cast<const char *>(data);
  std::string s = text;
  if (arg2 != nullptr) s += std::string("+") + arg2;
  if (*modifiers != '\0') s += std::string("/") + modifiers;
  if (precision != INT_MAX) s += "." + std::to_string(precision);
  if (width != INT_MAX && width > static_cast<int>(s.size()))
    s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
  std::snprintf(dst, room, "%s", s.c_str());
  return 0;
}

std::string gs(const char *format, int *rc = nullptr, size_t size = 256) {
  std::string buf(size, '#');
  int r = strfmt_gsprintf(buf.data(), size, "sxt", format,
                          const_cast<char *>("D"), convert);
  if (rc != nullptr) *rc = r;
  return buf.c_str();
}

TEST(Strfmt, DirectivesEscapesAndArguments) {
  EXPECT_EQ(gs("100%% %s!"), "100% D!");
  EXPECT_EQ(gs("<%4s><%[ab:cd]s><%-3.2 q s>"), "<   D><ab+cd><D/q.2>");
  EXPECT_EQ(gs("a\\tb\\n\\101\\q\\"), "a\tb\nAq\\");
  EXPECT_EQ(strfmt_gsprintf(nullptr, 8, "s", "x", nullptr, convert), 0);
  char one[1] = {'#'};
  EXPECT_EQ(strfmt_gsprintf(one, 0, "s", "x", nullptr, convert), 0);
  EXPECT_EQ(one[0], '#');
}

TEST(Strfmt, ColumnMoves) {
  EXPECT_EQ(gs("ab%[6]t|"), "ab   |");
  EXPECT_EQ(gs("abcdef%[3]t|"), "abcdef|");  // already past: nothing
  EXPECT_EQ(gs("abcdef%[3]St|"), "abcdef |");
  EXPECT_EQ(gs("abcdef%[3]Tt|"), "abcdef\t|");
  EXPECT_EQ(gs("x\nabcdef%[3]Nt|"), "x\nabcdef\n  |");
  EXPECT_EQ(gs("ab%[3]St|"), "ab |");    // at the column + S
  EXPECT_EQ(gs("\t%[12]t|"), "\t   |");  // the tab is 8 wide
}

TEST(Strfmt, ErrorsPrintAndGiveOne) {
  int rc = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(gs("ok %q", &rc), "ok ");
  EXPECT_EQ(rc, 1);
  gs("a %x b", &rc);
  EXPECT_EQ(rc, 1);
  gs("%[x]t", &rc);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(gs("abcdefgh", &rc, 5), "abcd");
  EXPECT_EQ(rc, 1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Bad format in control string at or near \"%q\"."),
            std::string::npos);
  EXPECT_NE(err.find("at or near \"%x b\"."), std::string::npos);
  EXPECT_NE(err.find("Supplied buffer too small."), std::string::npos);
}

TEST(Strfmt, FormatFromMessageTable) {
  char buf[128];
  ASSERT_EQ(strfmt_gsprintf_fmt(buf, sizeof buf, "s", &ksi_strutl_msgs, 0,
                                const_cast<char *>("Z"), convert),
            0);
  EXPECT_STREQ(buf, "Bad format in control string at or near \"Z\".\n");
  ASSERT_EQ(strfmt_gsprintf_fmt(buf, sizeof buf, "s", "raw %s", -1,
                                const_cast<char *>("R"), convert),
            0);
  EXPECT_STREQ(buf, "raw R");
}

}  // namespace
