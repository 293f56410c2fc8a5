/* Threads, recursive mutexes, read-write locks, condition waits, the library
 * lock and thread-local storage. Every function returns 0 or a POSIX error
 * number unless its comment says otherwise; none raises. */
#ifndef ORVEXKS_QMTHREAD_H
#define ORVEXKS_QMTHREAD_H

/* ks_base.h comes first: it picks the POSIX feature set that the system
 * headers below need for rwlocks and timespec in strict C. */
#include <orvexks/ks_base.h>

#include <pthread.h>
#include <time.h>

#include <orvexks/llist.h>

KS_BEGIN_DECLS

typedef pthread_t qmthread_t;
#define QMTHREAD_INVALID_TID ((qmthread_t)0)

typedef pthread_key_t qmthread_key_t;
typedef pthread_once_t qmthread_once_t;
typedef pthread_cond_t qmthread_cond_t;
#define QMTHREAD_ONCE_INIT PTHREAD_ONCE_INIT

/* Seconds and microseconds (microseconds kept below 1000000). */
typedef struct qmthread_time {
  int32_t sec;
  int32_t usec;
} qmthread_time_t;

/* Raise mode: holding the mutex holds off asynchronous raises. */
#define QMTHREAD_RAISE_MODE 1u
#define QMTHREAD_NORAISE_MODE 2u
/* flags bit 0: keep timing statistics. */
#define QMTHREAD_MUTEX_STATS 1u

struct qmthread_mutex;
typedef struct qmthread_mutex_group qmthread_mutex_group_t;
/* Called when a grouped mutex is taken while a mutex of a higher level of
 * the same group is held: (mutex being taken, held mutex, group). */
typedef void (*qmthread_order_violation_t)(struct qmthread_mutex *taking,
                                           struct qmthread_mutex *held,
                                           qmthread_mutex_group_t *group);
struct qmthread_mutex_group {
  qmthread_order_violation_t violation;
};

typedef struct KS_CAPABILITY("mutex") qmthread_mutex {
  pthread_mutex_t lock;
  uint32_t owner; /* kernel thread id of the holder, 0 when free */
  llist_d_t held_link;
  qmthread_mutex_group_t *group;
  int16_t level;
  uint16_t flags;
  int32_t recursion_count;
  uint32_t raise_mode;
  uint32_t lock_count;
  qmthread_time_t wait_time;
  qmthread_time_t held_time;
  qmthread_time_t cond_time;
  qmthread_time_t locked_at;
} qmthread_mutex_t;

#define QMTHREAD_MUTEX_INITIALIZER_MODE_(mode)                             \
  {                                                                        \
    PTHREAD_MUTEX_INITIALIZER, 0, LLIST_D_HEAD_INITIALIZER, NULL, 0, 0, 0, \
        (mode), 0, {0, 0}, {0, 0}, {0, 0}, {                               \
      0, 0                                                                 \
    }                                                                      \
  }
#define QMTHREAD_MUTEX_INITIALIZER \
  QMTHREAD_MUTEX_INITIALIZER_MODE_(QMTHREAD_RAISE_MODE)
#define QMTHREAD_MUTEX_INITIALIZER_NORAISE \
  QMTHREAD_MUTEX_INITIALIZER_MODE_(QMTHREAD_NORAISE_MODE)

typedef struct KS_CAPABILITY("rwlock") qmthread_rwlock {
  pthread_rwlock_t lock;
  uint32_t type;   /* 1: raise mode, anything else: noraise */
  uint32_t writer; /* kernel thread id of the writer, 0 otherwise */
} qmthread_rwlock_t;

/* Nothing in this family is a delivery point: no call takes an
 * asynchronous raise (pfm.h). A raise-mode mutex or rwlock only holds them
 * off: while a thread holds one, its inhibit count is one higher (whatever
 * the recursion depth), and a status posted meanwhile is taken at the
 * thread's next delivery check after the release. Noraise locks leave the
 * count alone. Tracing (TRACE_QMTHREAD=TRUE) writes straight to
 * descriptor 2. */

/* Initialises a raise-mode mutex of POSIX mutex kind `kind` (0 default),
 * with lock-order level and group (null: no order check) and flags
 * (QMTHREAD_MUTEX_STATS: keep timing statistics). */
KS_API int qmthread_mutex_init_full(qmthread_mutex_t *mutex, int kind,
                                    int16_t level, uint16_t flags,
                                    qmthread_mutex_group_t *group);
/* qmthread_mutex_init_full(mutex, 0, 0, 0, NULL). */
KS_API int qmthread_mutex_init(qmthread_mutex_t *mutex);
/* As qmthread_mutex_init, in noraise mode. */
KS_API int qmthread_mutex_init_noraise(qmthread_mutex_t *mutex);
/* Switches an initialised, free mutex to noraise mode; EINVAL for null. */
KS_API int qmthread_mutex_set_noraise(qmthread_mutex_t *mutex);
/* The mutex must be free. */
KS_API int qmthread_mutex_destroy(qmthread_mutex_t *mutex);
/* Takes the mutex, blocking; recursive for its owner (the count goes up,
 * nothing blocks). A grouped mutex first reports each held mutex of the
 * same group with a higher level to the group's violation callback. */
KS_API int qmthread_mutex_lock(qmthread_mutex_t *mutex);
/* As qmthread_mutex_lock without blocking (and without the order check):
 * EBUSY when another thread holds the mutex. */
