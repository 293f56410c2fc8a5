// The table of registered transports and ks_svc_fdset, the record-size
// setting they share a lock with, and waking the service loop through the
// update-select pipe when the set changes while the loop waits.
#include <orvexks/sysutl.h>

#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "rpc/svc/svc_internal.h"
#include "rpc/svc/svc_workers.h"

fd_set ks_svc_fdset;

namespace {

qmthread_rwlock_t table_lock;
qmthread_rwlock_t pipe_lock;

void init_locks() {
  qmthread_rwlock_init(&table_lock, 0);
  qmthread_rwlock_init(&pipe_lock, 0);
}

// Guarded by table_lock.
SVCXPRT *table[KS_SVC_MAX_XPRTS];
int table_count = 0;
int fdset_count = 0;
int32_t connmaxrec = 0;

// Guarded by pipe_lock.
bool in_select = false;
bool wake_pending = false;
int wake_fd = -1;
// Set once the pipe is made. Until then nothing can wake the loop, so it
// need not mark whether it waits, and saves the pipe lock twice a round.
std::atomic<bool> pipe_made{false};

int find_locked(const SVCXPRT *xprt) {
  for (int i = 0; i < table_count; ++i)
    if (table[i] == xprt) return i;
  return -1;
}

void fdset_add_locked(int fd) {
  if (fdset_count < FD_SETSIZE && !FD_ISSET(fd, &ks_svc_fdset)) {
    FD_SET(fd, &ks_svc_fdset);
    ++fdset_count;
  }
}

void fdset_remove_locked(int fd) {
  if (FD_ISSET(fd, &ks_svc_fdset)) {
    FD_CLR(fd, &ks_svc_fdset);
    --fdset_count;
  }
}

}  // namespace

qmthread_rwlock_t *ksi_svc_table_lock() {
  // Made on first use. Every request asks for this lock: a function-local
  // static costs it one load where a once-call costs a library call.
  static const bool made = (init_locks(), true);
  (void)made;
  return &table_lock;
}

int32_t ksi_svc_connmaxrec_locked() { return connmaxrec; }

bool ksi_svc_is_registered_locked(const SVCXPRT *xprt) {
  return find_locked(xprt) >= 0;
}

void ksi_svc_fdset_restore_locked(const SVCXPRT *xprt) {
  if (find_locked(xprt) >= 0) fdset_add_locked(xprt->xp_fd);
}

void ksi_svc_fdset_take(const SVCXPRT *xprt) {
  qmthread_rwlock_wrlock(ksi_svc_table_lock());
  fdset_remove_locked(xprt->xp_fd);
  qmthread_rwlock_unlock(&table_lock);
}

void ksi_svc_wake_loop_locked() {
  qmthread_rwlock_wrlock(&pipe_lock);
  if (in_select && !wake_pending && wake_fd >= 0) {
    char byte = 0;
    if (send(wake_fd, &byte, 1, MSG_NOSIGNAL) == 1) wake_pending = true;
  }
  qmthread_rwlock_unlock(&pipe_lock);
}

void ksi_svc_set_in_select(bool value) {
  if (!pipe_made.load(std::memory_order_acquire)) return;
  qmthread_rwlock_wrlock(&pipe_lock);
  in_select = value;
  qmthread_rwlock_unlock(&pipe_lock);
}

// ---- The update-select pipe.

namespace {

bool_t pipe_recv(SVCXPRT *xprt, struct rpc_msg *) {
  char byte;
  ssize_t got;
  do {
    got = recv(xprt->xp_fd, &byte, 1, 0);
  } while (got < 0 && errno == EINTR);
  if (got != 1) fputs("update_select_request: bad read count\n", stderr);
  qmthread_rwlock_wrlock(&pipe_lock);
  wake_pending = false;
  qmthread_rwlock_unlock(&pipe_lock);
  return FALSE;
}

enum xprt_stat pipe_stat(SVCXPRT *) { return XPRT_IDLE; }
bool_t pipe_getargs(SVCXPRT *, xdrproc_t, void *) {
  ksi_svc_bad_op("update-select pipe");
}
bool_t pipe_reply(SVCXPRT *, struct rpc_msg *) {
  ksi_svc_bad_op("update-select pipe");
}
XDR *pipe_reply_xdrs(SVCXPRT *) { ksi_svc_bad_op("update-select pipe"); }
bool_t pipe_reply_finish(SVCXPRT *) { ksi_svc_bad_op("update-select pipe"); }

void pipe_destroy(SVCXPRT *xprt) {
  ks_xprt_unregister(xprt);
  close(xprt->xp_fd);
  qmthread_rwlock_wrlock(&pipe_lock);
  if (wake_fd >= 0) close(wake_fd);
  wake_fd = -1;
  qmthread_rwlock_unlock(&pipe_lock);
  ksi_svc_free_xprt(xprt);
}

const struct xp_ops pipe_ops = {
    pipe_recv,       pipe_stat,         pipe_getargs, pipe_reply,
    pipe_reply_xdrs, pipe_reply_finish, pipe_getargs, pipe_destroy};

[[noreturn]] void pipe_failed(const char *text) {
  fputs(text, stderr);
  ksi_svc_bad_op("ks_mk_update_select_pipe");
}

}  // namespace

