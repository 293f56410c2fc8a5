// Arbitrary bytes as the reply datagram of a datagram client (over
// loopback UDP), decoded with one of several result filters, the binder's
// lists among them. The first byte picks the filter and whether the
// reply gets the call's transaction id; a reply without it is ignored and
// the call ends at its (short) timeout.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/rpcb.h>

namespace {

constexpr uint32_t kXid = 0x01020304;

struct counted {
  char *bytes;
  uint32_t len;
};

bool_t xdr_counted(XDR *xdrs, counted *c) {
  return xdr_bytes(xdrs, &c->bytes, &c->len, 4096);
}
bool_t xdr_text(XDR *xdrs, char **s) { return xdr_string(xdrs, s, 1024); }

struct sockets {
  int client = socket(AF_INET, SOCK_DGRAM, 0);
  int server = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in server_addr{};
  sockaddr_in client_addr{};
  sockets() {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(server, reinterpret_cast<sockaddr *>(&any), sizeof any);
    bind(client, reinterpret_cast<sockaddr *>(&any), sizeof any);
    socklen_t len = sizeof server_addr;
    getsockname(server, reinterpret_cast<sockaddr *>(&server_addr), &len);
    len = sizeof client_addr;
    getsockname(client, reinterpret_cast<sockaddr *>(&client_addr), &len);
  }
};

void drain(int fd) {
  char buf[65536];
  while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static sockets s;
  if (size < 1 || size > 9000) return 0;
  uint8_t control = data[0];
  std::vector<uint8_t> reply(data + 1, data + size);
  if ((control & 0x80) == 0 && reply.size() >= 4) {
    uint32_t be = htonl(kXid);
    memcpy(reply.data(), &be, 4);
  }
  drain(s.client);
  drain(s.server);
  struct netbuf nb = {sizeof s.server_addr, sizeof s.server_addr,
                      &s.server_addr};
  CLIENT *cl =
      ks_clnt_dg_create(s.client, &nb, 100000, 4, 0, control & 0x40 ? 400 : 0);
  if (cl == nullptr) return 0;
  uint32_t next = kXid - 1;  // the call adds one
  KS_CLNT_CONTROL(cl, CLSET_XID, &next);
  struct timeval wait = {0, 2000};
  KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &wait);
  sendto(s.server, reply.data(), reply.size(), 0,
         reinterpret_cast<sockaddr *>(&s.client_addr), sizeof s.client_addr);
  auto xvoid = reinterpret_cast<xdrproc_t>(xdr_void);
  struct timeval total = {0, 5000};
  struct rpcblist *rl = nullptr;
  struct pmaplist *pl = nullptr;
  counted c = {nullptr, 0};
  char *text = nullptr;
  uint32_t word = 0;
  switch (control & 7) {
    case 0:
      KS_CLNT_CALL(cl, 4, xvoid, nullptr,
                   reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &rl,
                   total);
      break;
    case 1:
      KS_CLNT_CALL(cl, 4, xvoid, nullptr,
                   reinterpret_cast<xdrproc_t>(xdr_ks_pmaplist_ptr), &pl,
                   total);
      break;
    case 2:
      KS_CLNT_CALL(cl, 3, xvoid, nullptr,
                   reinterpret_cast<xdrproc_t>(xdr_counted), &c, total);
      break;
    case 3:
      KS_CLNT_CALL(cl, 3, xvoid, nullptr, reinterpret_cast<xdrproc_t>(xdr_text),
                   &text, total);
      break;
    default:
      KS_CLNT_CALL(cl, 3, xvoid, nullptr,
                   reinterpret_cast<xdrproc_t>(xdr_u_int32_t), &word, total);
      break;
  }
  struct rpc_err err;
  KS_CLNT_GETERR(cl, &err);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &rl);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_pmaplist_ptr), &pl);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_counted), &c);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_text), &text);
  KS_CLNT_DESTROY(cl);
  return 0;
}
