// The client transports against hand-written socket peers: retransmission,
// stale and foreign replies, oversized replies, broken and silent
// connections, refused connections, and every control request.
#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/rpcb.h>

#include <fcntl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "rpc/clnt/socket_peer.h"

namespace {

constexpr uint32_t kProg = 0x20000777;
constexpr uint32_t kVers = 1;

struct timeval tv(time_t sec, suseconds_t usec) {
  return timeval{sec, usec};
}

xdrproc_t xvoid() { return reinterpret_cast<xdrproc_t>(xdr_void); }
xdrproc_t xu32() { return reinterpret_cast<xdrproc_t>(xdr_u_int32_t); }

CLIENT *udp_client(peer::server &srv, uint32_t recvsz = 0) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  struct netbuf nb = {srv.addrlen(), srv.addrlen(), srv.addr()};
  CLIENT *cl = ks_clnt_dg_create(fd, &nb, kProg, kVers, 0, recvsz);
  if (cl != nullptr) KS_CLNT_CONTROL(cl, CLSET_FD_CLOSE, nullptr);
  return cl;
}

CLIENT *tcp_client(peer::server &srv) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct netbuf nb = {srv.addrlen(), srv.addrlen(), srv.addr()};
  CLIENT *cl = ks_clnt_vc_create(fd, &nb, kProg, kVers, 0, 0);
  if (cl != nullptr) KS_CLNT_CONTROL(cl, CLSET_FD_CLOSE, nullptr);
  return cl;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
      .count();
}

TEST(ClntDgTest, CreateWithoutAddressFailsWithUnknownAddress) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_EQ(ks_clnt_dg_create(fd, nullptr, kProg, kVers, 0, 0), nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_UNKNOWNADDR);
  close(fd);
}

TEST(ClntDgTest, ZeroTimeoutSendsOnceAndReturnsTimedOut) {
  std::atomic<int> received{0};
  peer::server srv(SOCK_DGRAM, [&](int fd) {
    while (!peer::receive(fd, 500).bytes.empty()) received++;
  });
  CLIENT *cl = udp_client(srv);
  ASSERT_NE(cl, nullptr);
  auto t0 = std::chrono::steady_clock::now();
  // A null argument filter sends no arguments.
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, nullptr, nullptr, xvoid(), nullptr, tv(0, 0)),
            RPC_TIMEDOUT);
  EXPECT_LT(seconds_since(t0), 0.4);
  KS_CLNT_DESTROY(cl);
  while (received == 0 && seconds_since(t0) < 2) usleep(1000);
  usleep(50000);
  EXPECT_EQ(received, 1);
}

// Retransmit wait w, total 5 w: sends at 0, w and 3 w, and the call ends
// at 7 w, when the elapsed waits first reach the total.
TEST(ClntDgTest, SilentServerSeesTheDoublingRetransmissionSchedule) {
  std::vector<double> at;
  double ended = 0;
  {
    auto t0 = std::chrono::steady_clock::now();
    std::atomic<bool> started{false};
    peer::server srv(SOCK_DGRAM, [&](int fd) {
      while (!started) usleep(1000);
      for (;;) {
        peer::datagram d = peer::receive(fd, 1500);
        if (d.bytes.empty()) return;
        at.push_back(seconds_since(t0));
      }
    });
    CLIENT *cl = udp_client(srv);
    ASSERT_NE(cl, nullptr);
    struct timeval wait = {0, 100000};
    ASSERT_TRUE(KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &wait));
    t0 = std::chrono::steady_clock::now();
    started = true;
    EXPECT_EQ(
        KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xvoid(), nullptr, tv(0, 500000)),
        RPC_TIMEDOUT);
    ended = seconds_since(t0);
    KS_CLNT_DESTROY(cl);
  }  // the peer has stopped: its records are complete
  EXPECT_GE(ended, 0.65);
  EXPECT_LT(ended, 5.0);
  ASSERT_EQ(at.size(), 3u);
  EXPECT_GE(at[1], 0.09);
  EXPECT_GE(at[2], 0.28);
}