void ksi_svc_make_update_pipe() {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  socklen_t len = sizeof addr;
  if (listener < 0 ||
      bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
    pipe_failed("ks_mk_update_select_pipe: problem binding accept socket\n");
  if (getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
    pipe_failed(
        "ks_mk_update_select_pipe: problem getting accept socket address\n");
  if (addr.sin_addr.s_addr == htonl(INADDR_ANY))
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listen(listener, 5) != 0)
    pipe_failed(
        "ks_mk_update_select_pipe: problem listening on accept socket\n");
  int writer = socket(AF_INET, SOCK_STREAM, 0);
  if (writer < 0 || sysutl_set_socket_nonblocking(writer, 1) != 0)
    pipe_failed(
        "ks_mk_update_select_pipe: problem setting write socket NBIO\n");
  if (connect(writer, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 &&
      errno != EINPROGRESS && errno != EWOULDBLOCK)
    pipe_failed("ks_mk_update_select_pipe: problem connecting write socket\n");
  int reader;
  do {
    reader = accept(listener, nullptr, nullptr);
  } while (reader < 0 && errno == EINTR);
  if (reader < 0)
    pipe_failed("ks_mk_update_select_pipe: problem connecting write socket\n");
  close(listener);
  SVCXPRT *xprt = ksi_svc_alloc_xprt();
  if (xprt == nullptr) pipe_failed("ks_mk_update_select_pipe: out of memory\n");
  xprt->xp_fd = reader;
  xprt->xp_ops = &pipe_ops;
  xprt->xp_type = 3;
  qmthread_rwlock_wrlock(&pipe_lock);
  wake_fd = writer;
  qmthread_rwlock_unlock(&pipe_lock);
  pipe_made.store(true, std::memory_order_release);
  if (!ks_xprt_register(xprt))
    pipe_failed("ks_mk_update_select_pipe: could not register\n");
}

bool ksi_svc_is_pipe(const SVCXPRT *xprt) { return xprt->xp_ops == &pipe_ops; }

extern "C" {

KS_API bool_t ks_xprt_register(SVCXPRT *xprt) {
  int fd = xprt->xp_fd;
  if (fd < 0 || fd >= FD_SETSIZE) return FALSE;
  qmthread_rwlock_wrlock(ksi_svc_table_lock());
  bool_t ok = table_count < KS_SVC_MAX_XPRTS;
  if (ok) {
    table[table_count++] = xprt;
    fdset_add_locked(fd);
    ksi_svc_wake_loop_locked();
  }
  qmthread_rwlock_unlock(&table_lock);
  if (ok) sysutl_set_cloexec_other(fd, 1);
  return ok;
}

KS_API void ks_xprt_unregister(SVCXPRT *xprt) {
  qmthread_rwlock_wrlock(ksi_svc_table_lock());
  int at = find_locked(xprt);
  if (at >= 0) {
    fdset_remove_locked(xprt->xp_fd);
    memmove(&table[at], &table[at + 1],
            (table_count - at - 1) * sizeof table[0]);
    --table_count;
    ksi_svc_workers_forget_locked(xprt);
  }
  qmthread_rwlock_unlock(&table_lock);
}

KS_API bool_t ks_rpc_control(int request, void *info) {
  auto *value = static_cast<int32_t *>(info);
  switch (request) {
    case KS_RPC_SVC_CONNMAXREC_SET:
      if (*value < 1) return FALSE;
      qmthread_rwlock_wrlock(ksi_svc_table_lock());
      connmaxrec = *value;
      qmthread_rwlock_unlock(&table_lock);
      return TRUE;
    case KS_RPC_SVC_CONNMAXREC_GET:
      qmthread_rwlock_rdlock(ksi_svc_table_lock());
      *value = connmaxrec;
      qmthread_rwlock_unlock(&table_lock);
      return TRUE;
    default:
      return ksi_svc_worker_control(request, value) ? TRUE : FALSE;
  }
}

}  // extern "C"

// ---- Walking the table for the loop.

SVCXPRT *ksi_svc_take_ready(fd_set *ready) {
  // Usually one socket is ready: once it is taken, the empty set ends the
  // walk without the lock.
  static const fd_set none = {};
  if (memcmp(ready, &none, sizeof none) == 0) return nullptr;
  qmthread_rwlock_rdlock(ksi_svc_table_lock());
  SVCXPRT *found = nullptr;
  for (int i = 0; i < table_count && found == nullptr; ++i) {
    int fd = table[i]->xp_fd;
    if (FD_ISSET(fd, ready)) {
      FD_CLR(fd, ready);
      found = table[i];
    }
  }
  qmthread_rwlock_unlock(&table_lock);
  return found;
}

int ksi_svc_collect_idle(const fd_set *set, time_t limit, SVCXPRT **out) {
  qmthread_rwlock_rdlock(ksi_svc_table_lock());
  int n = 0;
  for (int i = 0; i < table_count; ++i) {
    SVCXPRT *xprt = table[i];
    if (FD_ISSET(xprt->xp_fd, set) && ksi_svc_is_connection(xprt) &&
        ksi_svc_conn_idle_since(xprt, limit))
      out[n++] = xprt;
  }
  qmthread_rwlock_unlock(&table_lock);
  return n;
}

int ksi_svc_copy_fdset(fd_set *first, fd_set *second) {
  qmthread_rwlock_rdlock(ksi_svc_table_lock());
  *first = ks_svc_fdset;
  *second = ks_svc_fdset;
  int highest = -1;
  for (int i = 0; i < table_count; ++i)
    if (table[i]->xp_fd > highest) highest = table[i]->xp_fd;
  qmthread_rwlock_unlock(&table_lock);
  return highest + 1;
}
