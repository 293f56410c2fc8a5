// Arbitrary bytes as the record stream of a server connection, through a
// socket pair: record assembly (blocking or non-blocking, chosen by the
// first byte), call decoding, authentication and dispatch to a registered
// echo program, until the connection ends.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "rpc/svc/svc_internal.h"

namespace {

constexpr uint32_t kProg = 0x20000101;
constexpr size_t kMaxInput = 32 * 1024;  // replies fit the socket buffer

struct blob {
  char *data;
  uint32_t len;
};
bool_t xdr_blob(XDR *xdrs, blob *b) {
  return xdr_bytes(xdrs, &b->data, &b->len, 1 << 16);
}

void echo(struct svc_req *rq, SVCXPRT *xprt) {
  auto filter = reinterpret_cast<xdrproc_t>(xdr_blob);
  blob b = {nullptr, 0};
  switch (rq->rq_proc) {
    case 0:
      ks_svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(xdr_void), nullptr);
      return;
    case 1:
      if (!KS_SVC_GETARGS(xprt, filter, &b))
        ks_svcerr_decode(xprt);
      else
        ks_svc_sendreply(xprt, filter, &b);
      KS_SVC_FREEARGS(xprt, filter, &b);
      return;
    case 2:
      if (xprt->xp_type == 3 && ks_svc_sendreply_start(xprt, filter, &b))
        ks_svc_sendreply_finish(xprt, filter, &b);
      return;
    default:
      ks_svcerr_noproc(xprt);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool registered = ks_svc_register(nullptr, kProg, 1, echo, 0);
  (void)registered;
  if (size < 1 || size > kMaxInput) return 0;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  SVCXPRT *xprt = ks_svc_fd_create(pair[0], 0, 0);
  if (xprt == nullptr) {
    close(pair[0]);
    close(pair[1]);
    return 0;
  }
  if (data[0] & 1) ksi_svc_conn_set_nonblock(xprt, 1 + data[0] * 64);
  (void)!write(pair[1], data + 1, size - 1);
  shutdown(pair[1], SHUT_WR);
  // Each round serves what is complete; the end of the input ends the
  // connection, which destroys the transport.
  for (int round = 0; round < 64; ++round) {
    qmthread_rwlock_rdlock(ksi_svc_table_lock());
    bool alive = ksi_svc_is_registered_locked(xprt);
    qmthread_rwlock_unlock(ksi_svc_table_lock());
    if (!alive) break;
    ks_svc_process_request(xprt);
  }
  qmthread_rwlock_rdlock(ksi_svc_table_lock());
  bool alive = ksi_svc_is_registered_locked(xprt);
  qmthread_rwlock_unlock(ksi_svc_table_lock());
  if (alive) xprt->xp_ops->xp_destroy(xprt);
  close(pair[1]);
  return 0;
}