KS_API int qmthread_mutex_trylock(qmthread_mutex_t *mutex);
/* Releases one level. A caller that does not hold the mutex gets 1 (not
 * a POSIX error number, and nothing changes): callers test for non-zero,
 * and 1 is the documented answer to that misuse. */
KS_API int qmthread_mutex_unlock(qmthread_mutex_t *mutex);

/* Read-write locks: type 1 is raise mode, anything else noraise. A writer
 * that asks again for its own lock gets an error instead of blocking. */
KS_API int qmthread_rwlock_init(qmthread_rwlock_t *rwlock, uint32_t type);
KS_API int qmthread_rwlock_destroy(qmthread_rwlock_t *rwlock);
KS_API int qmthread_rwlock_rdlock(qmthread_rwlock_t *rwlock);
KS_API int qmthread_rwlock_wrlock(qmthread_rwlock_t *rwlock);
/* EBUSY when the lock cannot be taken at once. */
KS_API int qmthread_rwlock_rdlock_trylock(qmthread_rwlock_t *rwlock);
KS_API int qmthread_rwlock_wrlock_trylock(qmthread_rwlock_t *rwlock);
/* Releases a read or write hold. */
KS_API int qmthread_rwlock_unlock(qmthread_rwlock_t *rwlock);

/* Waits on cond, releasing the mutex meanwhile and holding it again on
 * return. The caller must hold the mutex exactly once (recursion count 1);
 * otherwise the process ends with the threads layer's assertion report. */
KS_API int qmthread_cond_wait(qmthread_cond_t *cond, qmthread_mutex_t *mutex);
/* As qmthread_cond_wait with an absolute deadline: 0, or ETIMEDOUT when it
 * passed (the mutex is held again either way). */
KS_API int qmthread_cond_timedwait(qmthread_cond_t *cond,
                                   qmthread_mutex_t *mutex,
                                   const struct timespec *deadline);
/* pthread_once. */
KS_API int qmthread_once(qmthread_once_t *once, void (*init)(void));

/* The library lock: one recursive process-wide noraise mutex whose holder
 * is the attached thread. Entering starts the threads layer when needed,
 * registers the caller and makes it the attached thread. Leaving must be
 * done by the attached thread, as often as it entered; the outermost leave
 * clears the attached thread and frees the caller's per-thread results
 * whose keys have destructors (so a pointer that a header says lives "until
 * the thread leaves the library" dies here). */
KS_API void qmthread_enter_critical_section(void);
/* 1 when the library lock was taken, 0 at once when another thread holds
 * it. */
KS_API int qmthread_try_enter_critical_section(void);
KS_API void qmthread_leave_critical_section(void);
/* Makes the caller the attached thread unless another is: 0 when the
 * caller is (now) attached, 1 when another thread is. */
KS_API int qmthread_try_attach_lib(void);
/* Makes the caller the attached thread unconditionally; 0. */
KS_API int qmthread_force_attach_lib(void);
/* Copies the attached thread's id (QMTHREAD_INVALID_TID when none). */
KS_API void qmthread_attached_tid(qmthread_t *tid);

/* Starts the threads layer once per process (every entry point that needs
 * it calls it too). */
KS_API void qmthread_init(void);
/* Creates a thread running start(arg), registered with the library before
 * it runs (so statuses can be posted to it); attr may be null. */
KS_API int qmthread_create(qmthread_t *tid, pthread_attr_t *attr,
                           void *(*start)(void *), void *arg);
KS_API int qmthread_join(qmthread_t tid, void **value);
/* Ends the calling thread: unregisters it, releases the library lock
 * completely when it holds it, runs its key destructors. */
KS_NORETURN KS_API void qmthread_exit(void *value);
/* Sleeps, resuming after signals, for the whole time. */
KS_API void qmthread_sleep(uint32_t milliseconds);
KS_API qmthread_t qmthread_self(void);
/* Non-zero when both ids name the same thread. */
KS_API int qmthread_equal(qmthread_t a, qmthread_t b);
/* 1 for QMTHREAD_INVALID_TID, else 0. */
KS_API int qmthread_is_null(qmthread_t tid);
KS_API void qmthread_set_null(qmthread_t *tid);

/* Thread-local keys. A key made here is recorded (at most 99 keys), so its
 * destructor also runs when a thread leaves the library lock for the last
 * time, not only at thread end. The values are the caller's: the library
 * neither copies nor frees them except through the destructor. */
KS_API int qmthread_key_create(qmthread_key_t *key, void (*destructor)(void *));
KS_API int qmthread_key_delete(qmthread_key_t key);
KS_API int qmthread_set_tls(qmthread_key_t key, const void *value);
/* The calling thread's value, or null. */
KS_API void *qmthread_get_tls(qmthread_key_t key);

/* A zero-filled per-thread storage block of size bytes in its own quiet
 * storage area; its first member is that area's handle. It lives until
 * qmthread_free_tls(block), which deletes the area. Running out of memory
 * ends the process (threads layer assertion). */
KS_API void *qmthread_alloc_tls(uint32_t size);
KS_API void qmthread_free_tls(void *block);

/* With tracing on, writes every registered thread and its pending status. */
KS_API void qmthread_dump_thread(void);

KS_END_DECLS

#endif
