// The settings store through real INI files in a temporary directory, the
// path mapping over its drive and share tables, and the UI language.
#include <orvexnt/nt_registry.h>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

class SettingsFile : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/nt_registry_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/registry.ini";
    setenv("ORVEX_REGISTRY", path_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ORVEX_REGISTRY");
    for (const std::string &name : Entries())
      unlink((dir_ + "/" + name).c_str());
    rmdir(dir_.c_str());
  }
  void Write(const std::string &text) {
    std::ofstream(path_, std::ios::binary) << text;
  }
  std::string Read() {
    std::ostringstream out;
    out << std::ifstream(path_, std::ios::binary).rdbuf();
    return out.str();
  }
  std::vector<std::string> Entries() {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir_.c_str())) {
      while (dirent *e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
      closedir(d);
    }
    return names;
  }
  std::string Param(uint32_t id) {
    char buf[256];
    int rc = ntregy_get_param(id, sizeof buf, buf, NTREGY_TYPE_TEXT);
    return rc == NTREGY_OK ? buf : "<" + std::to_string(rc) + ">";
  }

  std::string dir_, path_;
};

TEST_F(SettingsFile, MissingFileMeansNothingIsSet) {
  char buf[64];
  uint32_t word;
  EXPECT_STREQ(nt_settings_file(), path_.c_str());
  EXPECT_EQ(ntregy_get_param(8, sizeof buf, buf, NTREGY_TYPE_TEXT),
            NTREGY_NOT_SET);
  EXPECT_EQ(ntregy_get_param(25, sizeof word, &word, NTREGY_TYPE_DWORD),
            NTREGY_NOT_SET);
  EXPECT_EQ(ntregy_get_qmfs_param(28, sizeof buf, buf, NTREGY_TYPE_TEXT),
            NTREGY_NOT_SET);
  ntregy_hkey_t key;
  EXPECT_EQ(ntregy_get_handle(NTREGY_HKEY_LOCAL_MACHINE, "Software\\X", &key),
            NTREGY_NOT_SET);
  EXPECT_EQ(nt_settings_enum("drives", 0, buf, sizeof buf, nullptr, 0),
            NTREGY_NOT_SET);
  unsetenv("ORVEX_REGISTRY");
  EXPECT_STREQ(nt_settings_file(), NTREGY_DEFAULT_FILE);
}

TEST_F(SettingsFile, ReadsParametersInTextAndDwordForm) {
  Write(
      "; installation\r\n"
      "[Params]\r\n"
      "  8 = c:\\orvex \r\n"
      "7=\"  spaced  \"\n"
      "25=1\n26=0x10\n27=-1\n28=12abc\n29=4294967296\n"
      "8=second copy is ignored\n"
      "[qmfs]\n55=rview2\n");
  EXPECT_EQ(Param(8), "c:\\orvex");
  EXPECT_EQ(Param(7), "  spaced  ");
  uint32_t word = 0;
  EXPECT_EQ(ntregy_get_param(25, 4, &word, NTREGY_TYPE_DWORD), NTREGY_OK);
  EXPECT_EQ(word, 1u);
  EXPECT_EQ(ntregy_get_param(26, 4, &word, NTREGY_TYPE_DWORD), NTREGY_OK);
  EXPECT_EQ(word, 16u);
  EXPECT_EQ(ntregy_get_param(27, 4, &word, NTREGY_TYPE_DWORD), NTREGY_OK);
  EXPECT_EQ(word, 0xFFFFFFFFu);
  EXPECT_EQ(ntregy_get_param(28, 4, &word, NTREGY_TYPE_DWORD),
            NTREGY_INVALID_DATA);
  EXPECT_EQ(ntregy_get_param(29, 4, &word, NTREGY_TYPE_DWORD),
            NTREGY_INVALID_DATA);
  EXPECT_EQ(ntregy_get_param(25, 3, &word, NTREGY_TYPE_DWORD),
            NTREGY_MORE_DATA);

  // A short buffer gets the prefix that fits and says so.
  char small[4];
  EXPECT_EQ(ntregy_get_param(8, sizeof small, small, NTREGY_TYPE_TEXT),
            NTREGY_MORE_DATA);
  EXPECT_STREQ(small, "c:\\");

  // The file system's settings fall back to the parameters.
  char buf[32];
  EXPECT_EQ(ntregy_get_qmfs_param(55, sizeof buf, buf, NTREGY_TYPE_TEXT),
            NTREGY_OK);
  EXPECT_STREQ(buf, "rview2");
  EXPECT_EQ(ntregy_get_qmfs_param(8, sizeof buf, buf, NTREGY_TYPE_TEXT),
            NTREGY_OK);
  EXPECT_STREQ(buf, "c:\\orvex");
}

