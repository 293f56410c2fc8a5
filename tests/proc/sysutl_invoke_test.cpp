// Starting real programs: exit codes and signals, start failures in the
// parent, captured output, listener ticks, program lookup with suffixes,
// the interpreter from COMSPEC, environment references, and the calls
// without a window.
#include <gtest/gtest.h>

#include <orvexks/sysutl.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "proc/sysutl_cmdline.h"
#include "scratch_dir.h"

namespace {

// An executable shell script named name in dir, holding body.
std::string script(const ScratchDir &dir, const std::string &name,
                   const std::string &body) {
  const std::string file = dir.path(name);
  spit(file, "#!/bin/sh\n" + body + "\n", 0755);
  return file;
}

void collect(void *arg, const char *text) {
  static_cast<std::string *>(arg)->append(text);
}

struct Calls {
  std::vector<int> phases;
  int end_status = -2;
};

void listen(void *arg, int phase, int status) {
  auto *calls = static_cast<Calls *>(arg);
  calls->phases.push_back(phase);
  if (phase == SYSUTL_LISTENER_END) calls->end_status = status;
}

TEST(SysutlInvoke, ExitCodesAndSignalsOfCommandLinesAndVectors) {
  EXPECT_EQ(sysutl_system_redirect("exit 3", nullptr), 3);
  EXPECT_EQ(sysutl_system_redirect(" \t exit 0 \t ", nullptr), 0);
  // A child ended by a signal answers 128 + the signal.
  EXPECT_EQ(sysutl_system_redirect("kill -9 $$", nullptr), 128 + 9);
  // Signals the calling thread blocks are not blocked in the child.
  sigset_t usr1, old;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &old);
  EXPECT_EQ(sysutl_system_redirect("kill -USR1 $$; exit 0", nullptr),
            128 + SIGUSR1);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  char sh[] = "sh", dash_c[] = "-c", body[] = "exit \"$0\"", arg[] = "5";
  char *argv[] = {sh, dash_c, body, arg, nullptr};
  EXPECT_EQ(sysutl_invokev_redirect("/bin/sh", argv, nullptr), 5);
  EXPECT_EQ(
      sysutl_invoke_general_redirect(SYSUTL_INVOKE_ARGV, "sh", argv, nullptr),
      5);
  EXPECT_EQ(sysutl_invoke_general_redirect(SYSUTL_INVOKE_CMDLINE, "exit 6",
                                           argv, nullptr),
            6);
  int err = 0;
  EXPECT_EQ(sysutl_invoke_general_redirect(7, "exit 0", argv, &err), -1);
  EXPECT_EQ(err, EINVAL);
  EXPECT_EQ(sysutl_system_no_window("exit 4"), 4);
}

