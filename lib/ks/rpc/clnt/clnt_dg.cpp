// The datagram client: one UDP message per call, retransmitted on a
// doubling schedule until a reply with the call's transaction id arrives
// or the total timeout has been waited.

// <linux/errqueue.h> uses struct timespec without declaring it.
#include <ctime>

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <orvexks/sysutl.h>
#include <orvexnt/nt_error.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rpc/bind/netconfig.h"
#include "rpc/clnt/clnt_internal.h"
#include "rpc/xdr/xdr_stream.h"

namespace {

constexpr uint32_t kXidOffset = 0;
constexpr time_t kDoublingLimit = 30;
constexpr int kWsaConnReset = 10054;

struct dg_private {
  int fd;
  bool own_fd;
  sockaddr_storage addr;
  uint32_t addrlen;
  struct timeval wait;   // retransmit wait
  struct timeval total;  // set by control; tv_sec -1 while not set
  struct rpc_err err;
  XDR xdrs;             // encodes into sendbuf
  uint32_t header_len;  // the pre-encoded call header
  uint32_t xid;
  uint32_t sendsz;
  uint32_t recvsz;
  char *sendbuf;
  char *recvbuf;
};

dg_private *priv_of(CLIENT *cl) {
  return static_cast<dg_private *>(cl->cl_private);
}

void put_word(char *buf, uint32_t offset, uint32_t value) {
  uint32_t be = htonl(value);
  memcpy(buf + offset, &be, 4);
}
uint32_t get_word(const char *buf, uint32_t offset) {
  uint32_t be;
  memcpy(&be, buf + offset, 4);
  return ntohl(be);
}

// Encodes procedure, credential and arguments behind the header under a
// new transaction id (a null filter means no arguments, as on a
// connection); the message length, or 0 on failure.
KSI_XDR_CALLS_FILTERS
uint32_t encode_call(CLIENT *cl, dg_private *dg, uint32_t proc, xdrproc_t xargs,
                     void *argsp) {
  dg->xid++;
  put_word(dg->sendbuf, kXidOffset, dg->xid);
  XDR *xdrs = &dg->xdrs;
  xdrs->x_op = XDR_ENCODE;
  if (!XDR_SETPOS(xdrs, dg->header_len) || !xdr_u_int32_t(xdrs, &proc) ||
      !KS_AUTH_MARSHALL(cl->cl_auth, xdrs) ||
      (xargs != nullptr && !(*xargs)(xdrs, argsp)))
    return 0;
  return XDR_GETPOS(xdrs);
}

enum clnt_stat fail(dg_private *dg, enum clnt_stat stat, int error) {
  dg->err.re_status = stat;
  dg->err.re_errno = error;
  return stat;
}

// Asks the kernel to report ICMP errors on the socket although it is not
// connected: Linux otherwise drops an unreachable port's report for an
// unconnected datagram socket, and a call to a port nobody serves would
// wait out its whole time where the original platform fails at once.
void report_icmp_errors(int fd, int family) {
  int on = 1;
  if (family == AF_INET6)
    setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
  // On an IPv6 socket too, for IPv4-mapped servers.
  setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
}

// What the socket's queued ICMP reports say: none queued, a refusal by
// this client's server, or only reports that do not concern this call.
enum class icmp_news { kNone, kRefusedByServer, kIrrelevant };

bool is_server(const dg_private *dg, const sockaddr_storage &offender) {
  const auto *a = reinterpret_cast<const sockaddr *>(&dg->addr);
  const auto *b = reinterpret_cast<const sockaddr *>(&offender);
  uint16_t pa = 0, pb = 0;
  return sysutl_sockaddr_host_equal(a, b) &&
         sysutl_sockaddr_get_port(a, &pa) == 0 &&
         sysutl_sockaddr_get_port(b, &pb) == 0 && pa == pb;
}

// Empties the socket's error queue. An unconnected socket may hear of
// datagrams it sent elsewhere before this client used it; only a refusal
// for a datagram sent to this client's server ends the call.
icmp_news drain_icmp_reports(dg_private *dg) {
  icmp_news news = icmp_news::kNone;
  for (;;) {
    sockaddr_storage offender;
    char control[512];
    char byte;
    struct iovec iov = {&byte, 1};
    struct msghdr msg = {};
    msg.msg_name = &offender;
    msg.msg_namelen = sizeof offender;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (recvmsg(dg->fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return news;
    if (news == icmp_news::kNone) news = icmp_news::kIrrelevant;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(&msg, c)) {
      bool report =
          (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
          (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR);
      if (!report) continue;
      sock_extended_err ee;
      memcpy(&ee, CMSG_DATA(c), sizeof ee);
      if (ee.ee_errno == ECONNREFUSED && msg.msg_namelen > 0 &&
          is_server(dg, offender))
        news = icmp_news::kRefusedByServer;
    }
  }
}

bool send_call(dg_private *dg, uint32_t len) {
  for (bool first = true;; first = false) {
    ssize_t n = sendto(dg->fd, dg->sendbuf, len, MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr *>(&dg->addr), dg->addrlen);
    if (n == static_cast<ssize_t>(len)) return true;
    // The refusal of an earlier datagram surfaces on the next send: the
    // server's ends the call; one for another destination costs a retry.
    if (n < 0 && errno == ECONNREFUSED && first) {
      icmp_news news = drain_icmp_reports(dg);
      if (news == icmp_news::kRefusedByServer) {
        fail(dg, RPC_DGRAM_CONNRESET, kWsaConnReset);
        return false;
      }
      if (news == icmp_news::kIrrelevant) continue;
      errno = ECONNREFUSED;
    }
    fail(dg, RPC_CANTSEND, n < 0 ? ksi_sock_error() : 0);
    return false;
  }
}

// Outcome of one receive attempt.
enum class recv_result { kReply, kIgnored, kWait, kFailed };

// A receive failed with errno: a refusal by the server (or, on a socket
// with no queued reports, a refusal or reset as such) is the datagram
// connection reset; a report about another destination is ignored.
recv_result receive_failed(dg_private *dg) {
  int error = errno;
  icmp_news news = drain_icmp_reports(dg);
  bool reset = news == icmp_news::kRefusedByServer ||
               (news == icmp_news::kNone &&
                (error == ECONNREFUSED || error == ECONNRESET));
  if (reset) {
    fail(dg, RPC_DGRAM_CONNRESET, kWsaConnReset);
    return recv_result::kFailed;
  }
  if (news == icmp_news::kIrrelevant) return recv_result::kIgnored;
  errno = error;
  fail(dg, RPC_CANTRECV, ksi_sock_error());
  return recv_result::kFailed;
}

recv_result receive(dg_private *dg, ssize_t *len_out) {
  for (;;) {
    // MSG_TRUNC gives a datagram's full length: one that does not fit the
    // receive buffer is a receive error (10040), as on the original
    // platform, rather than a cut-off reply.
    ssize_t n =
        recvfrom(dg->fd, dg->recvbuf, dg->recvsz, MSG_TRUNC, nullptr, nullptr);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // Woken with nothing to read: a report whose error was taken
        // earlier may still sit in the error queue and keep waking us.
        if (drain_icmp_reports(dg) == icmp_news::kRefusedByServer) {
          fail(dg, RPC_DGRAM_CONNRESET, kWsaConnReset);
          return recv_result::kFailed;
        }
        return recv_result::kWait;
      }
      return receive_failed(dg);
    }
    if (n > static_cast<ssize_t>(dg->recvsz)) {
      fail(dg, RPC_CANTRECV, nt_errno2wsa(EMSGSIZE));
      return recv_result::kFailed;
    }
    if (n < 4 || get_word(dg->recvbuf, 0) != dg->xid)
      return recv_result::kIgnored;
    *len_out = n;
    return recv_result::kReply;
  }
}

// Sends and waits for the reply of the current transaction id, with
// retransmissions; the reply's length in *len_out.
enum clnt_stat exchange(dg_private *dg, uint32_t len,
                        const struct timeval &total, ssize_t *len_out) {
  if (!send_call(dg, len)) return dg->err.re_status;
  int64_t total_usec = ksi_timeval_usec(total);
  if (total_usec == 0) return fail(dg, RPC_TIMEDOUT, 0);
  struct timeval wait = dg->wait;
  int64_t wait_usec = ksi_timeval_usec(wait) > 0 ? ksi_timeval_usec(wait) : 1;
  int64_t elapsed = 0;
  int64_t sent_at = ksi_now_usec();
  for (;;) {
    int ready =
        ksi_wait_readable(dg->fd, sent_at + wait_usec, ksi_wait_slice(wait));
    if (ready == 0) {
      elapsed += wait_usec;
      if (elapsed >= total_usec) return fail(dg, RPC_TIMEDOUT, 0);
      if (wait.tv_sec < kDoublingLimit) {
        wait_usec *= 2;
        wait.tv_sec = static_cast<time_t>(wait_usec / 1000000);
      }
      if (!send_call(dg, len)) return dg->err.re_status;
      sent_at = ksi_now_usec();
      continue;
    }
    if (ready < 0) {
      if (errno == EBADF) return fail(dg, RPC_CANTRECV, ksi_sock_error());
      if (errno == EINTR) return fail(dg, RPC_INTR, ksi_sock_error());
      continue;
    }
    switch (receive(dg, len_out)) {
      case recv_result::kReply:
        return RPC_SUCCESS;
      case recv_result::kFailed:
        return dg->err.re_status;
      case recv_result::kIgnored:
      case recv_result::kWait:
        break;
    }
  }
}

enum clnt_stat dg_call(CLIENT *cl, uint32_t proc, xdrproc_t xargs, void *argsp,
                       xdrproc_t xres, void *resp, struct timeval timeout) {
  ksi_clnt_guard guard(cl);
  dg_private *dg = priv_of(cl);
  struct timeval total = dg->total.tv_sec >= 0 ? dg->total : timeout;
  if (!ksi_timeval_valid(&total)) total = {0, 0};
  memset(&dg->err, 0, sizeof dg->err);
  for (int refreshes = 2;; refreshes--) {
    uint32_t len = encode_call(cl, dg, proc, xargs, argsp);
    if (len == 0) return fail(dg, RPC_CANTENCODEARGS, 0);
    ssize_t reply_len = 0;
    enum clnt_stat stat = exchange(dg, len, total, &reply_len);
    if (stat != RPC_SUCCESS) return stat;

    char verf_body[MAX_AUTH_BYTES];
    struct rpc_msg reply;
    memset(&reply, 0, sizeof reply);
    reply.acpted_rply.ar_verf.oa_base = verf_body;
    reply.acpted_rply.ar_results.where = resp;
    reply.acpted_rply.ar_results.proc = xres;
    XDR in;
    xdrmem_create(&in, dg->recvbuf, static_cast<uint32_t>(reply_len),
                  XDR_DECODE);
    bool_t decoded = xdr_ks_replymsg(&in, &reply);
    XDR_DESTROY(&in);
    if (!decoded) return fail(dg, RPC_CANTDECODERES, 0);
    _ks_seterr_reply(&reply, &dg->err);
    if (dg->err.re_status == RPC_SUCCESS) {
      if (!KS_AUTH_VALIDATE(cl->cl_auth, &reply.acpted_rply.ar_verf)) {
        dg->err.re_status = RPC_AUTHERROR;
        dg->err.re_why = AUTH_INVALIDRESP;
      }
      return dg->err.re_status;
    }
    if (dg->err.re_status != RPC_AUTHERROR || refreshes == 0 ||
        !KS_AUTH_REFRESH(cl->cl_auth))
      return dg->err.re_status;
  }
}

void dg_abort(CLIENT *) {}

void dg_geterr(CLIENT *cl, struct rpc_err *errp) {
  ksi_clnt_guard guard(cl);
  *errp = priv_of(cl)->err;
}

KSI_XDR_CALLS_FILTERS
bool_t dg_freeres(CLIENT *cl, xdrproc_t xres, void *resp) {
  ksi_clnt_guard guard(cl);
  XDR xdrs;
  memset(&xdrs, 0, sizeof xdrs);
  xdrs.x_op = XDR_FREE;
  return (*xres)(&xdrs, resp);
}

void dg_destroy(CLIENT *cl) {
  dg_private *dg = priv_of(cl);
  {
    ksi_clnt_guard guard(cl);
    if (dg->own_fd) close(dg->fd);
    XDR_DESTROY(&dg->xdrs);
  }
  free(dg);
  ksi_clnt_free(cl);
}

bool_t dg_control(CLIENT *cl, unsigned int request, void *info) {
  ksi_clnt_guard guard(cl);
  dg_private *dg = priv_of(cl);
  auto *tv = static_cast<struct timeval *>(info);
  switch (request) {
    case CLSET_TIMEOUT:
      if (!ksi_timeval_valid(tv)) return FALSE;
      dg->total = *tv;
      return TRUE;
    case CLGET_TIMEOUT:
      if (tv == nullptr) return FALSE;
      *tv = dg->total.tv_sec >= 0 ? dg->total : timeval{0, 0};
      return TRUE;
    case CLSET_RETRY_TIMEOUT:
      if (!ksi_timeval_valid(tv)) return FALSE;
      dg->wait = *tv;
      return TRUE;
    case CLGET_RETRY_TIMEOUT:
      if (tv == nullptr) return FALSE;
      *tv = dg->wait;
      return TRUE;
    case CLSET_SVC_ADDR: {
      auto *nb = static_cast<struct netbuf *>(info);
      if (nb == nullptr || nb->len > sizeof dg->addr || nb->buf == nullptr)
        return FALSE;
      memcpy(&dg->addr, nb->buf, nb->len);
      dg->addrlen = nb->len;
      return TRUE;
    }
    default:
      return ksi_clnt_control({dg->fd, &dg->own_fd, &dg->addr, &dg->addrlen,
                               &dg->xid, 1, dg->sendbuf},
                              request, info);
  }
}

const struct clnt_ops dg_ops = {dg_call,    dg_abort,   dg_geterr,
                                dg_freeres, dg_destroy, dg_control};

}  // namespace

