// A catalog whose set chain loops back on itself is refused at once; were
// the walk unbounded, the open would never return, so it runs in a child
// process under an alarm that says so.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "msg/catalog.h"
#include "msg/catalog_format.h"

namespace fmt = ksi_catfmt;

namespace {

// A header and one invalid set record whose next record is itself.
std::string looping_catalog() {
  std::string d(fmt::kHeaderSize + fmt::kSetSize, '\0');
  auto *p = reinterpret_cast<unsigned char *>(d.data());
  std::copy(std::begin(fmt::kMagic), std::end(fmt::kMagic), d.begin());
  fmt::put32(p + fmt::kHeaderMajor, fmt::kMajorVersion);
  fmt::put32(p + fmt::kHeaderSetCount, 1);
  fmt::put64(p + fmt::kHeaderFirstSet, fmt::kHeaderSize);
  unsigned char *set = p + fmt::kHeaderSize;
  fmt::put32(set + fmt::kSetNumber, 1);
  fmt::put64(set + fmt::kSetNext, fmt::kHeaderSize);
  fmt::put32(set + fmt::kSetInvalid, 1);
  return d;
}

void open_looping_catalog(const std::string &path) {
  signal(SIGALRM, [](int) {
    static const char text[] = "the set chain was walked without end\n";
    (void)!write(2, text, sizeof text - 1);
    _exit(3);
  });
  alarm(10);
  ksi_catalog_t *cat = ksi_catalog_open(path.c_str(), 0);
  std::fprintf(stderr, "open returned %s\n", cat == nullptr ? "null" : "a catalog");
  std::exit(cat == nullptr ? 0 : 1);
}

TEST(CatalogLimits, SetChainLoopingOnItselfIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  char path[] = "/tmp/catalog_loop_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string data = looping_catalog();
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fd);
  EXPECT_EXIT(open_looping_catalog(path), testing::ExitedWithCode(0),
              "corrupt file.\nopen returned null\n");
  unlink(path);
}

}  // namespace
