// Child process tracking with real children: deaths reported once each
// with their exit codes on the loop thread, children started in bursts
// while others die, nothing left unreaped, disown and killall, the process
// utilities, and the watcher at process exit.
#include <gtest/gtest.h>

#include <orvexks/ks_product.h>
#include <orvexks/rt.h>
#include <orvexks/rt_proc.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// This C library's header lacks C++ linkage.
extern "C" {
#include <sys/pidfd.h>
}

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>

extern char **environ;

namespace {

// Starts `sh -c script` and announces it; returns its pid.
uint32_t start(const char *script, rt_proc_callback_t cb, void *arg) {
  pid_t pid;
  char sh[] = "/bin/sh", dash_c[] = "-c";
  char *argv[] = {sh, dash_c, const_cast<char *>(script), nullptr};
  // Only the standard descriptors: a child holding the test's pipes would
  // keep a death test waiting for it.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  EXPECT_EQ(posix_spawn(&pid, sh, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int pidfd = pidfd_open(pid, 0);
  EXPECT_GE(pidfd, 0);
  EXPECT_EQ(
      rt_proc_birth_announcement(static_cast<uint32_t>(pid), pidfd, cb, arg),
      0);
  return static_cast<uint32_t>(pid);
}

// Deaths seen by the callback: pid -> exit codes (one each, if right).
std::map<uint32_t, std::string> deaths;
size_t awaited;

void record_death(uint32_t pid, uint32_t code, void *, void *record) {
  EXPECT_NE(record, nullptr);
  deaths[pid] += std::to_string(code) + ";";
  if (deaths.size() == awaited) rt_shutdown();
}

// Runs the loop until `count` deaths were seen; false after 30 seconds.
bool run_until(size_t count) {
  static bool timed_out;
  timed_out = false;
  awaited = count;
  if (deaths.size() >= count) return true;
  rt_event *watchdog = rt_sched_mt(
      [](void *) {
        timed_out = true;
        rt_shutdown();
      },
      nullptr, 30);
  rt_run();
  if (rt_unsched_mt(watchdog, 1) == 4) rt_free_event(watchdog);
  return !timed_out;
}

// True when every child of this process has been reaped.
bool none_left_to_reap() {
  errno = 0;
  return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

class RtProc : public testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ks_system_init();
    ASSERT_EQ(rt_proc_initialize(), 0);
    deaths.clear();
  }
};

std::map<uint32_t, std::string> expected;
int started;

// Starts 20 children per tick from a timer until 200 are running or
// dead: exits with varied codes, and sleeps killed with SIGKILL.
void start_burst(void *) {
  for (int i = 0; i < 20; ++i, ++started) {
    if (started % 4 == 3) {
      uint32_t pid = start("exec sleep 30", record_death, nullptr);
      EXPECT_EQ(rt_proc_alive(pid), 1);
      EXPECT_EQ(procutl_terminate(pid), 0);
      expected[pid] = "137;";
    } else {
      std::string script = "exit " + std::to_string(started % 7);
      uint32_t pid = start(script.c_str(), record_death, nullptr);
      expected[pid] = std::to_string(started % 7) + ";";
    }
  }
  if (started < 200) {
    timeval soon = {0, 5000};
    rt_sched_rel(start_burst, nullptr, &soon);
  }
}

TEST_F(RtProc, TwoHundredChildrenInBurstsEachReportedOnceWithItsCode) {
  expected.clear();
  started = 0;
  rt_sched(start_burst, nullptr, 0);
  ASSERT_TRUE(run_until(200)) << deaths.size() << " deaths seen";
  EXPECT_EQ(deaths, expected);
  EXPECT_EQ(rt_proc_any_procs(), 0);
  EXPECT_TRUE(none_left_to_reap());
}

TEST_F(RtProc, DisownKillallAndSilentChildren) {
  EXPECT_EQ(rt_proc_killall(), -1);
  EXPECT_EQ(rt_proc_disown(12345678), -1);
  uint32_t silent = start("exit 5", nullptr, nullptr);
  uint32_t disowned = start("exec sleep 30", record_death, nullptr);
  uint32_t a = start("exec sleep 30", record_death, nullptr);
  uint32_t b = start("exec sleep 30", record_death, nullptr);
  EXPECT_EQ(rt_proc_disown(disowned), 0);
  EXPECT_EQ(rt_proc_any_procs(), 1);
  EXPECT_EQ(rt_proc_killall(), 0);
  // Records go when the deaths arrive, on the loop.
  EXPECT_EQ(rt_proc_alive(a), 1);
  ASSERT_TRUE(run_until(2));
  EXPECT_EQ(deaths,
            (std::map<uint32_t, std::string>{{a, "137;"}, {b, "137;"}}));
  // The silent and disowned children are reaped without a callback.
  for (int i = 0; i < 100 && rt_proc_any_procs(); ++i) {
    usleep(10000);
    rt_poll();
  }
  EXPECT_EQ(rt_proc_any_procs(), 0);
  EXPECT_EQ(rt_proc_alive(silent), 0);
  EXPECT_EQ(rt_proc_alive(disowned), 0);
  EXPECT_TRUE(none_left_to_reap());
}

TEST_F(RtProc, ProcessUtilities) {
  EXPECT_EQ(procutl_exists(static_cast<uint32_t>(getpid())), 1);
  EXPECT_EQ(procutl_exists(1), 1);  // init: exists even when not ours
  // 0 and numbers that kill() reads as groups are no process.
  EXPECT_EQ(procutl_exists(0), 0);
  EXPECT_EQ(procutl_exists(0xFFFFFFFFu), 0);
  EXPECT_EQ(procutl_terminate(0), 1);
  uint32_t pid = start("exit 0", record_death, nullptr);
  ASSERT_TRUE(run_until(1));
  EXPECT_EQ(procutl_exists(pid), 0);
  EXPECT_EQ(procutl_terminate(pid), 1);
}

TEST_F(RtProc, WatcherEndsCleanlyAtExit) {
  // At exit the watcher may be waiting on children, or holding a death the
  // loop never took: the process still ends with its own code.
  EXPECT_EXIT(
      {
        start("exec sleep 3 >/dev/null 2>&1", nullptr, nullptr);
        start("exit 1", nullptr, nullptr);
        usleep(50000);
        exit(7);
      },
      testing::ExitedWithCode(7), "");
}

}  // namespace
