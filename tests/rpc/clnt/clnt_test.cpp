// The client transports against hand-written socket peers: retransmission,
// stale and foreign replies, oversized replies, broken and silent
// connections, refused connections, creation errors and control requests.
#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/rpcb.h>

#include <fcntl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "rpc/clnt/call_helpers.h"
#include "rpc/clnt/socket_peer.h"

namespace {

constexpr uint32_t kProg = 0x20000777;

// A client of kProg version 1 at the peer, on a socket it owns.
CLIENT *client_of(peer::server &srv, int type, uint32_t recvsz = 0) {
  int fd = socket(AF_INET, type, 0);
  struct netbuf nb = {srv.addrlen(), srv.addrlen(), srv.addr()};
  CLIENT *cl = type == SOCK_DGRAM
                   ? ks_clnt_dg_create(fd, &nb, kProg, 1, 0, recvsz)
                   : ks_clnt_vc_create(fd, &nb, kProg, 1, 0, 0);
  if (cl != nullptr) KS_CLNT_CONTROL(cl, CLSET_FD_CLOSE, nullptr);
  return cl;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
      .count();
}

uint32_t control_word(CLIENT *cl, unsigned int request) {
  uint32_t v = 0;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, request, &v));
  return v;
}

// The status a creation left; RPC_SUCCESS (the client destroyed) when it
// made one.
enum clnt_stat create_status(CLIENT *cl) {
  if (cl == nullptr) return ks_rpc_get_createerr()->cf_stat;
  KS_CLNT_DESTROY(cl);
  return RPC_SUCCESS;
}

// A zero timeout sends once and returns at once. Then, with retransmit
// wait w and total 5 w, the call sends at 0, w and 3 w and ends at 7 w,
// when the elapsed waits first reach the total.
TEST(ClntDgTest, SilentServerSeesOneSendThenTheDoublingSchedule) {
  std::vector<double> at;
  double first = 0, second = 0;
  {
    auto t0 = std::chrono::steady_clock::now();
    peer::server srv(SOCK_DGRAM, [&](int fd) {
      while (!peer::receive(fd, 1500).bytes.empty())
        at.push_back(seconds_since(t0));
    });
    CLIENT *cl = client_of(srv, SOCK_DGRAM);
    ASSERT_NE(cl, nullptr);
    // A null argument filter sends no arguments.
    EXPECT_EQ(KS_CLNT_CALL(cl, 1, nullptr, nullptr, xvoid(), nullptr, tv(0)),
              RPC_TIMEDOUT);
    first = seconds_since(t0);
    usleep(300000);
    struct timeval wait = tv(0, 100000);
    ASSERT_TRUE(KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &wait));
    auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(call_void(cl, 1, tv(0, 500000)), RPC_TIMEDOUT);
    second = seconds_since(t1);
    KS_CLNT_DESTROY(cl);
  }  // the peer has stopped: its records are complete
  EXPECT_LT(first, 0.25);
  EXPECT_GE(second, 0.65);
  EXPECT_LT(second, 5.0);
  ASSERT_EQ(at.size(), 4u);
  EXPECT_GE(at[2] - at[1], 0.09);
  EXPECT_GE(at[3] - at[1], 0.28);
}

// The server answers only the retransmission; a reply shorter than a word,
// a stale and a foreign one come first and are ignored.
TEST(ClntDgTest, LateReplyAfterRetransmissionWinsOverStaleAndForeignReplies) {
  peer::server srv(SOCK_DGRAM, [&](int fd) {
    peer::receive(fd, 2000);
    peer::datagram second = peer::receive(fd, 2000);
    if (second.bytes.size() < 4) return;
    uint32_t xid = peer::word_at(second.bytes.data(), 0);
    peer::words tiny;
    tiny.u32(xid).bytes.resize(3);
    peer::reply_to(fd, second, tiny);
    peer::reply_to(fd, second, peer::success_reply(xid - 1).u32(1));
    peer::reply_to(fd, second, peer::success_reply(xid ^ 0x5A5A).u32(2));
    peer::reply_to(fd, second, peer::success_reply(xid).u32(42));
  });
  CLIENT *cl = client_of(srv, SOCK_DGRAM);
  ASSERT_NE(cl, nullptr);
  struct timeval wait = tv(0, 200000);
  KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &wait);
  uint32_t result = 0;
  EXPECT_EQ(call_u32(cl, 1, 0, &result), RPC_SUCCESS);
  EXPECT_EQ(result, 42u);
  KS_CLNT_DESTROY(cl);
}