// The server answers only the retransmission; stale and foreign replies
// come first and are ignored.
TEST(ClntDgTest, LateReplyAfterRetransmissionWinsOverStaleAndForeignReplies) {
  peer::server srv(SOCK_DGRAM, [&](int fd) {
    peer::datagram first = peer::receive(fd, 2000);
    peer::datagram second = peer::receive(fd, 2000);
    if (second.bytes.size() < 4) return;
    uint32_t xid = peer::word_at(second.bytes.data(), 0);
    peer::words tiny;
    tiny.u32(xid).bytes.resize(3);
    peer::reply_to(fd, second, tiny);  // shorter than a word
    peer::reply_to(fd, second, peer::success_reply(xid - 1).u32(1));  // stale
    peer::reply_to(fd, second,
                   peer::success_reply(xid ^ 0x5A5A).u32(2));  // foreign
    peer::reply_to(fd, second, peer::success_reply(xid).u32(42));
  });
  CLIENT *cl = udp_client(srv);
  ASSERT_NE(cl, nullptr);
  struct timeval wait = {0, 200000};
  KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &wait);
  uint32_t result = 0;
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xu32(), &result, tv(5, 0)),
            RPC_SUCCESS);
  EXPECT_EQ(result, 42u);
  KS_CLNT_DESTROY(cl);
}

TEST(ClntDgTest, ReplyLargerThanTheReceiveBufferIsAReceiveError) {
  peer::server srv(SOCK_DGRAM, [&](int fd) {
    peer::datagram d = peer::receive(fd, 2000);
    if (d.bytes.size() < 4) return;
    peer::words w = peer::success_reply(peer::word_at(d.bytes.data(), 0));
    std::vector<uint8_t> body(2000, 0x41);
    w.u32(2000).raw(body.data(), body.size());
    peer::reply_to(fd, d, w);
  });
  CLIENT *cl = udp_client(srv, 400);
  ASSERT_NE(cl, nullptr);
  struct holder {
    char *b;
    uint32_t n;
  } h = {nullptr, 0};
  xdrproc_t xbytes =
      reinterpret_cast<xdrproc_t>(+[](XDR *x, holder *p) -> bool_t {
        return xdr_bytes(x, &p->b, &p->n, 4096);
      });
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xbytes, &h, tv(5, 0)),
            RPC_CANTRECV);
  struct rpc_err err;
  KS_CLNT_GETERR(cl, &err);
  EXPECT_EQ(err.re_errno, 10040);
  KS_CLNT_FREERES(cl, xbytes, &h);
  KS_CLNT_DESTROY(cl);
}

TEST(ClntDgTest, ServerErrorsMapToTheirStatuses) {
  peer::server srv(SOCK_DGRAM, [&](int fd) {
    peer::datagram d = peer::receive(fd, 2000);
    if (d.bytes.size() < 4) return;
    uint32_t xid = peer::word_at(d.bytes.data(), 0);
    peer::words w;
    w.u32(xid).u32(1).u32(0).u32(0).u32(0).u32(2).u32(2).u32(
        3);  // PROG_MISMATCH 2..3
    peer::reply_to(fd, d, w);
  });
  CLIENT *cl = udp_client(srv);
  ASSERT_NE(cl, nullptr);
  EXPECT_EQ(KS_CLNT_CALL(cl, 0, xvoid(), nullptr, xvoid(), nullptr, tv(5, 0)),
            RPC_PROGVERSMISMATCH);
  struct rpc_err err;
  KS_CLNT_GETERR(cl, &err);
  EXPECT_EQ(err.re_vers.low, 2u);
  EXPECT_EQ(err.re_vers.high, 3u);
  EXPECT_STREQ(
      ks_clnt_sperror(cl, "x"),
      "x: RPC: Program/version mismatch; low version = 2, high version = 3");
  KS_CLNT_DESTROY(cl);
}

// A caller's connected datagram socket learns of an unreachable port: the
// call ends as a datagram connection reset instead of waiting out its time.
TEST(ClntDgTest, UnreachablePortOnAConnectedSocketIsAConnectionReset) {
  sockaddr_in sin = peer::unused_loopback_port(SOCK_DGRAM);
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin), 0);
  struct netbuf nb = {sizeof sin, sizeof sin, &sin};
  CLIENT *cl = ks_clnt_dg_create(fd, &nb, kProg, kVers, 0, 0);
  ASSERT_NE(cl, nullptr);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xvoid(), nullptr, tv(10, 0)),
            RPC_DGRAM_CONNRESET);
  EXPECT_LT(seconds_since(t0), 5.0);
  struct rpc_err err;
  KS_CLNT_GETERR(cl, &err);
  EXPECT_EQ(err.re_errno, 10054);
  KS_CLNT_DESTROY(cl);
  close(fd);
}