TEST_F(SettingsFile, ReadsAndEnumeratesKeys) {
  Write(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Fennick\\Sentrymon]\n"
      "Directory=c:\\smx\nVersion=3\n"
      "[HKCU\\Software\\Fennick\\Sentrymon]\nDirectory=user-only\n");
  char buf[64];
  EXPECT_EQ(ntregy_get_value(NTREGY_HKEY_LOCAL_MACHINE,
                             "\\software\\fennick\\sentrymon\\", "DIRECTORY",
                             sizeof buf, buf, NTREGY_TYPE_TEXT),
            NTREGY_OK);
  EXPECT_STREQ(buf, "c:\\smx");
  EXPECT_EQ(ntregy_get_value(NTREGY_HKEY_USERS, "Software\\Fennick\\Sentrymon",
                             "Directory", sizeof buf, buf, NTREGY_TYPE_TEXT),
            NTREGY_NOT_SET);

  ntregy_hkey_t fennick, smx;
  ASSERT_EQ(ntregy_get_handle(NTREGY_HKEY_LOCAL_MACHINE, "Software\\Fennick",
                              &fennick),
            NTREGY_NOT_SET);
  ASSERT_EQ(ntregy_get_handle(NTREGY_HKEY_LOCAL_MACHINE,
                              "Software\\Fennick\\Sentrymon", &smx),
            NTREGY_OK);
  // An open key answers from the values it had when it was opened.
  Write("");
  uint32_t version = 0;
  EXPECT_EQ(
      ntregy_get_value(smx, nullptr, "version", 4, &version, NTREGY_TYPE_DWORD),
      NTREGY_OK);
  EXPECT_EQ(version, 3u);
  char name[16], value[16];
  EXPECT_EQ(ntregy_enum_value(smx, 0, name, sizeof name, value, sizeof value),
            NTREGY_OK);
  EXPECT_STREQ(name, "Directory");
  EXPECT_STREQ(value, "c:\\smx");
  EXPECT_EQ(ntregy_enum_value(smx, 1, name, sizeof name, nullptr, 0),
            NTREGY_OK);
  EXPECT_STREQ(name, "Version");
  EXPECT_EQ(ntregy_enum_value(smx, 2, name, sizeof name, value, sizeof value),
            NTREGY_NO_MORE_ITEMS);
  EXPECT_EQ(ntregy_close_key(smx), NTREGY_OK);
  EXPECT_EQ(ntregy_close_key(NTREGY_HKEY_LOCAL_MACHINE), NTREGY_OK);
}

TEST_F(SettingsFile, BrokenLinesAreSkippedAndTheRestIsRead) {
  std::string text =
      "orphan=before any section\n"
      "[params]\n"
      "no equals sign here\n"
      "=no name\n"
      "7=seven\n"
      "[broken section\n"
      "8=under a broken header\n"
      "[]\n"
      "9=under an empty header\n"
      "[params]\n"
      "10=ten\n";
  text += std::string("11=nul\0byte\n", 12);
  text += "12=last line without newline";
  Write(text);
  EXPECT_EQ(Param(7), "seven");
  EXPECT_EQ(Param(8), "<2>");
  EXPECT_EQ(Param(9), "<2>");
  EXPECT_EQ(Param(10), "ten");
  EXPECT_EQ(Param(11), "<2>");
  EXPECT_EQ(Param(12), "last line without newline");
  char name[16];
  EXPECT_EQ(nt_settings_enum("params", 2, name, sizeof name, nullptr, 0),
            NTREGY_OK);
  EXPECT_STREQ(name, "12");
  EXPECT_EQ(nt_settings_enum("params", 3, name, sizeof name, nullptr, 0),
            NTREGY_NO_MORE_ITEMS);
}

TEST_F(SettingsFile, SettingRewritesTheFileKeepingEverythingElse) {
  EXPECT_EQ(ntregy_set_param(8, 64, "c:\\orvex", NTREGY_TYPE_TEXT), NTREGY_OK);
  const uint32_t off = 0;
  EXPECT_EQ(ntregy_set_param(25, 4, &off, NTREGY_TYPE_DWORD), NTREGY_OK);
  EXPECT_EQ(ntregy_set_param(25, 3, &off, NTREGY_TYPE_DWORD),
            NTREGY_INVALID_PARAM)
      << "a DWORD needs four bytes";
  EXPECT_EQ(Read(), "[params]\n8=c:\\orvex\n25=0\n");

  Write("# kept\n[params]\n8=old\n9=x\n8=dup\n[drives]\nd=/data\n");
  chmod(path_.c_str(), 0640);
  // Holding the original open keeps its inode from being reused by the
  // rewrites, so "replaced" can be told from "written in place".
  int original = open(path_.c_str(), O_RDONLY);
  ASSERT_GE(original, 0);
  EXPECT_EQ(ntregy_set_param(8, 3, "newer", NTREGY_TYPE_TEXT), NTREGY_OK);
  EXPECT_EQ(nt_settings_set("drives", "e", "  padded "), NTREGY_OK);
  EXPECT_EQ(nt_settings_set("accounts", "product_group", "qm"), NTREGY_OK);
  EXPECT_EQ(nt_settings_set("params", "9", nullptr), NTREGY_OK);
  EXPECT_EQ(nt_settings_set("params", "absent", nullptr), NTREGY_OK);
  EXPECT_EQ(Read(),
            "# kept\n[params]\n8=new\n[drives]\nd=/data\ne=\"  padded \"\n"
            "\n[accounts]\nproduct_group=qm\n");
  char value[16];
  EXPECT_EQ(nt_settings_get("drives", "E", value, sizeof value), NTREGY_OK);
  EXPECT_STREQ(value, "  padded ");

  // A new file replaced the old one, with the old mode and no leftovers.
  struct stat before, after;
  ASSERT_EQ(fstat(original, &before), 0);
  close(original);
  stat(path_.c_str(), &after);
  EXPECT_EQ(before.st_nlink, 0u);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(after.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"registry.ini"});

  // What the file could not hold is refused and changes nothing.
  const std::string kept = Read();
  EXPECT_EQ(nt_settings_set("params", "a=b", "x"), NTREGY_INVALID_PARAM);
  EXPECT_EQ(nt_settings_set("params", "", "x"), NTREGY_INVALID_PARAM);
  EXPECT_EQ(nt_settings_set("par]ams", "a", "x"), NTREGY_INVALID_PARAM);
  EXPECT_EQ(nt_settings_set("params", "a", "two\nlines"), NTREGY_INVALID_PARAM);
  EXPECT_EQ(ntregy_set_param(8, 4, &off, 99), NTREGY_INVALID_PARAM);
  EXPECT_EQ(Read(), kept);
}

