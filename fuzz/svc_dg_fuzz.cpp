// Arbitrary bytes as one datagram to a server datagram transport: call
// decoding, authentication, dispatch to a registered echo program and the
// reply, which goes back to the sending socket.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "rpc/svc/svc_internal.h"

namespace {

constexpr uint32_t kProg = 0x20000101;

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
  if (rq->rq_proc != 1) {
    ks_svcerr_noproc(xprt);
    return;
  }
  if (!KS_SVC_GETARGS(xprt, filter, &b))
    ks_svcerr_decode(xprt);
  else
    ks_svc_sendreply(xprt, filter, &b);
  KS_SVC_FREEARGS(xprt, filter, &b);
}

// The server socket and a client socket connected to it, made once.
struct Sockets {
  SVCXPRT *server = nullptr;
  int client = -1;
  Sockets() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    bind(fd, reinterpret_cast<sockaddr *>(&at), len);
    getsockname(fd, reinterpret_cast<sockaddr *>(&at), &len);
    server = ks_svc_dg_create(fd, 0, 0);
    client = socket(AF_INET, SOCK_DGRAM, 0);
    connect(client, reinterpret_cast<sockaddr *>(&at), len);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool registered = ks_svc_register(nullptr, kProg, 1, echo, 0);
  static Sockets sockets;
  (void)registered;
  if (sockets.server == nullptr || size > 8800) return 0;
  if (send(sockets.client, data, size, 0) != static_cast<ssize_t>(size))
    return 0;
  ks_svc_process_request(sockets.server);
  char reply[9000];
  while (recv(sockets.client, reply, sizeof reply, MSG_DONTWAIT) > 0) {
  }
  return 0;
}
