// Fault management internals: the per-thread fault state and the
// process-wide state shared by the raise machinery and the exit and signal
// code.
#pragma once

#include <orvexks/pfm.h>

#include <atomic>

struct ksi_thread_entry;

// One per thread, allocated with plain malloc (never from a storage area,
// so that taking a raise-mode mutex cannot recurse into allocation).
struct pfm_thread_state {
  ksi_thread_entry *entry;  // registry entry, looked up on first need
  llist_d_t held;           // grouped mutexes held by the thread
  pfm_cleanup_rec *cl_rec_root;
  uint32_t pfm_inh_count;
  uint32_t pfm_inh_susp;
};

// The caller's fault state, allocated on first need; never null (an
// allocation failure ends the process).
pfm_thread_state *ksi_pfm_state(void);
// The caller's fault state if it exists, else null.
pfm_thread_state *ksi_pfm_state_peek(void);
// Destructor of the fault-state key: clears the slot and frees the record.
void ksi_pfm_state_destroy(void *state);
// True while the record holds live bookkeeping.
bool ksi_pfm_state_in_use(const pfm_thread_state *state);

// Raises the caller's inhibit count by one without a delivery check, for
// good: the abort paths call it first, so that nothing pending can turn
// them into a raise or an exit.
void ksi_pfm_hold_off_delivery(void);

// The abort of fault management: message, abort buffer, hook, abort().
[[noreturn]] void ksi_pfm_abort(const char *condition, const char *file,
                                int line);
#define KSI_PFM_CHECK(cond, text) \
  ((cond) ? (void)0 : ksi_pfm_abort(text, __FILE__, __LINE__))

// Guards initialisation, the signal tables, the exit handlers, the exit
// function and the abort buffer.
extern qmthread_mutex_t ksi_pfm_mutex;

extern std::atomic<bool> ksi_pfm_inited;
extern std::atomic<uint32_t> ksi_pfm_proc_type;
// The thread running a library signal handler, or QMTHREAD_INVALID_TID.
extern std::atomic<qmthread_t> ksi_pfm_signal_handler_tid;

inline bool ksi_on_signal_handler_thread(void) {
  return pthread_equal(
             ksi_pfm_signal_handler_tid.load(std::memory_order_acquire),
             pthread_self()) != 0;
}
inline bool ksi_pfm_deferred_type(void) {
  uint32_t type = ksi_pfm_proc_type.load(std::memory_order_acquire);
  return type == PFM_PROCESS_DEFERRED || type == PFM_PROCESS_EXTERNAL;
}
inline void ksi_pfm_init_if_needed(void) {
  if (!ksi_pfm_inited.load(std::memory_order_acquire)) pfm_init();
}

// Pending exit recorded by pfm_exit (guarded by the exit mutex).
bool ksi_pfm_pending_exit(int *code);
void ksi_pfm_set_pending_exit(int code);
void ksi_pfm_clear_pending_exit(void);

// Posts a status to every registered thread and sends it on the
// notification channel when it exists.
void ksi_pfm_post(uint32_t status);
// Only sends the status on the notification channel (when it exists), to
// wake a select that waits on it; no thread's pending status changes.
void ksi_pfm_notify_channel(uint32_t status);
// Receives every queued notification (only on the attached thread).
void ksi_pfm_drain_channel(void);
// In a forked child, starts the signal delivery thread the fork handler
// could not start; nothing elsewhere (one atomic load).
void ksi_pfm_start_delivery_if_missing(void);
// Drains and closes the notification channel.
void ksi_pfm_close_channel(void);
