// The worker pool of the threaded service loop. The loop thread hands each
// ready transport (or, for datagrams, a clone holding the received request)
// to an idle worker and blocks while all are busy. A connection's or
// listener's socket stays out of ks_svc_fdset while a worker serves it, so
// one worker at a time reads from it; the worker puts it back and wakes the
// loop when done. A connection whose caller calls again within a moment
// stays with its worker for that call, while another worker is idle.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "rpc/svc/svc_internal.h"
#include "rpc/svc/svc_workers.h"

namespace {

enum worker_state : int { kIdle = 0, kHasWork = 1, kExit = 2 };

// How long a worker waits for the next call on the connection it just
// served before handing the socket back to the loop.
constexpr int kCallAgainWaitMs = 2;

struct worker {
  worker *next;
  qmthread_cond_t cond;
  qmthread_mutex_t mutex;
  qmthread_t tid;
  bool busy;
  int state;      // guarded by mutex
  SVCXPRT *xprt;  // guarded by mutex and the transport-table lock
};

// Settings and the lists, guarded by worker_lock.
qmthread_rwlock_t worker_lock;
bool threaded = false;
int32_t worker_count = 16;
bool started = false;
worker *idle_list = nullptr;
worker *busy_list = nullptr;
// The length of idle_list, changed under worker_lock and read without it.
std::atomic<int> idle_count{0};
// Set once the workers and the update-select pipe are made; the loop reads
// it every round without taking the worker lock.
std::atomic<bool> workers_running{false};

// The dispatcher waits here for an idle worker.
qmthread_mutex_t dispatcher_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
qmthread_cond_t dispatcher_cond;
bool dispatcher_waiting = false;  // guarded by dispatcher_mutex

void init_worker_lock() { qmthread_rwlock_init(&worker_lock, 0); }

// Made on first use, like the transport-table lock.
qmthread_rwlock_t *lock() {
  static const bool made = (init_worker_lock(), true);
  (void)made;
  return &worker_lock;
}

void push(worker **list, worker *w) {
  w->next = *list;
  *list = w;
}

bool unlink(worker **list, worker *w) {
  for (worker **at = list; *at != nullptr; at = &(*at)->next) {
    if (*at == w) {
      *at = w->next;
      return true;
    }
  }
  return false;
}

// REQUIRES: the worker write lock.
void push_idle(worker *w) {
  push(&idle_list, w);
  idle_count.fetch_add(1, std::memory_order_relaxed);
}

// REQUIRES: the worker write lock.
bool unlink_idle(worker *w) {
  if (!unlink(&idle_list, w)) return false;
  idle_count.fetch_sub(1, std::memory_order_relaxed);
  return true;
}

void signal_dispatcher() {
  qmthread_mutex_lock(&dispatcher_mutex);
  if (dispatcher_waiting) pthread_cond_signal(&dispatcher_cond);
  qmthread_mutex_unlock(&dispatcher_mutex);
}

// True when the caller of the connection w serves sends its next call
// within a moment. A client that calls again at once is then served
// without waking the loop and handing the socket to a worker again, which
// costs more than the call itself. The worker waits only while another
// worker is idle, so the loop is never left without one for a new request
// except for that moment.
bool caller_calls_again(worker *w, SVCXPRT *xprt) {
  if (idle_count.load(std::memory_order_relaxed) == 0) return false;
  qmthread_mutex_lock(&w->mutex);
  bool still_ours = w->xprt == xprt;  // not destroyed by its request
  qmthread_mutex_unlock(&w->mutex);
  return still_ours && ksi_svc_conn_await_call(xprt, kCallAgainWaitMs);
}

// Serves the work in w->xprt, then puts the socket back into the set.
void serve(worker *w, SVCXPRT *xprt) {
  if (KS_SVC_CONTROL(xprt, KS_SVC_IS_CLONE, nullptr)) {
    ksi_svc_dispatch_decoded(xprt);
    xprt->xp_ops->xp_destroy(xprt);
    qmthread_rwlock_wrlock(ksi_svc_table_lock());
    ksi_svc_wake_loop_locked();
    qmthread_rwlock_unlock(ksi_svc_table_lock());
    return;
  }
  bool connection = ksi_svc_is_connection(xprt);
  do {
    ks_svc_process_request(xprt);
  } while (connection && caller_calls_again(w, xprt));
  qmthread_rwlock_wrlock(ksi_svc_table_lock());
  qmthread_mutex_lock(&w->mutex);
  if (w->xprt == xprt) ksi_svc_fdset_restore_locked(xprt);
  w->xprt = nullptr;
  qmthread_mutex_unlock(&w->mutex);
  ksi_svc_wake_loop_locked();
  qmthread_rwlock_unlock(ksi_svc_table_lock());
}

void *worker_main(void *arg) {
  auto *w = static_cast<worker *>(arg);
  for (;;) {
    qmthread_mutex_lock(&w->mutex);
    while (w->state == kIdle) {
      w->busy = false;
      qmthread_mutex_unlock(&w->mutex);
      signal_dispatcher();
      qmthread_mutex_lock(&w->mutex);
      if (w->state == kIdle) qmthread_cond_wait(&w->cond, &w->mutex);
    }
    if (w->state != kHasWork) {
      qmthread_mutex_unlock(&w->mutex);
      break;
    }
    w->busy = true;
    SVCXPRT *xprt = w->xprt;
    qmthread_mutex_unlock(&w->mutex);
    serve(w, xprt);
    qmthread_rwlock_wrlock(lock());
    bool was_busy = unlink(&busy_list, w);
    if (was_busy) push_idle(w);
    qmthread_mutex_lock(&w->mutex);
    w->state = was_busy ? kIdle : kExit;
    qmthread_mutex_unlock(&w->mutex);
    qmthread_rwlock_unlock(&worker_lock);
  }
  qmthread_rwlock_wrlock(lock());
  if (!unlink_idle(w)) unlink(&busy_list, w);
  qmthread_rwlock_unlock(&worker_lock);
  pthread_cond_destroy(&w->cond);
  qmthread_mutex_destroy(&w->mutex);
  free(w);
  return nullptr;
}

worker *new_worker() {
  auto *w = static_cast<worker *>(calloc(1, sizeof(worker)));
  if (w == nullptr) return nullptr;
  pthread_cond_init(&w->cond, nullptr);
  qmthread_mutex_init_noraise(&w->mutex);
  w->state = kIdle;
  return w;
}

// Tells the workers made so far to end and waits for them. REQUIRES: the
// worker lock, which is released while waiting.
void end_workers_locked() {
  worker *all = idle_list;
  idle_list = nullptr;
  idle_count.store(0, std::memory_order_relaxed);
  qmthread_t tids[256];
  int n = 0;
  for (worker *w = all; w != nullptr;) {
    worker *next = w->next;
    qmthread_mutex_lock(&w->mutex);
    w->state = kExit;
    pthread_cond_signal(&w->cond);
    qmthread_mutex_unlock(&w->mutex);
    if (n < 256) tids[n++] = w->tid;
    w = next;
  }
  qmthread_rwlock_unlock(&worker_lock);
  for (int i = 0; i < n; ++i) qmthread_join(tids[i], nullptr);
  qmthread_rwlock_wrlock(&worker_lock);
}

}  // namespace

