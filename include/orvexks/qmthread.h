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

#define QMTHREAD_MUTEX_INITIALIZER_MODE_(mode)                               \
  {PTHREAD_MUTEX_INITIALIZER, 0, LLIST_D_HEAD_INITIALIZER, NULL, 0, 0, 0,    \
   (mode), 0, {0, 0}, {0, 0}, {0, 0}, {0, 0}}
#define QMTHREAD_MUTEX_INITIALIZER \
  QMTHREAD_MUTEX_INITIALIZER_MODE_(QMTHREAD_RAISE_MODE)
#define QMTHREAD_MUTEX_INITIALIZER_NORAISE \
  QMTHREAD_MUTEX_INITIALIZER_MODE_(QMTHREAD_NORAISE_MODE)

typedef struct KS_CAPABILITY("rwlock") qmthread_rwlock {
  pthread_rwlock_t lock;
  uint32_t type;   /* 1: raise mode, anything else: noraise */
  uint32_t writer; /* kernel thread id of the writer, 0 otherwise */
} qmthread_rwlock_t;

KS_API int qmthread_mutex_init_full(qmthread_mutex_t *mutex, int kind,
                                    int16_t level, uint16_t flags,
                                    qmthread_mutex_group_t *group);
KS_API int qmthread_mutex_init(qmthread_mutex_t *mutex);
KS_API int qmthread_mutex_init_noraise(qmthread_mutex_t *mutex);
KS_API int qmthread_mutex_set_noraise(qmthread_mutex_t *mutex);
KS_API int qmthread_mutex_destroy(qmthread_mutex_t *mutex);
KS_API int qmthread_mutex_lock(qmthread_mutex_t *mutex);
KS_API int qmthread_mutex_trylock(qmthread_mutex_t *mutex);
/* Releases one level. A caller that does not hold the mutex gets 1 (not
 * a POSIX error number, and nothing changes): callers test for non-zero,
 * and 1 is the documented answer to that misuse. */
KS_API int qmthread_mutex_unlock(qmthread_mutex_t *mutex);

KS_API int qmthread_rwlock_init(qmthread_rwlock_t *rwlock, uint32_t type);
KS_API int qmthread_rwlock_destroy(qmthread_rwlock_t *rwlock);
KS_API int qmthread_rwlock_rdlock(qmthread_rwlock_t *rwlock);
KS_API int qmthread_rwlock_wrlock(qmthread_rwlock_t *rwlock);
KS_API int qmthread_rwlock_rdlock_trylock(qmthread_rwlock_t *rwlock);
KS_API int qmthread_rwlock_wrlock_trylock(qmthread_rwlock_t *rwlock);
KS_API int qmthread_rwlock_unlock(qmthread_rwlock_t *rwlock);

/* The caller must hold the mutex exactly once. */
KS_API int qmthread_cond_wait(qmthread_cond_t *cond, qmthread_mutex_t *mutex);
/* ETIMEDOUT when the absolute deadline passed. */
KS_API int qmthread_cond_timedwait(qmthread_cond_t *cond,
                                   qmthread_mutex_t *mutex,
                                   const struct timespec *deadline);
KS_API int qmthread_once(qmthread_once_t *once, void (*init)(void));

/* The library lock: one recursive process-wide mutex whose holder is the
 * attached thread. */
KS_API void qmthread_enter_critical_section(void);
KS_API int qmthread_try_enter_critical_section(void); /* 1 taken, 0 busy */
KS_API void qmthread_leave_critical_section(void);
KS_API int qmthread_try_attach_lib(void); /* 0 attached, 1 another is */
KS_API int qmthread_force_attach_lib(void);
KS_API void qmthread_attached_tid(qmthread_t *tid);

KS_API void qmthread_init(void);
KS_API int qmthread_create(qmthread_t *tid, pthread_attr_t *attr,
                           void *(*start)(void *), void *arg);
KS_API int qmthread_join(qmthread_t tid, void **value);
KS_NORETURN KS_API void qmthread_exit(void *value);
KS_API void qmthread_sleep(uint32_t milliseconds);
KS_API qmthread_t qmthread_self(void);
KS_API int qmthread_equal(qmthread_t a, qmthread_t b);
KS_API int qmthread_is_null(qmthread_t tid);
KS_API void qmthread_set_null(qmthread_t *tid);

/* Thread-local keys; the destructors of keys made here can also run when a
 * thread leaves the library. At most 99 keys are recorded. */
KS_API int qmthread_key_create(qmthread_key_t *key, void (*destructor)(void *));
KS_API int qmthread_key_delete(qmthread_key_t key);
KS_API int qmthread_set_tls(qmthread_key_t key, const void *value);
KS_API void *qmthread_get_tls(qmthread_key_t key);

/* A per-thread storage block starts with the handle of the storage area
 * that holds it; freeing the block deletes the area. */
KS_API void *qmthread_alloc_tls(uint32_t size);
KS_API void qmthread_free_tls(void *block);

KS_API void qmthread_dump_thread(void);

KS_END_DECLS

#endif
