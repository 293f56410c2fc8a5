// Checksums, comparison, copying and mapping over real files in a
// temporary directory; the full file system is a small tmpfs mounted by
// the test when it runs as root.
#include <gtest/gtest.h>

#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "scratch_dir.h"

namespace {

std::string random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char &c : s) c = static_cast<char>(gen());
  return s;
}

std::vector<std::string> entries(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  while (const dirent *e = d != nullptr ? readdir(d) : nullptr)
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.push_back(e->d_name);
  if (d != nullptr) closedir(d);
  return names;
}

// Messages of the library, gathered while an instance lives; a hook may
// act on each one as it is printed.
class Messages {
 public:
  Messages() { imsg_redirect_output(collect, this, collect, this); }
  ~Messages() {
    imsg_redirect_output(imsg_console_writer, nullptr, imsg_console_writer,
                         nullptr);
  }
  std::vector<std::string> lines;
  std::function<void(const std::string &line)> hook;

 private:
  static void collect(void *arg, const char *text) {
    auto *self = static_cast<Messages *>(arg);
    self->lines.push_back(text);
    if (self->hook) self->hook(text);
  }
};

using FileutlCopy = ScratchTest;

uint32_t crc_of(const std::string &s) {
  uint32_t crc = 1;
  fileutl_crc_buffer(s.data(), s.size(), &crc);
  return crc;
}

TEST(FileutlCrc, ValuesWorkedOutByHand) {
  EXPECT_EQ(crc_of(""), 0u);
  EXPECT_EQ(crc_of(std::string(1, '\0')), 0x7FFFFFFFu);  // table entry 0
  EXPECT_EQ(crc_of("abc"), 0xB37F2436u);
  // The first zero index takes counter 0 (entry 0x7FFFFFFF); 0x7F then
  // meets the top byte 0x7F, a zero index again, which takes counter 1:
  // entry 1 (0x77073096) XOR 0x7FFFFFFF << 8.
  EXPECT_EQ(crc_of(std::string("\0\x7F", 2)), 0x77073096u ^ 0xFFFFFF00u);
  // The counter wraps from 255 to 0; entry 255 is 0x2D02EF8D.
  uint32_t counter = 255, crc = 0;
  const unsigned char zero = 0;
  fileutl_crc_buffer_step(&zero, 1, &counter, &crc);
  EXPECT_EQ(crc, 0x2D02EF8Du);
  EXPECT_EQ(counter, 0u);
}