TEST(ClntDgTest, ReplyLargerThanTheReceiveBufferIsAReceiveError) {
  peer::server srv(SOCK_DGRAM, [&](int fd) {
    peer::datagram d = peer::receive(fd, 2000);
    if (d.bytes.size() < 4) return;
    std::vector<uint8_t> body(2000, 0x41);
    peer::reply_to(fd, d,
                   peer::success_reply(peer::word_at(d.bytes.data(), 0))
                       .raw(body.data(), body.size()));
  });
  CLIENT *cl = client_of(srv, SOCK_DGRAM, 400);
  ASSERT_NE(cl, nullptr);
  EXPECT_EQ(call_void(cl, 1), RPC_CANTRECV);
  EXPECT_EQ(err_of(cl).re_errno, 10040);
  KS_CLNT_DESTROY(cl);
}

TEST(ClntDgTest, ControlRequests) {
  peer::server srv(SOCK_DGRAM, [](int) {});
  CLIENT *cl = client_of(srv, SOCK_DGRAM);
  ASSERT_NE(cl, nullptr);
  struct timeval in = tv(7, 5), out = tv(0);
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_TIMEOUT, &in));
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_TIMEOUT, &out));
  EXPECT_EQ(out.tv_sec, 7);
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_RETRY_TIMEOUT, &out));
  EXPECT_EQ(out.tv_sec, 15);
  in = tv(100000001);  // one past each limit of a time value
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &in));
  in = tv(1, 1000001);
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_TIMEOUT, &in));
  uint32_t v = 9;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_VERS, &v));
  EXPECT_EQ(control_word(cl, CLGET_PROG), kProg);
  EXPECT_EQ(control_word(cl, CLGET_VERS), 9u);
  v = 1000;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_XID, &v));
  EXPECT_EQ(control_word(cl, CLGET_XID), 999u);  // the next call adds one
  sockaddr_storage ss;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_SERVER_ADDR, &ss));
  EXPECT_EQ(memcmp(&ss, srv.addr(), srv.addrlen()), 0);
  struct netbuf nb = {0, 0, nullptr};
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_SVC_ADDR, &nb));
  EXPECT_EQ(nb.maxlen, 128u);
  EXPECT_EQ(nb.len, srv.addrlen());
  nb = {200, 200, &ss};
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_SVC_ADDR, &nb));
  nb = {sizeof(sockaddr_in), sizeof(sockaddr_in), &ss};
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_SVC_ADDR, &nb));
  int fd = -1;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_FD, &fd));
  EXPECT_GE(fd, 0);
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLGET_FD, nullptr));
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, 99, &v));
  KS_CLNT_DESTROY(cl);
}

// Accepts one connection and holds it until the client closes it.
void hold_connection(int fd) {
  int c = accept(fd, nullptr, nullptr);
  wait_readable(c, 2000);
  close(c);
}

TEST(ClntVcTest, ControlRequestsOfTheConnectionTransport) {
  peer::server srv(SOCK_STREAM, hold_connection);
  CLIENT *cl = client_of(srv, SOCK_STREAM);
  ASSERT_NE(cl, nullptr);
  struct timeval wait = tv(3);
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &wait));
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLGET_RETRY_TIMEOUT, &wait));
  sockaddr_storage ss;
  struct netbuf nb = {sizeof ss, sizeof(sockaddr_in), &ss};
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_SVC_ADDR, &nb));
  uint32_t xid = 500;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_XID, &xid));
  EXPECT_EQ(control_word(cl, CLGET_XID), 501u);  // the next call subtracts one
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_TIMEOUT, &wait));
  wait = tv(0);
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_TIMEOUT, &wait));
  EXPECT_EQ(wait.tv_sec, 3);
  KS_CLNT_DESTROY(cl);
}

TEST(ClntVcTest, CallSkipsRecordsOfOtherCalls) {
  peer::server srv(SOCK_STREAM, [](int fd) {
    int c = accept(fd, nullptr, nullptr);
    std::vector<uint8_t> call = peer::read_record(c);
    if (call.size() >= 4) {
      uint32_t xid = peer::word_at(call.data(), 0);
      peer::write_record(c, peer::success_reply(xid + 7).u32(1));
      peer::write_record(c, peer::success_reply(xid).u32(77));
    }
    wait_readable(c, 2000);
    close(c);
  });
  CLIENT *cl = client_of(srv, SOCK_STREAM);
  ASSERT_NE(cl, nullptr);
  uint32_t result = 0;
  EXPECT_EQ(call_u32(cl, 1, 5, &result), RPC_SUCCESS);
  EXPECT_EQ(result, 77u);
  KS_CLNT_DESTROY(cl);
}

