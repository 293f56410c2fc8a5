// The connection client: calls and replies travel as records (record
// marking) over a connected stream socket. Every read waits at most the
// total timeout; a peer that closes the connection is reported as a reset.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <orvexks/rpc/xdrrec.h>
#include <orvexnt/nt_error.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rpc/bind/netconfig.h"
#include "rpc/clnt/clnt_internal.h"
#include "rpc/xdr/xdr_stream.h"

namespace {

constexpr uint32_t kHeaderMax = 24;
constexpr int kWsaConnReset = 10054;

struct vc_private {
  int fd;
  bool own_fd;
  struct timeval wait;  // total timeout of each read
  bool wait_set;        // set by control: overrides the per-call timeout
  // The socket's receive time-out as this handle last set it (tv_sec -1:
  // never set) and as it was before, put back when the socket outlives
  // the handle.
  struct timeval recv_timeout;
  struct timeval recv_timeout_before;
  sockaddr_storage addr;
  uint32_t addrlen;
  struct rpc_err err;
  char header[kHeaderMax];
  uint32_t header_len;
  uint32_t xid;
  XDR xdrs;  // the record stream
};

vc_private *priv_of(CLIENT *cl) {
  return static_cast<vc_private *>(cl->cl_private);
}

void put_word(char *buf, uint32_t offset, uint32_t value) {
  uint32_t be = htonl(value);
  memcpy(buf + offset, &be, 4);
}

// Makes the socket's receive time-out the handle's total timeout; false
// when it cannot (a zero timeout would mean no time-out at all).
bool recv_timeout_is_wait(vc_private *ct) {
  struct timeval want = ct->wait;
  if (want.tv_sec == 0 && want.tv_usec == 0) return false;
  if (want.tv_usec >= 1000000) {
    want.tv_sec += want.tv_usec / 1000000;
    want.tv_usec %= 1000000;
  }
  if (ct->recv_timeout.tv_sec == want.tv_sec &&
      ct->recv_timeout.tv_usec == want.tv_usec)
    return true;
  if (ct->recv_timeout.tv_sec < 0) {
    socklen_t len = sizeof ct->recv_timeout_before;
    if (getsockopt(ct->fd, SOL_SOCKET, SO_RCVTIMEO, &ct->recv_timeout_before,
                   &len) != 0)
      return false;
  }
  if (setsockopt(ct->fd, SOL_SOCKET, SO_RCVTIMEO, &want, sizeof want) != 0)
    return false;
  ct->recv_timeout = want;
  return true;
}

int vc_read(void *handle, char *buf, int len) {
  auto *ct = static_cast<vc_private *>(handle);
  if (len <= 0) return 0;
  int64_t deadline = ksi_now_usec() + ksi_timeval_usec(ct->wait);
  // With the socket's receive time-out equal to the total timeout, a
  // blocking socket waits for the reply in recv itself: waiting for
  // readability first would cost a second system call on every reply.
  // A non-blocking socket, or a time-out that passed, falls through to
  // the wait below, which ends at once when the deadline has passed.
  if (recv_timeout_is_wait(ct)) {
    ssize_t n = recv(ct->fd, buf, static_cast<size_t>(len), 0);
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      ct->err.re_status = RPC_CANTRECV;
      ct->err.re_errno = kWsaConnReset;
      return -1;
    }
    if (errno == EINTR) {
      ct->err.re_status = RPC_INTR;
      ct->err.re_errno = ksi_sock_error();
      return -1;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      ct->err.re_status = RPC_CANTRECV;
      ct->err.re_errno = ksi_sock_error();
      return -1;
    }
  }
  for (;;) {
    int ready = ksi_wait_readable(ct->fd, deadline, ksi_wait_slice(ct->wait));
    if (ready == 0) {
      ct->err.re_status = RPC_TIMEDOUT;
      return -1;
    }
    if (ready < 0) {
      if (errno == EINTR) {
        ct->err.re_status = RPC_INTR;
        ct->err.re_errno = ksi_sock_error();
        return -1;
      }
      ct->err.re_status = RPC_CANTRECV;
      ct->err.re_errno = ksi_sock_error();
      return -1;
    }
    ssize_t n = recv(ct->fd, buf, static_cast<size_t>(len), 0);
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      ct->err.re_status = RPC_CANTRECV;
      ct->err.re_errno = kWsaConnReset;
      return -1;
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    ct->err.re_status = RPC_CANTRECV;
    ct->err.re_errno = ksi_sock_error();
    return -1;
  }
}

int vc_write(void *handle, char *buf, int len) {
  auto *ct = static_cast<vc_private *>(handle);
  for (int done = 0; done < len;) {
    ssize_t n =
        send(ct->fd, buf + done, static_cast<size_t>(len - done), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      ct->err.re_status = RPC_CANTSEND;
      ct->err.re_errno = ksi_sock_error();
      return -1;
    }
    done += static_cast<int>(n);
  }
  return len;
}

enum clnt_stat fail(vc_private *ct, enum clnt_stat stat) {
  if (ct->err.re_status == RPC_SUCCESS) ct->err.re_status = stat;
  return ct->err.re_status;
}

