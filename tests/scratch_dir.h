// A scratch directory under /tmp for one test, removed with everything in
// it when the object goes (also after a failed assertion), and whole-file
// reads and writes for the tests that fill it.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

// The whole content of a file, "" when it cannot be read.
inline std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Replaces the file's content (creating it) and sets its mode.
inline void spit(const std::string &path, const std::string &content,
                 mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  chmod(path.c_str(), mode);
}

class ScratchDir {
 public:
  // prefix names the directory in /tmp, so a leftover one says whose it is.
  explicit ScratchDir(std::string prefix) {
    for (char &c : prefix)
      if (c == '/') c = '_';  // parameterised suites are named "P/Suite"
    std::string tmpl = "/tmp/" + prefix + "_XXXXXX";
    dir_ = mkdtemp(tmpl.data()) != nullptr ? tmpl : "";
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  ~ScratchDir() {
    if (dir_.empty()) return;
    // Entries a test made unreadable must not survive the removal.
    const int rc = system(
        ("chmod -R u+rwx '" + dir_ + "' 2>/dev/null; rm -rf '" + dir_ + "'")
            .c_str());
    (void)rc;
  }

  const std::string &dir() const { return dir_; }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// A fixture whose tests each get a scratch directory named after their
// test suite: dir_ and path(name) inside it.
class ScratchTest : public ::testing::Test {
 protected:
  std::string path(const std::string &name) const {
    return scratch_.path(name);
  }

  ScratchDir scratch_{::testing::UnitTest::GetInstance()
                          ->current_test_info()
                          ->test_suite_name()};
  const std::string dir_ = scratch_.dir();
};
