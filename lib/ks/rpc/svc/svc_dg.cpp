// The datagram transport: one buffer serves a request and its reply. In
// threaded mode the loop receives each datagram into a clone with its own
// buffer and message area, and a worker replies through the clone on the
// shared socket.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <netinet/in.h>
#include <unistd.h>

#include "rpc/svc/svc_internal.h"
#include "rpc/xdr/xdr_stream.h"

namespace {

constexpr ssize_t kMinDatagram = 16;

// A clone's call message with room for its credential and verifier.
struct dg_msg_area {
  struct rpc_msg msg;
  char cred[MAX_AUTH_BYTES];
  char verf[MAX_AUTH_BYTES];
};

struct dg_private {
  uint32_t bufsize;
  uint32_t xid;
  XDR xdrs;
  dg_msg_area *msg_area;  // clones only
};

dg_private *priv(SVCXPRT *xprt) {
  return static_cast<dg_private *>(xprt->xp_p2);
}
char *buffer(SVCXPRT *xprt) { return static_cast<char *>(xprt->xp_p1); }

bool_t dg_recv(SVCXPRT *xprt, struct rpc_msg *msg) {
  dg_private *dp = priv(xprt);
  struct sockaddr_storage from;
  socklen_t len;
  ssize_t got;
  do {
    len = sizeof from;
    got = recvfrom(xprt->xp_fd, buffer(xprt), dp->bufsize, 0,
                   reinterpret_cast<struct sockaddr *>(&from), &len);
  } while (got < 0 && errno == EINTR);
  if (got < kMinDatagram) return FALSE;
  ksi_svc_set_caller(xprt, reinterpret_cast<struct sockaddr *>(&from), len);
  xdrmem_create(&dp->xdrs, buffer(xprt), static_cast<uint32_t>(got),
                XDR_DECODE);
  if (!xdr_ks_callmsg(&dp->xdrs, msg)) return FALSE;
  dp->xid = msg->rm_xid;
  return TRUE;
}

enum xprt_stat dg_stat(SVCXPRT *) { return XPRT_IDLE; }

KSI_XDR_CALLS_FILTERS bool_t dg_getargs(SVCXPRT *xprt, xdrproc_t xargs,
                                        void *argsp) {
  return (*xargs)(&priv(xprt)->xdrs, argsp);
}

KSI_XDR_CALLS_FILTERS bool_t dg_freeargs(SVCXPRT *xprt, xdrproc_t xargs,
                                         void *argsp) {
  XDR *xdrs = &priv(xprt)->xdrs;
  xdrs->x_op = XDR_FREE;
  return (*xargs)(xdrs, argsp);
}

bool_t dg_reply(SVCXPRT *xprt, struct rpc_msg *msg) {
  dg_private *dp = priv(xprt);
  xdrmem_create(&dp->xdrs, buffer(xprt), dp->bufsize, XDR_ENCODE);
  msg->rm_xid = dp->xid;
  if (!xdr_ks_replymsg(&dp->xdrs, msg)) return FALSE;
  uint32_t len = XDR_GETPOS(&dp->xdrs);
  ssize_t sent = sendto(xprt->xp_fd, buffer(xprt), len, MSG_NOSIGNAL,
                        static_cast<struct sockaddr *>(xprt->xp_rtaddr.buf),
                        xprt->xp_rtaddr.len);
  return sent == static_cast<ssize_t>(len);
}

XDR *dg_reply_xdrs(SVCXPRT *) { ksi_svc_bad_op("datagram transport"); }
bool_t dg_reply_finish(SVCXPRT *) { ksi_svc_bad_op("datagram transport"); }

void free_dg(SVCXPRT *xprt) {
  dg_private *dp = priv(xprt);
  if (dp != nullptr) free(dp->msg_area);
  free(dp);
  free(xprt->xp_p1);
  ksi_svc_free_xprt(xprt);
}

void dg_destroy(SVCXPRT *xprt) {
  if (priv(xprt)->msg_area == nullptr) {
    ks_xprt_unregister(xprt);
    close(xprt->xp_fd);
  }
  free_dg(xprt);
}

char *copy_text(const char *text, bool *ok) {
  if (text == nullptr) return nullptr;
  char *copy = strdup(text);
  if (copy == nullptr) *ok = false;
  return copy;
}

SVCXPRT *make_clone(SVCXPRT *xprt) {
  dg_private *dp = priv(xprt);
  SVCXPRT *clone = ksi_svc_alloc_xprt();
  if (clone == nullptr) return nullptr;
  void *lt = clone->xp_ltaddr.buf;
  void *rt = clone->xp_rtaddr.buf;
  *clone = *xprt;
  clone->xp_ltaddr.buf = lt;
  clone->xp_rtaddr.buf = rt;
  memcpy(lt, xprt->xp_ltaddr.buf, xprt->xp_ltaddr.maxlen);
  memcpy(rt, xprt->xp_rtaddr.buf, xprt->xp_rtaddr.maxlen);
  bool ok = true;
  clone->xp_netid = copy_text(xprt->xp_netid, &ok);
  clone->xp_tp = copy_text(xprt->xp_tp, &ok);
  clone->xp_p1 = nullptr;
  auto *cp = static_cast<dg_private *>(calloc(1, sizeof(dg_private)));
  clone->xp_p2 = cp;
  if (cp != nullptr) {
    cp->bufsize = dp->bufsize;
    cp->msg_area = static_cast<dg_msg_area *>(calloc(1, sizeof(dg_msg_area)));
    clone->xp_p1 = malloc(dp->bufsize);
  }
  if (!ok || cp == nullptr || cp->msg_area == nullptr ||
      clone->xp_p1 == nullptr) {
    free_dg(clone);
    return nullptr;
  }
  cp->msg_area->msg.rm_call.cb_cred.oa_base = cp->msg_area->cred;
  cp->msg_area->msg.rm_call.cb_verf.oa_base = cp->msg_area->verf;
  xdrmem_create(&cp->xdrs, buffer(clone), cp->bufsize, XDR_DECODE);
  return clone;
}

bool_t dg_control(SVCXPRT *xprt, unsigned int request, void *info) {
  switch (request) {
    case KS_SVC_CLONE:
      *static_cast<SVCXPRT **>(info) = make_clone(xprt);
      return *static_cast<SVCXPRT **>(info) != nullptr;
    case KS_SVC_IS_CLONE:
      return priv(xprt)->msg_area != nullptr;
    case KS_SVC_GETMSG:
      if (priv(xprt)->msg_area == nullptr) return FALSE;
      *static_cast<struct rpc_msg **>(info) = &priv(xprt)->msg_area->msg;
      return TRUE;
    default:
      return FALSE;
  }
}

const struct xp_ops dg_ops = {dg_recv,     dg_stat,       dg_getargs,
                              dg_reply,    dg_reply_xdrs, dg_reply_finish,
                              dg_freeargs, dg_destroy};
const struct xp_ops2 dg_ops2 = {dg_control};

SVCXPRT *dg_failed(const char *why) {
  fprintf(stderr, "ks_svc_dg_create: %s\n", why);
  return nullptr;
}

}  // namespace

