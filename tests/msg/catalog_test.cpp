// Message catalogs: the compiler's round trip and its rejection of bad
// sources, the catalog search, translated texts through the text lookup,
// and damaged catalog files.
#include <gtest/gtest.h>
#include <orvexks/imsg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "date/date_msgs.h"
#include "msg/catalog.h"
#include "msg/catalog_format.h"
#include "msg/imsg_msgs.h"
#include "startup/ks_msgs.h"
#include "strings/strutl_msgs.h"

namespace {

namespace fmt = ksi_catfmt;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const std::string kCatalogDir = ORVEX_TEST_CATALOG_DIR;
const std::string kGerman = kCatalogDir + "/ks_lib_DEU.cat";

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

void write_file(const std::string &path, const std::string &data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// Runs ksgencat with `args`; returns its exit status and its output.
int ksgencat(const std::string &args, std::string *output = nullptr) {
  std::string cmd = std::string(ORVEX_KSGENCAT) + " " + args + " 2>&1";
  FILE *p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[512];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int status = pclose(p);
  if (output != nullptr) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A scratch directory, and the environment the search reads, for one test:
// no settings file, NLSPATH and the language as given.
class CatalogEnv : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/catalog_test.XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("ORVEX_REGISTRY", (dir_ + "/none.ini").c_str(), 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("NLSPATH", (kCatalogDir + "/%N_%L.cat").c_str(), 1);
    ksi_catalog_set_ops_for_test(nullptr);  // empties the lookup's cache
  }
  void TearDown() override {
    ksi_catalog_set_ops_for_test(nullptr);
    unsetenv("NLSPATH");
    unsetenv("ORVEX_REGISTRY");
    unsetenv("LANG");
    std::string cmd = "rm -rf " + dir_;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string dir_;
};

using CatalogCompiler = CatalogEnv;

TEST_F(CatalogCompiler, RoundTripKeepsEveryText) {
  const std::string source =
      "# sets out of order, escapes, a continuation line, big numbers\n"
      "set 40\n"
      "  3 \"tab\\there \\\"quoted\\\" back\\\\slash\"   # comment\n"
      "1 \"first line\\n\"\n"
      "  \"second line\\n\"\n"
      "\n"
      "set 2\n"
      "2147483647 \"gr\xc3\xbc\xc3\x9f \\001\\0011B bold\\x7f\"\n"
      "5 \"\"\n";
  write_file(dir_ + "/a.msg", source);
  ASSERT_EQ(ksgencat("-o " + dir_ + "/a.cat " + dir_ + "/a.msg"), 0);

  msgcat_t *cat = msgcat_open((dir_ + "/a.cat").c_str(), 0);
  ASSERT_TRUE(ksi_catalog_is_open(cat));
  EXPECT_STREQ(msgcat_get(cat, 40, 3, "d"), "tab\there \"quoted\" back\\slash");
  EXPECT_STREQ(msgcat_get(cat, 40, 1, "d"), "first line\nsecond line\n");
  EXPECT_STREQ(msgcat_get(cat, 2, 2147483647, "d"),
               "gr\xc3\xbc\xc3\x9f \001\0011B bold\x7f");
  EXPECT_STREQ(msgcat_get(cat, 2, 5, "d"), "");
  EXPECT_STREQ(msgcat_get(cat, 2, 4, "d"), "d");
  EXPECT_STREQ(msgcat_get(cat, 3, 1, "d"), "d");
  msgcat_close(cat);

  std::string dumped;
  ASSERT_EQ(ksgencat("-d " + dir_ + "/a.cat", &dumped), 0);
  EXPECT_EQ(dumped,
            "set 2\n"
            "5 \"\"\n"
            "2147483647 \"gr\xc3\xbc\xc3\x9f \\001\\0011B bold\\177\"\n"
            "\n"
            "set 40\n"
            "1 \"first line\\n\"\n"
            "  \"second line\\n\"\n"
            "3 \"tab\\there \\\"quoted\\\" back\\\\slash\"\n");
  // The dump compiles back into the same bytes.
  write_file(dir_ + "/b.msg", dumped);
  ASSERT_EQ(ksgencat("-o " + dir_ + "/b.cat " + dir_ + "/b.msg"), 0);
  EXPECT_EQ(read_file(dir_ + "/a.cat"), read_file(dir_ + "/b.cat"));
}

TEST_F(CatalogCompiler, RejectsMalformedSourcesWithTheLine) {
  const struct {
    const char *source;
    const char *error;
  } cases[] = {
      {"1 \"no set yet\"\n", ":1: message before the first"},
      {"set 1\n\n# c\n2 \"open\n", ":4: unterminated string"},
      {"set 1\n2 \"a\"\n2 \"b\"\n", ":3: message 2 defined twice"},
      {"set 1\nset 1\n", ":2: set 1 defined twice"},
      {"set 0\n", ":1: number out of range"},
      {"set 1\n2147483648 \"x\"\n", ":2: number out of range"},
      {"set 1\n3 \"x\" junk\n", ":2: unexpected text after the closing quote"},
      {"set 1\n3 \"\\q\"\n", ":2: unknown escape \\q"},
      {"set 1\n3 \"\\000\"\n", ":2: bad character escape"},
      {"set 1\n\"dangling\"\n", ":2: continuation line without a message"},
      {"set 1\n3 x\n", ":2: text in double quotes expected"},
      {"# only a comment\n", ":1: no \"set\" line"},
      {"sets 1\n", ":1: \"set NUMBER\" expected"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.source);
    write_file(dir_ + "/bad.msg", c.source);
    std::string out;
    EXPECT_EQ(ksgencat("-o " + dir_ + "/bad.cat " + dir_ + "/bad.msg", &out),
              1);
    EXPECT_NE(out.find("bad.msg" + std::string(c.error)), std::string::npos)
        << out;
    EXPECT_NE(access((dir_ + "/bad.cat").c_str(), F_OK), 0);
  }
  std::string out;
  EXPECT_EQ(ksgencat("--help", &out), 0);
  EXPECT_NE(out.find("Usage: ksgencat"), std::string::npos);
  EXPECT_EQ(ksgencat("-d " + dir_ + "/bad.msg", &out), 1);
  EXPECT_NE(out.find("corrupt catalog"), std::string::npos);
}

using CatalogLookup = CatalogEnv;

TEST_F(CatalogLookup, TranslatesThroughTheFormatters) {
  char buf[256];
  imsg_snprintf(buf, sizeof buf, &ksi_imsg_msgs, 15);
  EXPECT_STREQ(buf, "Warnung: ");
  imsg_snprintf(buf, sizeof buf, &ksi_imsg_msgs, 16);
  EXPECT_STREQ(buf, "Fehler: ");
  imsg_snprintf(buf, sizeof buf, &ksi_ks_msgs, 2, "lesen", "kaputt");
  EXPECT_STREQ(buf, "Vorgang lesen: kaputt\n");
  imsg_snprintf(buf, sizeof buf, &ksi_date_msgs, 0);
  EXPECT_STREQ(buf, "HEUTE");
  // A number the catalog lacks, in a set it has, and a set it lacks.
  imsg_snprintf(buf, sizeof buf, &ksi_imsg_msgs, 14);
  EXPECT_STREQ(buf, "Ok: ");
  imsg_snprintf(buf, sizeof buf, &ksi_strutl_msgs, 0, "x");
  EXPECT_STREQ(buf, "Bad format in control string at or near \"x\".\n");
  // The kind prefix of a warning uses the translated kind word.
  imsg_snprintf_type(buf, sizeof buf, 4, &ksi_ks_msgs, 15);
  EXPECT_NE(std::strstr(buf, "Warnung: Speicher kann nicht belegt werden.\n"),
            nullptr)
      << buf;
  CaptureStderr();
  imsg_print(6, &ksi_ks_msgs, 2, "lesen", "kaputt");
  std::string printed = GetCapturedStderr();
  EXPECT_NE(printed.find("Fehler: Vorgang lesen: kaputt\n"), std::string::npos)
      << printed;
}

TEST_F(CatalogLookup, EnglishOrNoCatalogGivesTheDefaults) {
  setenv("LANG", "en_US.UTF-8", 1);  // looks for ks_lib_ENU.cat: none
  char buf[64];
  imsg_snprintf(buf, sizeof buf, &ksi_imsg_msgs, 15);
  EXPECT_STREQ(buf, "Warning: ");
  EXPECT_EQ(msgcat_open("ks_lib", 0), nullptr);
  EXPECT_EQ(msgcat_open("", 0), MSGCAT_NONE);
  EXPECT_STREQ(msgcat_get(nullptr, 10, 18, "d"), "d");
  EXPECT_STREQ(msgcat_get(MSGCAT_NONE, 10, 18, "d"), "d");
}

TEST_F(CatalogLookup, SearchOrderAndInstallationRoots) {
  // Empty elements and missing files are passed over; "%%", "%X" stay.
  std::string copy = dir_ + "/de%X_ks_lib.cat";
  write_file(copy, read_file(kGerman));
  setenv("NLSPATH",
         (";;" + dir_ + "/missing_%N;" + dir_ + "/de%X_%N.cat;").c_str(), 1);
  msgcat_t *cat = msgcat_open("ks_lib", 0);
  ASSERT_TRUE(ksi_catalog_is_open(cat));
  EXPECT_STREQ(msgcat_get(cat, 10, 18, "d"), "Warnung: ");
  msgcat_close(cat);

  // A name with a separator is the file itself; the search list is unused.
  EXPECT_EQ(msgcat_open((dir_ + "/nothing.cat").c_str(), 0), nullptr);
  EXPECT_EQ(msgcat_open((dir_ + "\\nothing.cat").c_str(), 0), nullptr);
  cat = msgcat_open((dir_ + "\\de%X_ks_lib.cat").c_str(), 0);
  EXPECT_TRUE(ksi_catalog_is_open(cat));
  msgcat_close(cat);

  // Installation roots from the settings file: parameter 7, then 8.
  unsetenv("NLSPATH");
  std::string root7 = dir_ + "/root7";
  std::string root8 = dir_ + "/root8";
  ASSERT_EQ(std::system(("mkdir -p " + root8 + "/bin/resdll").c_str()), 0);
  write_file(root8 + "/bin/resdll/ks_lib_DEU.cat", read_file(kGerman));
  write_file(dir_ + "/reg.ini", "[params]\n7=" + root7 + "\n8=" + root8 + "\n");
  setenv("ORVEX_REGISTRY", (dir_ + "/reg.ini").c_str(), 1);
  cat = msgcat_open("ks_lib", 0);
  ASSERT_TRUE(ksi_catalog_is_open(cat));
  EXPECT_STREQ(msgcat_get(cat, 12, 1, "d"), "HEUTE");
  msgcat_close(cat);
  // A catalog under root 7 is found first.
  ASSERT_EQ(std::system(("mkdir -p " + root7 + "/bin/resdll").c_str()), 0);
  write_file(dir_ + "/seven.msg", "set 12\n1 \"SIEBEN\"\n");
  ASSERT_EQ(ksgencat("-o " + root7 + "/bin/resdll/ks_lib_DEU.cat " + dir_ +
                     "/seven.msg"),
            0);
  cat = msgcat_open("ks_lib", 0);
  EXPECT_STREQ(msgcat_get(cat, 12, 1, "d"), "SIEBEN");
  msgcat_close(cat);
}

// Damaged files: a copy of the German catalog with bytes changed.
class CatalogDamage : public CatalogEnv {
 protected:
  void SetUp() override {
    CatalogEnv::SetUp();
    good_ = read_file(kGerman);
    path_ = dir_ + "/damaged.cat";
  }
  // The open of `data` in `mode`, and what it wrote to standard error.
  msgcat_t *open(const std::string &data, std::string &report, int mode = 0) {
    write_file(path_, data);
    CaptureStderr();
    msgcat_t *cat = msgcat_open(path_.c_str(), mode);
    report = GetCapturedStderr();
    return cat;
  }
  static void put32(std::string &data, size_t at, uint32_t v) {
    fmt::put32(reinterpret_cast<unsigned char *>(data.data()) + at, v);
  }
  static void put64(std::string &data, size_t at, uint64_t v) {
    fmt::put64(reinterpret_cast<unsigned char *>(data.data()) + at, v);
  }
  // Offset of the n-th set record (the compiler writes them in a row).
  static size_t set_at(int n) { return fmt::kHeaderSize + n * fmt::kSetSize; }
  std::string good_, path_;
};

TEST_F(CatalogDamage, BrokenHeadersAndChainsAreReportedAndAbsent) {
  const std::string corrupt = "Message Catalog System: corrupt file.\n";
  struct damage {
    const char *what;
    std::string data;
    std::string report;
  };
  std::vector<damage> cases;
  cases.push_back({"empty", "", corrupt});
  cases.push_back({"short header", good_.substr(0, 31), corrupt});
  std::string d = good_;
  d[0] = '#';
  cases.push_back({"magic", d, corrupt});
  d = good_;
  put32(d, fmt::kHeaderMajor, 2);
  cases.push_back(
      {"version", d,
       "Message Catalog System: " + path_ + " is version 2, we need 1.\n"});
  d = good_;
  put32(d, fmt::kHeaderSetCount, 0);
  cases.push_back(
      {"no sets", d, "Message Catalog System: " + path_ + " has 0 sets!\n"});
  put32(d, fmt::kHeaderSetCount, 0xfffffffe);
  cases.push_back({"negative sets", d,
                   "Message Catalog System: " + path_ + " has -2 sets!\n"});
  put32(d, fmt::kHeaderSetCount, 0x7fffffff);
  cases.push_back({"more sets than the file holds", d, corrupt});
  d = good_;
  put64(d, fmt::kHeaderFirstSet, good_.size() - 10);
  cases.push_back({"first set past the end", d, corrupt});
  d = good_;
  put64(d, set_at(3) - fmt::kSetSize + fmt::kSetNext, ~uint64_t{0});
  cases.push_back({"chain leaves the file", d, corrupt});

  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::string report;
    EXPECT_EQ(open(c.data, report), nullptr);
    EXPECT_EQ(report, c.report);
  }
  // The lookup serves the defaults for such a catalog.
  setenv("NLSPATH", (dir_ + "/damaged.cat").c_str(), 1);
  CaptureStderr();
  char buf[64];
  imsg_snprintf(buf, sizeof buf, &ksi_imsg_msgs, 15);
  GetCapturedStderr();
  EXPECT_STREQ(buf, "Warning: ");
}

TEST_F(CatalogDamage, InvalidRecordsAndBadSetsGiveTheDefault) {
  std::string report;
  std::string d = good_;
  // Set 7 marked invalid and not counted; message 18 of set 10 invalid.
  put32(d, set_at(0) + fmt::kSetInvalid, 1);
  put32(d, fmt::kHeaderSetCount, 3);
  uint64_t messages =
      fmt::get64(reinterpret_cast<const unsigned char *>(d.data()) + set_at(2) +
                 fmt::kSetMessages);
  put32(d, messages + fmt::kMessageInvalid, 1);
  // A text offset of set 9's first message beyond its text data.
  uint64_t ks = fmt::get64(reinterpret_cast<const unsigned char *>(d.data()) +
                           set_at(1) + fmt::kSetMessages);
  put64(d, ks + fmt::kMessageText, 5000);
  msgcat_t *cat = open(d, report);
  ASSERT_TRUE(ksi_catalog_is_open(cat));
  EXPECT_EQ(report, "");
  EXPECT_STREQ(msgcat_get(cat, 7, 2, "d"), "d");
  EXPECT_STREQ(msgcat_get(cat, 10, 18, "d"), "d");
  EXPECT_STREQ(msgcat_get(cat, 10, 19, "d"), "Fehler: ");
  EXPECT_STREQ(msgcat_get(cat, 9, 17, "d"), "d");
  EXPECT_STREQ(msgcat_get(cat, 12, 0, "d"), "d");
  EXPECT_STREQ(msgcat_get(cat, 0, 1, "d"), "d");
  EXPECT_STREQ(msgcat_get(cat, -12, 1, "d"), "d");
  EXPECT_STREQ(msgcat_get(cat, 12, 2, "d"), "GESTERN");
  msgcat_close(cat);
  // Reading everything at once, the bad offset refuses the whole file.
  EXPECT_EQ(open(d, report, 1), nullptr);
  EXPECT_EQ(report, "Message Catalog System: corrupt file.\n");
}

// A chain of invalid records that loops on itself must end the open, not
// hang it: the open runs in a child with an alarm, so a missing loop guard
// fails within seconds ("killed by signal 14") instead of at the time-out.
TEST_F(CatalogDamage, ALoopingChainIsReportedNotFollowedForever) {
  std::string d = good_;
  put64(d, set_at(0) + fmt::kSetNext, set_at(0));
  put32(d, set_at(0) + fmt::kSetInvalid, 1);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        alarm(5);
        std::string report;
        msgcat_t *cat = open(d, report);
        _exit(cat == nullptr &&
                      report == "Message Catalog System: corrupt file.\n"
                  ? 0
                  : 1);
      },
      testing::ExitedWithCode(0), "");
}