bool ksi_svc_threaded() {
  return workers_running.load(std::memory_order_acquire);
}

void ksi_svc_hand_to_worker(SVCXPRT *xprt) {
  qmthread_mutex_lock(&dispatcher_mutex);
  for (;;) {
    qmthread_rwlock_rdlock(lock());
    bool any_idle = idle_list != nullptr;
    qmthread_rwlock_unlock(&worker_lock);
    if (any_idle) break;
    dispatcher_waiting = true;
    qmthread_cond_wait(&dispatcher_cond, &dispatcher_mutex);
    dispatcher_waiting = false;
  }
  qmthread_mutex_unlock(&dispatcher_mutex);

  SVCXPRT *clone = nullptr;
  if (KS_SVC_CONTROL(xprt, KS_SVC_CLONE, &clone) && clone != nullptr) {
    struct rpc_msg *msg = nullptr;
    KS_SVC_CONTROL(clone, KS_SVC_GETMSG, &msg);
    if (!clone->xp_ops->xp_recv(clone, msg)) {
      clone->xp_ops->xp_destroy(clone);
      return;
    }
    xprt = clone;
  } else {
    ksi_svc_fdset_take(xprt);
  }
  // Only this thread takes workers off the idle list, so one is there.
  qmthread_rwlock_wrlock(&worker_lock);
  worker *w = idle_list;
  unlink_idle(w);
  push(&busy_list, w);
  qmthread_mutex_lock(&w->mutex);
  w->xprt = xprt;
  w->state = kHasWork;
  pthread_cond_signal(&w->cond);
  qmthread_mutex_unlock(&w->mutex);
  qmthread_rwlock_unlock(&worker_lock);
}

void ksi_svc_workers_forget_locked(const SVCXPRT *xprt) {
  qmthread_rwlock_rdlock(lock());
  for (worker *w = busy_list; w != nullptr; w = w->next) {
    qmthread_mutex_lock(&w->mutex);
    if (w->xprt == xprt) w->xprt = nullptr;
    qmthread_mutex_unlock(&w->mutex);
  }
  qmthread_rwlock_unlock(&worker_lock);
}

bool ksi_svc_worker_control(int request, int32_t *value) {
  bool ok = true;
  qmthread_rwlock_wrlock(lock());
  switch (request) {
    case KS_RPC_SVC_THREADED_SET:
      ok = !started && (*value == 0 || *value == 1);
      if (ok) threaded = *value != 0;
      break;
    case KS_RPC_SVC_THREADED_GET:
      *value = threaded ? 1 : 0;
      break;
    case KS_RPC_SVC_NWORKERS_SET:
      ok = !started && *value >= 1;
      if (ok) worker_count = *value;
      break;
    case KS_RPC_SVC_NWORKERS_GET:
      *value = worker_count;
      break;
    default:
      ok = false;
  }
  qmthread_rwlock_unlock(&worker_lock);
  return ok;
}

extern "C" KS_API bool_t ks_svc_setup_threads(void) {
  qmthread_rwlock_wrlock(lock());
  if (started) {
    qmthread_rwlock_unlock(&worker_lock);
    return FALSE;
  }
  started = true;
  if (!threaded) {
    qmthread_rwlock_unlock(&worker_lock);
    return TRUE;
  }
  if (pthread_cond_init(&dispatcher_cond, nullptr) != 0) {
    started = false;
    qmthread_rwlock_unlock(&worker_lock);
    return FALSE;
  }
  for (int32_t i = 0; i < worker_count; ++i) {
    worker *w = new_worker();
    if (w == nullptr ||
        qmthread_create(&w->tid, nullptr, worker_main, w) != 0) {
      if (w != nullptr) {
        pthread_cond_destroy(&w->cond);
        qmthread_mutex_destroy(&w->mutex);
        free(w);
      }
      end_workers_locked();
      qmthread_rwlock_unlock(&worker_lock);
      return FALSE;
    }
    push_idle(w);
  }
  qmthread_rwlock_unlock(&worker_lock);
  ksi_svc_make_update_pipe();
  workers_running.store(true, std::memory_order_release);
  return TRUE;
}
