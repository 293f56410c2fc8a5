// Connection transports: a connected stream socket read and written
// through a record-marking stream. A blocking connection reads as it
// decodes and may serve several pipelined calls in one go; a non-blocking
// one (the listener's maximum record size set) first assembles a whole
// record, never waits for a slow peer and is closed when idle too long.
#include <orvexks/rpc/xdrrec.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "rpc/bind/netconfig.h"
#include "rpc/svc/svc_internal.h"
#include "rpc/xdr/xdr_stream.h"

namespace {

constexpr int kReadWaitMs = 35 * 1000;
constexpr int kWriteGiveUpMs = 2 * 1000;

struct conn_private {
  enum xprt_stat state;
  uint32_t xid;
  XDR xdrs;
  char verf_body[MAX_AUTH_BYTES];
  uint32_t sendsz;
  uint32_t recvsz;
  int32_t maxrec;
  bool nonblock;
  // While set, the next read is a blocking one that waits for the
  // caller's next call at most the socket's receive time-out.
  bool awaiting_call;
  int receive_timeout_ms;  // as set on the socket; 0 until then
  std::atomic<time_t> last_recv;
};

conn_private *priv(const SVCXPRT *xprt) {
  return static_cast<conn_private *>(xprt->xp_p1);
}

int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits until fd is ready for events or timeout_ms pass; false on a
// timeout or failure.
bool wait_for(int fd, short events, int timeout_ms) {
  struct pollfd pfd = {fd, events, 0};
  for (;;) {
    int n = poll(&pfd, 1, timeout_ms);
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

ssize_t recv_retrying(int fd, char *buf, int len, int flags) {
  ssize_t got;
  do {
    got = recv(fd, buf, static_cast<size_t>(len), flags);
  } while (got < 0 && errno == EINTR);
  return got;
}

bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

int conn_read(void *handle, char *buf, int len) {
  auto *xprt = static_cast<SVCXPRT *>(handle);
  conn_private *cd = priv(xprt);
  ssize_t got;
  if (cd->awaiting_call) {
    // One blocking read, bounded by the receive time-out: it both waits
    // for the call and takes it. Nothing in that time is no failure.
    got = recv_retrying(xprt->xp_fd, buf, len, 0);
    if (got < 0 && would_block()) return -1;
  } else {
    // Data that is already there is taken without waiting; a blocking
    // connection waits for more at most 35 seconds.
    got = recv_retrying(xprt->xp_fd, buf, len, MSG_DONTWAIT);
    if (!cd->nonblock && got < 0 && would_block()) {
      if (!wait_for(xprt->xp_fd, POLLIN, kReadWaitMs)) {
        cd->state = XPRT_DIED;
        return -1;
      }
      got = recv_retrying(xprt->xp_fd, buf, len, MSG_DONTWAIT);
    }
  }
  if (got > 0) {
    cd->last_recv.store(ksi_svc_now(), std::memory_order_relaxed);
    return static_cast<int>(got);
  }
  if (cd->nonblock && (got == 0 || would_block())) return 0;
  cd->state = XPRT_DIED;
  return -1;
}

int conn_write(void *handle, char *buf, int len) {
  auto *xprt = static_cast<SVCXPRT *>(handle);
  conn_private *cd = priv(xprt);
  int64_t began = -1;  // read when the socket first refuses more
  for (int left = len; left > 0;) {
    ssize_t sent =
        send(xprt->xp_fd, buf, static_cast<size_t>(left), MSG_NOSIGNAL);
    if (sent > 0) {
      buf += sent;
      left -= static_cast<int>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && cd->nonblock && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (began < 0) began = now_ms();
      int remaining = static_cast<int>(kWriteGiveUpMs - (now_ms() - began));
      if (remaining > 0 && wait_for(xprt->xp_fd, POLLOUT, remaining)) continue;
    }
    cd->state = XPRT_DIED;
    return -1;
  }
  return len;
}

bool_t conn_recv(SVCXPRT *xprt, struct rpc_msg *msg) {
  conn_private *cd = priv(xprt);
  XDR *xdrs = &cd->xdrs;
  if (cd->nonblock) {
    int status = XPRT_IDLE;
    if (!xdrrec_getrec(xdrs, &status, TRUE)) {
      if (status == XPRT_DIED) cd->state = XPRT_DIED;
      return FALSE;
    }
    xdrs->x_op = XDR_DECODE;
  } else {
    xdrs->x_op = XDR_DECODE;
    if (!ks_xdrrec_skiprecord(xdrs)) {
      cd->state = XPRT_DIED;
      return FALSE;
    }
  }
  if (!xdr_ks_callmsg(xdrs, msg)) {
    cd->state = XPRT_DIED;
    return FALSE;
  }
  cd->xid = msg->rm_xid;
  return TRUE;
}

enum xprt_stat conn_stat(SVCXPRT *xprt) {
  conn_private *cd = priv(xprt);
  if (cd->state == XPRT_DIED) return XPRT_DIED;
  return ks_xdrrec_eof(&cd->xdrs) ? XPRT_IDLE : XPRT_MOREREQS;
}

KSI_XDR_CALLS_FILTERS bool_t conn_getargs(SVCXPRT *xprt, xdrproc_t xargs,
                                          void *argsp) {
  return (*xargs)(&priv(xprt)->xdrs, argsp);
}

KSI_XDR_CALLS_FILTERS bool_t conn_freeargs(SVCXPRT *xprt, xdrproc_t xargs,
                                           void *argsp) {
  XDR *xdrs = &priv(xprt)->xdrs;
  xdrs->x_op = XDR_FREE;
  return (*xargs)(xdrs, argsp);
}

bool_t conn_reply(SVCXPRT *xprt, struct rpc_msg *msg) {
  conn_private *cd = priv(xprt);
  XDR *xdrs = &cd->xdrs;
  xdrs->x_op = XDR_ENCODE;
  msg->rm_xid = cd->xid;
  bool_t ok = xdr_ks_replymsg(xdrs, msg);
  if (ok && !xprt->xp_reply_in_progress) ok = ks_xdrrec_endofrecord(xdrs, TRUE);
  // A reply that failed half-way leaves the stream unusable.
  if (!ok) cd->state = XPRT_DIED;
  return ok;
}

XDR *conn_reply_xdrs(SVCXPRT *xprt) { return &priv(xprt)->xdrs; }

bool_t conn_reply_finish(SVCXPRT *xprt) {
  conn_private *cd = priv(xprt);
  bool_t ok = ks_xdrrec_endofrecord(&cd->xdrs, TRUE);
  if (!ok) cd->state = XPRT_DIED;
  return ok;
}

void free_conn(SVCXPRT *xprt) {
  conn_private *cd = priv(xprt);
  if (cd != nullptr) {
    if (cd->xdrs.x_ops != nullptr) XDR_DESTROY(&cd->xdrs);
    cd->~conn_private();
    free(cd);
  }
  ksi_svc_free_xprt(xprt);
}

void conn_destroy(SVCXPRT *xprt) {
  ks_xprt_unregister(xprt);
  close(xprt->xp_fd);
  free_conn(xprt);
}

const struct xp_ops conn_ops = {
    conn_recv,       conn_stat,         conn_getargs,  conn_reply,
    conn_reply_xdrs, conn_reply_finish, conn_freeargs, conn_destroy};

}  // namespace

bool ksi_svc_is_connection(const SVCXPRT *xprt) {
  return xprt->xp_ops == &conn_ops;
}

bool ksi_svc_conn_idle_since(const SVCXPRT *xprt, time_t limit) {
  const conn_private *cd = priv(xprt);
  return cd->nonblock && cd->last_recv.load(std::memory_order_relaxed) < limit;
}

SVCXPRT *ksi_svc_make_conn(int fd, uint32_t sendsz, uint32_t recvsz,
                           const char *who) {
  SVCXPRT *xprt = fd >= 0 && fd < FD_SETSIZE ? ksi_svc_alloc_xprt() : nullptr;
  void *mem = xprt != nullptr ? calloc(1, sizeof(conn_private)) : nullptr;
  if (mem == nullptr) {
    if (xprt != nullptr) ksi_svc_free_xprt(xprt);
    fprintf(stderr, "%s: ks_makefd_xprt: out of memory\n", who);
    return nullptr;
  }
  auto *cd = new (mem) conn_private();
  cd->state = XPRT_IDLE;
  cd->sendsz = sendsz;
  cd->recvsz = recvsz;
  cd->last_recv.store(ksi_svc_now(), std::memory_order_relaxed);
  xprt->xp_fd = fd;
  xprt->xp_p1 = cd;
  xprt->xp_ops = &conn_ops;
  xprt->xp_type = 3;
  xprt->xp_verf.oa_base = cd->verf_body;
  ks_xdrrec_create(&cd->xdrs, sendsz, recvsz, xprt, conn_read, conn_write);
  const struct netconfig *nconf = ksi_netconfig_of_socket(fd);
  if (cd->xdrs.x_ops == nullptr ||
      (nconf != nullptr &&
       (xprt->xp_netid = strdup(nconf->nc_netid)) == nullptr)) {
    free_conn(xprt);
    fprintf(stderr, "%s: ks_makefd_xprt: out of memory\n", who);
    return nullptr;
  }
  return xprt;
}

void ksi_svc_conn_mark_dead(SVCXPRT *xprt) { priv(xprt)->state = XPRT_DIED; }

bool ksi_svc_conn_await_call(SVCXPRT *xprt, int wait_ms) {
  conn_private *cd = priv(xprt);
  if (cd->receive_timeout_ms != wait_ms && !cd->nonblock) {
    struct timeval limit = {wait_ms / 1000, (wait_ms % 1000) * 1000};
    if (setsockopt(xprt->xp_fd, SOL_SOCKET, SO_RCVTIMEO, &limit,
                   sizeof limit) == 0)
      cd->receive_timeout_ms = wait_ms;
  }
  // A blocking connection reads the call into its record stream as it
  // waits, which saves a poll per call; a non-blocking one (its socket
  // never blocks) polls.
  if (cd->nonblock || cd->receive_timeout_ms != wait_ms)
    return wait_for(xprt->xp_fd, POLLIN, wait_ms);
  cd->awaiting_call = true;
  bool came = ksi_xdrrec_prefetch(&cd->xdrs);
  cd->awaiting_call = false;
  return came || cd->state == XPRT_DIED;
}

bool ksi_svc_conn_set_nonblock(SVCXPRT *xprt, int32_t maxrec) {
  conn_private *cd = priv(xprt);
  cd->nonblock = true;
  cd->maxrec = maxrec;
  return xdrrec_setnonblock(&cd->xdrs, static_cast<uint32_t>(maxrec));
}

extern "C" {

KS_API SVCXPRT *ks_svc_fd_create(int fd, uint32_t sendsz, uint32_t recvsz) {
  sendsz = ksi_svc_size(SOCK_STREAM, sendsz);
  recvsz = ksi_svc_size(SOCK_STREAM, recvsz);
  SVCXPRT *xprt = ksi_svc_make_conn(fd, sendsz, recvsz, "svc_tcp");
  if (xprt == nullptr) return nullptr;
  const char *failure = nullptr;
  struct sockaddr_storage peer;
  socklen_t len = sizeof peer;
  if (!ksi_svc_read_local(xprt))
    failure = "ks_svc_fd_create: could not retrieve local addr";
  else if (getpeername(fd, reinterpret_cast<struct sockaddr *>(&peer), &len) !=
           0)
    failure = "ks_svc_fd_create: could not retrieve remote addr";
  if (failure == nullptr) {
    ksi_svc_set_caller(xprt, reinterpret_cast<struct sockaddr *>(&peer), len);
    if (!ks_xprt_register(xprt))
      failure = "ks_svc_fd_create: can not register xprt";
  }
  if (failure != nullptr) {
    ksi_svc_report(failure);
    free_conn(xprt);
    return nullptr;
  }
  return xprt;
}

KS_API SVCXPRT *ks_svcfd_create(int fd, uint32_t sendsz, uint32_t recvsz) {
  return ks_svc_fd_create(fd, sendsz, recvsz);
}

}  // extern "C"
