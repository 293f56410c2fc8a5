/* The event loop: timers, descriptor handlers and worker threads.
 *
 * Timed callbacks and descriptor-readiness callbacks run on the attached
 * thread (the one that called ks_system_init) inside rt_run or rt_poll.
 * Scheduling, unscheduling and (un)registering may be called from any
 * thread; callbacks always run with the loop's lock released, so they may
 * schedule, unschedule, register and unregister freely.
 *
 * Misuse ends the process through the fault-management abort (pfm.h):
 * running the loop from another thread or with raises inhibited, a bad
 * relative time, event storage that is too small, registering one
 * descriptor twice in a list, a corrupted timer queue, a failing select.
 * A handler kind outside 0..5 ends it with pfm_panic. */
#ifndef ORVEXKS_RT_H
#define ORVEXKS_RT_H

/* ks_base.h comes first: it picks the POSIX feature set that fd_set and
 * struct timeval need in strict C. */
#include <orvexks/ks_base.h>

#include <sys/select.h>
#include <sys/time.h>

#include <orvexks/imsg.h>

KS_BEGIN_DECLS

typedef void (*rt_callback_t)(void *arg);
typedef void (*rt_fd_callback_t)(int fd, void *arg);
typedef void (*rt_fd_set_callback_t)(fd_set *fds, void *arg);

/* A timer event. The record is complete here so that callers of
 * rt_sched_int can size their storage (48 bytes on LP64). The due time is
 * an absolute time of day kept as two 32-bit words. magic is RT_MAGIC while
 * the event is queued and changes once it fires or is unscheduled. */
struct rt_event {
  struct rt_event *next; /* later event; free-list link when free */
  struct rt_event *prev; /* earlier event, null at the head */
  int32_t due_sec;
  int32_t due_usec;
  rt_callback_t callback;
  void *arg;
  uint16_t magic;
  uint16_t caller_owned; /* 1: storage given to rt_sched_int */
  uint16_t mt;           /* 1: scheduled by an _mt operation */
};

#define RT_MAGIC 0x7ACE

/* Descriptor handler kinds. RT_FD_READ2 is a second read list, dispatched
 * after the first; RT_FD_WRITE2 joins the write list; RT_FD_IGNORED is
 * accepted and does nothing. */
#define RT_FD_READ 0
#define RT_FD_WRITE 1
#define RT_FD_EXCEPT 2
#define RT_FD_READ2 3
#define RT_FD_WRITE2 4
#define RT_FD_IGNORED 5

/* Marks the loop as initialised; nothing else. */
KS_API void rt_init(void);

/* Schedules callback(arg) at now + seconds; null when no memory is left
 * (reported). Events with equal due times fire in scheduling order; an
 * event fires once its due time is strictly past. The _mt variants mark
 * the event so that its record outlives the firing: see rt_unsched_mt and
 * rt_free_event. */
KS_API struct rt_event *rt_sched(rt_callback_t callback, void *arg,
                                 uint32_t seconds);
KS_API struct rt_event *rt_sched_mt(rt_callback_t callback, void *arg,
                                    uint32_t seconds);
/* At now + *rel; rel->tv_sec must be at least 0 and below the current
 * seconds since the epoch (abort otherwise). */
KS_API struct rt_event *rt_sched_rel(rt_callback_t callback, void *arg,
                                     const struct timeval *rel);
KS_API struct rt_event *rt_sched_rel_mt(rt_callback_t callback, void *arg,
                                        const struct timeval *rel);
/* At the absolute time of day *abs_time. */
KS_API struct rt_event *rt_sched_abs(rt_callback_t callback, void *arg,
                                     const struct timeval *abs_time);
/* At now + seconds in the caller's storage (size must be at least
 * sizeof(struct rt_event), abort otherwise); returns storage. The loop never
 * frees caller storage. */
KS_API struct rt_event *rt_sched_int(rt_callback_t callback, void *arg,
                                     uint32_t seconds, struct rt_event *storage,
                                     size_t size);

/* 1 when the event was queued and is now removed, 0 when it was not queued
 * (it already fired or was removed). After a removal the handle may only be
 * passed to rt_event_in_timeout. */
KS_API int rt_unsched(struct rt_event *event);
/* 0 removed; 2 not queued; 4 (mt set only) the event already fired, and
 * its owner frees it with rt_free_event. */
KS_API int rt_unsched_mt(struct rt_event *event, int mt);
/* Unschedules the event and schedules its callback and argument again at
 * now + seconds: the new handle (possibly the same record), or null when
 * the event was not queued. */
KS_API struct rt_event *rt_resched(struct rt_event *event, uint32_t seconds);
/* The mt form: a queued event is moved as rt_resched does, and the new
 * event is an mt event; null when the event was not queued, also when it
 * already fired (its owner still frees it with rt_free_event). */
KS_API struct rt_event *rt_resched_mt(struct rt_event *event, uint32_t seconds);
/* Returns a fired mt event's record to the loop. Anything else (a queued
 * event, one freed before, caller storage) is left alone. */
KS_API void rt_free_event(struct rt_event *event);
/* Non-zero when the event has fired or has been unscheduled. */
KS_API int rt_event_in_timeout(const struct rt_event *event);

/* Registers callback(fd, arg) for readiness of fd: 1 registered (always for
 * RT_FD_IGNORED), 0 refused: no memory (reported), a full list (1023
 * handlers) or a descriptor of FD_SETSIZE (1024) or more. */
KS_API int rt_handle_fd(int kind, rt_fd_callback_t callback, int fd, void *arg);
/* 1 removed (always for RT_FD_IGNORED), 0 not found. */
KS_API int rt_unhandle_fd(int kind, int fd);
/* Registers callback(ready, arg) for the caller-owned set (kinds 0..2): the
 * callback gets the ready descriptors of set. 1 registered, 0 no memory. */
KS_API int rt_handle_fd_set(int kind, rt_fd_set_callback_t callback,
                            fd_set *set, void *arg);
/* 1 removed, 0 not found. */
KS_API int rt_unhandle_fd_set(int kind, fd_set *set);
/* 1 when fd can take part in a select set (0 <= fd < FD_SETSIZE), else 0. */
KS_API int rt_fd_validate_max_fd(int fd);

/* Runs timers and handlers until rt_shutdown. REQUIRES: the attached
 * thread, raises enabled. A raise posted to the thread (an interrupt) wakes
 * the wait and is delivered from here. */
KS_API void rt_run(void);
/* One pass over the descriptors without waiting; timers are not looked at.
 * Same requirements as rt_run. */
KS_API void rt_poll(void);
/* Makes rt_run return after its current callback or wait; any thread. */
KS_API void rt_shutdown(void);

/* Fronts the RPC server's worker threads: count 0 single-threaded
 * dispatch, count > 0 that many workers. 0 success, 1 failure: a count
 * below 0 (silently, nothing changes) or a setting the server refused
 * (reported). */
KS_API int rt_set_worker_threads(int32_t count);
/* The current count (0 when single-threaded): 0 success, 1 failure. */
KS_API int rt_get_worker_threads(int32_t *count);

/* The family's message table. */
KS_API const ks_msg_table_t *rt_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_rt_ks_msg_table_adr(void);

KS_END_DECLS

#endif
