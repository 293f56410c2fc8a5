// The command history against a real host-data directory: the marker file
// switches it on, lines have the documented form, concurrent processes
// never mix their lines, and the traced application name is logged.
#include <gtest/gtest.h>

#include <orvexks/clp.h>
#include <orvexks/imsg.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

class ClpHistory : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new ScratchDir("clp_history");
    for (const char *dir : {"hd", "hd/var", "hd/var/config", "hd/var/log"})
      mkdir(scratch_->path(dir).c_str(), 0755);
    spit(scratch_->path("registry.ini"),
         "[params]\n16=" + scratch_->path("hd") + "\n");
    setenv("ORVEX_REGISTRY", scratch_->path("registry.ini").c_str(), 1);
  }
  static void TearDownTestSuite() {
    unsetenv("ORVEX_REGISTRY");
    delete scratch_;
  }
  void SetUp() override { remove(history().c_str()); }
  void TearDown() override { remove(marker().c_str()); }

  static std::string history() {
    return scratch_->path("hd/var/log/quillmere_history");
  }
  static std::string marker() {
    return scratch_->path("hd/var/config/collect_history");
  }
  static void collect() { spit(marker(), ""); }

  static std::vector<std::string> lines() {
    std::ifstream in(history());
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);) all.push_back(line);
    return all;
  }

  static ScratchDir *scratch_;
};

ScratchDir *ClpHistory::scratch_ = nullptr;

// The length of a leading "Y:m:d:H:M:S.mmm " stamp, or 0.
size_t stamp_length(const std::string &line) {
  static const char kShape[] = "dddd:dd:dd:dd:dd:dd.ddd ";
  for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
    if (i >= line.size()) return 0;
    const bool ok = kShape[i] == 'd'
                        ? isdigit(static_cast<unsigned char>(line[i])) != 0
                        : line[i] == kShape[i];
    if (!ok) return 0;
  }
  return sizeof kShape - 1;
}

// A command line: the stamp, "(uid=1-5-21-...) (pid=N) ", then the text
// (into *rest); false when the line has another form.
bool parse_line(const std::string &line, int *pid, std::string *rest) {
  size_t at = stamp_length(line);
  if (at == 0 || line.compare(at, 12, "(uid=1-5-21-") != 0) return false;
  at = line.find(") (pid=", at);
  if (at == std::string::npos) return false;
  size_t end = 0;
  *pid = std::stoi(line.substr(at + 7), &end);
  if (line.compare(at + 7 + end, 2, ") ") != 0) return false;
  *rest = line.substr(at + 9 + end);
  return true;
}

std::vector<char *> argv_of(std::vector<std::string> &words) {
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  return argv;
}

TEST_F(ClpHistory, WithoutTheMarkerOnlyTheCommandTextIsKept) {
  EXPECT_STREQ(clp_get_command(), "No command");
  std::vector<std::string> words = {"prog", "a", "b c"};
  std::vector<char *> argv = argv_of(words);
  clp_log_cl_args("tool", 3, argv.data(), nullptr);
  EXPECT_STREQ(clp_get_command(), "tool 'a' 'b c'");
  struct stat st;
  EXPECT_NE(stat(history().c_str(), &st), 0);
}

TEST_F(ClpHistory, CommandTextStopsAtWholeArgumentsWithin256Bytes) {
  std::vector<std::string> words = {"prog", std::string(120, 'a'),
                                    std::string(120, 'b'),
                                    std::string(10, 'c')};
  std::vector<char *> argv = argv_of(words);
  clp_log_cl_args("t", 4, argv.data(), nullptr);
  const std::string expected = "t '" + words[1] + "' '" + words[2] + "'";
  EXPECT_EQ(std::string(clp_get_command()),
            expected);  // 'ccc...' would pass 256
}

TEST_F(ClpHistory, OneLineOfTheDocumentedForm) {
  collect();
  std::vector<std::string> words = {"prog", "-c", "x y"};
  std::vector<char *> argv = argv_of(words);
  clp_log_cl_args("tool", 3, argv.data(), "2 s");
  static const clp_flag_t kNoFlags[] = {{nullptr, 0, 0}};
  clp_hdl_t *h = clp_create_hdl_using_string("mk -l", kNoFlags, STG_AREA_NULL);
  clp_log_command("mk", h, nullptr);
  clp_destroy_hdl(&h);
  const std::vector<std::string> all = lines();
  ASSERT_EQ(all.size(), 2u);
  int pid = 0;
  std::string rest;
  ASSERT_TRUE(parse_line(all[0], &pid, &rest)) << all[0];
  EXPECT_EQ(pid, getpid());
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(rest, std::string("tool '-c' 'x y' in ") + cwd + " took 2 s ");
  ASSERT_TRUE(parse_line(all[1], &pid, &rest)) << all[1];
  EXPECT_EQ(rest, std::string("mk 'mk' '-l' in ") + cwd + " ");  // every word
}

