// A private system rpcbind for the tests of one program.
//
// The fixture takes an exclusive flock on /tmp/orvex-rpcbind.lock, so two
// test programs (of this worktree or another) never share or kill each
// other's rpcbind, starts "rpcbind -f -w" in the background (its pid is
// known), waits until port 111 answers, and on teardown kills exactly that
// pid, reaps it and releases the lock. Without root, or without rpcbind,
// every test of the suite skips with a message.
//
// Programs that use it are named *_rpcbind_test; tests/CMakeLists.txt gives
// them the CTest RESOURCE_LOCK "rpcbind".
//
// Use: class MyTest : public RpcbindFixture {}; or call RpcbindFixture's
// static SetUpTestSuite/TearDownTestSuite from a suite of your own.
// Tests unset every registration they make.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

class RpcbindFixture : public ::testing::Test {
 public:
  static constexpr const char *kRpcbindPath = "/usr/sbin/rpcbind";
  static constexpr const char *kLockPath = "/tmp/orvex-rpcbind.lock";

  static void SetUpTestSuite() {
    skip_reason() = "";
    if (geteuid() != 0) {
      skip_reason() = "rpcbind tests need root";
      return;
    }
    if (access(kRpcbindPath, X_OK) != 0) {
      skip_reason() = "rpcbind is not installed";
      return;
    }
    lock_fd() = open(kLockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock_fd() < 0 || flock(lock_fd(), LOCK_EX) != 0) {
      skip_reason() =
          std::string("cannot lock ") + kLockPath + ": " + strerror(errno);
      return;
    }
    // A port mapper that is already up (not ours) would answer for us and
    // keep the port; refuse to run against it.
    if (port_answers()) {
      skip_reason() = "another port mapper already listens on port 111";
      return;
    }
    // posix_spawn, not fork: a forked child of a threaded test program may
    // not run instrumented code under the thread sanitizer.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    char name[] = "rpcbind", foreground[] = "-f", warm[] = "-w";
    char *argv[] = {name, foreground, warm, nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, kRpcbindPath, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      skip_reason() = std::string("cannot start rpcbind: ") + strerror(rc);
      return;
    }
    rpcbind_pid() = pid;
    // Bounded wait: 10 seconds in 20 ms steps.
    for (int i = 0; i < 500; i++) {
      if (port_answers()) return;
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        rpcbind_pid() = -1;
        skip_reason() = "rpcbind exited at start";
        return;
      }
      struct timespec step = {0, 20 * 1000 * 1000};
      nanosleep(&step, nullptr);
    }
    skip_reason() = "rpcbind did not answer on port 111";
  }

  static void TearDownTestSuite() {
    if (rpcbind_pid() > 0) {
      kill(rpcbind_pid(), SIGTERM);
      int status;
      waitpid(rpcbind_pid(), &status, 0);
      rpcbind_pid() = -1;
    }
    if (lock_fd() >= 0) {
      flock(lock_fd(), LOCK_UN);
      close(lock_fd());
      lock_fd() = -1;
    }
  }

  static bool rpcbind_running() { return skip_reason().empty(); }

 protected:
  void SetUp() override {
    if (!rpcbind_running()) GTEST_SKIP() << skip_reason();
  }

 private:
  static bool port_answers() {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(111);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&sin), sizeof sin) == 0;
    close(s);
    return ok;
  }
  static std::string &skip_reason() {
    static std::string reason = "rpcbind fixture not set up";
    return reason;
  }
  static pid_t &rpcbind_pid() {
    static pid_t pid = -1;
    return pid;
  }
  static int &lock_fd() {
    static int fd = -1;
    return fd;
  }
};