TEST(ClntDgTest, ControlRequests) {
  peer::server srv(SOCK_DGRAM, [](int) {});
  CLIENT *cl = udp_client(srv);
  ASSERT_NE(cl, nullptr);
  struct timeval tv = {7, 5}, out = {0, 0};
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_TIMEOUT, &tv));
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_TIMEOUT, &out));
  EXPECT_EQ(out.tv_sec, 7);
  EXPECT_EQ(out.tv_usec, 5);
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_RETRY_TIMEOUT, &out));
  EXPECT_EQ(out.tv_sec, 15);
  struct timeval bad = {100000001, 0};
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &bad));
  bad = {1, 1000001};
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_TIMEOUT, &bad));
  uint32_t v = 0;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_PROG, &v));
  EXPECT_EQ(v, kProg);
  v = 9;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_VERS, &v));
  v = 0;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_VERS, &v));
  EXPECT_EQ(v, 9u);
  uint32_t xid = 1000;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_XID, &xid));
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_XID, &xid));
  EXPECT_EQ(xid, 999u);  // the next call adds one
  sockaddr_storage ss;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_SERVER_ADDR, &ss));
  EXPECT_EQ(memcmp(&ss, srv.addr(), srv.addrlen()), 0);
  struct netbuf nb = {0, 0, nullptr};
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_SVC_ADDR, &nb));
  EXPECT_EQ(nb.maxlen, 128u);
  EXPECT_EQ(nb.len, srv.addrlen());
  struct netbuf big = {200, 200, &ss};
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_SVC_ADDR, &big));
  struct netbuf fits = {sizeof(sockaddr_in), sizeof(sockaddr_in), &ss};
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_SVC_ADDR, &fits));
  int fd = -1;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_FD, &fd));
  EXPECT_GE(fd, 0);
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLGET_FD, nullptr));
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, 99, &v));
  KS_CLNT_DESTROY(cl);
}

TEST(ClntVcTest, ControlRequestsOfTheConnectionTransport) {
  peer::server srv(SOCK_STREAM, [](int fd) {
    int c = accept(fd, nullptr, nullptr);
    wait_readable(c, 2000);
    close(c);
  });
  CLIENT *cl = tcp_client(srv);
  ASSERT_NE(cl, nullptr);
  struct timeval tv = {3, 0};
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &tv));
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLGET_RETRY_TIMEOUT, &tv));
  sockaddr_storage ss;
  struct netbuf nb = {sizeof ss, sizeof(sockaddr_in), &ss};
  EXPECT_FALSE(KS_CLNT_CONTROL(cl, CLSET_SVC_ADDR, &nb));
  uint32_t xid = 500;
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_XID, &xid));
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_XID, &xid));
  EXPECT_EQ(xid, 501u);  // the next call subtracts one
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLSET_TIMEOUT, &tv));
  tv = {0, 0};
  EXPECT_TRUE(KS_CLNT_CONTROL(cl, CLGET_TIMEOUT, &tv));
  EXPECT_EQ(tv.tv_sec, 3);
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
  CLIENT *cl = tcp_client(srv);
  ASSERT_NE(cl, nullptr);
  uint32_t arg = 5, result = 0;
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, xu32(), &arg, xu32(), &result, tv(5, 0)),
            RPC_SUCCESS);
  EXPECT_EQ(result, 77u);
  KS_CLNT_DESTROY(cl);
}

TEST(ClntVcTest, ServerThatClosesTheConnectionIsAReset) {
  peer::server srv(SOCK_STREAM, [](int fd) {
    int c = accept(fd, nullptr, nullptr);
    peer::read_record(c);
    close(c);
  });
  CLIENT *cl = tcp_client(srv);
  ASSERT_NE(cl, nullptr);
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xvoid(), nullptr, tv(5, 0)),
            RPC_CANTRECV);
  struct rpc_err err;
  KS_CLNT_GETERR(cl, &err);
  EXPECT_EQ(err.re_errno, 10054);
  KS_CLNT_DESTROY(cl);
}