TEST(ClntVcTest, ServerThatClosesTheConnectionIsAReset) {
  peer::server srv(SOCK_STREAM, [](int fd) {
    int c = accept(fd, nullptr, nullptr);
    peer::read_record(c);
    close(c);
  });
  CLIENT *cl = client_of(srv, SOCK_STREAM);
  ASSERT_NE(cl, nullptr);
  EXPECT_EQ(call_void(cl, 1), RPC_CANTRECV);
  EXPECT_EQ(err_of(cl).re_errno, 10054);
  KS_CLNT_DESTROY(cl);
}

// Each call waits for its reply as long as its own timeout says: a long
// one first, then a short one that a silent server lets run out. A socket
// the client does not own gets back the receive time-out it came with.
TEST(ClntVcTest, EachCallWaitsItsOwnTimeoutAndTheSocketKeepsItsOwn) {
  std::atomic<bool> done{false};
  peer::server srv(SOCK_STREAM, [&](int fd) {
    int c = accept(fd, nullptr, nullptr);
    std::vector<uint8_t> call = peer::read_record(c);
    if (call.size() >= 4)
      peer::write_record(c, peer::success_reply(peer::word_at(call.data(), 0)));
    peer::read_record(c);  // the second call gets no reply
    while (!done) usleep(10000);
    close(c);
  });
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct timeval own = tv(7);
  ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &own, sizeof own), 0);
  struct netbuf nb = {srv.addrlen(), srv.addrlen(), srv.addr()};
  CLIENT *cl = ks_clnt_vc_create(fd, &nb, kProg, 1, 0, 0);
  ASSERT_NE(cl, nullptr);
  EXPECT_EQ(call_void(cl, 1, tv(20)), RPC_SUCCESS);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(call_void(cl, 1, tv(0, 300000)), RPC_TIMEDOUT);
  double took = seconds_since(t0);
  EXPECT_GE(took, 0.25);
  EXPECT_LT(took, 5.0);
  done = true;
  KS_CLNT_DESTROY(cl);
  struct timeval after = tv(0);
  socklen_t len = sizeof after;
  ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &after, &len), 0);
  EXPECT_EQ(after.tv_sec, 7);
  close(fd);
}

TEST(ClntVcTest, BatchedCallsReachTheServerWithTheNextFlush) {
  std::atomic<int> records{0};
  peer::server srv(SOCK_STREAM, [&](int fd) {
    int c = accept(fd, nullptr, nullptr);
    for (std::vector<uint8_t> call; !(call = peer::read_record(c)).empty();) {
      records++;
      if (peer::word_at(call.data(), 5) == 2)
        peer::write_record(c,
                           peer::success_reply(peer::word_at(call.data(), 0)));
    }
    close(c);
  });
  CLIENT *cl = client_of(srv, SOCK_STREAM);
  ASSERT_NE(cl, nullptr);
  for (int i = 0; i < 2; i++)
    EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, nullptr, nullptr, tv(0)),
              RPC_SUCCESS);
  EXPECT_EQ(call_void(cl, 2), RPC_SUCCESS);
  KS_CLNT_DESTROY(cl);
  // The destroy closed the connection; the peer has counted everything.
  usleep(100000);
  EXPECT_EQ(records, 3);
}

// A refused call is sent again with the initial credential once the
// server has handed out a short-hand one: whatever the error, the
// connection client refreshes before it gives up.
TEST(ClntVcTest, ErrorReplyRefreshesAShortHandCredential) {
  std::vector<uint32_t> flavors;  // credential flavour of each call received
  {
    peer::server srv(SOCK_STREAM, [&](int fd) {
      int c = accept(fd, nullptr, nullptr);
      for (;;) {
        std::vector<uint8_t> call = peer::read_record(c);
        if (call.size() < 28) break;
        uint32_t xid = peer::word_at(call.data(), 0);
        flavors.push_back(peer::word_at(call.data(), 6));
        peer::words reply;
        reply.u32(xid).u32(1).u32(0);
        if (flavors.size() == 1)  // success, short-hand verifier {2, "abcd"}
          reply.u32(2).u32(12).u32(2).u32(4).raw("abcd", 4).u32(0);
        else  // program unavailable
          reply.u32(0).u32(0).u32(1);
        peer::write_record(c, reply);
      }
      close(c);
    });
    CLIENT *cl = client_of(srv, SOCK_STREAM);
    ASSERT_NE(cl, nullptr);
    cl->cl_auth = ks_authunix_create("host", 1, 1, 0, nullptr);
    EXPECT_EQ(call_void(cl, 1), RPC_SUCCESS);
    EXPECT_EQ(call_void(cl, 1), RPC_PROGUNAVAIL);
    KS_AUTH_DESTROY(cl->cl_auth);
    KS_CLNT_DESTROY(cl);
  }  // the peer has ended
  EXPECT_EQ(flavors, (std::vector<uint32_t>{1, 2, 1}));
}

