// The listener (rendezvous) transport: each readable event accepts one
// connection and registers a connection transport for it; the listener
// itself never yields a request. When the process runs out of descriptors
// the pending connection is accepted on a reserved descriptor and closed,
// so that the loop neither spins on a listener that stays readable nor
// stops serving everyone else.
#include <orvexks/sysutl.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "rpc/svc/svc_internal.h"

namespace {

struct listener_private {
  uint32_t sendsz;
  uint32_t recvsz;
  int32_t maxrec;
};

listener_private *priv(SVCXPRT *xprt) {
  return static_cast<listener_private *>(xprt->xp_p1);
}

qmthread_mutex_t reserve_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
int reserve_fd = -1;  // guarded by reserve_mutex

void open_reserve() {
  qmthread_mutex_lock(&reserve_mutex);
  if (reserve_fd < 0) reserve_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  qmthread_mutex_unlock(&reserve_mutex);
}

// Out of descriptors: frees the reserved one to accept and drop the
// waiting connection, then reserves it again.
void shed_connection(int listen_fd) {
  qmthread_mutex_lock(&reserve_mutex);
  if (reserve_fd >= 0) {
    close(reserve_fd);
    int fd = accept(listen_fd, nullptr, nullptr);
    if (fd >= 0) close(fd);
    reserve_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  qmthread_mutex_unlock(&reserve_mutex);
}

bool_t listener_recv(SVCXPRT *xprt, struct rpc_msg *) {
  listener_private *lp = priv(xprt);
  struct sockaddr_storage peer;
  socklen_t len;
  int fd;
  do {
    len = sizeof peer;
    fd = sysutl_accept(xprt->xp_fd, reinterpret_cast<struct sockaddr *>(&peer),
                       &len);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE) shed_connection(xprt->xp_fd);
    return FALSE;
  }
  int32_t maxrec = lp->maxrec;
  uint32_t recvsz = lp->recvsz;
  if (maxrec > 0 && recvsz > static_cast<uint32_t>(maxrec))
    recvsz = static_cast<uint32_t>(maxrec);
  SVCXPRT *conn = ksi_svc_make_conn(fd, lp->sendsz, recvsz, "svc_vc");
  if (conn == nullptr) {
    close(fd);
    fputs("new accepted socket out of fd_set range\n", stderr);
    return FALSE;
  }
  ksi_svc_set_caller(conn, reinterpret_cast<struct sockaddr *>(&peer), len);
  ksi_svc_read_local(conn);
  if (peer.ss_family == AF_INET || peer.ss_family == AF_INET6) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  if (maxrec > 0 && (sysutl_set_socket_nonblocking(fd, 1) != 0 ||
                     !ksi_svc_conn_set_nonblock(conn, maxrec))) {
    conn->xp_ops->xp_destroy(conn);
    return FALSE;
  }
  if (!ks_xprt_register(conn)) conn->xp_ops->xp_destroy(conn);
  return FALSE;
}

enum xprt_stat listener_stat(SVCXPRT *) { return XPRT_IDLE; }
bool_t listener_args(SVCXPRT *, xdrproc_t, void *) {
  ksi_svc_bad_op("listener transport");
}
bool_t listener_reply(SVCXPRT *, struct rpc_msg *) {
  ksi_svc_bad_op("listener transport");
}
XDR *listener_reply_xdrs(SVCXPRT *) { ksi_svc_bad_op("listener transport"); }
bool_t listener_reply_finish(SVCXPRT *) {
  ksi_svc_bad_op("listener transport");
}

void listener_destroy(SVCXPRT *xprt) {
  ks_xprt_unregister(xprt);
  close(xprt->xp_fd);
  free(xprt->xp_p1);
  ksi_svc_free_xprt(xprt);
}

bool_t listener_control(SVCXPRT *xprt, unsigned int request, void *info) {
  auto *value = static_cast<int32_t *>(info);
  switch (request) {
    case KS_SVCGET_CONNMAXREC:
      *value = priv(xprt)->maxrec;
      return TRUE;
    case KS_SVCSET_CONNMAXREC:
      if (*value < 0) return FALSE;
      priv(xprt)->maxrec = *value;
      return TRUE;
    default:
      return FALSE;
  }
}

const struct xp_ops listener_ops = {listener_recv,       listener_stat,
                                    listener_args,       listener_reply,
                                    listener_reply_xdrs, listener_reply_finish,
                                    listener_args,       listener_destroy};
const struct xp_ops2 listener_ops2 = {listener_control};

}  // namespace

extern "C" KS_API SVCXPRT *ks_svc_vc_create(int fd, uint32_t sendsz,
                                            uint32_t recvsz) {
  SVCXPRT *xprt = ksi_svc_alloc_xprt();
  auto *lp =
      static_cast<listener_private *>(calloc(1, sizeof(listener_private)));
  if (xprt == nullptr || lp == nullptr) {
    free(lp);
    if (xprt != nullptr) ksi_svc_free_xprt(xprt);
    ksi_svc_report("ks_svc_vc_create: out of memory");
    return nullptr;
  }
  lp->sendsz = ksi_svc_size(SOCK_STREAM, sendsz);
  lp->recvsz = ksi_svc_size(SOCK_STREAM, recvsz);
  qmthread_rwlock_rdlock(ksi_svc_table_lock());
  lp->maxrec = ksi_svc_connmaxrec_locked();
  qmthread_rwlock_unlock(ksi_svc_table_lock());
  xprt->xp_fd = fd;
  xprt->xp_p1 = lp;
  xprt->xp_ops = &listener_ops;
  xprt->xp_ops2 = &listener_ops2;
  xprt->xp_type = 3;
  const char *failure = nullptr;
  if (!ksi_svc_read_local(xprt))
    failure = "ks_svc_vc_create: could not retrieve local addr";
  else if (!ks_xprt_register(xprt))
    failure = "ks_svc_vc_create: out of memory";
  if (failure != nullptr) {
    ksi_svc_report(failure);
    free(lp);
    ksi_svc_free_xprt(xprt);
    return nullptr;
  }
  open_reserve();
  return xprt;
}
