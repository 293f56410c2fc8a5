// Message formatting: raw text, bad table or index, numbered inserts, the
// tagged form, the capture log, kind prefixes, the growing formatter,
// error texts and the catalog cache of the text lookup.
#include <gtest/gtest.h>
#include <orvexks/imsg.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "msg/catalog.h"
#include "msg/imsg_msgs.h"
#include "msg/msg_lookup.h"
#include "msg_fixture.h"

namespace {

using namespace msg_test;

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const char *const kTexts[] = {"plain %d\n", "second %s\n"};
const int16_t kIds[] = {4, 9};
const ks_msg_table_t kTable = {"ks_lib", "test/fmt", 11, 2, kTexts, kIds};

TEST(ImsgFormat, RawTextAndTableTexts) {
  char buf[64];
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, "%s=%I64d", -1, "x", 1LL << 33), 12);
  EXPECT_STREQ(buf, "x=8589934592");
  EXPECT_EQ(imsg_sprintf(buf, &kTable, 1, "row"), 11);
  EXPECT_STREQ(buf, "second row\n");
  // Cut to the buffer; the result still tells the whole length.
  EXPECT_EQ(imsg_snprintf(buf, 5, &kTable, 0, 1234), 11);
  EXPECT_STREQ(buf, "plai");
}

TEST(ImsgFormat, BadTableOrIndexReportsAndLeavesTheBuffer) {
  char buf[16] = "untouched";
  CaptureStderr();
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, &kTable, 2), -1);
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, nullptr, 0), -1);
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, nullptr, -1), -1);
  std::string err = GetCapturedStderr();
  EXPECT_STREQ(buf, "untouched");
  std::ostringstream expected;
  expected << "noname: Error: IMSG Internal error (vsprintf) - tbl "
           << reinterpret_cast<intptr_t>(&kTable) << ", num 2.\n"
           << "noname: Error: IMSG Internal error (vsprintf) - tbl 0, num 0.\n"
           << "noname: Error: IMSG Internal error (vsprintf/NOMSG) - NULL "
              "Message.\n";
  EXPECT_EQ(err, expected.str());
}

TEST(ImsgFormat, NumberedInserts) {
  char buf[128];
  EXPECT_EQ(
      imsg_snprintf(buf, sizeof buf, "%2!s! before %1!d!, 100%%", -1, 7, "two"),
      18);
  EXPECT_STREQ(buf, "two before 7, 100%");
  // A 64-bit insert takes two positions: the texts number the following
  // inserts as written for that, and the arguments still come in order.
  EXPECT_GT(imsg_snprintf(buf, sizeof buf, "%1!I64u! %2!s! %3!05d! %4", -1,
                          0xFFFFFFFFFFULL, "s", 42, "end"),
            0);
  EXPECT_STREQ(buf, "1099511627775 s 00042 end");
  EXPECT_EQ(imsg_snprintf(buf, 8, "%1!s!", -1, "abcdefghij"), 10);
  EXPECT_STREQ(buf, "abcdefg");
  // Positions run up to 99; the arguments in between are read as ints.
#define TEN 1, 2, 3, 4, 5, 6, 7, 8, 9, 10
  EXPECT_EQ(
      imsg_snprintf(buf, sizeof buf, "%1!d! %99!d!", -1, TEN, TEN, TEN, TEN,
                    TEN, TEN, TEN, TEN, TEN, 1, 2, 3, 4, 5, 6, 7, 8, 99),
      4);
  EXPECT_STREQ(buf, "1 99");
#undef TEN

  CaptureStderr();
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf,
                          "%1!I64d!%2!I64d!%3!I64d!%4!I64d!%5!I64d!%6!d!", -1,
                          1LL, 2LL, 3LL, 4LL, 5LL, 6),
            0);
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, "%1!d", -1, 1), 0);
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, "%1!d! %100!d!", -1, 1), 0);
  const std::string fm =
      "noname: Error: IMSG Internal Error(FM): " + std::to_string(EINVAL) +
      "\n";
  EXPECT_EQ(GetCapturedStderr(),
            "noname: Error: Internal Error, too many directives.\n" + fm + fm);
}

TEST(ImsgFormat, ConversionsOfThirtyCharactersAtMost) {
  char buf[64];
  const std::string fits = "%1!" + std::string(29, '0') + "d!";
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, fits.c_str(), -1, 7), 1);
  EXPECT_STREQ(buf, "7");
  const std::string too_long = "%1!" + std::string(30, '0') + "d!";
  CaptureStderr();
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, too_long.c_str(), -1, 7), 0);
  EXPECT_NE(GetCapturedStderr().find("IMSG Internal Error(FM)"),
            std::string::npos);
}