// Writes one call record; false with the status recorded.
KSI_XDR_CALLS_FILTERS
bool send_call(CLIENT *cl, vc_private *ct, uint32_t proc, xdrproc_t xargs,
               void *argsp, bool ship_now) {
  ct->xid--;
  put_word(ct->header, 0, ct->xid);
  XDR *xdrs = &ct->xdrs;
  xdrs->x_op = XDR_ENCODE;
  if (!XDR_PUTBYTES(xdrs, ct->header, ct->header_len) ||
      !xdr_u_int32_t(xdrs, &proc) || !KS_AUTH_MARSHALL(cl->cl_auth, xdrs) ||
      !(*xargs)(xdrs, argsp)) {
    fail(ct, RPC_CANTENCODEARGS);
    (void)ks_xdrrec_endofrecord(xdrs, TRUE);
    return false;
  }
  if (!ks_xdrrec_endofrecord(xdrs, ship_now)) {
    fail(ct, RPC_CANTSEND);
    return false;
  }
  return true;
}

// Reads records until one carries the call's transaction id and decodes
// its header; records of other calls are skipped. The whole search ends at
// the deadline.
bool read_reply_header(vc_private *ct, struct rpc_msg *reply,
                       int64_t deadline) {
  XDR *xdrs = &ct->xdrs;
  xdrs->x_op = XDR_DECODE;
  // A rejected reply decodes into the same union as an accepted one, so a
  // skipped record can overwrite the verifier's buffer pointer: every
  // record starts again from the caller's buffers.
  const struct accepted_reply buffers = reply->acpted_rply;
  for (;;) {
    reply->acpted_rply = buffers;
    if (!ks_xdrrec_skiprecord(xdrs)) {
      fail(ct, RPC_CANTDECODERES);
      return false;
    }
    if (!xdr_ks_replymsg(xdrs, reply)) {
      fail(ct, RPC_CANTDECODERES);
      return false;
    }
    if (reply->rm_xid == ct->xid) return true;
    if (ksi_now_usec() >= deadline) {
      fail(ct, RPC_TIMEDOUT);
      return false;
    }
  }
}

KSI_XDR_CALLS_FILTERS
enum clnt_stat vc_call(CLIENT *cl, uint32_t proc, xdrproc_t xargs, void *argsp,
                       xdrproc_t xres, void *resp, struct timeval timeout) {
  ksi_clnt_guard guard(cl);
  vc_private *ct = priv_of(cl);
  if (!ct->wait_set && ksi_timeval_valid(&timeout)) ct->wait = timeout;
  bool ship_now =
      !(xres == nullptr && timeout.tv_sec == 0 && timeout.tv_usec == 0);
  if (xargs == nullptr) xargs = reinterpret_cast<xdrproc_t>(xdr_void);
  for (int refreshes = 2;; refreshes--) {
    memset(&ct->err, 0, sizeof ct->err);
    if (!send_call(cl, ct, proc, xargs, argsp, ship_now))
      return ct->err.re_status;
    if (!ship_now) return RPC_SUCCESS;
    if (ct->wait.tv_sec == 0 && ct->wait.tv_usec == 0)
      return fail(ct, RPC_TIMEDOUT);

    char verf_body[MAX_AUTH_BYTES];
    struct rpc_msg reply;
    memset(&reply, 0, sizeof reply);
    reply.acpted_rply.ar_verf.oa_base = verf_body;
    reply.acpted_rply.ar_results.where = nullptr;
    reply.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(xdr_void);
    int64_t deadline = ksi_now_usec() + ksi_timeval_usec(ct->wait);
    if (!read_reply_header(ct, &reply, deadline)) return ct->err.re_status;
    _ks_seterr_reply(&reply, &ct->err);
    if (ct->err.re_status == RPC_SUCCESS) {
      if (!KS_AUTH_VALIDATE(cl->cl_auth, &reply.acpted_rply.ar_verf)) {
        ct->err.re_status = RPC_AUTHERROR;
        ct->err.re_why = AUTH_INVALIDRESP;
      } else if (xres != nullptr && !(*xres)(&ct->xdrs, resp)) {
        fail(ct, RPC_CANTDECODERES);
      }
      return ct->err.re_status;
    }
    // Any refused call may be the server forgetting a short-hand
    // credential, so every error gets a refreshed credential a try.
    if (refreshes == 0 || !KS_AUTH_REFRESH(cl->cl_auth))
      return ct->err.re_status;
  }
}

void vc_abort(CLIENT *) {}

void vc_geterr(CLIENT *cl, struct rpc_err *errp) {
  ksi_clnt_guard guard(cl);
  *errp = priv_of(cl)->err;
}

KSI_XDR_CALLS_FILTERS
bool_t vc_freeres(CLIENT *cl, xdrproc_t xres, void *resp) {
  ksi_clnt_guard guard(cl);
  XDR xdrs;
  memset(&xdrs, 0, sizeof xdrs);
  xdrs.x_op = XDR_FREE;
  return (*xres)(&xdrs, resp);
}