TEST(SysutlInvoke, StartFailuresComeBackInTheParent) {
  ScratchDir dir("sysutl_invoke");
  const std::string plain = dir.path("not_a_program");
  spit(plain, "data\n");
  char name[] = "x";
  char *argv[] = {name, nullptr};
  Calls calls;
  const sysutl_listener_t listener = {listen, &calls, 0};
  int err = 0;
  EXPECT_EQ(sysutl_invoke_general_redirect_with_listener(
                SYSUTL_INVOKE_ARGV, dir.path("missing").c_str(), argv,
                &listener, &err),
            -1);
  EXPECT_EQ(err, ENOENT);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(calls.phases, (std::vector<int>{1, 3}));
  EXPECT_EQ(calls.end_status, -1);
  EXPECT_EQ(sysutl_invokev_redirect(plain.c_str(), argv, &err), -1);
  EXPECT_EQ(err, EACCES);
  // An interpreter that cannot be started is a start failure too.
  EXPECT_EQ(sysutl_invoke_no_window_no_wait(nullptr), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST(SysutlInvoke, OutputIsCapturedLineByLineForAWindow) {
  std::string got;
  imsg_redirect_output(collect, &got, collect, &got);
  const std::string long_line(5000, 'x');
  const std::string cmd =
      "printf 'one\\ntwo'; echo ' more' >&2; printf '" + long_line + "'";
  const int rc = sysutl_system_redirect(cmd.c_str(), nullptr);
  imsg_redirect_output(nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(rc, 0);
  // Both streams, in order; a line longer than a block is cut into two.
  EXPECT_NE(got.find("one\n"), std::string::npos) << got;
  EXPECT_NE(got.find("two more\n"), std::string::npos) << got;
  EXPECT_NE(got.find(std::string(4095, 'x') + "\n"), std::string::npos);
  EXPECT_NE(got.find("\n" + std::string(905, 'x') + "\n"), std::string::npos);
}

TEST(SysutlInvoke, ListenerTicksWhileTheChildRuns) {
  Calls calls;
  const sysutl_listener_t listener = {listen, &calls, 10};
  EXPECT_EQ(sysutl_system_redirect_with_listener("sleep 0.3; exit 2", &listener,
                                                 nullptr),
            2);
  ASSERT_GE(calls.phases.size(), 3u);
  EXPECT_EQ(calls.phases.front(), SYSUTL_LISTENER_START);
  EXPECT_EQ(calls.phases.back(), SYSUTL_LISTENER_END);
  for (size_t i = 1; i + 1 < calls.phases.size(); ++i)
    EXPECT_EQ(calls.phases[i], SYSUTL_LISTENER_TICK);
  EXPECT_EQ(calls.end_status, 2);
}

TEST(SysutlInvoke, ProgramsAreFoundWithAppendedSuffixes) {
  ScratchDir dir("sysutl_invoke");
  const std::string spaced = dir.path("with blank");
  mkdir(spaced.c_str(), 0755);
  script(dir, "tool.cmd", "exit 7");
  spit(spaced + "/prog.exe", "#!/bin/sh\nexit \"$1\"\n", 0755);
  const std::string old_path = getenv("PATH");
  setenv("PATH", (dir.dir() + ":" + old_path).c_str(), 1);
  char tool[] = "tool";
  char *argv[] = {tool, nullptr};
  EXPECT_EQ(sysutl_system_redirect("tool", nullptr), 7);
  EXPECT_EQ(sysutl_invokev_redirect("tool", argv, nullptr), 7);
  // A quoted first word with a blank, found with its suffix, stays one word.
  EXPECT_EQ(
      sysutl_system_redirect(("  \"" + spaced + "/prog\" 9").c_str(), nullptr),
      9);
  setenv("PATH", old_path.c_str(), 1);
  EXPECT_NE(sysutl_system_redirect("tool", nullptr), 7);
}

TEST(SysutlInvoke, EnvironmentReferencesAreExpanded) {
  setenv("SYSUTL_TEST_CODE", "42", 1);
  unsetenv("SYSUTL_TEST_UNSET");
  EXPECT_EQ(sysutl_system_redirect("exit %SYSUTL_TEST_CODE%", nullptr), 42);
  char out[64];
  const struct {
    const char *in, *out;
  } rows[] = {
      {"a%SYSUTL_TEST_CODE%b", "a42b"},
      {"%SYSUTL_TEST_UNSET%", "%SYSUTL_TEST_UNSET%"},
      // The '%' that closed an unknown name opens the next reference.
      {"%SYSUTL_TEST_UNSET%SYSUTL_TEST_CODE%", "%SYSUTL_TEST_UNSET42"},
      {"100%% %", "100%% %"},
      {"50% of %SYSUTL_TEST_CODE%", "50% of 42"},
  };
  for (const auto &row : rows) {
    ASSERT_TRUE(ksi_expand_env_refs(row.in, out, sizeof out)) << row.in;
    EXPECT_STREQ(out, row.out) << row.in;
  }
  EXPECT_FALSE(ksi_expand_env_refs("%SYSUTL_TEST_CODE%", out, 2));
  EXPECT_TRUE(ksi_expand_env_refs("%SYSUTL_TEST_CODE%", out, 3));
}

// Runs "exit 1" through the interpreter shell as COMSPEC names it; exits
// with 1 when the shell information does not name it.
void run_with_comspec(const std::string &shell) {
  setenv("COMSPEC", shell.c_str(), 1);
  char name[SYSUTL_PATH_SIZE], sw[SYSUTL_PATH_SIZE];
  sysutl_get_shell_info(nullptr, name, sw, 0);
  if (std::string(name) != "myshell" || std::string(sw) != "-c") std::exit(1);
  std::exit(sysutl_system_redirect("exit 1", nullptr));
}

TEST(SysutlInvoke, ComspecNamesTheInterpreter) {
  // The interpreter is chosen once per process: a fresh one makes it here.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScratchDir dir("sysutl_invoke");
  const std::string shell = script(
      dir, "myshell", "[ \"$1\" = -c ] && [ \"$2\" = 'exit 1' ] && exit 33");
  EXPECT_EXIT(run_with_comspec(shell), testing::ExitedWithCode(33), "");
  char path[SYSUTL_PATH_SIZE];
  sysutl_get_shell_info(path, nullptr, nullptr, 1);
  EXPECT_STREQ(path, "/bin/sh");
}

TEST(SysutlInvoke, NoWaitLeavesNoChildOfTheCaller) {
  ScratchDir dir("sysutl_invoke");
  const std::string mark = dir.path("mark");
  ASSERT_EQ(sysutl_invoke_no_window_no_wait(
                ("sleep 0.2; echo done > '" + mark + "'").c_str()),
            0);
  // Not the caller's child: nothing is left to reap.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  for (int i = 0; i < 500 && slurp(mark).empty(); ++i) usleep(20000);
  EXPECT_EQ(slurp(mark), "done\n");
}

}  // namespace