TEST_F(ClpHistory, ElapsedTimeOnlyForTheMainTools) {
  collect();
  struct timeval start;
  clp_get_starttime(&start);
  std::vector<std::string> words = {"qmtool", "ls"};
  std::vector<char *> argv = argv_of(words);
  imsg_set_app_name("other");
  clp_exit_log_args(2, argv.data(), &start);
  EXPECT_TRUE(lines().empty());
  for (const char *app : {"qmtool", "qmmulti", "qmmake_x"}) {
    imsg_set_app_name(app);
    clp_exit_log_args(2, argv.data(), &start);
  }
  imsg_set_app_name(nullptr);
  const std::vector<std::string> all = lines();
  ASSERT_EQ(all.size(), 3u);
  int pid = 0;
  std::string rest;
  ASSERT_TRUE(parse_line(all[2], &pid, &rest)) << all[2];
  EXPECT_EQ(rest.rfind("qmmake_x 'ls' in ", 0), 0u) << rest;
  const size_t took = rest.find(" took  0.");  // " %f s": a blank of its own
  ASSERT_NE(took, std::string::npos) << rest;
  EXPECT_EQ(rest.size() - took, 18u) << rest;  // " took  0.dddddd s "
}

TEST_F(ClpHistory, CollectedData) {
  collect();
  clp_collectdatas("phase", "checkout");
  clp_collectdatai("files", 42);
  clp_collectdatai("none", 0);
  const std::vector<std::string> all = lines();
  ASSERT_EQ(all.size(), 3u);
  const char *const expected[] = {"phase 'checkout': /",
                                  "files 'files                   42': /",
                                  "none 'none': /"};
  for (int i = 0; i < 3; ++i) {
    const size_t at = stamp_length(all[i]);
    ASSERT_NE(at, 0u) << all[i];
    EXPECT_EQ(all[i].compare(at, std::strlen(expected[i]), expected[i]), 0)
        << all[i];
  }
}

TEST_F(ClpHistory, ConcurrentProcessesWriteWholeLines) {
  collect();
  constexpr int kProcesses = 6, kLines = 150;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    if (pid == 0) {
      std::vector<std::string> words = {"prog",
                                        std::string(200, char('a' + p))};
      std::vector<char *> argv = argv_of(words);
      for (int i = 0; i < kLines; ++i)
        clp_log_cl_args("writer", 2, argv.data(), nullptr);
      _exit(0);
    }
    ASSERT_GT(pid, 0);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
  }
  const std::vector<std::string> all = lines();
  ASSERT_EQ(all.size(), static_cast<size_t>(kProcesses * kLines));
  for (const std::string &line : all) {
    int pid = 0;
    std::string rest;
    ASSERT_TRUE(parse_line(line, &pid, &rest)) << line;
    ASSERT_EQ(rest.substr(0, 8), "writer '");
    const char letter = rest[8];
    EXPECT_EQ(rest.substr(8, 200), std::string(200, letter));
    EXPECT_EQ(rest.substr(208, 5), "' in ");
  }
}

TEST_F(ClpHistory, TracedApplicationNameIsLogged) {
  collect();
  imsg_set_trace_subsys("ks/imsg");
  imsg_set_trace_verbosity(1);
  imsg_set_app_name("c:\\bin\\qmtool.exe");
  imsg_set_trace_verbosity(0);
  EXPECT_STREQ(clp_get_command(), "qmtool");
  const std::vector<std::string> all = lines();
  ASSERT_EQ(all.size(), 1u);
  int pid = 0;
  std::string rest;
  ASSERT_TRUE(parse_line(all[0], &pid, &rest)) << all[0];
  EXPECT_EQ(rest.substr(0, 10), "qmtool in ");
  imsg_set_app_name("quiet");  // not traced: nothing more
  EXPECT_EQ(lines().size(), 1u);
  imsg_set_app_name(nullptr);
}

}  // namespace