extern "C" {

KS_API CLIENT *ks_clnt_dg_create(int fd, const struct netbuf *svcaddr,
                                 uint32_t prog, uint32_t vers, uint32_t sendsz,
                                 uint32_t recvsz) {
  if (svcaddr == nullptr || svcaddr->buf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNADDR, 0);
    return nullptr;
  }
  ksi_sockparams params;
  if (!ksi_socket_params(fd, &params)) {
    ksi_set_createerr(RPC_TLIERROR, ksi_sock_error());
    return nullptr;
  }
  sendsz = ksi_clnt_bufsize(sendsz, kClntUdpDefault);
  recvsz = ksi_clnt_bufsize(recvsz, kClntUdpDefault);
  auto *dg = static_cast<dg_private *>(
      calloc(1, sizeof(dg_private) + sendsz + recvsz));
  CLIENT *cl = dg == nullptr ? nullptr : ksi_clnt_new(&dg_ops, dg);
  if (cl == nullptr) {
    free(dg);
    fprintf(stderr, "ks_clnt_dg_create: out of memory\n");
    ksi_set_createerr(RPC_SYSTEMERROR, nt_errno2wsa(ENOMEM));
    return nullptr;
  }
  dg->fd = fd;
  uint32_t addrlen =
      svcaddr->len < sizeof dg->addr ? svcaddr->len : sizeof dg->addr;
  memcpy(&dg->addr, svcaddr->buf, addrlen);
  dg->addrlen = addrlen;
  dg->wait = {15, 0};
  dg->total = {-1, 0};
  dg->sendsz = sendsz;
  dg->recvsz = recvsz;
  dg->sendbuf = reinterpret_cast<char *>(dg + 1);
  dg->recvbuf = dg->sendbuf + sendsz;
  dg->xid = ksi_clnt_first_xid();
  struct rpc_msg call;
  memset(&call, 0, sizeof call);
  call.rm_xid = dg->xid;
  call.rm_call.cb_prog = prog;
  call.rm_call.cb_vers = vers;
  xdrmem_create(&dg->xdrs, dg->sendbuf, sendsz, XDR_ENCODE);
  if (!xdr_ks_callhdr(&dg->xdrs, &call)) {
    XDR_DESTROY(&dg->xdrs);
    free(dg);
    ksi_clnt_free(cl);
    ksi_set_createerr(RPC_CANTENCODEARGS, 0);
    return nullptr;
  }
  dg->header_len = XDR_GETPOS(&dg->xdrs);
  sysutl_set_socket_nonblocking(fd, 1);
  report_icmp_errors(fd, dg->addr.ss_family);
  return cl;
}

}  // extern "C"
