// The loop itself: rt_run fires due timers and waits for descriptors in
// passes; rt_poll makes one pass without waiting. A pass waits through
// pfm_select_inhibited, so a raise posted to the attached thread (an
// interrupt) ends the wait and is delivered before the pass returns.

#include <orvexks/pfm.h>
#include <orvexks/rt.h>
#include <orvexks/stg.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "event/rt_internal.h"
#include "event/rt_msgs.h"
#include "thread/qmthread_internal.h"

namespace {

bool shutdown_requested KSI_GUARDED_BY(ksi_rt_mutex) = false;

// The select sets and the wake-up descriptor, made by the first pass of
// the attached thread and used only by it; the wake-up is written by any
// thread.
ksi_rt_sets sets;
std::atomic<int> wake_fd{-1};

void make_sets() {
  if (sets.read != nullptr) return;
  fd_set *made[4];
  for (fd_set *&set : made) {
    set = static_cast<fd_set *>(stg_malloc(sizeof(fd_set)));
    if (set == nullptr) {
      imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_MALLOC_FAILED, __FILE__,
                 __LINE__);
      pfm_panic(__FILE__, __LINE__);
    }
  }
  sets = {made[0], made[1], made[2], made[3]};
  // Without it the loop still works; only other threads' changes wait for
  // the current pass to end.
  int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd >= FD_SETSIZE) {
    close(fd);
    fd = -1;
  }
  wake_fd.store(fd, std::memory_order_release);
}

// Takes the wake-up out of the ready set; true when it was the only
// descriptor ready.
bool drain_wake(int ready) {
  int fd = wake_fd.load(std::memory_order_relaxed);
  if (fd < 0 || !FD_ISSET(fd, sets.read)) return false;
  FD_CLR(fd, sets.read);
  uint64_t count;
  ssize_t got = read(fd, &count, sizeof count);
  (void)got;
  return ready == 1;
}

// One pass. REQUIRES: the caller holds exactly one inhibit, which the pass
// gives back (a pending raise is delivered then).
void run_pass(struct timeval *timeout) KSI_EXCLUDES(ksi_rt_mutex) {
  make_sets();
  bool has_write = false;
  bool has_except = false;
  qmthread_mutex_lock(&ksi_rt_mutex);
  int nfds = ksi_rt_build_sets(sets, &has_write, &has_except);
  qmthread_mutex_unlock(&ksi_rt_mutex);
  int wake = wake_fd.load(std::memory_order_relaxed);
  if (wake >= 0) {
    FD_SET(wake, sets.read);
    if (wake >= nfds) nfds = wake + 1;
  }
  int ready =
      pfm_select_inhibited(nfds, sets.read, has_write ? sets.write : nullptr,
                           has_except ? sets.except : nullptr, timeout);
  int error = errno;
  if (ready > 0) {
    pfm_enable();
    if (!drain_wake(ready)) ksi_rt_dispatch(sets, nfds);
    return;
  }
  if (ready == 0 || error == EINTR) {
    pfm_enable();
    return;
  }
  errno = error;
  PFM_ASSERT(errno == EINTR);
}

// The loop runs on the attached thread with raises enabled: a pass waits
// holding exactly one inhibit.
void check_caller() {
  if (!ksi_is_attached_thread())
    pfm_assert_fail("QMTHREAD_IS_MAIN_THREAD()", __FILE__, __LINE__);
  PFM_ASSERT(pfm_inhibit_count() == 0);
}

}  // namespace

void ksi_rt_wake(void) {
  int fd = wake_fd.load(std::memory_order_acquire);
  if (fd < 0 || ksi_is_attached_thread()) return;
  uint64_t one = 1;
  ssize_t put = write(fd, &one, sizeof one);
  (void)put;  // a full counter already wakes the pass
}

extern "C" {

KS_API void rt_init(void) {}

KS_API void rt_run(void) {
  check_caller();
  struct timeval clock = {0, 0};
  for (;;) {
    pfm_inhibit();
    struct timeval wait;
    ksi_rt_due fired;
    qmthread_mutex_lock(&ksi_rt_mutex);
    if (shutdown_requested) {
      shutdown_requested = false;
      qmthread_mutex_unlock(&ksi_rt_mutex);
      pfm_enable();
      return;
    }
    bool queued = ksi_rt_timer_step(&clock, &wait, &fired);
    qmthread_mutex_unlock(&ksi_rt_mutex);
    if (fired.callback != nullptr) {
      pfm_enable();
      fired.callback(fired.arg);
    } else {
      run_pass(queued ? &wait : nullptr);
    }
  }
}

KS_API void rt_poll(void) {
  check_caller();
  pfm_inhibit();
  struct timeval zero = {0, 0};
  run_pass(&zero);
}

KS_API void rt_shutdown(void) {
  qmthread_mutex_lock(&ksi_rt_mutex);
  shutdown_requested = true;
  qmthread_mutex_unlock(&ksi_rt_mutex);
  ksi_rt_wake();
}

}  // extern "C"
