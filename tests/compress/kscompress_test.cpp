// The kscompress tool on real files in a scratch directory: what it
// writes, keeps and removes, and what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <orvexks/compress.h>
#include <orvexks/stg.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class KscompressTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kscompress_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }

  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  void put(const std::string &name, const std::string &data) const {
    std::ofstream(path(name), std::ios::binary) << data;
  }

  std::string get(const std::string &name) const {
    std::ostringstream s;
    s << std::ifstream(path(name), std::ios::binary).rdbuf();
    return s.str();
  }

  bool exists(const std::string &name) const {
    return access(path(name).c_str(), F_OK) == 0;
  }

  // Runs the tool in the scratch directory with standard input from the
  // file `in`; its exit status, standard output in *out and standard error
  // in *err.
  int run(const std::string &args, std::string *out = nullptr,
          std::string *err = nullptr,
          const std::string &in = "/dev/null") const {
    std::string cmd = "cd '" + dir_ + "' && " KSCOMPRESS_PATH " " + args +
                      " <'" + in + "' >.stdout 2>.stderr";
    const int status = std::system(cmd.c_str());
    if (out != nullptr) *out = get(".stdout");
    if (err != nullptr) *err = get(".stderr");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir_;
};

std::string sample(int n) {
  std::string s;
  for (int i = 0; i < n; ++i)
    s += "line " + std::to_string(i % 37) + " of the sample\n";
  return s;
}

std::string compressed(const std::string &data) {
  uint64_t len = 0;
  void *block = compress_compress(data.size(), data.data(), &len);
  std::string out(static_cast<char *>(block), len);
  stg_free(block);
  return out;
}

TEST_F(KscompressTest, CompressesAndRestoresInPlace) {
  const std::string data = sample(500);
  put("a.txt", data);
  chmod(path("a.txt").c_str(), 0640);
  ASSERT_EQ(run("a.txt"), 0);
  EXPECT_FALSE(exists("a.txt"));
  EXPECT_EQ(get("a.txt.ksz"), compressed(data));
  struct stat st;
  ASSERT_EQ(stat(path("a.txt.ksz").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_EQ(run("-d a.txt.ksz"), 0);
  EXPECT_FALSE(exists("a.txt.ksz"));
  EXPECT_EQ(get("a.txt"), data);

  // -k keeps the input; -c writes to standard output only.
  ASSERT_EQ(run("-k a.txt"), 0);
  EXPECT_EQ(get("a.txt"), data);
  std::string out;
  ASSERT_EQ(run("-dc a.txt.ksz", &out), 0);
  EXPECT_EQ(out, data);
  EXPECT_TRUE(exists("a.txt.ksz"));
}

TEST_F(KscompressTest, RefusesWithoutTouchingAnything) {
  put("a", "new data");
  put("a.ksz", "old block");
  std::string err;
  EXPECT_NE(run("a", nullptr, &err), 0);
  EXPECT_NE(err.find("a.ksz: already exists"), std::string::npos) << err;
  EXPECT_EQ(get("a"), "new data");
  EXPECT_EQ(get("a.ksz"), "old block");
  ASSERT_EQ(run("-f a"), 0);
  EXPECT_EQ(get("a.ksz"), compressed("new data"));
  EXPECT_FALSE(exists("a"));

  // A damaged block names its file and leaves it in place, with no output.
  std::string block = compressed(sample(100));
  put("cut.ksz", block.substr(0, block.size() / 2));
  EXPECT_NE(run("-d cut.ksz", nullptr, &err), 0);
  EXPECT_NE(err.find("cut.ksz: damaged"), std::string::npos) << err;
  EXPECT_TRUE(exists("cut.ksz"));
  EXPECT_FALSE(exists("cut"));

  // Names that do not fit the direction, and usage errors.
  EXPECT_NE(run("-d a", nullptr, &err), 0);
  EXPECT_NE(err.find("a: unknown suffix"), std::string::npos) << err;
  EXPECT_NE(run("a.ksz", nullptr, &err), 0);
  EXPECT_EQ(run("-x a", nullptr, &err), 2);
  EXPECT_NE(err.find("Usage: kscompress"), std::string::npos) << err;
}

TEST_F(KscompressTest, FiltersStandardInputToStandardOutput) {
  const std::string data = sample(300);
  put("in", data);
  std::string out;
  ASSERT_EQ(run("", &out, nullptr, "in"), 0);
  EXPECT_EQ(out, compressed(data));
  put("in.ksz", out);
  ASSERT_EQ(run("-d", &out, nullptr, "in.ksz"), 0);
  EXPECT_EQ(out, data);
  ASSERT_EQ(run("-d -", &out, nullptr, "in.ksz"), 0) << "- names stdin";
  EXPECT_EQ(out, data);
  ASSERT_EQ(run("", &out), 0) << "empty input";
  EXPECT_EQ(out, compressed(""));

  // A damaged stream is reported as stdin's, with nothing written.
  std::string err;
  put("cut.ksz", compressed(data).substr(0, 40));
  EXPECT_EQ(run("-d", &out, &err, "cut.ksz"), 1);
  EXPECT_NE(err.find("stdin: damaged"), std::string::npos) << err;
  EXPECT_EQ(out, "");
  EXPECT_TRUE(exists("in")) << "files are left alone";
}

TEST_F(KscompressTest, SeveralFilesGoOnPastAFailure) {
  put("one", sample(10));
  put("two", sample(20));
  std::string err;
  EXPECT_EQ(run("one missing two", nullptr, &err), 1);
  EXPECT_NE(err.find("missing: "), std::string::npos) << err;
  EXPECT_EQ(get("one.ksz"), compressed(sample(10)));
  EXPECT_EQ(get("two.ksz"), compressed(sample(20)));
  EXPECT_EQ(run("-d one.ksz two.ksz"), 0);
  EXPECT_EQ(get("two"), sample(20));
}

}  // namespace