// After a 64-bit insert every later insert moves up one slot: the ninth
// insert would land on slot 10, which is refused; eight still fit.
TEST(ImsgFormat, RenumberedInsertsStopAtSlotTen) {
  char buf[128];
  CaptureStderr();
  EXPECT_EQ(
      imsg_snprintf(buf, sizeof buf,
                    "%1!I64d! %2!d! %3!d! %4!d! %5!d! %6!d! %7!d! %8!d! %9!d!",
                    -1, 1LL, 2, 3, 4, 5, 6, 7, 8, 9),
      0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(GetCapturedStderr(),
            "noname: Error: Internal Error, too many directives.\n");
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf,
                          "%1!I64d! %2!d! %3!d! %4!d! %5!d! %6!d! %7!d! %8!d!",
                          -1, 1LL, 2, 3, 4, 5, 6, 7, 8),
            15);
  EXPECT_STREQ(buf, "1 2 3 4 5 6 7 8");
}

TEST(ImsgFormat, TaggedForm) {
  char buf[256];
  imsg_ate_enable_tagging();
  ASSERT_EQ(imsg_ate_tagging_is_enabled(), 1);
  const char *raw =
      "\nTAG_ID:no subsys!!-1!!-1:END_ID\n"
      "TAG_RAW:a\\t%s|%*d|%%|%c:END_RAW\n"
      "TAG_VALUES:<<<NULL STRING>>>!!   42!!z:END_VALUES\n";
  int n = imsg_snprintf(buf, sizeof buf, "a\t%s|%*d|%%|%c", -1, nullptr, 5, 42,
                        'z');
  EXPECT_STREQ(buf, raw);
  EXPECT_EQ(n, static_cast<int>(std::strlen(raw)));

  n = imsg_snprintf(buf, sizeof buf, &kTable, 1, "line\none");
  EXPECT_STREQ(buf,
               "\nTAG_ID:test/fmt!!1!!9:END_ID\nTAG_RAW:second %s\\n:END_RAW\n"
               "TAG_VALUES:line\\none:END_VALUES\n");
  // Cut to the buffer, the result still the whole length; size 0 is empty.
  EXPECT_EQ(imsg_snprintf(buf, 10, &kTable, 1, "x"),
            n - 8);  // "x" is 8 bytes shorter
  EXPECT_STREQ(buf, "\nTAG_ID:t");
  EXPECT_EQ(imsg_snprintf(buf, 0, &kTable, 1, "x"), 0);

  // Mode 1 and the plain formatter are never tagged.
  EXPECT_EQ(imsg_snprintf_taggable(1, buf, sizeof buf, &kTable, 0, 3), 8);
  EXPECT_EQ(imsg_snprintf_taggable(17, buf, sizeof buf, &kTable, 0, 3), 8);
  EXPECT_EQ(imsg_sprintf(buf, &kTable, 0, 3), 8);
  imsg_ate_disable_tagging();
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, &kTable, 0, 3), 8);
  // Mode 3 tags this call only.
  imsg_snprintf_taggable(3, buf, sizeof buf, "%d", -1, 3);
  EXPECT_STREQ(buf,
               "\nTAG_ID:no subsys!!-1!!-1:END_ID\nTAG_RAW:%d:END_RAW\n"
               "TAG_VALUES:3:END_VALUES\n");
  EXPECT_EQ(imsg_ate_tagging_is_enabled(), 0);
  EXPECT_EQ(imsg_snprintf(buf, sizeof buf, &kTable, 0, 3), 8);
}

// The capture log and the status switch are read once per process, so
// these run in a child process that sets the environment first.
TEST(ImsgFreshProcess, CaptureLogRecordsCapturingCalls) {
  const std::string base = temp_path("cap");
  child_run run = in_child({{"QUILLMERE_IMSG_CAPTURE_LOG", base}}, [&] {
    char buf[64];
    imsg_snprintf(buf, sizeof buf, &kTable, 0, 1);    // captured
    imsg_sprintf(buf, &kTable, 1, "x");               // not a capturing call
    imsg_snprintf(buf, sizeof buf, "raw %d", -1, 1);  // raw: not captured
    char *text = nullptr;
    imsg_dynamic_len_snprintf(&text, 64, 100, &kTable, 1, "y");  // captured
    std::free(text);
    const std::string log = base + "." + std::to_string(getpid());
    std::string captured = slurp(log);
    unlink(log.c_str());
    return captured;
  });
  EXPECT_EQ(run.report,
            "## library : subsys : msg ID : msg text\n"
            "ks_lib : test/fmt : 4 : plain %d\n\n"
            "ks_lib : test/fmt : 9 : second %s\n\n");
}

