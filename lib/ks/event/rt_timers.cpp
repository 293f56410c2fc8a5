// The timer queue: events ordered by due time, equal due times in the order
// they were scheduled, and a free list of records that are never returned
// to the heap.

#include <orvexks/pfm.h>
#include <orvexks/rt.h>
#include <orvexks/stg.h>

#include <sys/time.h>

#include <climits>
#include <cstdint>

#include "event/rt_internal.h"
#include "event/rt_msgs.h"

qmthread_mutex_t ksi_rt_mutex = QMTHREAD_MUTEX_INITIALIZER;

namespace {

constexpr int64_t kUsecPerSec = 1000000;
// Longest wait of one pass.
constexpr int64_t kMaxWaitSec = 100000000;

rt_event *queue_head KSI_GUARDED_BY(ksi_rt_mutex) = nullptr;
rt_event *queue_tail KSI_GUARDED_BY(ksi_rt_mutex) = nullptr;
rt_event *free_list KSI_GUARDED_BY(ksi_rt_mutex) = nullptr;

// A due time normalised to microseconds in 0..999999, with the seconds
// kept within the record's 32 bits.
struct due_time {
  int32_t sec;
  int32_t usec;
};

due_time make_due(int64_t sec, int64_t usec) {
  sec += usec / kUsecPerSec;
  usec %= kUsecPerSec;
  if (usec < 0) {
    usec += kUsecPerSec;
    --sec;
  }
  if (sec > INT32_MAX) sec = INT32_MAX;
  if (sec < INT32_MIN) sec = INT32_MIN;
  return {static_cast<int32_t>(sec), static_cast<int32_t>(usec)};
}

timeval now() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return tv;
}

due_time in_seconds(uint32_t seconds) {
  timeval t = now();
  return make_due(static_cast<int64_t>(t.tv_sec) + seconds, t.tv_usec);
}

// Microseconds from t until the event is due; negative once it is overdue.
int64_t until_due(const rt_event *e, const timeval &t) {
  return (static_cast<int64_t>(e->due_sec) - t.tv_sec) * kUsecPerSec +
         (e->due_usec - t.tv_usec);
}

bool due_at_or_before(const rt_event *e, due_time t) {
  return e->due_sec < t.sec || (e->due_sec == t.sec && e->due_usec <= t.usec);
}

// Links ev after every queued event due at or before it. The walk starts
// at the tail: events are mostly scheduled in due order, so the common
// insertion is constant time.
void insert(rt_event *ev) KSI_REQUIRES(ksi_rt_mutex) {
  due_time t{ev->due_sec, ev->due_usec};
  rt_event *after = queue_tail;
  while (after != nullptr && !due_at_or_before(after, t)) after = after->prev;
  ev->prev = after;
  ev->next = after != nullptr ? after->next : queue_head;
  if (ev->next != nullptr)
    ev->next->prev = ev;
  else
    queue_tail = ev;
  if (after != nullptr)
    after->next = ev;
  else
    queue_head = ev;
}

void unlink(rt_event *ev) KSI_REQUIRES(ksi_rt_mutex) {
  if (ev->prev != nullptr)
    ev->prev->next = ev->next;
  else
    queue_head = ev->next;
  if (ev->next != nullptr)
    ev->next->prev = ev->prev;
  else
    queue_tail = ev->prev;
  ev->next = ev->prev = nullptr;
  ev->magic = kRtMagicDone;
}

// The mt mark is cleared, so that a record on the free list is never
// freed a second time by rt_free_event.
void recycle(rt_event *ev) KSI_REQUIRES(ksi_rt_mutex) {
  if (ev->caller_owned) return;
  ev->mt = 0;
  ev->next = free_list;
  free_list = ev;
}

// Queues callback(arg) at due in storage, a recycled record or a new one.
rt_event *schedule(rt_callback_t callback, void *arg, due_time due, bool mt,
                   rt_event *storage) KSI_EXCLUDES(ksi_rt_mutex) {
  qmthread_mutex_lock(&ksi_rt_mutex);
  rt_event *ev = storage;
  if (ev == nullptr && free_list != nullptr) {
    ev = free_list;
    free_list = ev->next;
  }
  if (ev == nullptr) {
    qmthread_mutex_unlock(&ksi_rt_mutex);
    ev = static_cast<rt_event *>(stg_malloc(sizeof(rt_event)));
    if (ev == nullptr) {
      imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_MALLOC_FAILED, __FILE__,
                 __LINE__);
      return nullptr;
    }
    qmthread_mutex_lock(&ksi_rt_mutex);
  }
  ev->callback = callback;
  ev->arg = arg;
  ev->due_sec = due.sec;
  ev->due_usec = due.usec;
  ev->magic = RT_MAGIC;
  ev->caller_owned = storage != nullptr ? 1 : 0;
  ev->mt = mt ? 1 : 0;
  insert(ev);
  bool new_head = queue_head == ev;
  qmthread_mutex_unlock(&ksi_rt_mutex);
  if (new_head) ksi_rt_wake();
  return ev;
}

