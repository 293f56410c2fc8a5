// The file-creation mask bracket, closing low descriptors and flushing to
// disk. Calls that act once per process, or on the process's descriptors,
// run in a child of their own.
#include <gtest/gtest.h>

#include <orvexks/imsg.h>
#include <orvexks/sysutl.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

mode_t mode_of_new_file(const char *path) {
  unlink(path);
  close(open(path, O_CREAT | O_WRONLY, 0666));
  struct stat st;
  stat(path, &st);
  unlink(path);
  return st.st_mode & 0777;
}

// Each failed check exits with its own code.
void umask_bracket() {
  uint32_t mask = 0;
  if (sysutl_get_umask(&mask) != 1) std::exit(10);
  if (sysutl_set_umask(077) != 1) std::exit(11);
  umask(002);
  sysutl_initialize_umask(1, 020);
  sysutl_initialize_umask(0, 0);  // only the first call counts
  if (sysutl_get_umask(&mask) != 0 || mask != 022) std::exit(12);
  char path[] = "/tmp/sysutl_umask_XXXXXX";
  close(mkstemp(path));
  if (sysutl_set_umask(077) != 0) std::exit(13);
  if (mode_of_new_file(path) != 0600) std::exit(14);
  if (sysutl_set_umask(0) != 1) std::exit(15);  // no set inside a bracket
  if (sysutl_restore_umask() != 0) std::exit(16);
  if (mode_of_new_file(path) != 0644) std::exit(17);
  // The bracket can be taken again once closed.
  if (sysutl_set_umask(0) != 0 || sysutl_restore_umask() != 0) std::exit(18);
  std::exit(0);
}

TEST(SysutlUmask, BracketSetsAndRestoresAndRefusesMisuse) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(umask_bracket(), testing::ExitedWithCode(0),
              "improper use of sysutl_get_umask\\(\\)(.|\n)*"
              "improper use of sysutl_set_umask\\(\\)(.|\n)*"
              "improper use of sysutl_set_umask\\(\\)");
  EXPECT_DEATH(sysutl_restore_umask(), "something_saved");
}

void close_low() {
  dup2(2, 5);
  dup2(2, 19);
  dup2(2, 20);
  sysutl_close_fds(25);
  if (!is_open(5) || !is_open(19)) std::exit(1);
  sysutl_close_fds(3);
  if (!is_open(0) || !is_open(1) || !is_open(2)) std::exit(2);
  if (is_open(5) || is_open(19)) std::exit(3);
  if (!is_open(20)) std::exit(4);
  std::exit(0);
}

TEST(SysutlFds, CloseFdsEndsBelowTwentyAndSparesTheStandardOnes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(close_low(), testing::ExitedWithCode(0), "");
}

TEST(SysutlFds, FsyncOfAStreamWritesItsBufferedData) {
  char path[] = "/tmp/sysutl_fsync_XXXXXX";
  const int fd = mkstemp(path);
  FILE *stream = fdopen(fd, "w");
  std::fputs("buffered", stream);
  EXPECT_EQ(sysutl_fsync_fptr(stream), 0);
  struct stat st;
  stat(path, &st);
  EXPECT_EQ(st.st_size, 8);
  std::fclose(stream);
  unlink(path);
  EXPECT_EQ(sysutl_fsync(-1), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
