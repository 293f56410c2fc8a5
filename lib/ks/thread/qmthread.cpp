// Mutexes, read-write locks, condition waits and the library lock.
//
// The wrappers add recursion by the owning thread (the owner field holds
// the kernel thread id), optional timing statistics and lock-order groups,
// and the link to fault management: a raise-mode mutex or a type-1 rwlock
// keeps its holder's inhibit count raised by one while it is held.
#include "containers/ilist.h"
#include "fault/pfm_state.h"
#include "internal/report_line.h"
#include "thread/qmthread_internal.h"

#include <orvexnt/nt_thread.h>

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

std::atomic<bool> ksi_qmthread_tracing{false};
qmthread_mutex_t ksi_lib_lock = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
// Not taken before a fork: its holder may keep it for a long time.
static ksi_fork_guarded lib_lock_fork_guarded(&ksi_lib_lock, false);
std::atomic<qmthread_t> ksi_lib_attached_tid{QMTHREAD_INVALID_TID};

void ksi_qmthread_trace_line(const char *format, ...) {
  char line[4096];
  timeval tv;
  gettimeofday(&tv, nullptr);
  tm local;
  localtime_r(&tv.tv_sec, &local);
  char clock[16];
  std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  int used = std::snprintf(
      line, sizeof line, ">>> %s.%.3ld (qmthread): [P%u][T%lu]", clock,
      static_cast<long>(tv.tv_usec / 1000), static_cast<unsigned>(getpid()),
      static_cast<unsigned long>(nt_get_current_thread_id()));
  if (used < 0) return;
  va_list args;
  va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int text = std::vsnprintf(line + used, sizeof line - used, format, args);
#pragma GCC diagnostic pop
  va_end(args);
  if (text < 0) return;
  ksi_report("%s", line);
}

void ksi_qmthread_assert_fail(const char *condition, int line) {
  ksi_report("qmthread assertion fail: [%lu] %s at 'qmthread':%d",
             static_cast<unsigned long>(nt_get_current_thread_id()), condition,
             line);
  abort();
}

const char *ksi_error_text(int err, char *buf, size_t size) {
  // GNU strerror_r may return a static text instead of filling buf.
  return strerror_r(err, buf, size);
}

namespace {

// The owner field is read by threads that do not hold the mutex (to tell
// a recursive acquisition from a contended one), so it is accessed
// atomically; only the holder ever writes its own id there.
uint32_t owner_of(qmthread_mutex_t *m) {
  return std::atomic_ref<uint32_t>(m->owner).load(std::memory_order_relaxed);
}
void set_owner(qmthread_mutex_t *m, uint32_t id) {
  std::atomic_ref<uint32_t>(m->owner).store(id, std::memory_order_relaxed);
}
uint32_t writer_of(qmthread_rwlock_t *rw) {
  return std::atomic_ref<uint32_t>(rw->writer).load(std::memory_order_relaxed);
}
void set_writer(qmthread_rwlock_t *rw, uint32_t id) {
  std::atomic_ref<uint32_t>(rw->writer).store(id, std::memory_order_relaxed);
}

qmthread_time_t now() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return {static_cast<int32_t>(tv.tv_sec), static_cast<int32_t>(tv.tv_usec)};
}

// total += to - from, microseconds kept below one million.
void add_elapsed(qmthread_time_t *total, qmthread_time_t from,
                 qmthread_time_t to) {
  int64_t usec = (static_cast<int64_t>(to.sec) - from.sec) * 1000000 +
                 (to.usec - from.usec);
  if (usec < 0) usec = 0;
  int64_t sum = static_cast<int64_t>(total->usec) + usec % 1000000;
  total->sec += static_cast<int32_t>(usec / 1000000 + sum / 1000000);
  total->usec = static_cast<int32_t>(sum % 1000000);
}

void check_lock_order(qmthread_mutex_t *m) {
  pfm_thread_state *st = ksi_pfm_state();
  llist_d_t *head = &st->held;
  for (llist_d_t *n = ksi_ilist_first(head); n != nullptr;
       n = ksi_ilist_next(head, n)) {
    auto *held = static_cast<qmthread_mutex_t *>(n->data);
    if (held->group == m->group && held->level > m->level)
      m->group->violation(m, held, m->group);
  }
}

