// Internals of the threads layer shared by its sources and by fault
// management: tracing, the layer's own assertion report, the thread
// registry, the key table and the library lock.
#pragma once

#include <orvexks/qmthread.h>

#include <atomic>

// Tracing of every operation, switched on by TRACE_QMTHREAD=TRUE when the
// layer starts. Read outside any lock, hence atomic.
extern std::atomic<bool> ksi_qmthread_tracing;

// Writes one trace line (prefix and message) to descriptor 2.
void ksi_qmthread_trace_line(const char *format, ...) KS_PRINTF(1, 2);
#define KSI_QMTHREAD_TRACE(...)                               \
  do {                                                        \
    if (ksi_qmthread_tracing.load(std::memory_order_relaxed)) \
      ksi_qmthread_trace_line(__VA_ARGS__);                   \
  } while (0)

// The threads layer cannot use fault management (which is built on it):
// a broken precondition writes its own report and calls abort().
[[noreturn]] void ksi_qmthread_assert_fail(const char *condition, int line);
#define KSI_QMTHREAD_ASSERT(cond) \
  ((cond) ? (void)0 : ksi_qmthread_assert_fail(#cond, __LINE__))

// Text of a POSIX error number, in the caller's buffer.
const char *ksi_error_text(int err, char *buf, size_t size);

// One registered thread. `pending_status` is written by any thread under
// the registry mutex and read by its own thread without it, so every access
// goes through std::atomic_ref.
struct ksi_thread_entry {
  qmthread_t tid;
  uint32_t pending_status;
  llist_d_t link;
};

inline uint32_t ksi_entry_pending(ksi_thread_entry *entry) {
  return std::atomic_ref<uint32_t>(entry->pending_status)
      .load(std::memory_order_acquire);
}
// Takes the pending status and clears it in one step.
inline uint32_t ksi_entry_take_pending(ksi_thread_entry *entry) {
  return std::atomic_ref<uint32_t>(entry->pending_status)
      .exchange(0, std::memory_order_acq_rel);
}
inline void ksi_entry_set_pending(ksi_thread_entry *entry, uint32_t status) {
  std::atomic_ref<uint32_t>(entry->pending_status)
      .store(status, std::memory_order_release);
}

// Guards the thread registry and the key table.
extern qmthread_mutex_t ksi_registry_mutex;
// The registry must be empty when the layer starts (assertion report).
void ksi_registry_check_empty(void);
// Creates the end-of-thread hook's key and the fault state's key.
void ksi_keys_init(void);

// Registry add: returns the (new or existing) entry of `tid`.
ksi_thread_entry *ksi_registry_add(qmthread_t tid);
// Registry remove: unlinks and frees the entry of `tid`, if any.
void ksi_registry_remove(qmthread_t tid);
// The caller's entry, added when missing (no fault state involved).
ksi_thread_entry *ksi_registry_find_or_add_self(void);
// Sets the pending status of every registered thread.
void ksi_registry_post_all(uint32_t status);

// Runs the caller's destructors of recorded keys in creation order and
// clears each value. When the thread is not ending, the fault-state record
// is kept while it is in use (armed records, inhibits or held mutexes).
void ksi_run_key_destructors(bool thread_ending);

// Arms the hook that unregisters the calling thread and runs its key
// destructors when it ends.
void ksi_arm_thread_exit_hook(void);

// The key of the per-thread fault state (created by qmthread_init).
extern pthread_key_t ksi_pfm_state_key;

// The library lock and its attached thread.
extern qmthread_mutex_t ksi_lib_lock;
extern std::atomic<qmthread_t> ksi_lib_attached_tid;
// Leaves the library lock until the caller no longer holds it (only while
// the caller is the attached thread).
void ksi_lib_lock_release_all(void);
// True when the caller is the attached thread.
bool ksi_is_attached_thread(void);

// Hands a process-wide mutex of the library to the fork handlers: in a
// forked child it stays held only when the forking thread held it, under
// that thread's new id. With `held_across_fork` the forking thread also
// takes it before the fork, so that no other thread is inside it when the
// process is copied; that suits every mutex held only briefly (all but the
// library lock).
// A static mutex registers through KSI_FORK_GUARDED beside its definition,
// a mutex made at run time when it is initialised.
// REQUIRES: the mutex lives until the process ends.
void ksi_fork_guard(qmthread_mutex_t *mutex, bool held_across_fork);
struct ksi_fork_guarded {
  ksi_fork_guarded(qmthread_mutex_t *mutex, bool held_across_fork) {
    ksi_fork_guard(mutex, held_across_fork);
  }
};
// Placed beside the definition of a static bookkeeping mutex.
#define KSI_FORK_GUARDED(mutex) \
  static ksi_fork_guarded mutex##_fork_guarded_(&(mutex), true)

// A family whose mutexes come and go (one per storage area) hands the fork
// handlers a function that lists them: `each` calls visit on every live
// mutex of the family in one stable order, stops at the first false and
// then returns false. The handlers take and release those mutexes with the
// registered ones; each runs with every registered mutex held, so the
// family's own list (guarded by a registered mutex) cannot change
// meanwhile. The mutexes it lists are held only briefly.
using ksi_fork_visit_fn = bool (*)(qmthread_mutex_t *mutex);
using ksi_fork_each_fn = bool (*)(ksi_fork_visit_fn visit);
void ksi_fork_guard_each(ksi_fork_each_fn each);
struct ksi_fork_guarded_each {
  explicit ksi_fork_guarded_each(ksi_fork_each_fn each) {
    ksi_fork_guard_each(each);
  }
};

// Removes every registry entry but the caller's (in a forked child, where
// the other threads do not exist).
void ksi_registry_keep_only_self(void);
