// The watcher thread: waits in poll on the wake descriptor and every
// announced child's pidfd, and reports a child that ended by sending its
// pidfd over the tracker's loopback socket, where the event loop's read
// handler takes it. It reports one death at a time: it waits again only
// after the loop has removed the child from the wait set, so a pidfd is
// never reported twice.

#include <orvexks/pfm.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <vector>

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

void copy_wait_set(std::vector<pollfd> *fds) {
  pthread_mutex_lock(&mortician.section);
  fds->resize(static_cast<size_t>(mortician.count));
  for (int i = 0; i < mortician.count; ++i)
    (*fds)[static_cast<size_t>(i)] = {mortician.wait_handles[i], POLLIN, 0};
  pthread_mutex_unlock(&mortician.section);
}

void report(int64_t pidfd) {
  pthread_mutex_lock(&mortician.section);
  PFM_ASSERT(send(mortician.sock, &pidfd, sizeof pidfd, 0) == sizeof pidfd);
  pthread_mutex_unlock(&mortician.section);
}

void *watch(void *) {
  std::vector<pollfd> fds;
  for (;;) {
    copy_wait_set(&fds);
    int ready = poll(fds.data(), fds.size(), -1);
    if (stopping.load()) return nullptr;
    if (ready < 0) {
      if (errno == EINTR) continue;
      imsg_print(IMSG_ERROR, &ksi_rt_proc_msgs, KSI_RT_PROC_WAIT_FAILED,
                 static_cast<long>(errno));
      pfm_assert_fail("FALSE", __FILE__, __LINE__);
    }
    if (fds[0].revents != 0) {
      take_signal(fds[0].fd);
      continue;
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      report(fds[i].fd);
      take_signal(mortician.resume);
      if (stopping.load()) return nullptr;
      break;
    }
  }
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
