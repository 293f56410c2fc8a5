// Whole files, locks, names and temporary files on real files: a full file
// system (a small tmpfs when run as root), locks held by another process,
// and the failures callers rely on.
#include <gtest/gtest.h>

#include <orvexks/fileutl.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "child_process.h"
#include "filled.h"
#include "scratch_dir.h"

namespace {

// Each test's scratch directory; a test may mount a small file system on it.
class FileutlOps : public ScratchTest {
 protected:
  void TearDown() override {
    if (mounted_) umount(dir_.c_str());
  }
  // Mounts a 64 KiB tmpfs on the test directory: false (the test skips)
  // when that is not allowed here.
  bool mount_small_fs() {
    mounted_ = geteuid() == 0 &&
               mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k") == 0;
    return mounted_;
  }
  bool mounted_ = false;
};

TEST_F(FileutlOps, LoadAndDumpWholeFiles) {
  const std::string f = path("f");
  const std::string data = std::string(100000, 'q') + '\0' + "tail";
  int err = 0;
  const mode_t mask = umask(0);
  umask(mask);
  ASSERT_EQ(fileutl_dump(data.data(), data.size(), f.c_str(), &err), 0);
  struct stat st;
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u & ~mask);

  // Replacing keeps the file's mode and its security descriptor; a file
  // with a second name is written in place, so both names see the bytes.
  chmod(f.c_str(), 0600);
  const bool xattrs = setxattr(f.c_str(), "user.orvex.ntsd", "sd", 2, 0) == 0;
  ASSERT_EQ(fileutl_dump("new", 3, f.c_str(), &err), 0);
  stat(f.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(slurp(f), "new");
  char sd[8];
  if (xattrs) {
    EXPECT_EQ(getxattr(f.c_str(), "user.orvex.ntsd", sd, 8), 2);
  }
  ASSERT_EQ(link(f.c_str(), path("second").c_str()), 0);
  ASSERT_EQ(fileutl_dump("both", 4, f.c_str(), &err), 0);
  EXPECT_EQ(slurp(path("second")), "both");
  unlink(path("second").c_str());
  ASSERT_EQ(fileutl_dump(data.data(), data.size(), f.c_str(), &err), 0);

  void *loaded = nullptr;
  uint64_t size = 0;
  ASSERT_EQ(fileutl_load(f.c_str(), STG_AREA_HEAP, &loaded, &size, &err), 0);
  EXPECT_EQ(std::string(static_cast<char *>(loaded), size), data);
  stg_free(loaded);

  EXPECT_EQ(
      fileutl_load(path("none").c_str(), STG_AREA_HEAP, &loaded, &size, &err),
      1);
  EXPECT_EQ(err, ENOENT);
  EXPECT_EQ(fileutl_load(dir_.c_str(), STG_AREA_HEAP, &loaded, &size, &err), 1);
  EXPECT_EQ(err, EISDIR);
  EXPECT_EQ(fileutl_dump("x", 1, path("none/f").c_str(), &err), 1);
  EXPECT_EQ(err, ENOENT);

  // 2 GiB is refused before anything is read (a sparse file costs nothing).
  EXPECT_EQ(fileutl_chk_large_file_overflow(0x7FFFFFFF, "big"), 0);
  EXPECT_EQ(fileutl_chk_large_file_overflow(0x80000000, ""), 1);
  const std::string big = path("big");
  std::ofstream(big).close();
  ASSERT_EQ(truncate(big.c_str(), 0x80000000), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(fileutl_load(big.c_str(), STG_AREA_HEAP, &loaded, &size, &err), 1);
  EXPECT_EQ(err, EFBIG);
  EXPECT_EQ(strutl_read(STG_AREA_HEAP, big.c_str(), 1, 0, 0), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "File \"" + big + "\" is larger than 2GB"),
            std::string::npos);
}

TEST_F(FileutlOps, FullFileSystemLeavesTheOldContents) {
  if (!mount_small_fs()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  const std::string f = path("f");
  int err = 0;
  ASSERT_EQ(fileutl_dump("old", 3, f.c_str(), &err), 0);
  const std::string big(256 * 1024, 'b');
  EXPECT_EQ(fileutl_dump(big.data(), big.size(), f.c_str(), &err), 1);
  EXPECT_EQ(err, ENOSPC);
  EXPECT_EQ(slurp(f), "old");
  testing::internal::CaptureStderr();
  EXPECT_EQ(strutl_write(big.c_str(), f.c_str(), 0, 0), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Operation write, " +
                                                        f + ": "),
            std::string::npos);
  EXPECT_EQ(slurp(f), "old");
  // Only the file itself is there: no temporary left behind.
  char **names = nullptr;
  stg_area_t area = stg_create_area(1024);
  EXPECT_EQ(fileutl_read_whole_dir(dir_.c_str(), area, &names), 3);
  stg_delete_area(&area);
}

TEST_F(FileutlOps, LocksHeldByAnotherProcessAreRefused) {
  const std::string f = path("locked");
  std::ofstream(f) << "0123456789";
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(f.c_str(), O_RDWR);
    const char ok = fileutl_lockfd(fd, 0, 10) == 0 ? 'y' : 'n';
    char c;
    if (write(ready[1], &ok, 1) != 1 || read(release[0], &c, 1) != 1) _exit(1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  const int fd = open(f.c_str(), O_RDWR);
  EXPECT_EQ(fileutl_lockfd(fd, 5, 1), EACCES);
  EXPECT_EQ(fileutl_lockfd(fd, 0, 0), EACCES);  // the whole range
  EXPECT_EQ(fileutl_lockfd(fd, 10, 5), 0);
  EXPECT_EQ(fileutl_unlockfd(fd, 10, 5), 0);
  const int read_only = open(f.c_str(), O_RDONLY);
  EXPECT_EQ(fileutl_lockfd(read_only, 2, 1), EACCES);
  EXPECT_EQ(write(release[1], "x", 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(fileutl_lockfd(fd, 0, 0), 0);  // released with its holder
  EXPECT_EQ(fileutl_unlockfd(fd, 0, 0), 0);
  EXPECT_EQ(fileutl_lockfd(-1, 0, 1), 1);
  close(read_only);
  close(fd);
  for (int p : {ready[0], ready[1], release[0], release[1]}) close(p);
}

TEST_F(FileutlOps, MakesPathsAndUniqueNames) {
  const std::string deep = path("p/q/r");
  EXPECT_EQ(fileutl_mkpath(deep.c_str(), 0755, 0), 0);
  EXPECT_TRUE(fileutl_exists(path("p/q").c_str(), 1));
  EXPECT_FALSE(fileutl_exists(deep.c_str(), 1));
  EXPECT_EQ(fileutl_mkpath((deep + "\\s\\").c_str(), 0755, 1), 0);
  EXPECT_TRUE(fileutl_exists((deep + "/s").c_str(), 1));
  std::ofstream(path("file"));
  EXPECT_EQ(fileutl_mkpath(path("file/x").c_str(), 0755, 1), ENOTDIR);
  EXPECT_EQ(fileutl_mkpath("q:\\no\\drive", 0755, 1), ENOENT);

  // The plain candidate, then numbered ones with the separator asked for.
  auto rename = [&](const char *from, const std::string &suffix, char sep) {
    return filled([&](char *out, size_t n) {
      return fileutl_rename_unique_ext(path(from).c_str(), suffix.c_str(), sep,
                                       n, out);
    });
  };
  std::ofstream(path("log")) << "1";
  EXPECT_EQ(rename("log", ".old", '.'), path("log.old"));
  std::ofstream(path("log")) << "2";
  char out[1100];
  ASSERT_EQ(fileutl_rename_unique(path("log").c_str(), ".old", sizeof out, out),
            0);
  EXPECT_EQ(std::string(out), path("log.old.1"));
  std::ofstream(path("log")) << "3";
  EXPECT_EQ(rename("log", ".old", '_'), path("log.old_1"));
  EXPECT_EQ(slurp(path("log.old")), "1");
  EXPECT_FALSE(fileutl_exists(path("log").c_str(), 0));
  EXPECT_EQ(rename("log", "", '.'), "<1 ENOENT>");
  EXPECT_EQ(rename("log.old", std::string(1030, 'n'), '.'), "<1 ENAMETOOLONG>");

  strutl_wchar_t wfrom[64], wto[64], wout[64];
  const std::string from = path("log.old"), to = path("w");
  size_t used;
  std::fill(std::begin(wfrom), std::end(wfrom), 0);
  std::fill(std::begin(wto), std::end(wto), 0);
  strutl_utf8to16(wfrom, from.c_str(), from.size(), 63, &used);
  strutl_utf8to16(wto, to.c_str(), to.size(), 63, &used);
  EXPECT_EQ(fileutl_rename_w(wfrom, wto), 0);
  EXPECT_EQ(fileutl_rename_unique_w(wto, nullptr, 64, wout), 0);
  EXPECT_EQ(strutl_wide_strlen(wout), to.size() + 2);  // "w" itself is taken

  const std::string d = dir_ + "/";
  auto unique = [&](int control) {
    return filled([&](char *out, size_t n) {
      return fileutl_make_unique_pn(d.c_str(), "u", control, n, out);
    });
  };
  EXPECT_EQ(unique(1), d + "u");
  std::ofstream(d + "u");
  std::ofstream(d + "u.1");
  EXPECT_EQ(unique(1), d + "u.2");
  const std::string any = unique(0);
  EXPECT_EQ(any.rfind(d + "u.", 0), 0u);
  EXPECT_GT(any.size(), (d + "u.").size());
  testing::internal::CaptureStderr();
  EXPECT_EQ(unique(2).substr(0, 3), "<1 ");
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "bad suffix control value '2'"),
            std::string::npos);
}

TEST_F(FileutlOps, TemporaryFilesAndDirectories) {
  char name[1100];
  FILE *f = fileutl_tmpfile_ext_opt(dir_.c_str(), "pre", "ext", name,
                                    sizeof name, 1, 0600);
  ASSERT_NE(f, nullptr);
  const std::string n = name;
  ASSERT_EQ(n.size(), dir_.size() + 1 + 3 + 5 + 4);
  EXPECT_EQ(n.substr(0, dir_.size() + 4), dir_ + "\\pre");
  EXPECT_EQ(n.substr(n.size() - 4), ".ext");
  struct stat st;
  ASSERT_EQ(fileutl_stat(name, 1, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::fclose(f);

  // Without a name for the caller the file is gone already.
  f = fileutl_tmpfile_ext(dir_.c_str(), nullptr, nullptr, nullptr, 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fputs("data", f), 1);
  std::fclose(f);
  char **names = nullptr;
  stg_area_t area = stg_create_area(1024);
  EXPECT_EQ(fileutl_read_whole_dir(dir_.c_str(), area, &names), 3);
  stg_delete_area(&area);

  char out[64];
  size_t len = 0;
  ASSERT_EQ(fileutl_get_tmpdir((dir_ + "//").c_str(), out, sizeof out, &len),
            0);
  EXPECT_EQ(std::string(out), dir_);
  EXPECT_EQ(len, dir_.size());
  EXPECT_EQ(fileutl_get_tmpdir(dir_.c_str(), out, dir_.size() + 15, &len),
            ENAMETOOLONG);

  // The process's own directory: TMP, else TMPDIR, else c:\ when writable,
  // chosen once; each child process chooses afresh.
  auto chosen_in_child = [](const char *tmp, const char *tmpdir) {
    return exit_code_in_child([&] {
      tmp != nullptr ? setenv("TMP", tmp, 1) : unsetenv("TMP");
      tmpdir != nullptr ? setenv("TMPDIR", tmpdir, 1) : unsetenv("TMPDIR");
      char dir[1100];
      if (fileutl_tmpdir(dir, sizeof dir) != 0) return 1;
      return std::string(dir) == (tmp != nullptr ? tmp : "c:") ? 0 : 2;
    });
  };
  EXPECT_EQ(chosen_in_child(dir_.c_str(), "/nonexistent"), 0);
  if (access("/", W_OK) == 0) {
    EXPECT_EQ(chosen_in_child(nullptr, nullptr), 0);
  }
}

}  // namespace
