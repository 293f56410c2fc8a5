// The datagram client hears of an unreachable port on an unconnected
// socket, the usual case, and only from its own server.
#include <orvexks/rpc/clnt.h>

#include <gtest/gtest.h>

#include <chrono>

#include "rpc/clnt/socket_peer.h"

namespace {

constexpr uint32_t kProg = 0x20000778;

xdrproc_t xvoid() { return reinterpret_cast<xdrproc_t>(xdr_void); }

// A loopback address of the family on which no datagram socket is bound.
loopback_addr unused_port(int family) {
  int probe = socket(family, SOCK_DGRAM, 0);
  loopback_addr at = loopback(family, 0);
  bind(probe, at.sa(), at.len);
  getsockname(probe, at.sa(), &at.len);
  close(probe);
  return at;
}

enum clnt_stat call_over(int fd, loopback_addr &to, int seconds) {
  struct netbuf nb = {to.len, to.len, to.sa()};
  CLIENT *cl = ks_clnt_dg_create(fd, &nb, kProg, 1, 0, 0);
  if (cl == nullptr) return RPC_SYSTEMERROR;
  struct timeval limit = {seconds, 0};
  enum clnt_stat stat =
      KS_CLNT_CALL(cl, 0, xvoid(), nullptr, xvoid(), nullptr, limit);
  struct rpc_err err;
  KS_CLNT_GETERR(cl, &err);
  KS_CLNT_DESTROY(cl);
  return stat == RPC_DGRAM_CONNRESET && err.re_errno != 10054 ? RPC_FAILED
                                                              : stat;
}

TEST(ClntDgUnreachable, UnconnectedSocketEndsTheCallAtOnce) {
  for (int family : {AF_INET, AF_INET6}) {
    SCOPED_TRACE(family == AF_INET ? "IPv4" : "IPv6");
    loopback_addr to = unused_port(family);
    int fd = socket(family, SOCK_DGRAM, 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(call_over(fd, to, 20), RPC_DGRAM_CONNRESET);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    close(fd);
  }
}

// The socket first sent to a closed port elsewhere; that refusal is not
// the server's, and the call still gets the server's reply.
TEST(ClntDgUnreachable, RefusalForAnotherDestinationIsIgnored) {
  peer::server srv(SOCK_DGRAM, [](int fd) {
    peer::datagram d = peer::receive(fd, 5000);
    if (d.bytes.size() >= 4)
      peer::reply_to(fd, d,
                     peer::success_reply(peer::word_at(d.bytes.data(), 0)));
  });
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  loopback_addr elsewhere = unused_port(AF_INET);
  // The refusal arrives while the socket has no report of errors asked
  // for yet, and again once the client has asked for them.
  sendto(fd, "x", 1, 0, elsewhere.sa(), elsewhere.len);
  loopback_addr server;
  server.len = srv.addrlen();
  memcpy(&server.ss, srv.addr(), server.len);
  struct netbuf nb = {server.len, server.len, server.sa()};
  CLIENT *cl = ks_clnt_dg_create(fd, &nb, kProg, 1, 0, 0);
  ASSERT_NE(cl, nullptr);
  sendto(fd, "x", 1, 0, elsewhere.sa(), elsewhere.len);
  usleep(100000);
  struct timeval limit = {5, 0};
  EXPECT_EQ(KS_CLNT_CALL(cl, 0, xvoid(), nullptr, xvoid(), nullptr, limit),
            RPC_SUCCESS);
  KS_CLNT_DESTROY(cl);
  close(fd);
}

}  // namespace