TEST_F(SettingsFile, WritersInParallelLoseNothing) {
  constexpr int kThreads = 4, kEach = 8;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++)
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; i++) {
        std::string name = std::to_string(t) + "_" + std::to_string(i);
        ASSERT_EQ(nt_settings_set("load", name.c_str(), "v"), NTREGY_OK);
      }
    });
  for (std::thread &t : threads) t.join();
  int count = 0;
  while (nt_settings_enum("load", count, nullptr, 0, nullptr, 0) == NTREGY_OK)
    count++;
  EXPECT_EQ(count, kThreads * kEach);
}

TEST_F(SettingsFile, WriteToAMissingDirectoryFails) {
  setenv("ORVEX_REGISTRY", (dir_ + "/no/such/dir/registry.ini").c_str(), 1);
  EXPECT_EQ(nt_settings_set("params", "8", "x"), NTREGY_ACCESS_DENIED);
}

TEST_F(SettingsFile, MapsWindowsPathsThroughDrivesAndShares) {
  char host[256];
  ASSERT_EQ(gethostname(host, sizeof host), 0);
  Write("[drives]\nD=/srv/data/\n[shares]\nproj=/export/proj\n");
  char out[64];
  auto map = [&](const char *path) {
    int rc = nt_map_path(path, out, sizeof out);
    return rc == 0 ? std::string(out) : "<" + std::to_string(rc) + ">";
  };
  EXPECT_EQ(map("c:\\orvex\\bin"), "/orvex/bin");
  EXPECT_EQ(map("C:"), "/");
  EXPECT_EQ(map("c:orvex"), "/orvex");
  EXPECT_EQ(map("d:\\x/y"), "/srv/data/x/y");
  EXPECT_EQ(map("e:\\x"), "<" + std::to_string(ENOENT) + ">");
  EXPECT_EQ(map((std::string("\\\\") + host + "\\proj\\src").c_str()),
            "/export/proj/src");
  EXPECT_EQ(map("\\\\localhost\\nosuch\\x"),
            "<" + std::to_string(ENOENT) + ">");
  EXPECT_EQ(map("//far/share/a\\b"), "/net/far/share/a/b");
  EXPECT_EQ(map("\\\\far"), "<" + std::to_string(EINVAL) + ">");
  EXPECT_EQ(map("\\abs\\path"), "/abs/path");
  EXPECT_EQ(map("rel\\path"), "rel/path");
  EXPECT_EQ(map("c:\\a-path-far-too-long-for-the-output-buffer-of-the-test-"
                "xxxxxxxxx"),
            "<" + std::to_string(ENAMETOOLONG) + ">");
}

TEST(UiLanguage, FollowsTheMessageLocale) {
  struct {
    const char *lc_all, *lc_messages, *lang, *code;
  } cases[] = {
      {nullptr, nullptr, nullptr, "ENU"},
      {nullptr, nullptr, "C", "ENU"},
      {nullptr, nullptr, "de_DE.UTF-8", "DEU"},
      {nullptr, nullptr, "de_CH.UTF-8@euro", "DES"},
      {nullptr, nullptr, "en_GB", "ENG"},
      {nullptr, nullptr, "ja_JP.eucJP", "JPN"},
      {nullptr, nullptr, "xx_YY", "ENU"},
      {nullptr, "fr_CA.UTF-8", "de_DE", "FRC"},
      {"pt_BR", "fr_FR", "de_DE", "PTB"},
      {"", "", "fr_BE", "FRB"},
  };
  for (const auto &c : cases) {
    auto put = [](const char *name, const char *value) {
      value ? setenv(name, value, 1) : unsetenv(name);
    };
    put("LC_ALL", c.lc_all);
    put("LC_MESSAGES", c.lc_messages);
    put("LANG", c.lang);
    EXPECT_STREQ(nt_get_ui_language(), c.code) << (c.lang ? c.lang : "(unset)");
  }
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  unsetenv("LANG");
}

}  // namespace
