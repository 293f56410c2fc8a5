// The low-level reporter: one whole line per call on standard error, a
// newline added only when missing, long texts cut, errno kept, and lines
// of concurrent threads never mixed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "internal/report_line.h"

namespace {

// Standard error goes to a scratch file opened for appending while the
// object lives; text() reads what was written.
class stderr_file {
 public:
  stderr_file() {
    char path[] = "/tmp/report_line_test.XXXXXX";
    fd_ = mkstemp(path);
    EXPECT_GE(fd_, 0);
    unlink(path);
    fcntl(fd_, F_SETFL, O_APPEND);
    saved_ = dup(STDERR_FILENO);
    dup2(fd_, STDERR_FILENO);
  }
  ~stderr_file() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    close(fd_);
  }
  std::string text() {
    std::string out;
    char buf[8192];
    off_t at = 0;
    for (ssize_t n; (n = pread(fd_, buf, sizeof buf, at)) > 0; at += n)
      out.append(buf, n);
    return out;
  }

 private:
  int fd_;
  int saved_;
};

TEST(ReportLine, OneLineWithItsNewline) {
  stderr_file err;
  errno = ERANGE;
  ksi_report("%s: %d", "plain", 7);
  EXPECT_EQ(errno, ERANGE);
  ksi_report("ends itself\n");
  ksi_report("%s", "");
  EXPECT_EQ(err.text(), "plain: 7\nends itself\n\n");
}

TEST(ReportLine, LongTextsAreCutAndStillEndTheLine) {
  stderr_file err;
  std::string big(2 * kKsiReportMax, 'x');
  ksi_report("%s", big.c_str());
  std::string got = err.text();
  ASSERT_EQ(got.size(), kKsiReportMax - 1);
  EXPECT_EQ(got.back(), '\n');
  EXPECT_EQ(got.find_first_not_of('x'), got.size() - 1);
}

TEST(ReportLine, ThreadsNeverMixTheirLines) {
  stderr_file err;
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      std::string body(1000, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) ksi_report("%s", body.c_str());
    });
  for (std::thread &th : threads) th.join();
  std::string got = err.text();
  size_t lines = 0;
  for (size_t at = 0; at < got.size(); at += 1001, ++lines) {
    ASSERT_LE(at + 1001, got.size());
    EXPECT_EQ(got.substr(at, 1000), std::string(1000, got[at]))
        << "line " << lines;
    EXPECT_EQ(got[at + 1000], '\n');
  }
  EXPECT_EQ(lines, static_cast<size_t>(kThreads * kLines));
}

}  // namespace
