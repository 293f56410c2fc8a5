// The datagram client hears of an unreachable port at once, on unconnected
// sockets (the usual case) and connected ones, and only from its own server.
#include <orvexks/rpc/clnt.h>

#include <gtest/gtest.h>

#include <chrono>

#include "rpc/clnt/call_helpers.h"
#include "rpc/clnt/socket_peer.h"

namespace {

constexpr uint32_t kProg = 0x20000778;

TEST(ClntDgUnreachable, PortNobodyServesEndsTheCallAtOnce) {
  const struct {
    int family;
    bool connected;
  } cases[] = {{AF_INET, false}, {AF_INET6, false}, {AF_INET, true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.family == AF_INET ? "IPv4" : "IPv6")
                                      << (c.connected ? ", connected" : ""));
    loopback_addr to = peer::unused_loopback_port(SOCK_DGRAM, c.family);
    int fd = socket(c.family, SOCK_DGRAM, 0);
    ASSERT_TRUE(!c.connected || connect(fd, to.sa(), to.len) == 0);
    struct netbuf nb = {to.len, to.len, to.sa()};
    CLIENT *cl = ks_clnt_dg_create(fd, &nb, kProg, 1, 0, 0);
    ASSERT_NE(cl, nullptr);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(call_void(cl, 0, tv(20)), RPC_DGRAM_CONNRESET);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(err_of(cl).re_errno, 10054);
    KS_CLNT_DESTROY(cl);
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
  loopback_addr elsewhere = peer::unused_loopback_port(SOCK_DGRAM);
  // The refusal arrives while the socket has no report of errors asked
  // for yet, and again once the client has asked for them.
  sendto(fd, "x", 1, 0, elsewhere.sa(), elsewhere.len);
  struct netbuf nb = {srv.addrlen(), srv.addrlen(), srv.addr()};
  CLIENT *cl = ks_clnt_dg_create(fd, &nb, kProg, 1, 0, 0);
  ASSERT_NE(cl, nullptr);
  sendto(fd, "x", 1, 0, elsewhere.sa(), elsewhere.len);
  usleep(100000);
  EXPECT_EQ(call_void(cl, 0), RPC_SUCCESS);
  KS_CLNT_DESTROY(cl);
  close(fd);
}

}  // namespace