void adjust_inhibit(int delta) {
  pfm_thread_state *st = ksi_pfm_state();
  st->pfm_inh_count =
      static_cast<uint32_t>(static_cast<int32_t>(st->pfm_inh_count) + delta);
}

int acquire(qmthread_mutex_t *m, bool blocking) {
  uint32_t self = nt_get_current_thread_id();
  if (!blocking)
    KSI_QMTHREAD_TRACE("pthread_mutex_trylock mutex %p\n",
                       static_cast<void *>(m));
  if (owner_of(m) == self) {
    m->recursion_count += 1;
    KSI_QMTHREAD_TRACE("Mutex %p is locked for %d times\n",
                       static_cast<void *>(m), m->recursion_count);
    return 0;
  }
  if (blocking && m->group != nullptr) check_lock_order(m);
  bool raise_mode = m->raise_mode == QMTHREAD_RAISE_MODE;
  if (raise_mode) adjust_inhibit(+1);
  bool stats = (m->flags & QMTHREAD_MUTEX_STATS) != 0;
  qmthread_time_t before{};
  if (stats) before = now();
  int err =
      blocking ? pthread_mutex_lock(&m->lock) : pthread_mutex_trylock(&m->lock);
  if (err != 0) {
    char buf[128];
    KSI_QMTHREAD_TRACE(
        "Unable to lock mutex ('%s' failed): %s\n",
        blocking ? "pthread_mutex_lock" : "pthread_mutex_trylock",
        ksi_error_text(err, buf, sizeof buf));
    if (raise_mode) adjust_inhibit(-1);
    return err;
  }
  if (stats) {
    qmthread_time_t after = now();
    m->locked_at = after;
    add_elapsed(&m->wait_time, before, after);
  }
  m->lock_count += 1;
  set_owner(m, self);
  m->recursion_count = 1;
  if (m->group != nullptr)
    ksi_ilist_append(&ksi_pfm_state()->held, &m->held_link, m);
  KSI_QMTHREAD_TRACE("Mutex %p is locked\n", static_cast<void *>(m));
  return 0;
}

// Steps shared by both condition waits around the POSIX wait itself.
void cond_wait_begin(qmthread_cond_t *cond, qmthread_mutex_t *m) {
  if (owner_of(m) != nt_get_current_thread_id())
    ksi_qmthread_assert_fail("mutex->owner == self", __LINE__);
  if (m->recursion_count != 1)
    ksi_qmthread_assert_fail("mutex->recursion_count == 1", __LINE__);
  KSI_QMTHREAD_TRACE("Waiting for condition %u\n",
                     static_cast<unsigned>(reinterpret_cast<uintptr_t>(cond)));
  m->recursion_count = 0;
  set_owner(m, 0);
  if (m->raise_mode == QMTHREAD_RAISE_MODE) adjust_inhibit(-1);
  if ((m->flags & QMTHREAD_MUTEX_STATS) != 0) {
    add_elapsed(&m->held_time, m->locked_at, now());
    m->locked_at = {0, 0};
  }
}

void cond_wait_end(qmthread_cond_t *cond, qmthread_mutex_t *m,
                   qmthread_time_t wait_start) {
  if ((m->flags & QMTHREAD_MUTEX_STATS) != 0)
    add_elapsed(&m->cond_time, wait_start, now());
  if (m->raise_mode == QMTHREAD_RAISE_MODE) adjust_inhibit(+1);
  m->recursion_count += 1;
  m->lock_count += 1;
  set_owner(m, nt_get_current_thread_id());
  KSI_QMTHREAD_TRACE("Got condition %u\n",
                     static_cast<unsigned>(reinterpret_cast<uintptr_t>(cond)));
}