TEST(ImsgFreshProcess, StrerrorWithTheStatusSwitch) {
  child_run run = in_child({{"QUILLMERE_PRINT_WIN32_STATUS", "1"}}, [] {
    errno = ECONNREFUSED;
    std::string texts = imsg_strerror(10061);
    errno = 0;
    texts += std::string("|") + imsg_strerror(123456);
    errno = 2;
    return texts + "|" + imsg_strerror(ENOENT);
  });
  EXPECT_EQ(run.report,
            "[0x0000274d, 0x0000006f] [WINSOCK] Connection refused|"
            "[0x00000000, 0x00000000] 123456|"
            "[0x00000002, 0x00000002] No such file or directory");
}

TEST(ImsgStrerror, TextsByNumber) {
  EXPECT_STREQ(imsg_strerror(10061), "[WINSOCK] Connection refused");
  EXPECT_STREQ(imsg_strerror(11004),
               "[WINSOCK] Valid name, no data record of requested type");
  EXPECT_STREQ(imsg_strerror(995), "[WINSOCK] Overlapped operation aborted");
  EXPECT_STREQ(imsg_strerror(123456), "123456");
  EXPECT_STREQ(imsg_strerror(-3), "-3");
  EXPECT_STREQ(imsg_strerror(ENOENT), strerror(ENOENT));
  // The text is the thread's own: another thread's call leaves it alone.
  const char *mine = imsg_strerror(10054);
  std::string other;
  std::thread([&] { other = imsg_strerror(10060); }).join();
  EXPECT_STREQ(mine, "[WINSOCK] Connection reset by peer");
  EXPECT_EQ(other, "[WINSOCK] Connection timed out");
}

TEST(ImsgFormat, ThreadsFormatConcurrently) {
  // Each thread's lookups, error texts and results stay its own.
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      char buf[64];
      for (int i = 0; i < 2000; ++i) {
        imsg_snprintf(buf, sizeof buf, &kTable, 0, t * 10000 + i);
        if (std::string(buf) != "plain " + std::to_string(t * 10000 + i) + "\n")
          ++wrong;
        if (std::strcmp(imsg_strerror(10050 + t),
                        ksi_msg_lookup(&ksi_imsg_msgs, 41 + t)) != 0)
          ++wrong;
      }
    });
  }
  for (std::thread &th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(ImsgDynamicLen, GrowsUntilTheTextFits) {
  std::string long_text(300, 'q');
  char *text = nullptr;
  EXPECT_EQ(
      imsg_dynamic_len_snprintf(&text, 4, 1000, "<%s>", -1, long_text.c_str()),
      302);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), "<" + long_text + ">");
  std::free(text);

  // A start size of 5 has no room for "hello" and its NUL: one more try.
  EXPECT_EQ(imsg_dynamic_len_snprintf(&text, 5, 100, "hello", -1), 5);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "hello");
  std::free(text);
  EXPECT_EQ(imsg_dynamic_len_snprintf(&text, 5, 5, "hello", -1), -1);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(imsg_dynamic_len_snprintf(&text, 6, 6, "hello", -1), 5);
  EXPECT_STREQ(text, "hello");
  std::free(text);

  text = reinterpret_cast<char *>(1);
  EXPECT_EQ(
      imsg_dynamic_len_snprintf(&text, 4, 100, "%s", -1, long_text.c_str()),
      -1);
  EXPECT_EQ(text, nullptr);
  // Bad sizes fail before the search; *result is not touched then.
  text = reinterpret_cast<char *>(1);
  EXPECT_EQ(imsg_dynamic_len_snprintf(&text, 0, 100, "%s", -1, "x"), -1);
  EXPECT_EQ(imsg_dynamic_len_snprintf(&text, 50, 10, "%s", -1, "x"), -1);
  EXPECT_EQ(text, reinterpret_cast<char *>(1));
}