// Takes a queued event out of the queue: 0 removed (its callback and
// argument in *was), 2 not queued, 4 (mt only) an mt event that fired.
int unschedule(rt_event *event, int mt, ksi_rt_due *was)
    KSI_REQUIRES(ksi_rt_mutex) {
  if (mt && event->magic == kRtMagicDone) return 4;
  if (event->magic != RT_MAGIC) return 2;
  was->callback = event->callback;
  was->arg = event->arg;
  unlink(event);
  recycle(event);
  return 0;
}

due_time after_relative(const struct timeval *timeout) {
  timeval abs_time = now();
  if (!(timeout->tv_sec >= 0 && timeout->tv_sec < abs_time.tv_sec))
    pfm_assert_fail("timeout->tv_sec >= 0 && timeout->tv_sec < abs_time.tv_sec",
                    __FILE__, __LINE__);
  return make_due(static_cast<int64_t>(abs_time.tv_sec) + timeout->tv_sec,
                  static_cast<int64_t>(abs_time.tv_usec) + timeout->tv_usec);
}

}  // namespace

bool ksi_rt_timer_step(struct timeval *clock, struct timeval *wait,
                       ksi_rt_due *fired) {
  fired->callback = nullptr;
  rt_event *event = queue_head;
  if (event == nullptr) return false;
  int64_t diff = until_due(event, *clock);
  if (diff >= 0) {
    *clock = now();
    diff = until_due(event, *clock);
  }
  if (diff >= 0) {
    int64_t sec = diff / kUsecPerSec;
    wait->tv_sec = static_cast<time_t>(sec < kMaxWaitSec ? sec : kMaxWaitSec);
    wait->tv_usec = static_cast<suseconds_t>(diff % kUsecPerSec);
    return true;
  }
  PFM_ASSERT(event->magic == RT_MAGIC);
  unlink(event);
  fired->callback = event->callback;
  fired->arg = event->arg;
  if (!event->mt) recycle(event);
  return true;
}

extern "C" {

KS_API struct rt_event *rt_sched(rt_callback_t callback, void *arg,
                                 uint32_t seconds) {
  return schedule(callback, arg, in_seconds(seconds), false, nullptr);
}

KS_API struct rt_event *rt_sched_mt(rt_callback_t callback, void *arg,
                                    uint32_t seconds) {
  return schedule(callback, arg, in_seconds(seconds), true, nullptr);
}

KS_API struct rt_event *rt_sched_rel(rt_callback_t callback, void *arg,
                                     const struct timeval *rel) {
  return schedule(callback, arg, after_relative(rel), false, nullptr);
}

KS_API struct rt_event *rt_sched_rel_mt(rt_callback_t callback, void *arg,
                                        const struct timeval *rel) {
  return schedule(callback, arg, after_relative(rel), true, nullptr);
}

KS_API struct rt_event *rt_sched_abs(rt_callback_t callback, void *arg,
                                     const struct timeval *abs_time) {
  return schedule(callback, arg, make_due(abs_time->tv_sec, abs_time->tv_usec),
                  false, nullptr);
}

KS_API struct rt_event *rt_sched_int(rt_callback_t callback, void *arg,
                                     uint32_t seconds, struct rt_event *storage,
                                     size_t max_event_size) {
  PFM_ASSERT(storage != nullptr);
  PFM_ASSERT(max_event_size >= sizeof(struct rt_event));
  return schedule(callback, arg, in_seconds(seconds), false, storage);
}

KS_API int rt_unsched_mt(struct rt_event *event, int mt) {
  ksi_rt_due was;
  qmthread_mutex_lock(&ksi_rt_mutex);
  int result = unschedule(event, mt, &was);
  qmthread_mutex_unlock(&ksi_rt_mutex);
  return result;
}

KS_API int rt_unsched(struct rt_event *event) {
  return rt_unsched_mt(event, 0) == 2 ? 0 : 1;
}

KS_API struct rt_event *rt_resched(struct rt_event *event, uint32_t seconds) {
  ksi_rt_due was;
  qmthread_mutex_lock(&ksi_rt_mutex);
  int result = unschedule(event, 0, &was);
  qmthread_mutex_unlock(&ksi_rt_mutex);
  if (result != 0) return nullptr;
  return rt_sched(was.callback, was.arg, seconds);
}

KS_API struct rt_event *rt_resched_mt(struct rt_event *event,
                                      uint32_t seconds) {
  ksi_rt_due was;
  qmthread_mutex_lock(&ksi_rt_mutex);
  int result = unschedule(event, 1, &was);
  qmthread_mutex_unlock(&ksi_rt_mutex);
  if (result != 0) return nullptr;
  return rt_sched_mt(was.callback, was.arg, seconds);
}

KS_API void rt_free_event(struct rt_event *event) {
  qmthread_mutex_lock(&ksi_rt_mutex);
  if (event->magic == kRtMagicDone && event->mt) recycle(event);
  qmthread_mutex_unlock(&ksi_rt_mutex);
}

KS_API int rt_event_in_timeout(const struct rt_event *event) {
  qmthread_mutex_lock(&ksi_rt_mutex);
  int done = event->magic == kRtMagicDone;
  qmthread_mutex_unlock(&ksi_rt_mutex);
  return done;
}

}  // extern "C"