int rw_acquire(qmthread_rwlock_t *rw, bool write, bool blocking) {
  const char *op = write ? (blocking ? "pthread_rwlock_wrlock rwlock %p\n"
                                     : "pthread_rwlock_trywrlock rwlock %p\n")
                         : (blocking ? "pthread_rwlock_rdlock rwlock %p\n"
                                     : "pthread_rwlock_tryrdlock rwlock %p\n");
  KSI_QMTHREAD_TRACE(op, static_cast<void *>(rw));
  uint32_t self = nt_get_current_thread_id();
  bool raise_mode = rw->type == QMTHREAD_RAISE_MODE;
  if (raise_mode) adjust_inhibit(+1);
  // A writer asking again gets an error instead of deadlocking on itself.
  bool try_call = !blocking || writer_of(rw) == self;
  int err;
  if (write)
    err = try_call ? pthread_rwlock_trywrlock(&rw->lock)
                   : pthread_rwlock_wrlock(&rw->lock);
  else
    err = try_call ? pthread_rwlock_tryrdlock(&rw->lock)
                   : pthread_rwlock_rdlock(&rw->lock);
  if (err != 0) {
    if (raise_mode) adjust_inhibit(-1);
    char buf[128];
    if (write)
      KSI_QMTHREAD_TRACE("Unable to wrlock rwlock ('%s' failed): %s\n",
                         "pthread_rwlock_wrlock",
                         ksi_error_text(err, buf, sizeof buf));
    else
      KSI_QMTHREAD_TRACE("Unable to rdlock rwlock ('%s' failed): %s\n",
                         "pthread_rwlock_rdlock",
                         ksi_error_text(err, buf, sizeof buf));
    return err;
  }
  if (write) set_writer(rw, self);
  KSI_QMTHREAD_TRACE(write
                         ? "Got WRITE rwlock: rwlock: %p, type %d, owner %lu\n"
                         : "Got READ rwlock: rwlock: %p, type %d, owner %lu\n",
                     static_cast<void *>(rw), static_cast<int>(rw->type),
                     static_cast<unsigned long>(writer_of(rw)));
  return 0;
}

// The steps of entering the library lock once its mutex is held.
void after_lib_lock_taken() {
  if (ksi_is_attached_thread()) ksi_pfm_drain_channel();
  ksi_lib_attached_tid.store(pthread_self(), std::memory_order_release);
  ksi_registry_find_or_add_self();
  KSI_QMTHREAD_TRACE("Has entered Quillmere critical section\n");
}

}  // namespace

bool ksi_is_attached_thread(void) {
  return pthread_equal(ksi_lib_attached_tid.load(std::memory_order_acquire),
                       pthread_self()) != 0;
}

void ksi_lib_lock_release_all(void) {
  // The count belongs to the holder: read it only after the owner check.
  while (ksi_is_attached_thread() &&
         owner_of(&ksi_lib_lock) == nt_get_current_thread_id() &&
         ksi_lib_lock.recursion_count >= 1)
    qmthread_leave_critical_section();
}

