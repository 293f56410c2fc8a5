// The watcher thread: waits in poll on the wake descriptor and every
// announced child's pidfd, and reports a child that ended by sending its
// pidfd over the tracker's loopback socket, where the event loop's read
// handler takes it. It reports one death at a time: it waits again only
// after the loop has removed the child from the wait set, so a pidfd is
// never reported twice.

#include <orvexks/pfm.h>
#include <orvexks/stg.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>

#include "proc/rt_proc_internal.h"
#include "proc/rt_proc_msgs.h"

namespace {

pthread_t watcher;
pid_t watcher_process = 0;
std::atomic<bool> stopping{false};

void signal_descriptor(int fd) {
  uint64_t one = 1;
  ssize_t put = write(fd, &one, sizeof one);
  (void)put;  // a full counter is still signalled
}

void take_signal(int fd) {
  uint64_t count;
  while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

// The watcher's copy of the wait set: a plain array, as the frame that
// holds it reaches message output.
struct poll_set {
  pollfd *fds;
  int count;
  int capacity;
};

void copy_wait_set(poll_set *set) {
  pthread_mutex_lock(&mortician.section);
  if (set->capacity < mortician.capacity) {
    set->capacity = mortician.capacity;
    set->fds = static_cast<pollfd *>(stg_realloc(
        set->fds, sizeof(pollfd) * static_cast<size_t>(set->capacity)));
    PFM_ASSERT(set->fds != nullptr);
  }
  set->count = mortician.count;
  for (int i = 0; i < mortician.count; ++i)
    set->fds[i] = {mortician.wait_handles[i], POLLIN, 0};
  pthread_mutex_unlock(&mortician.section);
}

void report(int64_t pidfd) {
  pthread_mutex_lock(&mortician.section);
  KSI_RT_PROC_CHECK(
      send(mortician.sock, &pidfd, sizeof pidfd, 0) == sizeof pidfd,
      "send(mortician.sock, (char *) &handles[wait_result - WAIT_OBJECT_0], "
      "sizeof(HANDLE), 0) == sizeof(HANDLE)");
  pthread_mutex_unlock(&mortician.section);
}

void *watch(void *) {
  poll_set set = {nullptr, 0, 0};
  for (;;) {
    copy_wait_set(&set);
    int ready = poll(set.fds, static_cast<nfds_t>(set.count), -1);
    if (stopping.load()) break;
    if (ready < 0) {
      if (errno == EINTR) continue;
      imsg_print(IMSG_ERROR, &ksi_rt_proc_msgs, KSI_RT_PROC_WAIT_FAILED,
                 static_cast<long>(errno));
      pfm_assert_fail("FALSE", __FILE__, __LINE__);
    }
    if (set.fds[0].revents != 0) {
      take_signal(set.fds[0].fd);
      continue;
    }
    for (int i = 1; i < set.count; ++i) {
      if (set.fds[i].revents == 0) continue;
      report(set.fds[i].fd);
      take_signal(mortician.resume);
      break;
    }
    if (stopping.load()) break;
  }
  stg_free(set.fds);
  return nullptr;
}

// At exit the watcher is woken wherever it waits and joined, so it never
// runs while the process tears down. Only the process that started it
// does this: a forked child has no watcher.
void stop_watcher() {
  if (getpid() != watcher_process) return;
  stopping.store(true);
  signal_descriptor(mortician.wake);
  signal_descriptor(mortician.resume);
  pthread_join(watcher, nullptr);
}

}  // namespace

int ksi_rt_proc_start_watcher(void) {
  // Every signal blocked: the watcher never takes a process signal.
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  int err = pthread_create(&watcher, nullptr, watch, nullptr);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (err != 0) return err;
  watcher_process = getpid();
  atexit(stop_watcher);
  return 0;
}