// One set whose messages lie outside the file: read lazily, only that set
// serves the defaults; read at open, the whole file is refused.
TEST_F(CatalogDamage, ABadSetCostsOnlyItselfWhenReadLazily) {
  const unsigned char *raw =
      reinterpret_cast<const unsigned char *>(good_.data());
  const uint64_t text_length =
      fmt::get32(raw + set_at(1) + fmt::kSetTextLength);
  const struct {
    const char *what;
    size_t field;
    uint64_t value;
    bool wide;
  } damages[] = {
      {"text data past the end", fmt::kSetText, good_.size() - text_length + 1,
       true},
      {"text offset wraps", fmt::kSetText, ~uint64_t{0} - 2, true},
      {"records past the end", fmt::kSetMessages, good_.size() - 8, true},
      {"huge message count", fmt::kSetMessageCount, 0x40000000, false},
      {"text longer than the file", fmt::kSetTextLength, 0xfffffff0, false},
  };
  for (const auto &damage : damages) {
    SCOPED_TRACE(damage.what);
    std::string d = good_;  // set 9 (the second) damaged
    if (damage.wide)
      put64(d, set_at(1) + damage.field, damage.value);
    else
      put32(d, set_at(1) + damage.field, static_cast<uint32_t>(damage.value));
    std::string report;
    msgcat_t *cat = open(d, report, 0);
    ASSERT_TRUE(ksi_catalog_is_open(cat));
    EXPECT_EQ(report, "");
    EXPECT_STREQ(msgcat_get(cat, 9, 17, "d"), "d");
    EXPECT_STREQ(msgcat_get(cat, 9, 17, "again"), "again");
    EXPECT_STREQ(msgcat_get(cat, 7, 2, "d"), "Kein Speicher verfügbar\n");
    EXPECT_STREQ(msgcat_get(cat, 10, 19, "d"), "Fehler: ");
    EXPECT_STREQ(msgcat_get(cat, 12, 1, "d"), "HEUTE");
    msgcat_close(cat);
    EXPECT_EQ(open(d, report, 1), nullptr);
    EXPECT_EQ(report, "Message Catalog System: corrupt file.\n");
  }
  // Cut after the set records: every set serves the defaults.
  std::string report;
  msgcat_t *cat = open(good_.substr(0, set_at(4)), report, 0);
  ASSERT_TRUE(ksi_catalog_is_open(cat));
  EXPECT_STREQ(msgcat_get(cat, 7, 2, "d"), "d");
  EXPECT_STREQ(msgcat_get(cat, 12, 1, "d"), "d");
  msgcat_close(cat);
  EXPECT_EQ(open(good_.substr(0, set_at(4)), report, 1), nullptr);
  EXPECT_EQ(report, "Message Catalog System: corrupt file.\n");
}

TEST_F(CatalogDamage, SetsAreReadOnFirstUseUnlessLoadedAtOpen) {
  std::string report;
  // Mode 0 reads set 12 only when asked: cut off, it serves the default.
  msgcat_t *lazy = open(good_, report, 0);
  ASSERT_TRUE(ksi_catalog_is_open(lazy));
  EXPECT_STREQ(msgcat_get(lazy, 10, 19, "d"), "Fehler: ");
  ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(set_at(4))), 0);
  EXPECT_STREQ(msgcat_get(lazy, 12, 1, "d"), "d");
  EXPECT_STREQ(msgcat_get(lazy, 10, 18, "d"), "Warnung: ");
  msgcat_close(lazy);
  // Mode 1 has everything before the file changes.
  msgcat_t *eager = open(good_, report, 1);
  ASSERT_TRUE(ksi_catalog_is_open(eager));
  ASSERT_EQ(truncate(path_.c_str(), 0), 0);
  EXPECT_STREQ(msgcat_get(eager, 12, 1, "d"), "HEUTE");
  EXPECT_STREQ(msgcat_get(eager, 7, 2, "d"), "Kein Speicher verfügbar\n");
  msgcat_close(eager);
}

}  // namespace