extern "C" {

KS_API int qmthread_mutex_init_full(qmthread_mutex_t *mutex, int kind,
                                    int16_t level, uint16_t flags,
                                    qmthread_mutex_group_t *group) {
  char buf[128];
  pthread_mutexattr_t attr;
  int err = pthread_mutexattr_init(&attr);
  if (err != 0) {
    KSI_QMTHREAD_TRACE(
        "Unable to initialize mutex attribute ('%s' failed): %s\n",
        "pthread_mutexattr_init", ksi_error_text(err, buf, sizeof buf));
    return err;
  }
  err = pthread_mutexattr_settype(&attr, kind);
  if (err != 0) {
    KSI_QMTHREAD_TRACE("Unable to set type for mutex ('%s' failed): %s\n",
                       "pthread_mutexattr_settype",
                       ksi_error_text(err, buf, sizeof buf));
    pthread_mutexattr_destroy(&attr);
    return err;
  }
  err = pthread_mutex_init(&mutex->lock, &attr);
  pthread_mutexattr_destroy(&attr);
  if (err != 0) {
    KSI_QMTHREAD_TRACE("Unable to initialize mutex ('%s' failed): %s\n",
                       "pthread_mutex_init",
                       ksi_error_text(err, buf, sizeof buf));
    return err;
  }
  mutex->owner = 0;
  mutex->held_link = LLIST_D_HEAD_INITIALIZER;
  mutex->group = group;
  mutex->level = level;
  mutex->flags = flags;
  mutex->recursion_count = 0;
  mutex->raise_mode = QMTHREAD_RAISE_MODE;
  mutex->lock_count = 0;
  mutex->wait_time = mutex->held_time = mutex->cond_time =
      mutex->locked_at = {0, 0};
  return 0;
}

KS_API int qmthread_mutex_init(qmthread_mutex_t *mutex) {
  return qmthread_mutex_init_full(mutex, 0, 0, 0, nullptr);
}

KS_API int qmthread_mutex_init_noraise(qmthread_mutex_t *mutex) {
  int err = qmthread_mutex_init(mutex);
  if (err == 0) mutex->raise_mode = QMTHREAD_NORAISE_MODE;
  return err;
}

KS_API int qmthread_mutex_set_noraise(qmthread_mutex_t *mutex) {
  if (mutex == nullptr) return EINVAL;
  mutex->raise_mode = QMTHREAD_NORAISE_MODE;
  return 0;
}

KS_API int qmthread_mutex_destroy(qmthread_mutex_t *mutex) {
  int err = pthread_mutex_destroy(&mutex->lock);
  if (err != 0)
    KSI_QMTHREAD_TRACE(
        "Unable to destroy mutex %u\n",
        static_cast<unsigned>(reinterpret_cast<uintptr_t>(mutex)));
  return err;
}

KS_API int qmthread_mutex_lock(qmthread_mutex_t *mutex) {
  return acquire(mutex, true);
}

KS_API int qmthread_mutex_trylock(qmthread_mutex_t *mutex) {
  return acquire(mutex, false);
}

KS_API int qmthread_mutex_unlock(qmthread_mutex_t *mutex) {
  // 1, not EPERM: the interface answers a release by a non-owner with 1
  // and callers rely on that value (qmthread.h).
  if (owner_of(mutex) != nt_get_current_thread_id()) {
    KSI_QMTHREAD_TRACE(
        "Fail to unlock mutex %u, for it's not the owner\n",
        static_cast<unsigned>(reinterpret_cast<uintptr_t>(mutex)));
    return 1;
  }
  if (mutex->recursion_count >= 2) {
    mutex->recursion_count -= 1;
    KSI_QMTHREAD_TRACE("Mutex %p recursion count decrease to %d\n",
                       static_cast<void *>(mutex), mutex->recursion_count);
    return 0;
  }
  mutex->recursion_count = 0;
  set_owner(mutex, 0);
  if (mutex->group != nullptr) ksi_ilist_unlink(&mutex->held_link);
  if ((mutex->flags & QMTHREAD_MUTEX_STATS) != 0) {
    add_elapsed(&mutex->held_time, mutex->locked_at, now());
    mutex->locked_at = {0, 0};
  }
  int err = pthread_mutex_unlock(&mutex->lock);
  if (err != 0) {
    char buf[128];
    KSI_QMTHREAD_TRACE("Unable to unlock mutex ('%s' failed): %s\n",
                       "pthread_mutex_unlock",
                       ksi_error_text(err, buf, sizeof buf));
    return err;
  }
  if (mutex->raise_mode == QMTHREAD_RAISE_MODE) adjust_inhibit(-1);
  KSI_QMTHREAD_TRACE("Mutex %p is unlocked\n", static_cast<void *>(mutex));
  return 0;
}

KS_API int qmthread_rwlock_init(qmthread_rwlock_t *rwlock, uint32_t type) {
  int err = pthread_rwlock_init(&rwlock->lock, nullptr);
  if (err != 0) {
    char buf[128];
    KSI_QMTHREAD_TRACE("Unable to initialize rwlock ('%s' failed): %s\n",
                       "pthread_rwlock_init",
                       ksi_error_text(err, buf, sizeof buf));
    return err;
  }
  rwlock->type = type;
  rwlock->writer = 0;
  return 0;
}

KS_API int qmthread_rwlock_destroy(qmthread_rwlock_t *rwlock) {
  int err = pthread_rwlock_destroy(&rwlock->lock);
  if (err != 0)
    KSI_QMTHREAD_TRACE(
        "Unable to destroy rwlock %u\n",
        static_cast<unsigned>(reinterpret_cast<uintptr_t>(rwlock)));
  return err;
}

KS_API int qmthread_rwlock_rdlock(qmthread_rwlock_t *rwlock) {
  return rw_acquire(rwlock, false, true);
}
KS_API int qmthread_rwlock_wrlock(qmthread_rwlock_t *rwlock) {
  return rw_acquire(rwlock, true, true);
}
KS_API int qmthread_rwlock_rdlock_trylock(qmthread_rwlock_t *rwlock) {
  return rw_acquire(rwlock, false, false);
}
KS_API int qmthread_rwlock_wrlock_trylock(qmthread_rwlock_t *rwlock) {
  return rw_acquire(rwlock, true, false);
}

KS_API int qmthread_rwlock_unlock(qmthread_rwlock_t *rwlock) {
  // Clear the writer before the release: once released, another thread
  // may become the writer at once.
  uint32_t writer = writer_of(rwlock);
  if (writer == nt_get_current_thread_id()) set_writer(rwlock, 0);
  int err = pthread_rwlock_unlock(&rwlock->lock);
  if (err != 0) {
    if (writer == nt_get_current_thread_id()) set_writer(rwlock, writer);
    char buf[128];
    KSI_QMTHREAD_TRACE("Unable to unlock rwlock ('%s' failed): %s\n",
                       "pthread_rwlock_unlock",
                       ksi_error_text(err, buf, sizeof buf));
    return err;
  }
  if (rwlock->type == QMTHREAD_RAISE_MODE) adjust_inhibit(-1);
  KSI_QMTHREAD_TRACE("Unlocked rwlock: %p\n", static_cast<void *>(rwlock));
  return 0;
}

KS_API int qmthread_cond_wait(qmthread_cond_t *cond, qmthread_mutex_t *mutex) {
  cond_wait_begin(cond, mutex);
  qmthread_time_t start = now();
  if (pthread_cond_wait(cond, &mutex->lock) != 0)
    ksi_qmthread_assert_fail("pthread_cond_wait(cond, &(mutex->lock)) == 0",
                             __LINE__);
  cond_wait_end(cond, mutex, start);
  return 0;
}

KS_API int qmthread_cond_timedwait(qmthread_cond_t *cond,
                                   qmthread_mutex_t *mutex,
                                   const struct timespec *deadline) {
  cond_wait_begin(cond, mutex);
  qmthread_time_t start = now();
  int err = pthread_cond_timedwait(cond, &mutex->lock, deadline);
  KSI_QMTHREAD_ASSERT(err == 0 || err == ETIMEDOUT);
  cond_wait_end(cond, mutex, start);
  return err;
}

KS_API int qmthread_once(qmthread_once_t *once, void (*init)(void)) {
  return pthread_once(once, init);
}

KS_API void qmthread_enter_critical_section(void) {
  qmthread_init();
  KSI_QMTHREAD_TRACE("Will enter Quillmere critical section\n");
  qmthread_mutex_lock(&ksi_lib_lock);
  after_lib_lock_taken();
}

KS_API int qmthread_try_enter_critical_section(void) {
  if (qmthread_mutex_trylock(&ksi_lib_lock) != 0) return 0;
  after_lib_lock_taken();
  return 1;
}

KS_API void qmthread_leave_critical_section(void) {
  if (!ksi_is_attached_thread())
    ksi_qmthread_assert_fail(
        "qmthread_equal(qmthread_lib_attached_tid, qmthread_self())", __LINE__);
  // The attached thread normally holds the lock; a thread attached by force
  // without holding it fails the count check below.
  int32_t count = owner_of(&ksi_lib_lock) == nt_get_current_thread_id()
                      ? ksi_lib_lock.recursion_count
                      : 0;
  if (count <= 0)
    ksi_qmthread_assert_fail("CRITICAL_SECTION_RECUR_COUNT > 0", __LINE__);
  if (count == 1) {
    ksi_lib_attached_tid.store(QMTHREAD_INVALID_TID, std::memory_order_release);
    ksi_run_key_destructors(false);
  }
  qmthread_mutex_unlock(&ksi_lib_lock);
  KSI_QMTHREAD_TRACE("Has left Quillmere critical section\n");
}

KS_API int qmthread_try_attach_lib(void) {
  qmthread_t none = QMTHREAD_INVALID_TID;
  if (ksi_lib_attached_tid.compare_exchange_strong(none, pthread_self()))
    return 0;
  return ksi_is_attached_thread() ? 0 : 1;
}

KS_API int qmthread_force_attach_lib(void) {
  ksi_lib_attached_tid.store(pthread_self(), std::memory_order_release);
  return 0;
}

KS_API void qmthread_attached_tid(qmthread_t *tid) {
  *tid = ksi_lib_attached_tid.load(std::memory_order_acquire);
}

}  // extern "C"
