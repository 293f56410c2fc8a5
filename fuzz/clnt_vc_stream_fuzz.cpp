// Arbitrary bytes as the record stream a connection client reads after
// its call (through a socket pair whose far end then closes). Calls use
// the transaction id 0x01020304, so records can match it.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/rpcb.h>

namespace {

struct counted {
  char *bytes;
  uint32_t len;
};
bool_t xdr_counted(XDR *xdrs, counted *c) {
  return xdr_bytes(xdrs, &c->bytes, &c->len, 65536);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  int bufsize = 1 << 18;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &bufsize, sizeof bufsize);
  setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &bufsize, sizeof bufsize);
  uint8_t control = data[0];
  (void)!write(pair[1], data + 1, size - 1);
  shutdown(pair[1], SHUT_WR);
  sockaddr peer{};
  peer.sa_family = AF_UNIX;
  struct netbuf nb = {sizeof peer, sizeof peer, &peer};
  CLIENT *cl =
      ks_clnt_vc_create(pair[0], &nb, 100000, 4, control & 0x40 ? 100 : 0, 0);
  if (cl != nullptr) {
    uint32_t xid = 0x01020304;
    KS_CLNT_CONTROL(cl, CLSET_XID, &xid);
    auto xvoid = reinterpret_cast<xdrproc_t>(xdr_void);
    struct timeval total = {0, 20000};
    for (int call = 0; call < 1 + (control & 3); call++) {
      struct rpcblist *rl = nullptr;
      counted c = {nullptr, 0};
      if (control & 4)
        KS_CLNT_CALL(cl, 4, xvoid, nullptr,
                     reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &rl,
                     total);
      else
        KS_CLNT_CALL(cl, 3, xvoid, nullptr,
                     reinterpret_cast<xdrproc_t>(xdr_counted), &c, total);
      xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &rl);
      xdr_free(reinterpret_cast<xdrproc_t>(xdr_counted), &c);
    }
    KS_CLNT_DESTROY(cl);
  }
  close(pair[0]);
  close(pair[1]);
  return 0;
}
