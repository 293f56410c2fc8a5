// The child tracker's state shared by the tracker (announcements and the
// death handler on the event-loop thread) and the watcher thread.
#pragma once

#include <orvexks/llist.h>
#include <orvexks/pfm.h>
#include <orvexks/rt_proc.h>

#include <pthread.h>

// An announced child.
struct ksi_rt_proc {
  llist_d_t node;
  uint32_t pid;
  int rp_phandle;  // its pidfd, owned by the tracker
  uint32_t rp_status;
  rt_proc_callback_t callback;
  void *arg;
};

// The watcher's side. section guards wait_handles and count; the
// descriptors are made once by the tracker and never change.
struct ksi_mortician {
  int sock;    // loopback datagram socket connected to itself
  int wake;    // eventfd: the wait set changed
  int resume;  // eventfd: the loop has handled the last death
  pthread_mutex_t section;
  int *wait_handles;  // [0] the wake descriptor, then the pidfds
  int count;
  int capacity;
};

extern ksi_mortician mortician;

// A broken invariant of the tracker aborts with a fixed condition text,
// named in process-handle terms, so that crash reports read the same
// whichever Linux call made the check.
#define KSI_RT_PROC_CHECK(cond, text) \
  ((cond) ? (void)0 : pfm_assert_fail(text, __FILE__, __LINE__))

// Starts the watcher thread: 0, or an error number.
int ksi_rt_proc_start_watcher(void);