TEST_F(FileutlCopy, ChecksumInStepsOfAFileAndOfADescriptorAgree) {
  // Runs of zero bytes exercise the counter across piece boundaries.
  std::string data = random_bytes(100000, 7) + std::string(600, '\0');
  uint32_t whole;
  fileutl_crc_buffer(data.data(), data.size(), &whole);
  for (size_t piece : {1u, 13u, 4096u, 8192u, 8193u}) {
    uint32_t counter = 0, crc = 0;
    for (size_t at = 0; at < data.size(); at += piece)
      fileutl_crc_buffer_step(
          data.data() + at, std::min(piece, data.size() - at), &counter, &crc);
    EXPECT_EQ(crc, whole) << "pieces of " << piece;
  }
  spit(path("f"), data);
  uint32_t crc = 0;
  int err = 0;
  ASSERT_EQ(fileutl_crc(path("f").c_str(), &crc, &err), 0);
  EXPECT_EQ(crc, whole);
  spit(path("empty"), "");
  uint64_t size = 99;
  FILE *f = std::fopen(path("empty").c_str(), "rb");
  ASSERT_EQ(fileutl_crc_fd(fileno(f), &crc, &size, &err), 0);
  std::fclose(f);
  EXPECT_EQ(crc, 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(fileutl_crc(path("missing").c_str(), &crc, &err), -4);
  EXPECT_EQ(err, ENOENT);
  EXPECT_EQ(fileutl_crc_fd(-1, &crc, &size, &err), -4);
  EXPECT_EQ(err, EBADF);
}

TEST_F(FileutlCopy, CompareEqualDifferentAndMissingFiles) {
  const std::string data = random_bytes(20000, 3);
  std::string changed = data;
  changed[12345] ^= 1;  // in the second block
  spit(path("a"), data);
  spit(path("b"), data);
  spit(path("c"), changed);
  spit(path("short"), data.substr(1));
  mkdir(path("sub").c_str(), 0755);
  struct Case {
    std::string a, b;
    int equal;
  } cases[] = {
      {path("a"), path("b"), 1},
      {path("a"), path("c"), 0},
      {path("a"), path("short"), 0},
      {path("a"), dir_ + "/sub/../a", 1},
  };
  for (const Case &c : cases) {
    int equal = -1;
    ASSERT_EQ(fileutl_cmp(c.a.c_str(), c.b.c_str(), 1, &equal), 0) << c.b;
    EXPECT_EQ(equal, c.equal) << c.b;
  }
  // A socket has a status but cannot be opened: both statuses are read
  // before either file is opened, so the missing file is what is reported.
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path("sock").c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  Messages messages;
  int equal = -1;
  EXPECT_EQ(fileutl_cmp(path("sock").c_str(), path("none").c_str(), 0, &equal),
            -1);
  EXPECT_EQ(errno, ENOENT);
  close(sock);
  EXPECT_EQ(fileutl_cmp(path("none").c_str(), path("a").c_str(), 1, &equal),
            -1);
  ASSERT_EQ(messages.lines.size(), 1u);
  EXPECT_NE(messages.lines[0].find(path("none") + ": "), std::string::npos);
  EXPECT_EQ(equal, -1);
}

TEST_F(FileutlCopy, CopyKeepsContentModeAndDescriptorAndLeavesNoTemporary) {
  const std::string data = random_bytes(300000, 11);
  spit(path("src"), data);
  chmod(path("src").c_str(), 0751);
  const char descriptor[] = "\x01\x00\x04\x80 descriptor bytes";
  const bool has_xattr = setxattr(path("src").c_str(), "user.orvex.ntsd",
                                  descriptor, sizeof descriptor, 0) == 0;
  spit(path("dst"), "old target");
  ASSERT_EQ(fileutl_cp(path("src").c_str(), path("dst").c_str(), 0), 0);
  EXPECT_EQ(slurp(path("dst")), data);
  struct stat st;
  ASSERT_EQ(stat(path("dst").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  if (has_xattr) {
    char got[64];
    EXPECT_EQ(getxattr(path("dst").c_str(), "user.orvex.ntsd", got, sizeof got),
              static_cast<ssize_t>(sizeof descriptor));
    EXPECT_EQ(std::memcmp(got, descriptor, sizeof descriptor), 0);
  }
  // A link is followed, or with flag 8 copied as a link.
  ASSERT_EQ(symlink("src", path("link").c_str()), 0);
  ASSERT_EQ(fileutl_cp(path("link").c_str(), path("as_file").c_str(), 0), 0);
  EXPECT_EQ(slurp(path("as_file")), data);
  ASSERT_EQ(fileutl_cp(path("link").c_str(), path("as_link").c_str(), 8), 0);
  char target[16] = {};
  EXPECT_EQ(readlink(path("as_link").c_str(), target, sizeof target - 1), 3);
  EXPECT_STREQ(target, "src");
  auto names = entries(dir_);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"as_file", "as_link", "dst",
                                             "link", "src"}));
  // A missing source: the walk's failure bits, errno and one message.
  Messages messages;
  EXPECT_EQ(fileutl_cp(path("none").c_str(), path("x").c_str(), 0), -4);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(fileutl_cp(path("none").c_str(), path("x").c_str(), 16), -4);
  EXPECT_EQ(messages.lines.size(), 1u);
}