TEST(ClntVcTest, HalfARecordThenSilenceTimesOut) {
  std::atomic<bool> done{false};
  peer::server srv(SOCK_STREAM, [&](int fd) {
    int c = accept(fd, nullptr, nullptr);
    std::vector<uint8_t> call = peer::read_record(c);
    peer::words half;
    half.u32(0x80000000u | 100)
        .u32(call.size() >= 4 ? peer::word_at(call.data(), 0) : 0)
        .u32(1);
    send(c, half.bytes.data(), half.bytes.size(), MSG_NOSIGNAL);
    while (!done) usleep(10000);
    close(c);
  });
  CLIENT *cl = tcp_client(srv);
  ASSERT_NE(cl, nullptr);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(
      KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xvoid(), nullptr, tv(0, 300000)),
      RPC_TIMEDOUT);
  double took = seconds_since(t0);
  EXPECT_GE(took, 0.25);
  EXPECT_LT(took, 5.0);
  done = true;
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
  struct timeval own = {7, 0};
  ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &own, sizeof own), 0);
  struct netbuf nb = {srv.addrlen(), srv.addrlen(), srv.addr()};
  CLIENT *cl = ks_clnt_vc_create(fd, &nb, kProg, kVers, 0, 0);
  ASSERT_NE(cl, nullptr);
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xvoid(), nullptr, tv(20, 0)),
            RPC_SUCCESS);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(
      KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xvoid(), nullptr, tv(0, 300000)),
      RPC_TIMEDOUT);
  double took = seconds_since(t0);
  EXPECT_GE(took, 0.25);
  EXPECT_LT(took, 5.0);
  done = true;
  KS_CLNT_DESTROY(cl);
  struct timeval after = {0, 0};
  socklen_t len = sizeof after;
  ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &after, &len), 0);
  EXPECT_EQ(after.tv_sec, 7);
  close(fd);
}

TEST(ClntVcTest, BatchedCallsReachTheServerWithTheNextFlush) {
  std::atomic<int> records{0};
  peer::server srv(SOCK_STREAM, [&](int fd) {
    int c = accept(fd, nullptr, nullptr);
    for (;;) {
      std::vector<uint8_t> call = peer::read_record(c);
      if (call.empty()) break;
      records++;
      if (peer::word_at(call.data(), 5) == 2)
        peer::write_record(c,
                           peer::success_reply(peer::word_at(call.data(), 0)));
    }
    close(c);
  });
  CLIENT *cl = tcp_client(srv);
  ASSERT_NE(cl, nullptr);
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, nullptr, nullptr, tv(0, 0)),
            RPC_SUCCESS);
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, nullptr, nullptr, tv(0, 0)),
            RPC_SUCCESS);
  EXPECT_EQ(KS_CLNT_CALL(cl, 2, xvoid(), nullptr, xvoid(), nullptr, tv(5, 0)),
            RPC_SUCCESS);
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
        if (flavors.size() == 1)  // success, short-hand verifier {2, "abcd"}
          reply.u32(xid)
              .u32(1)
              .u32(0)
              .u32(2)
              .u32(12)
              .u32(2)
              .u32(4)
              .raw("abcd", 4)
              .u32(0);
        else  // program unavailable
          reply.u32(xid).u32(1).u32(0).u32(0).u32(0).u32(1);
        peer::write_record(c, reply);
      }
      close(c);
    });
    CLIENT *cl = tcp_client(srv);
    ASSERT_NE(cl, nullptr);
    cl->cl_auth = ks_authunix_create("host", 1, 1, 0, nullptr);
    EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xvoid(), nullptr, tv(5, 0)),
              RPC_SUCCESS);
    EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xvoid(), nullptr, tv(5, 0)),
              RPC_PROGUNAVAIL);
    KS_AUTH_DESTROY(cl->cl_auth);
    KS_CLNT_DESTROY(cl);
  }  // the peer has ended
  EXPECT_EQ(flavors, (std::vector<uint32_t>{1, 2, 1}));
}

TEST(ClntCreateTest, RefusedConnectionReports10061) {
  sockaddr_in sin = peer::unused_loopback_port(SOCK_STREAM);
  int sock = -1;
  EXPECT_EQ(ks_clnttcp_create(&sin, kProg, kVers, &sock, 0, 0), nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_SYSTEMERROR);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_error.re_errno, 10061);
  EXPECT_STREQ(ks_clnt_spcreateerror("c"),
               "c: RPC: Remote system error - [WINSOCK] Connection refused");
}

// A listener with a backlog of 0 and one unaccepted connection drops
// every further connection request, so a connect to it never completes.
TEST(ClntCreateTest, ConnectThatNeverCompletesEndsWithinTheSendTimeout) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&sin), sizeof sin), 0);
  socklen_t len = sizeof sin;
  getsockname(listener, reinterpret_cast<sockaddr *>(&sin), &len);
  ASSERT_EQ(listen(listener, 0), 0);
  int queued = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr *>(&sin), sizeof sin), 0);

  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct timeval sndtimeo = tv(0, 300000);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sndtimeo, sizeof sndtimeo);
  struct netbuf nb = {sizeof sin, sizeof sin, &sin};
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ks_clnt_vc_create(fd, &nb, kProg, kVers, 0, 0), nullptr);
  EXPECT_LT(seconds_since(t0), 10.0);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_SYSTEMERROR);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_error.re_errno, 10060);
  // The caller's socket keeps its blocking mode.
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  close(fd);
  close(queued);
  close(listener);
}

