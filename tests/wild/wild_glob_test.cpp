// Globbing over a real tree in a temporary directory: wildcard components,
// "...", plain tails that must exist, quoting of the result, words and
// quotes of a command line, drive and home forms, and the failures.
#include <gtest/gtest.h>

#include <orvexks/stg.h>
#include <orvexks/sysutl.h>
#include <orvexks/wild.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "child_process.h"
#include "scratch_dir.h"

namespace {

class WildGlob : public ScratchTest {
 protected:
  void SetUp() override {
    for (const char *d : {"d", "d/sub", "d/sub/deep", "d/x.c.d", "e"})
      mkdir((root_ + "/" + d).c_str(), 0755);
    for (const char *f :
         {"d/a.c", "d/b.c", "d/x.h", "d/.h.c", "d/my file.c", "d/q\"t.c",
          "d/sub/c.c", "d/sub/deep/e.c", "d/sub/deep/f.h", "e/Makefile"})
      close(open((root_ + "/" + f).c_str(), O_CREAT | O_WRONLY, 0644));
    symlink("sub", (root_ + "/d/link").c_str());
  }

  // The result of globbing text under the temporary root, "" for none.
  std::string glob(const char *text, int multi = 1, uint32_t flags = 0,
                   int *rc = nullptr) {
    char *result = nullptr;
    const int r = wild_glob_ext(text, flags, root_.c_str(), multi, &result);
    if (rc != nullptr)
      *rc = r;
    else
      EXPECT_EQ(r, 0) << text;
    std::string out = result != nullptr ? result : "";
    stg_free(result);
    return out;
  }

  const std::string root_ = dir_;
};

TEST_F(WildGlob, ComponentsExpandInByteOrder) {
  EXPECT_EQ(glob("d/*.c"), "d/.h.c d/a.c d/b.c \"d/my file.c\" \"d/q\\\"t.c\"");
  EXPECT_EQ(glob("d\\?.h"), "d\\x.h");
  EXPECT_EQ(glob("d/[ab].c"), "d/a.c d/b.c");
  // Every component that leads somewhere must be a directory; links to
  // directories count.
  EXPECT_EQ(glob("*/*/c.c"), "d/link/c.c d/sub/c.c");
  EXPECT_EQ(glob("d/x*/"), "d/x.c.d/");
  // A plain tail after a wildcard must exist.
  EXPECT_EQ(glob("*/Makefile"), "e/Makefile");
  EXPECT_EQ(glob("*/sub/deep"), "d/sub/deep");
  // "." and ".." only for a component that starts with '.'.
  EXPECT_EQ(glob("e/*"), "e/Makefile");
  EXPECT_EQ(glob("e/.*"), "e/. e/..");
  EXPECT_EQ(glob("d/*.o"), "");
  EXPECT_EQ(glob("nowhere/*.c"), "");
}

TEST_F(WildGlob, LevelsDescendEveryDirectoryButLinks) {
  EXPECT_EQ(glob("d/.../*.h"), "d/x.h d/sub/deep/f.h");
  EXPECT_EQ(glob(".../e.c"), "d/sub/deep/e.c");
  EXPECT_EQ(glob("d/.../deep/*"), "d/sub/deep/e.c d/sub/deep/f.h");
  EXPECT_EQ(glob("d/sub/..."), "d/sub d/sub/deep");
}

TEST_F(WildGlob, WordsQuotesAndPlainWords) {
  EXPECT_EQ(glob("  e/* 'd/my file.c'\t\"d/[m]y*\"\nplain^ word  "),
            "e/Makefile \"d/my file.c\" \"d/my file.c\" \"plain word\"");
  // One word: blanks and quotes are part of it.
  EXPECT_EQ(glob("d/my *", 0), "\"d/my file.c\"");
  // No wildcards, or a malformed pattern: the word as it stands.
  EXPECT_EQ(glob("new.c d/[x"), "new.c d/[x");
  EXPECT_EQ(glob("\"\" ''"), "");
  char *result = reinterpret_cast<char *>(1);
  EXPECT_EQ(wild_glob(nullptr, 0, &result), 0);
  EXPECT_EQ(result, nullptr);
}

TEST_F(WildGlob, AbsoluteDriveAndHomeForms) {
  // An absolute word ignores base and keeps its own spelling; a drive
  // maps through the settings' drive table (c: is / by default).
  std::string word = root_ + "/e/M*";
  char *result = nullptr;
  ASSERT_EQ(wild_glob_single(word.c_str(), 0, &result), 0);
  EXPECT_EQ(result, root_ + "/e/Makefile");
  stg_free(result);
  std::string drive = "c:" + root_ + "\\e\\*";
  for (char &c : drive)
    if (c == '/') c = '\\';
  ASSERT_EQ(wild_glob_single(drive.c_str(), 0, &result), 0);
  EXPECT_EQ(result, drive.substr(0, drive.size() - 1) + "Makefile");
  stg_free(result);

  char home[4096];
  const char *me = sysutl_myloginname();
  if (me == nullptr || !sysutl_get_homedir(me, sizeof home, home))
    GTEST_SKIP() << "no home directory for the current user";
  ASSERT_EQ(wild_glob("~/x", 0, &result), 0);
  EXPECT_EQ(result, std::string(home) + "/x");
  stg_free(result);
  ASSERT_EQ(wild_glob("~nosuchuser_wild/x", 0, &result), 0);
  EXPECT_STREQ(result, "~nosuchuser_wild/x");
  stg_free(result);
}

TEST_F(WildGlob, TooManyMatchesInOneDirectory) {
  const std::string many = root_ + "/many";
  mkdir(many.c_str(), 0755);
  for (int i = 0; i < 4096; ++i)
    close(open((many + "/f" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY,
               0644));
  int rc = 0;
  EXPECT_EQ(glob("many/f*", 1, 0, &rc), "");
  EXPECT_EQ(rc, WILD_NO_ROOM);
  unlink((many + "/f0").c_str());
  const std::string all = glob("many/f*");
  EXPECT_EQ(std::count(all.begin(), all.end(), ' '), 4094);
}

// An ordinary user cannot read d/sub: the expansion fails with EACCES, or
// passes over it when asked to; the child runs as "nobody".
TEST_F(WildGlob, UnreadableDirectories) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  chmod(root_.c_str(), 0755);
  chmod((root_ + "/d/sub").c_str(), 0);
  EXPECT_EQ(rerun_as_user(65534, 65534, "WildGlobAsUser.*",
                          "WILD_GLOB_UNREADABLE_ROOT", root_),
            0);
}

// The child's half of UnreadableDirectories.
TEST(WildGlobAsUser, UnreadableDirectory) {
  const char *root = std::getenv("WILD_GLOB_UNREADABLE_ROOT");
  if (root == nullptr) GTEST_SKIP() << "run by WildGlob.UnreadableDirectories";
  char *result = nullptr;
  EXPECT_EQ(wild_glob_ext("d/.../*.c", 0, root, 1, &result), EACCES);
  EXPECT_EQ(result, nullptr);
  ASSERT_EQ(
      wild_glob_ext("d/.../*.c", WILD_GLOB_IGNORE_UNREADABLE, root, 1, &result),
      0);
  EXPECT_EQ(std::string(result).rfind("d/.h.c d/a.c", 0), 0u) << result;
  stg_free(result);
}

}  // namespace