TEST(ImsgSnprintfType, PrefixThenMessage) {
  char buf[64];
  EXPECT_EQ(imsg_snprintf_type(buf, sizeof buf, IMSG_ERROR, &kTable, 1, "x"),
            9);
  EXPECT_STREQ(buf, "noname: Error: second x\n");
  EXPECT_EQ(imsg_snprintf_type(buf, sizeof buf, IMSG_WARNING, "w", -1), 1);
  EXPECT_STREQ(buf, "noname: Warning: w");
  EXPECT_EQ(imsg_snprintf_type(buf, sizeof buf, IMSG_OUTPUT, "o", -1), 1);
  EXPECT_STREQ(buf, "o");
  imsg_snprintf_type(buf, sizeof buf, IMSG_TRACE, "t", -1);
  EXPECT_TRUE(testing::internal::RE::FullMatch(
      buf,
      "^>>> [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9][0-9] \\(noname\\): "
      "t$"))
      << buf;

  CaptureStderr();
  EXPECT_EQ(imsg_snprintf_type(buf, 10, IMSG_ERROR, &kTable, 1, "x"), -1);
  EXPECT_EQ(imsg_snprintf_type(buf, sizeof buf, 42, "k", -1), 1);
  std::string err = GetCapturedStderr();
  EXPECT_STREQ(buf, "System message: k");
  EXPECT_TRUE(testing::internal::RE::FullMatch(
      err,
      "noname: Error: String buffer too small.\n"
      "noname: Error: Unknown message type 42 in file lib/ks/imsg at line "
      "[0-9]+\n"))
      << err;
}

// A catalog cache run with catalogs that answer every number: the handle
// is the catalog's name, the text names the handle, set and number.
int opens = 0;
int closes = 0;
std::string served;

msgcat_t *fake_open(const char *name, int mode) {
  EXPECT_EQ(mode, 0);
  ++opens;
  if (std::strcmp(name, "missing") == 0) return nullptr;
  return reinterpret_cast<msgcat_t *>(strdup(name));
}

const char *fake_get(msgcat_t *handle, int set, int id, const char *) {
  served = std::string(reinterpret_cast<char *>(handle)) + ":" +
           std::to_string(set) + ":" + std::to_string(id);
  return served.c_str();
}

void fake_close(msgcat_t *handle) {
  ++closes;
  std::free(handle);
}

const char *const kOneText[] = {"default"};
const int16_t kOneId[] = {3};

ks_msg_table_t table_of(const char *catalog) {
  return {catalog, "t", 5, 1, kOneText, kOneId};
}

TEST(ImsgLookup, FiveSlotCatalogCache) {
  imsg_ate_tagging_is_enabled();  // the kind words are looked up first
  const ksi_catalog_ops_t ops = {fake_open, fake_get, fake_close};
  ksi_catalog_set_ops_for_test(&ops);
  opens = closes = 0;

  const char *names[] = {"c0", "c1", "c2", "c3", "c4", "c5"};
  ks_msg_table_t tables[6];
  for (int i = 0; i < 6; ++i) tables[i] = table_of(names[i]);
  EXPECT_STREQ(ksi_msg_lookup(&tables[0], 0), "c0:5:3");
  EXPECT_STREQ(ksi_msg_lookup(&tables[0], 0), "c0:5:3");
  EXPECT_EQ(opens, 1);
  for (int i = 1; i < 5; ++i)
    EXPECT_STREQ(ksi_msg_lookup(&tables[i], 0),
                 (std::string(names[i]) + ":5:3").c_str());
  EXPECT_EQ(opens, 5);
  // c0 is used again, so c1 is the least recently used when c5 comes.
  usleep(2000);
  ksi_msg_lookup(&tables[0], 0);
  EXPECT_STREQ(ksi_msg_lookup(&tables[5], 0), "c5:5:3");
  EXPECT_EQ(opens, 6);
  EXPECT_EQ(closes, 1);
  ksi_msg_lookup(&tables[0], 0);
  EXPECT_EQ(opens, 6);
  // The evicted catalog is opened again and serves its texts.
  EXPECT_STREQ(ksi_msg_lookup(&tables[1], 0), "c1:5:3");
  EXPECT_EQ(opens, 7);

  // A catalog that cannot be opened gives the default, and is not retried.
  ks_msg_table_t missing = table_of("missing");
  EXPECT_STREQ(ksi_msg_lookup(&missing, 0), "default");
  EXPECT_STREQ(ksi_msg_lookup(&missing, 0), "default");
  EXPECT_EQ(opens, 8);

  ksi_catalog_set_ops_for_test(nullptr);
  EXPECT_EQ(closes, 7);  // every open catalog closed when the cache emptied
  EXPECT_STREQ(ksi_msg_lookup(&tables[0], 0), "default");
}

}  // namespace