extern "C" KS_API SVCXPRT *ks_svc_dg_create(int fd, uint32_t sendsz,
                                            uint32_t recvsz) {
  int sotype;
  socklen_t optlen = sizeof sotype;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &sotype, &optlen) != 0)
    return dg_failed("could not get transport information");
  sendsz = ksi_svc_size(sotype, sendsz);
  recvsz = ksi_svc_size(sotype, recvsz);
  uint32_t bufsize = ((sendsz > recvsz ? sendsz : recvsz) + 3) & ~3u;
  SVCXPRT *xprt = ksi_svc_alloc_xprt();
  auto *dp = static_cast<dg_private *>(calloc(1, sizeof(dg_private)));
  char *buf = static_cast<char *>(malloc(bufsize));
  if (xprt == nullptr || dp == nullptr || buf == nullptr) {
    free(buf);
    free(dp);
    if (xprt != nullptr) ksi_svc_free_xprt(xprt);
    return dg_failed("out of memory");
  }
  dp->bufsize = bufsize;
  xdrmem_create(&dp->xdrs, buf, bufsize, XDR_DECODE);
  xprt->xp_fd = fd;
  xprt->xp_p1 = buf;
  xprt->xp_p2 = dp;
  xprt->xp_ops = &dg_ops;
  xprt->xp_ops2 = &dg_ops2;
  xprt->xp_type = 1;
  if (!ksi_svc_read_local(xprt) || !ks_xprt_register(xprt)) {
    free_dg(xprt);
    return dg_failed("out of memory");
  }
  return xprt;
}
