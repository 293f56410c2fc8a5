// One child process: started with posix_spawn, so that a program that
// cannot be run is an error number in the parent and no forked copy of the
// caller ever runs; then watched through its pidfd and its output pipe
// with poll, with the listener's ticks as poll timeouts.

#include <orvexks/imsg.h>
#include <orvexnt/nt_env.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// This C library's header lacks C++ linkage.
extern "C" {
#include <sys/pidfd.h>
}

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "host/sysutl_internal.h"
#include "host/sysutl_msgs.h"
#include "proc/sysutl_invoke.h"

extern char **environ;

namespace {

// Without a pidfd the child's end is noticed by looking this often.
constexpr int kExitCheckMs = 100;
constexpr size_t kOutputBlock = 4096;
// Blocks read after the child ended: what a pipe can hold, and then some.
constexpr int kFinalReads = 64;

int64_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Captured output collected into lines; each line is one message.
struct Output {
  char buf[kOutputBlock];
  size_t held = 0;

  void print_line(size_t n) {
    buf[n] = '\0';
    imsg_print(IMSG_OK, &ksi_sysutl_msgs, KSI_SYSUTL_CHILD_OUTPUT, buf);
  }
  // Prints every complete line; a block that fills the buffer without a
  // newline is printed as it is.
  void flush_lines() {
    for (;;) {
      char *nl = static_cast<char *>(std::memchr(buf, '\n', held));
      if (nl == nullptr && held < sizeof buf - 1) return;
      const size_t n = nl != nullptr ? static_cast<size_t>(nl - buf) : held;
      const size_t used = nl != nullptr ? n + 1 : n;
      print_line(n);
      held -= used;
      std::memmove(buf, buf + used, held);
    }
  }
  void flush_all() {
    flush_lines();
    if (held > 0) print_line(held);
    held = 0;
  }
  // Reads what the pipe holds; false at its end or on an error.
  bool read_from(int fd) {
    const ssize_t got = read(fd, buf + held, sizeof buf - 1 - held);
    if (got < 0 && errno == EINTR) return true;
    if (got <= 0) return false;
    held += static_cast<size_t>(got);
    flush_lines();
    return true;
  }
};

// Reaps the child if it ended (flags WNOHANG: without waiting): true with
// *code set, false while it runs. An error (the child was reaped
// elsewhere) ends the wait with -1.
bool reaped(pid_t pid, int flags, int *code) {
  siginfo_t info;
  info.si_pid = 0;
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | flags) != 0) {
    if (errno == EINTR) return false;
    *code = -1;
    return true;
  }
  if (info.si_pid == 0) return false;
  *code = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
  return true;
}

}  // namespace

int ksi_child_start(const char *path, char *const argv[], bool capture,
                    ksi_child *child) {
  int pipe_fds[2] = {-1, -1};
  if (capture && pipe2(pipe_fds, O_CLOEXEC) != 0) return errno;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (capture) {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  }
  // The child starts with no signal blocked, whatever the calling thread
  // blocks.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  pid_t pid;
  qmthread_mutex_lock(&ksi_sysutl_mutex);
  // The environment is read while the child is made; no thread may change
  // it meanwhile.
  nt_environment_lock();
  const int rc = posix_spawn(&pid, path, &actions, &attr, argv, environ);
  nt_environment_unlock();
  qmthread_mutex_unlock(&ksi_sysutl_mutex);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (capture) close(pipe_fds[1]);
  if (rc != 0) {
    if (capture) close(pipe_fds[0]);
    return rc;
  }
  child->pid = pid;
  child->pidfd = pidfd_open(pid, 0);
  child->out_fd = pipe_fds[0];
  return 0;
}

int ksi_child_wait(ksi_child *child, const sysutl_listener_t *listener) {
  const bool ticks = listener != nullptr && listener->callback != nullptr &&
                     listener->interval > 0;
  int64_t next_tick = ticks ? now_ms() + listener->interval : 0;
  Output output;
  int code = -1;
  bool ended = false;
  while (!ended) {
    pollfd fds[2];
    nfds_t n = 0;
    if (child->pidfd >= 0) fds[n++] = {child->pidfd, POLLIN, 0};
    const nfds_t out_slot = n;
    if (child->out_fd >= 0) fds[n++] = {child->out_fd, POLLIN, 0};
    int timeout = child->pidfd >= 0 ? -1 : kExitCheckMs;
    if (ticks) {
      const int64_t left = next_tick - now_ms();
      const int until_tick = left <= 0        ? 0
                             : left < INT_MAX ? static_cast<int>(left)
                                              : INT_MAX;
      if (timeout < 0 || until_tick < timeout) timeout = until_tick;
    }
    if (poll(fds, n, timeout) < 0 && errno != EINTR) {
      // Nothing to watch with: wait for the end without output or ticks.
      while (!reaped(child->pid, 0, &code)) {
      }
      break;
    }
    if (child->out_fd >= 0 && fds[out_slot].revents != 0 &&
        !output.read_from(child->out_fd)) {
      close(child->out_fd);
      child->out_fd = -1;
    }
    if (ticks && now_ms() >= next_tick) {
      listener->callback(listener->arg, SYSUTL_LISTENER_TICK, 0);
      next_tick = now_ms() + listener->interval;
    }
    ended = reaped(child->pid, WNOHANG, &code);
  }
  const int saved = errno;
  // What the child wrote before it ended; a descendant that still holds
  // the pipe open is not waited for, nor read from without end.
  if (child->out_fd >= 0) {
    fcntl(child->out_fd, F_SETFL, O_NONBLOCK);
    for (int i = 0; i < kFinalReads && output.read_from(child->out_fd); ++i) {
    }
    close(child->out_fd);
  }
  output.flush_all();
  if (child->pidfd >= 0) close(child->pidfd);
  errno = saved;
  return code;
}