TEST_F(FileutlCopy, DirectoriesAreCopiedWholeWithTheirModes) {
  for (const char *d : {"tree", "tree/sub", "tree/sub/deep", "tree/ro"})
    ASSERT_EQ(mkdir(path(d).c_str(), 0755), 0);
  spit(path("tree/a"), "a");
  spit(path("tree/sub/deep/b"), "b");
  spit(path("tree/ro/c"), "c");
  chmod(path("tree/ro").c_str(), 0555);  // its copy still gets its file
  ASSERT_EQ(symlink("a", path("tree/link").c_str()), 0);
  // Without the descend flag only the directory itself is made.
  ASSERT_EQ(fileutl_cp(path("tree").c_str(), path("top").c_str(), 0), 0);
  EXPECT_TRUE(entries(path("top")).empty());
  ASSERT_EQ(fileutl_cp(path("tree").c_str(), path("copy").c_str(), 2 | 8), 0);
  EXPECT_EQ(slurp(path("copy/a")), "a");
  EXPECT_EQ(slurp(path("copy/sub/deep/b")), "b");
  EXPECT_EQ(slurp(path("copy/ro/c")), "c");
  struct stat st;
  ASSERT_EQ(stat(path("copy/ro").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0555u);
  ASSERT_EQ(lstat(path("copy/link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // Following links, the link becomes a file. An entry that cannot be
  // copied (a directory in the way of a file) fails the copy; the rest
  // is still copied.
  ASSERT_EQ(mkdir(path("again").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("again/a").c_str(), 0755), 0);
  Messages messages;
  EXPECT_EQ(fileutl_cp(path("tree").c_str(), path("again").c_str(), 2), -4);
  EXPECT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(slurp(path("again/link")), "a");
  EXPECT_EQ(slurp(path("again/sub/deep/b")), "b");
}

TEST_F(FileutlCopy, ProgressLinesRiseToOneHundredForEachFile) {
  spit(path("big"), random_bytes(1 << 20, 5));
  spit(path("empty"), "");
  Messages messages;
  ASSERT_EQ(
      fileutl_copy_with_progress(path("big").c_str(), path("big2").c_str(), 0),
      0);
  ASSERT_EQ(fileutl_copy_with_progress(path("empty").c_str(),
                                       path("empty2").c_str(), 0),
            0);
  ASSERT_GE(messages.lines.size(), 4u);
  const std::string prefix = path("big") + " copy ";
  double last = -1;
  for (size_t i = 0; i + 1 < messages.lines.size(); ++i) {
    const std::string &line = messages.lines[i];
    ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
    const double percent = std::atof(line.c_str() + prefix.size());
    EXPECT_GT(percent, last) << line;
    last = percent;
  }
  EXPECT_EQ(messages.lines[messages.lines.size() - 2],
            prefix + "100% complete.\n");
  EXPECT_EQ(messages.lines.back(), path("empty") + " copy 100% complete.\n");
  EXPECT_EQ(slurp(path("big2")), slurp(path("big")));
}

// The source grows or shrinks when the first progress line comes, while
// it is being copied.
TEST_F(FileutlCopy, SourceChangingSizeLeavesTheTargetAlone) {
  std::string src = path("src");
  for (off_t size : {(1 << 20) + 4, 1000}) {
    spit(src, random_bytes(1 << 20, 9));
    spit(path("dst"), "old target");
    Messages messages;
    messages.hook = [&](const std::string &line) {
      if (line.find(" copy ") != std::string::npos) {
        EXPECT_EQ(truncate(src.c_str(), size), 0);
      }
    };
    EXPECT_EQ(fileutl_copy_with_progress(src.c_str(), path("dst").c_str(), 0),
              -4);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(messages.lines.back(), "noname: Error: File \"" + src +
                                         "\" changed size during read.\n");
    EXPECT_EQ(slurp(path("dst")), "old target");
    EXPECT_EQ(entries(dir_).size(), 2u);
  }
}

TEST_F(FileutlCopy, FullFileSystemLeavesNothingHalfWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const std::string mnt = path("mnt");
  ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
  if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  spit(path("src"), random_bytes(1 << 20, 1));
  spit(mnt + "/dst", "old target");
  Messages messages;
  EXPECT_EQ(fileutl_cp(path("src").c_str(), (mnt + "/dst").c_str(), 0), -4);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(slurp(mnt + "/dst"), "old target");
  EXPECT_EQ(entries(mnt), std::vector<std::string>{"dst"});
  EXPECT_EQ(umount(mnt.c_str()), 0);
}

TEST_F(FileutlCopy, MappedFilesAndTheirRelease) {
  const std::string data = random_bytes(10000, 4);
  spit(path("f"), data);
  spit(path("empty"), "");
  uint64_t size = 0;
  const void *whole = fileutl_locate_pname(path("f").c_str(), 0, &size);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(std::memcmp(whole, data.data(), data.size()), 0);
  // A length past the end maps only what exists; a shorter one is kept.
  const void *capped = fileutl_locate_pname(path("f").c_str(), 1 << 20, &size);
  EXPECT_EQ(size, data.size());
  const void *part = fileutl_locate_pname(path("f").c_str(), 100, &size);
  EXPECT_EQ(size, 100u);
  const void *empty = fileutl_locate_pname(path("empty").c_str(), 0, &size);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(fileutl_locate_pname(path("none").c_str(), 0, &size), nullptr);
  EXPECT_EQ(errno, ENOENT);
  for (const void *handle : {whole, capped, part, empty})
    EXPECT_EQ(fileutl_unlocate(handle), 0);
  EXPECT_EQ(fileutl_unlocate(whole), -1);
  EXPECT_EQ(errno, EINVAL);
  // Threads mapping and releasing at once share the list of mappings.
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        const void *h = fileutl_locate_pname(path("f").c_str(), 0, nullptr);
        if (h == nullptr || fileutl_unlocate(h) != 0) ++failures;
      }
    });
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