TEST(ClntCreateTest, CreationErrors) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_EQ(create_status(ks_clnt_dg_create(fd, nullptr, kProg, 1, 0, 0)),
            RPC_UNKNOWNADDR);
  close(fd);
  loopback_addr refusing = peer::unused_loopback_port(SOCK_STREAM);
  auto *sin = reinterpret_cast<sockaddr_in *>(&refusing.ss);
  int sock = -1;
  EXPECT_EQ(create_status(ks_clnttcp_create(sin, kProg, 1, &sock, 0, 0)),
            RPC_SYSTEMERROR);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_error.re_errno, 10061);
  EXPECT_STREQ(ks_clnt_spcreateerror("c"),
               "c: RPC: Remote system error - [WINSOCK] Connection refused");
  sockaddr_in6 port_zero{};
  port_zero.sin6_family = AF_INET6;
  port_zero.sin6_addr = in6addr_loopback;
  EXPECT_EQ(
      create_status(ks_clnttcp_create_sockaddr(
          reinterpret_cast<sockaddr *>(&port_zero), kProg, 1, &sock, 0, 0)),
      RPC_SYSTEMERROR);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_error.re_errno, 22);
  sockaddr other{};
  other.sa_family = 1;
  EXPECT_EQ(
      create_status(ks_clntudp_create_sockaddr(&other, kProg, 1, tv(1), &sock)),
      RPC_UNKNOWNADDR);
  EXPECT_EQ(sock, -1);
  EXPECT_EQ(
      create_status(ks_clnt_create("no-such-host.invalid", kProg, 1, "udp")),
      RPC_UNKNOWNHOST);
  EXPECT_EQ(
      create_status(ks_clnt_create("localhost", kProg, 1, "carrier_pigeon")),
      RPC_UNKNOWNPROTO);
  EXPECT_EQ(create_status(ks_clnt_tp_create("localhost", kProg, 1, nullptr)),
            RPC_UNKNOWNPROTO);
  // NETPATH unset: the default network type selects no transport.
  unsetenv("NETPATH");
  EXPECT_EQ(create_status(ks_clnt_create("localhost", kProg, 1, nullptr)),
            RPC_UNKNOWNPROTO);
  EXPECT_EQ(ks_rpc_call("localhost", kProg, 1, 0, xvoid(), nullptr, xvoid(),
                        nullptr, "netpath"),
            RPC_UNKNOWNPROTO);
}

// A listener with a backlog of 0 and one unaccepted connection drops
// every further connection request, so a connect to it never completes.
TEST(ClntCreateTest, ConnectThatNeverCompletesEndsWithinTheSendTimeout) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  loopback_addr at = loopback(AF_INET, 0);
  ASSERT_EQ(bind(listener, at.sa(), at.len), 0);
  getsockname(listener, at.sa(), &at.len);
  ASSERT_EQ(listen(listener, 0), 0);
  int queued = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(queued, at.sa(), at.len), 0);

  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct timeval sndtimeo = tv(0, 300000);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sndtimeo, sizeof sndtimeo);
  struct netbuf nb = {at.len, at.len, at.sa()};
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(create_status(ks_clnt_vc_create(fd, &nb, kProg, 1, 0, 0)),
            RPC_SYSTEMERROR);
  EXPECT_LT(seconds_since(t0), 10.0);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_error.re_errno, 10060);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);  // the caller's mode is kept
  close(fd);
  close(queued);
  close(listener);
}

TEST(ClntCreateTest, MeteringHooksSeeAddressBasedClients) {
  static std::atomic<int> tcp_seen{0}, udp_seen{0};
  ks_client_metering_enable([](uint32_t, uint32_t, CLIENT *) { tcp_seen++; },
                            [](uint32_t p, uint32_t, CLIENT *c) {
                              if (p == kProg && c != nullptr) udp_seen++;
                            });
  peer::server srv(SOCK_DGRAM, [](int) {});
  auto *sin = reinterpret_cast<sockaddr_in *>(srv.addr());
  for (int enabled = 1; enabled >= 0; enabled--) {
    if (!enabled) ks_client_metering_disable();
    int sock = -1;
    EXPECT_EQ(create_status(ks_clntudp_create(sin, kProg, 1, tv(1), &sock)),
              RPC_SUCCESS);
  }
  EXPECT_EQ(udp_seen, 1);
  EXPECT_EQ(tcp_seen, 0);
}

}  // namespace
