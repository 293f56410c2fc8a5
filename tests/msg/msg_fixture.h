// What the message tests share: scratch paths a test and its re-executed
// child agree on, whole-file reads, a runner that gives a body a fresh
// process (message state read from the environment on first use starts
// from nothing there), and writers that keep what they receive.
#pragma once

#include <orvexks/imsg.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace msg_test {

// A scratch path shared by a test and its re-executed child: the parent's
// pid travels in the environment.
inline std::string temp_path(const std::string &name) {
  if (std::getenv("MSG_TEST_PARENT_PID") == nullptr)
    setenv("MSG_TEST_PARENT_PID", std::to_string(getpid()).c_str(), 1);
  return std::string(::testing::TempDir()) + "msg_test_" + name + "_" +
         std::getenv("MSG_TEST_PARENT_PID");
}

inline std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

using env_list = std::vector<std::pair<const char *, std::string>>;

// What a child wrote to its standard output and error, and what its body
// returned (for a body that returns text).
struct child_run {
  std::string out, err, report;
};

// Runs body in a fresh child with `env` set, `input` as its standard input
// (a pipe) and standard output and error in files. The child must exit 0:
// a body ends it with another status to fail the test.
template <typename Body>
child_run in_child(const env_list &env, Body body,
                   const std::string &input = "") {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string out_path = temp_path("out"), err_path = temp_path("err"),
                    report_path = temp_path("report");
  EXPECT_EXIT(
      {
        for (const auto &[name, value] : env) setenv(name, value.c_str(), 1);
        int in[2];
        if (pipe(in) != 0 || write(in[1], input.data(), input.size()) !=
                                 static_cast<ssize_t>(input.size()))
          _exit(3);
        close(in[1]);
        dup2(in[0], 0);
        std::fflush(nullptr);  // the test program's own output stays out
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        if constexpr (std::is_void_v<decltype(body())>)
          body();
        else
          std::ofstream(report_path) << body();
        std::fflush(nullptr);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  child_run run{slurp(out_path), slurp(err_path), slurp(report_path)};
  for (const std::string &path : {out_path, err_path, report_path})
    unlink(path.c_str());
  return run;
}

// A writer that keeps every text it receives.
inline void collect(void *arg, const char *text) {
  static_cast<std::vector<std::string> *>(arg)->push_back(text);
}

// Restores plain console delivery after a test that redirected it.
struct console_again {
  ~console_again() {
    imsg_writer_t none[IMSG_REDIRECT_SLOTS];
    for (imsg_writer_t &w : none) w = imsg_console_writer;
    imsg_set_redirect_procs(none, IMSG_REDIRECT_SLOTS, nullptr);
    imsg_redirect_output(imsg_console_writer, nullptr, imsg_console_writer,
                         nullptr);
    imsg_suppress_prefix(0);
  }
};

}  // namespace msg_test