void vc_destroy(CLIENT *cl) {
  vc_private *ct = priv_of(cl);
  {
    ksi_clnt_guard guard(cl);
    if (ct->own_fd)
      close(ct->fd);
    else if (ct->recv_timeout.tv_sec >= 0)
      setsockopt(ct->fd, SOL_SOCKET, SO_RCVTIMEO, &ct->recv_timeout_before,
                 sizeof ct->recv_timeout_before);
    XDR_DESTROY(&ct->xdrs);
  }
  free(ct);
  ksi_clnt_free(cl);
}

bool_t vc_control(CLIENT *cl, unsigned int request, void *info) {
  ksi_clnt_guard guard(cl);
  vc_private *ct = priv_of(cl);
  auto *tv = static_cast<struct timeval *>(info);
  switch (request) {
    case CLSET_TIMEOUT:
      if (!ksi_timeval_valid(tv)) return FALSE;
      ct->wait = *tv;
      ct->wait_set = true;
      return TRUE;
    case CLGET_TIMEOUT:
      if (tv == nullptr) return FALSE;
      *tv = ct->wait;
      return TRUE;
    default:  // retransmit timeouts and CLSET_SVC_ADDR are refused
      return ksi_clnt_control({ct->fd, &ct->own_fd, &ct->addr, &ct->addrlen,
                               &ct->xid, -1, ct->header},
                              request, info);
  }
}

const struct clnt_ops vc_ops = {vc_call,    vc_abort,   vc_geterr,
                                vc_freeres, vc_destroy, vc_control};

// The process-wide counter mixed into connection transaction ids, seeded
// from the first server address record's location.
uint32_t xid_counter;
bool xid_counter_seeded = false;

uint32_t next_xid_mix(const void *seed) {
  qmthread_mutex_lock(&ksi_clnt_ops_mutex);
  if (!xid_counter_seeded) {
    xid_counter = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(seed));
    xid_counter_seeded = true;
  }
  uint32_t mix = xid_counter++;
  qmthread_mutex_unlock(&ksi_clnt_ops_mutex);
  return mix;
}

}  // namespace

extern "C" {

KS_API CLIENT *ks_clnt_vc_create(int fd, const struct netbuf *raddr,
                                 uint32_t prog, uint32_t vers, uint32_t sendsz,
                                 uint32_t recvsz) {
  if (raddr == nullptr || raddr->buf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNADDR, 0);
    return nullptr;
  }
  uint32_t mix = next_xid_mix(raddr);
  auto *ct = static_cast<vc_private *>(calloc(1, sizeof(vc_private)));
  CLIENT *cl = ct == nullptr ? nullptr : ksi_clnt_new(&vc_ops, ct);
  if (cl == nullptr) {
    free(ct);
    fprintf(stderr, "ks_clnt_vc_create: out of memory\n");
    ksi_set_createerr(RPC_SYSTEMERROR, nt_errno2wsa(ENOMEM));
    return nullptr;
  }
  sockaddr_storage peer;
  socklen_t peerlen = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerlen) != 0) {
    if (errno != ENOTCONN ||
        ksi_connect(fd, static_cast<const sockaddr *>(raddr->buf),
                    raddr->len) != 0) {
      ksi_set_createerr(RPC_SYSTEMERROR, ksi_sock_error());
      free(ct);
      ksi_clnt_free(cl);
      return nullptr;
    }
  }
  ksi_sockparams params;
  if (!ksi_socket_params(fd, &params)) {
    ksi_set_createerr(RPC_TLIERROR, ksi_sock_error());
    free(ct);
    ksi_clnt_free(cl);
    return nullptr;
  }
  ct->fd = fd;
  ct->wait = kClntVcDefaultWait;
  ct->recv_timeout.tv_sec = -1;
  ct->addrlen = raddr->len < sizeof ct->addr ? raddr->len : sizeof ct->addr;
  memcpy(&ct->addr, raddr->buf, ct->addrlen);
  ct->xid = ksi_clnt_first_xid() ^ mix;
  struct rpc_msg call;
  memset(&call, 0, sizeof call);
  call.rm_xid = ct->xid;
  call.rm_call.cb_prog = prog;
  call.rm_call.cb_vers = vers;
  XDR hdr;
  xdrmem_create(&hdr, ct->header, kHeaderMax, XDR_ENCODE);
  if (!xdr_ks_callhdr(&hdr, &call)) {
    ksi_set_createerr(RPC_CANTENCODEARGS, 0);
    free(ct);
    ksi_clnt_free(cl);
    return nullptr;
  }
  ct->header_len = XDR_GETPOS(&hdr);
  // The call adds nothing but subtracts one first: start one above.
  ct->xid++;
  ks_xdrrec_create(&ct->xdrs, ksi_clnt_bufsize(sendsz, kClntTcpDefault),
                   ksi_clnt_bufsize(recvsz, kClntTcpDefault), ct, vc_read,
                   vc_write);
  if (ct->xdrs.x_ops == nullptr) {
    ksi_set_createerr(RPC_SYSTEMERROR, nt_errno2wsa(ENOMEM));
    free(ct);
    ksi_clnt_free(cl);
    return nullptr;
  }
  return cl;
}

}  // extern "C"
