// Clang's thread-safety analysis (-Wthread-safety) for the library's own
// locks: the state a mutex guards is marked KSI_GUARDED_BY(mutex), a
// function that expects its caller to hold a mutex is marked
// KSI_REQUIRES(mutex), and the qmthread lock calls below tell the analysis
// which calls take and release a mutex. The mutex type itself is a
// capability (KS_CAPABILITY in the public header). Other compilers see
// nothing; the clang stage of scripts/check.sh builds with the analysis as
// an error.
#pragma once

#include <orvexks/qmthread.h>

#if defined(__clang__)
#define KSI_TSA(x) __attribute__((x))
#else
#define KSI_TSA(x)
#endif

// State read or written only with the mutex held.
#define KSI_GUARDED_BY(mutex) KSI_TSA(guarded_by(mutex))
// The memory a pointer points at is guarded by the mutex.
#define KSI_PT_GUARDED_BY(mutex) KSI_TSA(pt_guarded_by(mutex))
// The caller must hold the mutexes (and still holds them on return).
#define KSI_REQUIRES(...) KSI_TSA(requires_capability(__VA_ARGS__))
// The caller must not hold the mutexes: the function takes them itself.
#define KSI_EXCLUDES(...) KSI_TSA(locks_excluded(__VA_ARGS__))
// The function returns holding the mutexes, or having released them.
#define KSI_ACQUIRE(...) KSI_TSA(acquire_capability(__VA_ARGS__))
#define KSI_RELEASE(...) KSI_TSA(release_capability(__VA_ARGS__))
// The mutexes are held when the function returns `result`.
#define KSI_TRY_ACQUIRE(result, ...) \
  KSI_TSA(try_acquire_capability(result, __VA_ARGS__))
// For a function whose locking the analysis cannot follow (a lock taken
// in one call and released in another); say why beside each use.
#define KSI_NO_THREAD_SAFETY_ANALYSIS KSI_TSA(no_thread_safety_analysis)

// The qmthread mutex calls as the analysis sees them. A failed lock call
// (an error number) is taken as acquired: the library treats such a failure
// as an unrecoverable fault anyway. These redeclarations exist to carry
// the annotations.
// NOLINTBEGIN(readability-redundant-declaration)
extern "C" {
int qmthread_mutex_lock(qmthread_mutex_t *mutex) KSI_ACQUIRE(mutex);
int qmthread_mutex_trylock(qmthread_mutex_t *mutex) KSI_TRY_ACQUIRE(0, mutex);
int qmthread_mutex_unlock(qmthread_mutex_t *mutex) KSI_RELEASE(mutex);
int qmthread_cond_wait(qmthread_cond_t *cond, qmthread_mutex_t *mutex)
    KSI_REQUIRES(mutex);
int qmthread_cond_timedwait(qmthread_cond_t *cond, qmthread_mutex_t *mutex,
                            const struct timespec *deadline)
    KSI_REQUIRES(mutex);
}
// NOLINTEND(readability-redundant-declaration)
