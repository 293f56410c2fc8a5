// The event loop's state shared by its sources: the rt mutex, the timer
// queue's step for rt_run, the handler lists' select sets and dispatch, and
// the loop's wake-up.
#pragma once

#include <orvexks/qmthread.h>
#include <orvexks/rt.h>

#include "internal/thread_safety.h"

// Guards the timer queue, the event free list, the handler lists and the
// loop's flags. Raise mode: holding it holds off asynchronous raises.
extern qmthread_mutex_t ksi_rt_mutex;

// The magic of an event that fired or was unscheduled.
constexpr uint16_t kRtMagicDone = 0x8531;

// A callback taken from the queue, to be called with the mutex released.
struct ksi_rt_due {
  rt_callback_t callback;
  void *arg;
};

// The next timer step of rt_run. False when the queue is empty. Otherwise
// true with *fired set when the head is overdue (it has been unlinked and,
// unless mt or caller-owned, recycled), or with *wait the time until the
// head is due (fired->callback null). *clock is the caller's last reading
// of the time: an event overdue by it is overdue now, so a run of overdue
// events fires without reading the clock again; it is read again (and
// *clock updated) before a wait is computed.
bool ksi_rt_timer_step(struct timeval *clock, struct timeval *wait,
                       ksi_rt_due *fired) KSI_REQUIRES(ksi_rt_mutex);

// The loop's select sets, allocated on its first pass.
struct ksi_rt_sets {
  fd_set *read;
  fd_set *write;
  fd_set *except;
  fd_set *scratch;
};

// Fills the read set from the read lists and the write and exception sets
// from theirs; *has_write and *has_except say whether those lists hold
// anything. Returns the highest descriptor + 1 (0 when none).
int ksi_rt_build_sets(const ksi_rt_sets &sets, bool *has_write,
                      bool *has_except) KSI_REQUIRES(ksi_rt_mutex);

// Calls the handlers whose descriptors are ready in sets, each list in
// turn; takes the mutex itself and releases it around every callback.
void ksi_rt_dispatch(const ksi_rt_sets &sets, int nfds)
    KSI_EXCLUDES(ksi_rt_mutex);

// Wakes a pass waiting in select on the attached thread, so that it sees a
// new queue head, a new handler or a shutdown request. Does nothing on the
// attached thread itself or before the loop's first pass.
void ksi_rt_wake(void);