TEST(ClntCreateTest, AddressBasedCreationRejectsIpv6PortZeroAndOtherFamilies) {
  sockaddr_in6 sin6{};
  sin6.sin6_family = AF_INET6;
  sin6.sin6_addr = in6addr_loopback;
  int sock = -1;
  EXPECT_EQ(ks_clnttcp_create_sockaddr(reinterpret_cast<sockaddr *>(&sin6),
                                       kProg, kVers, &sock, 0, 0),
            nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_SYSTEMERROR);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_error.re_errno, 22);
  sockaddr other{};
  other.sa_family = 1;
  EXPECT_EQ(ks_clntudp_create_sockaddr(&other, kProg, kVers, tv(1, 0), &sock),
            nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_UNKNOWNADDR);
  EXPECT_EQ(sock, -1);
}

TEST(ClntCreateTest, Ipv6ClientsTalkToAnIpv6Peer) {
  peer::server srv(
      SOCK_DGRAM,
      [](int fd) {
        peer::datagram d = peer::receive(fd, 2000);
        if (d.bytes.size() >= 4)
          peer::reply_to(
              fd, d,
              peer::success_reply(peer::word_at(d.bytes.data(), 0)).u32(6));
      },
      AF_INET6);
  int sock = -1;
  CLIENT *cl =
      ks_clntudp_create_sockaddr(srv.addr(), kProg, kVers, tv(1, 0), &sock);
  ASSERT_NE(cl, nullptr);
  EXPECT_GE(sock, 0);
  EXPECT_STREQ(cl->cl_netid, "udp");
  uint32_t result = 0;
  EXPECT_EQ(KS_CLNT_CALL(cl, 1, xvoid(), nullptr, xu32(), &result, tv(5, 0)),
            RPC_SUCCESS);
  EXPECT_EQ(result, 6u);
  KS_CLNT_DESTROY(cl);
}

TEST(ClntCreateTest, MeteringHooksSeeAddressBasedClients) {
  static std::atomic<int> tcp_seen{0}, udp_seen{0};
  ks_client_metering_enable([](uint32_t, uint32_t, CLIENT *) { tcp_seen++; },
                            [](uint32_t p, uint32_t, CLIENT *c) {
                              if (p == kProg && c != nullptr) udp_seen++;
                            });
  peer::server srv(SOCK_DGRAM, [](int) {});
  int sock = -1;
  CLIENT *cl = ks_clntudp_create(reinterpret_cast<sockaddr_in *>(srv.addr()),
                                 kProg, kVers, tv(1, 0), &sock);
  ASSERT_NE(cl, nullptr);
  KS_CLNT_DESTROY(cl);
  ks_client_metering_disable();
  sock = -1;
  cl = ks_clntudp_create(reinterpret_cast<sockaddr_in *>(srv.addr()), kProg,
                         kVers, tv(1, 0), &sock);
  ASSERT_NE(cl, nullptr);
  KS_CLNT_DESTROY(cl);
  EXPECT_EQ(udp_seen, 1);
  EXPECT_EQ(tcp_seen, 0);
}

TEST(ClntCreateTest, UnknownHostAndUnknownNetworkType) {
  EXPECT_EQ(ks_clnt_create("no-such-host.invalid", kProg, kVers, "udp"),
            nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_UNKNOWNHOST);
  EXPECT_EQ(ks_clnt_create("localhost", kProg, kVers, "carrier_pigeon"),
            nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_UNKNOWNPROTO);
  EXPECT_EQ(ks_clnt_tp_create("localhost", kProg, kVers, nullptr), nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_UNKNOWNPROTO);
}

TEST(ClntCreateTest, NetpathUnsetSelectsNothing) {
  unsetenv("NETPATH");
  EXPECT_EQ(ks_clnt_create("localhost", kProg, kVers, nullptr), nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_UNKNOWNPROTO);
  EXPECT_EQ(ks_rpc_call("localhost", kProg, kVers, 0, xvoid(), nullptr, xvoid(),
                        nullptr, "netpath"),
            RPC_UNKNOWNPROTO);
}

}  // namespace
