// The server in unthreaded mode, driven round by round on the test's
// thread while hand-written socket clients run on another: registration,
// every reply kind over UDP and TCP (IPv4 and IPv6), record handling on
// blocking and non-blocking connections, and hostile or broken clients.
#include "svc_peer.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <orvexks/rpc/rpcb.h>

namespace {

using namespace svc_peer;

struct Servers : ::testing::Test {
  static void SetUpTestSuite() {
    ASSERT_TRUE(ks_svc_register(nullptr, kProg, 1, echo_dispatch, 0));
    ASSERT_TRUE(ks_svc_register(nullptr, kProg, 3, echo_dispatch, 0));
  }
};

// Registered transports on demand, destroyed at the end of each test.
struct Transports : Servers {
  std::vector<SVCXPRT *> made;
  SVCXPRT *udp(int family, uint16_t *port) {
    SVCXPRT *x = ks_svc_dg_create(bound_socket(family, SOCK_DGRAM, port), 0, 0);
    if (x != nullptr) made.push_back(x);
    return x;
  }
  SVCXPRT *tcp(int family, uint16_t *port) {
    SVCXPRT *x =
        ks_svc_vc_create(bound_socket(family, SOCK_STREAM, port), 0, 0);
    if (x != nullptr) made.push_back(x);
    return x;
  }
  // Serves a new IPv4 listener while client talks to it over a connection
  // of its own (closed afterwards); the port lets it connect again.
  void serve_connection(
      const std::function<void(int &c, uint16_t port)> &client) {
    uint16_t port;
    ASSERT_NE(nullptr, tcp(AF_INET, &port));
    serve_while([&] {
      int c = connect_tcp(port);
      client(c, port);
      close(c);
    });
  }
  void TearDown() override {
    for (SVCXPRT *x : made) x->xp_ops->xp_destroy(x);
  }
};

TEST_F(Servers, ProgramRegistration) {
  EXPECT_TRUE(ks_svc_register(nullptr, 100, 1, echo_dispatch, 0));
  EXPECT_TRUE(ks_svc_register(nullptr, 100, 1, echo_dispatch, 0))
      << "same dispatch again";
  auto other = [](struct svc_req *, SVCXPRT *) {};
  EXPECT_FALSE(ks_svc_register(nullptr, 100, 1, other, 0));
  EXPECT_FALSE(ks_svc_register(nullptr, 100, 2, echo_dispatch, 6))
      << "binder protocol";
  ks_svc_unregister(100, 1);
  ks_svc_unregister(424242, 7);  // unknown: nothing happens
  EXPECT_TRUE(ks_svc_register(nullptr, 100, 1, other, 0))
      << "free again after unregistering";
  ks_svc_unregister(100, 1);
}

TEST_F(Servers, ControlSettings) {
  int32_t v = 0;
  EXPECT_FALSE(ks_rpc_control(KS_RPC_SVC_CONNMAXREC_SET, &v)) << "at least 1";
  v = 9000;
  EXPECT_TRUE(ks_rpc_control(KS_RPC_SVC_CONNMAXREC_SET, &v));
  v = 0;
  EXPECT_TRUE(ks_rpc_control(KS_RPC_SVC_CONNMAXREC_GET, &v));
  EXPECT_EQ(9000, v);
  EXPECT_TRUE(ks_rpc_control(KS_RPC_SVC_NWORKERS_GET, &v));
  EXPECT_EQ(16, v);
  v = 0;
  EXPECT_FALSE(ks_rpc_control(KS_RPC_SVC_NWORKERS_SET, &v));
  EXPECT_FALSE(ks_rpc_control(99, &v));
}

TEST_F(Servers, TableHoldsAtMost1023TransportsAndTheSetFollows) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  std::vector<SVCXPRT> fakes(KS_SVC_MAX_XPRTS + 1);
  int registered = 0;
  for (SVCXPRT &x : fakes) {
    x = SVCXPRT{};
    x.xp_fd = fd;
    if (!ks_xprt_register(&x)) break;
    ++registered;
  }
  EXPECT_LE(registered, KS_SVC_MAX_XPRTS);
  EXPECT_GT(registered, KS_SVC_MAX_XPRTS - 8)
      << "only the fakes fill the table";
  EXPECT_FALSE(ks_xprt_register(&fakes[KS_SVC_MAX_XPRTS]));
  EXPECT_TRUE(FD_ISSET(fd, &ks_svc_fdset));
  for (int i = 0; i < registered; ++i) ks_xprt_unregister(&fakes[i]);
  EXPECT_FALSE(FD_ISSET(fd, &ks_svc_fdset));
  SVCXPRT high = {};
  high.xp_fd = FD_SETSIZE;
  EXPECT_FALSE(ks_xprt_register(&high)) << "a socket select cannot wait on";
  close(fd);
}

TEST_F(Servers, ServiceLoopReturnsOnlyWhenWaitingFails) {
  testing::internal::CaptureStderr();
  int fd = dup(0);
  close(fd);  // a closed number: select refuses it
  SVCXPRT broken = {};
  broken.xp_fd = fd;
  ASSERT_TRUE(ks_xprt_register(&broken));
  ks_svc_run();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0u, err.find("ks_svc_run: - select failed:")) << err;
  ks_xprt_unregister(&broken);
  testing::internal::CaptureStderr();
  ks_svc_run();  // the thread state is set up once
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0u, err.find("ks_svc_run: could not initiate thread state:"))
      << err;
  int32_t on = 1;
  EXPECT_FALSE(ks_rpc_control(KS_RPC_SVC_THREADED_SET, &on))
      << "fixed once the loop ran";
}

TEST_F(Transports, DatagramRepliesOfEveryKind) {
  for (int family : {AF_INET, AF_INET6}) {
    uint16_t port;
    ASSERT_NE(nullptr, udp(family, &port));
    serve_while([&] {
      int c = udp_client(port, family);
      Call call;
      Reply r = udp_call(c, call);
      EXPECT_TRUE(r.ok && r.reply_stat == 0 && r.stat == SUCCESS && r.xid == 1);
      call.xid = 2;
      call.proc = kEcho;
      call.args = opaque_words({7, 8, 9});
      r = udp_call(c, call);
      EXPECT_EQ(SUCCESS, r.stat);
      EXPECT_EQ(opaque_words({7, 8, 9}), r.rest);
      call.args = {0xfffffff0u};  // an opaque longer than the datagram
      EXPECT_EQ(GARBAGE_ARGS, udp_call(c, call).stat);
      call.proc = 77;
      EXPECT_EQ(PROC_UNAVAIL, udp_call(c, call).stat);
      call.vers = 4;
      r = udp_call(c, call);
      EXPECT_EQ(PROG_MISMATCH, r.stat);
      EXPECT_EQ((std::vector<uint32_t>{1, 3}), r.rest);
      call.prog = kProg + 1;
      EXPECT_EQ(PROG_UNAVAIL, udp_call(c, call).stat);
      Call bad_auth;
      bad_auth.cred_flavor = AUTH_UNIX;
      bad_auth.cred_body = {1, 500};  // a machine name longer than the body
      r = udp_call(c, bad_auth);
      EXPECT_EQ(1u, r.reply_stat);
      EXPECT_EQ(AUTH_ERROR, r.stat);
      EXPECT_EQ((std::vector<uint32_t>{AUTH_BADCRED}), r.rest);
      Call v3;
      v3.rpcvers = 3;
      r = udp_call(c, v3);
      EXPECT_EQ(1u, r.reply_stat);
      EXPECT_EQ(RPC_MISMATCH, r.stat);
      EXPECT_EQ((std::vector<uint32_t>{2, 2}), r.rest);
      close(c);
    });
  }
}

TEST_F(Transports, ShortOrGarbageDatagramsGetNoReplyAndServiceGoesOn) {
  uint16_t port;
  SVCXPRT *x = udp(AF_INET, &port);
  ASSERT_NE(nullptr, x);
  EXPECT_EQ(1, x->xp_type);
  EXPECT_EQ(0, x->xp_port) << "set by the address-based creators only";
  serve_while([&] {
    int c = udp_client(port);
    char junk[15] = {1, 2, 3};
    send(c, junk, sizeof junk, 0);
    std::vector<char> garbage(64, '\x7f');
    send(c, garbage.data(), garbage.size(), 0);
    EXPECT_FALSE(wait_readable(c, 200));
    EXPECT_EQ(SUCCESS, udp_call(c, Call{}).stat);
    close(c);
  });
}

TEST_F(Transports, DatagramReplyGoesToItsOwnSender) {
  uint16_t port;
  ASSERT_NE(nullptr, udp(AF_INET, &port));
  serve_while([&] {
    int a = udp_client(port), b = udp_client(port);
    Call ca, cb;
    ca.xid = 100;
    cb.xid = 200;
    std::vector<char> ba = to_bytes(ca.words()), bb = to_bytes(cb.words());
    send(a, ba.data(), ba.size(), 0);
    send(b, bb.data(), bb.size(), 0);
    ASSERT_TRUE(wait_readable(a, 10000));
    ASSERT_TRUE(wait_readable(b, 10000));
    std::vector<char> buf(1000);
    buf.resize(static_cast<size_t>(recv(a, buf.data(), buf.size(), 0)));
    EXPECT_EQ(100u, parse_reply(to_words(buf)).xid);
    buf.resize(1000);
    buf.resize(static_cast<size_t>(recv(b, buf.data(), buf.size(), 0)));
    EXPECT_EQ(200u, parse_reply(to_words(buf)).xid);
    close(a);
    close(b);
  });
}

TEST_F(Transports, BlockingConnectionServesPipelinedCalls) {
  for (int family : {AF_INET, AF_INET6}) {
    uint16_t port;
    ASSERT_NE(nullptr, tcp(family, &port));
    serve_while([&] {
      int c = connect_tcp(port, family);
      std::vector<char> all;
      for (uint32_t xid = 1; xid <= 3; ++xid) {
        Call call;
        call.xid = xid;
        call.proc = kEcho;
        call.args = opaque_words({xid, xid});
        std::vector<char> rec = record(call.words());
        all.insert(all.end(), rec.begin(), rec.end());
      }
      ASSERT_TRUE(send_all(c, all));
      for (uint32_t xid = 1; xid <= 3; ++xid) {
        Reply r = parse_reply(read_record(c));
        EXPECT_EQ(xid, r.xid);
        EXPECT_EQ(opaque_words({xid, xid}), r.rest);
      }
      close(c);
    });
  }
}

TEST_F(Transports, ConnectionErrorRepliesAndGarbageRecords) {
  serve_connection([&](int &c, uint16_t port) {
    Call call;
    call.vers = 2;
    Reply r = tcp_call(c, call);
    EXPECT_EQ(PROG_MISMATCH, r.stat);
    EXPECT_EQ((std::vector<uint32_t>{1, 3}), r.rest);
    // A reply where a call belongs: the connection is dropped.
    ASSERT_TRUE(send_all(c, record({5, 1, 0, 0, 0, 0})));
    EXPECT_TRUE(peer_closed(c));
    close(c);
    c = connect_tcp(port);
    EXPECT_EQ(SUCCESS, tcp_call(c, Call{}).stat)
        << "other clients are still served";
  });
}

TEST_F(Transports, StreamedReplyLeavesInFragments) {
  serve_connection([&](int &c, uint16_t) {
    Call call;
    call.proc = kStream;
    call.args = {50000};  // 200 KB: many send buffers
    Reply r = tcp_call(c, call);
    ASSERT_EQ(SUCCESS, r.stat);
    ASSERT_EQ(50000u, r.rest.size());
    for (uint32_t i = 0; i < 50000; ++i) ASSERT_EQ(i, r.rest[i]);
    EXPECT_EQ(SUCCESS, tcp_call(c, Call{}).stat)
        << "the stream is usable afterwards";
  });
}

TEST_F(Transports, StreamedReplyThatFailsToFinishClosesTheConnection) {
  serve_connection([&](int &c, uint16_t) {
    Call call;
    call.proc = kStreamFails;
    ASSERT_TRUE(send_all(c, record(call.words())));
    EXPECT_TRUE(peer_closed(c)) << "no half reply left open for the next";
  });
}

TEST_F(Transports, ClientThatVanishesMidReplyDoesNotHurtTheServer) {
  serve_connection([&](int &c, uint16_t port) {
    struct linger hard = {1, 0};
    setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    int small = 4096;
    setsockopt(c, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    Call call;
    call.proc = kStream;
    call.args = {1000000};
    ASSERT_TRUE(send_all(c, record(call.words())));
    char some[100];
    recv_all(c, some, sizeof some);
    close(c);  // reset while the server still writes
    c = connect_tcp(port);
    EXPECT_EQ(SUCCESS, tcp_call(c, Call{}).stat);
  });
}

TEST_F(Transports, DispatchThatDestroysItsTransportEndsTheRequest) {
  serve_connection([&](int &c, uint16_t) {
    Call call;
    call.proc = kDestroy;
    ASSERT_TRUE(send_all(c, record(call.words())));
    EXPECT_TRUE(peer_closed(c));
  });
}

// Connections under a maximum record size are non-blocking.
struct NonBlockingConnections : Transports {
  void SetUp() override {
    int32_t max = 2000;
    ASSERT_TRUE(ks_rpc_control(KS_RPC_SVC_CONNMAXREC_SET, &max));
  }
  void TearDown() override {
    ksi_svc_set_clock(nullptr);
    Transports::TearDown();
  }
};

TEST_F(NonBlockingConnections, ListenerTakesTheSettingAndLimitsRecords) {
  uint16_t port;
  SVCXPRT *l = tcp(AF_INET, &port);
  ASSERT_NE(nullptr, l);
  int32_t max = 0;
  EXPECT_TRUE(KS_SVC_CONTROL(l, KS_SVCGET_CONNMAXREC, &max));
  EXPECT_EQ(2000, max);
  serve_while([&] {
    int c = connect_tcp(port);
    Call big;
    big.proc = kEcho;
    big.args = opaque_words(std::vector<uint32_t>(600, 1));  // 2.4 KB
    ASSERT_TRUE(send_all(c, record(big.words())));
    EXPECT_TRUE(peer_closed(c)) << "a record above the maximum";
    close(c);
    c = connect_tcp(port);
    uint32_t huge = htonl(0xffffffffu);
    send(c, &huge, 4, MSG_NOSIGNAL);
    EXPECT_TRUE(peer_closed(c)) << "an absurd fragment header";
    close(c);
  });
}

TEST_F(NonBlockingConnections, RecordArrivingInPiecesIsServedWhenComplete) {
  serve_connection([&](int &c, uint16_t) {
    Call call;
    call.proc = kEcho;
    call.args = opaque_words({1, 2, 3});
    std::vector<char> rec = record(call.words());
    ASSERT_TRUE(send_all(c, std::vector<char>(rec.begin(), rec.begin() + 4)));
    EXPECT_FALSE(wait_readable(c, 100));
    ASSERT_TRUE(
        send_all(c, std::vector<char>(rec.begin() + 4, rec.begin() + 20)));
    EXPECT_FALSE(wait_readable(c, 100));
    ASSERT_TRUE(send_all(c, std::vector<char>(rec.begin() + 20, rec.end())));
    Reply r = parse_reply(read_record(c));
    EXPECT_EQ(opaque_words({1, 2, 3}), r.rest);
    // Pipelined records on a non-blocking connection are each served.
    std::vector<char> two = rec;
    two.insert(two.end(), rec.begin(), rec.end());
    ASSERT_TRUE(send_all(c, two));
    EXPECT_EQ(SUCCESS, parse_reply(read_record(c)).stat);
    EXPECT_EQ(SUCCESS, parse_reply(read_record(c)).stat);
  });
}

std::atomic<time_t> fake_now{0};
time_t fake_clock() { return fake_now.load(); }

TEST_F(NonBlockingConnections, HalfARecordThenSilenceIsClosedByTheCleaner) {
  fake_now = time(nullptr);
  ksi_svc_set_clock(fake_clock);
  uint16_t port;
  ASSERT_NE(nullptr, tcp(AF_INET, &port));
  uint16_t nb_port = 0;
  SVCXPRT *nb = tcp(AF_INET, &nb_port);
  ASSERT_NE(nullptr, nb);
  int32_t none = 0;
  ASSERT_TRUE(
      KS_SVC_CONTROL(nb, KS_SVCSET_CONNMAXREC, &none));  // blocking ones
  std::atomic<int> phase{0};
  int quiet = -1, blocking = -1;
  std::thread client([&] {
    quiet = connect_tcp(port);
    blocking = connect_tcp(nb_port);
    Call call;
    std::vector<char> rec = record(call.words());
    send_all(quiet, std::vector<char>(rec.begin(), rec.begin() + 10));
    phase = 1;
  });
  while (phase == 0) ksi_svc_run_once({0, 20000});
  client.join();
  for (int i = 0; i < 5; ++i) ksi_svc_run_once({0, 20000});
  fake_now += 29;
  ksi_svc_run_once({0, 1000});
  EXPECT_FALSE(wait_readable(quiet, 0)) << "not yet idle long enough";
  fake_now += 2;
  ksi_svc_run_once({0, 1000});
  EXPECT_TRUE(peer_closed(quiet));
  EXPECT_FALSE(wait_readable(blocking, 0)) << "a blocking connection stays";
  close(quiet);
  close(blocking);
}

TEST_F(Transports, FdCreateWantsAConnectedSocket) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(nullptr, ks_svc_fd_create(fd, 0, 0));
  EXPECT_NE(std::string::npos,
            testing::internal::GetCapturedStderr().find(
                "ks_svc_fd_create: could not retrieve remote addr\n"));
  EXPECT_EQ(0, fcntl(fd, F_GETFD) < 0 ? 1 : 0)
      << "the caller's socket stays open";
  close(fd);
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  SVCXPRT *x = ks_svc_fd_create(pair[0], 0, 0);
  ASSERT_NE(nullptr, x);
  made.push_back(x);
  EXPECT_EQ(nullptr, x->xp_netid) << "no built-in transport is local";
  for (auto [family, netid] : {std::pair{AF_INET, "tcp"}, {AF_INET6, "tcp6"}}) {
    uint16_t port;
    int listening = bound_socket(family, SOCK_STREAM, &port);
    int client = connect_tcp(port, family);
    SVCXPRT *conn = ks_svc_fd_create(accept(listening, nullptr, nullptr), 0, 0);
    ASSERT_NE(nullptr, conn);
    EXPECT_STREQ(netid, conn->xp_netid);
    conn->xp_ops->xp_destroy(conn);
    close(client);
    close(listening);
  }
  serve_while([&] { EXPECT_EQ(SUCCESS, tcp_call(pair[1], Call{}).stat); });
  close(pair[1]);
}

TEST_F(Transports, AddressBasedCreatorsBindDynamicPorts) {
  SVCXPRT *u = ks_svcudp_create(-1);
  ASSERT_NE(nullptr, u);
  made.push_back(u);
  EXPECT_GE(u->xp_port, 49152);
  EXPECT_STREQ("udp", u->xp_netid);
  EXPECT_EQ(1, u->xp_type);
  SVCXPRT *t = ks_svctcp_create(-1, 0, 0);
  ASSERT_NE(nullptr, t);
  made.push_back(t);
  EXPECT_GE(t->xp_port, 49152);
  EXPECT_STREQ("tcp", t->xp_netid);
  EXPECT_EQ(3, t->xp_type);
  // A caller's socket bound to a port of its choice is made to listen.
  int own = socket(AF_INET, SOCK_STREAM, 0);
  loopback_addr at = loopback(AF_INET, 0);
  ASSERT_EQ(0, bind(own, at.sa(), at.len));
  SVCXPRT *o = ks_svctcp_create(own, 0, 0);
  ASSERT_NE(nullptr, o);
  made.push_back(o);
  serve_while([&] {
    int c = udp_client(u->xp_port);
    EXPECT_EQ(SUCCESS, udp_call(c, Call{}).stat);
    close(c);
    for (uint16_t port : {t->xp_port, o->xp_port}) {
      c = connect_tcp(port);
      EXPECT_EQ(SUCCESS, tcp_call(c, Call{}).stat);
      close(c);
    }
  });
}

TEST_F(Transports, TliCreateTakesSocketsAsTheyAre) {
  uint16_t port;
  int listening = bound_socket(AF_INET6, SOCK_STREAM, &port);
  SVCXPRT *l = ks_svc_tli_create(listening, nullptr, nullptr, 0, 0);
  ASSERT_NE(nullptr, l) << "already bound and listening";
  made.push_back(l);
  int32_t max = 0;
  EXPECT_TRUE(KS_SVC_CONTROL(l, KS_SVCGET_CONNMAXREC, &max)) << "a listener";
  testing::internal::CaptureStderr();
  EXPECT_EQ(nullptr, ks_svc_tli_create(-1, nullptr, nullptr, 0, 0));
  EXPECT_EQ("ks_svc_tli_create: invalid netconfig\n",
            testing::internal::GetCapturedStderr());
  struct netconfig unknown = {};
  unknown.nc_netid = const_cast<char *>("ticotsord");
  testing::internal::CaptureStderr();
  EXPECT_EQ(nullptr, ks_svc_tli_create(-1, &unknown, nullptr, 0, 0));
  EXPECT_EQ("ks_svc_tli_create: could not open connection for ticotsord\n",
            testing::internal::GetCapturedStderr());
  struct netconfig tcp6 = {};
  tcp6.nc_netid = const_cast<char *>("tcp6");
  tcp6.nc_device = const_cast<char *>("-");
  struct sockaddr_in6 at = {};
  at.sin6_family = AF_INET6;
  at.sin6_addr = in6addr_loopback;
  struct t_bind b = {{sizeof at, sizeof at, &at}, 5};
  SVCXPRT *x = ks_svc_tli_create(-1, &tcp6, &b, 0, 0);
  ASSERT_NE(nullptr, x);
  made.push_back(x);
  EXPECT_STREQ("tcp6", x->xp_netid);
  EXPECT_STREQ("-", x->xp_tp);
  uint16_t xport =
      ntohs(static_cast<sockaddr_in6 *>(x->xp_ltaddr.buf)->sin6_port);
  serve_while([&] {
    int c = connect_tcp(xport, AF_INET6);
    EXPECT_EQ(SUCCESS, tcp_call(c, Call{}).stat);
    close(c);
  });
}

// Raises the descriptor limit for the test and restores it afterwards.
struct FdLimit {
  rlimit saved{};
  bool ok = false;
  explicit FdLimit(rlim_t want) {
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit r = saved;
    if (r.rlim_max != RLIM_INFINITY && r.rlim_max < want) return;
    r.rlim_cur = want;
    ok = setrlimit(RLIMIT_NOFILE, &r) == 0;
  }
  ~FdLimit() { setrlimit(RLIMIT_NOFILE, &saved); }
};

TEST_F(Transports, ElevenHundredConnectionsStayWithinTheTable) {
  FdLimit limit(4096);
  if (!limit.ok) GTEST_SKIP() << "cannot raise the descriptor limit";
  uint16_t port;
  SVCXPRT *l = tcp(AF_INET, &port);
  ASSERT_NE(nullptr, l);
  std::vector<int> clients;
  testing::internal::CaptureStderr();
  serve_while([&] {
    // The clients' descriptors sit above the server's range, so that only
    // the server's accepted sockets compete for numbers below 1024.
    for (int i = 0; i < 1100; ++i) {
      int fd = connect_tcp(port);
      clients.push_back(fcntl(fd, F_DUPFD, 2500));
      close(fd);
    }
  });
  while (wait_readable(l->xp_fd, 0)) ksi_svc_run_once({0, 20000});
  std::string err = testing::internal::GetCapturedStderr();
  int kept = 0;
  for (int fd : clients) kept += wait_readable(fd, 0) ? 0 : 1;
  EXPECT_GT(kept, 900);
  EXPECT_LT(kept, 1023);
  EXPECT_NE(std::string::npos,
            err.find("new accepted socket out of fd_set range\n"));
  serve_while([&] {
    for (int fd : clients) close(fd);
    usleep(200000);  // the server sees the connections end
    int c = connect_tcp(port);
    EXPECT_EQ(SUCCESS, tcp_call(c, Call{}).stat) << "still serving";
    close(c);
    usleep(50000);
  });
  int in_set = 0;
  for (int fd = 0; fd < FD_SETSIZE; ++fd)
    in_set += FD_ISSET(fd, &ks_svc_fdset) ? 1 : 0;
  EXPECT_LT(in_set, 10) << "the closed connections left the set";
}

TEST_F(Transports, DescriptorExhaustionWhileAcceptingDropsTheConnection) {
  uint16_t port;
  SVCXPRT *l = tcp(AF_INET, &port);
  ASSERT_NE(nullptr, l);
  int probe = connect_tcp(port);  // accepted below, so a descriptor is free
  serve_while([] { usleep(50000); });
  std::vector<int> fillers;
  int victim = connect_tcp(port);
  ASSERT_GE(victim, 0);
  for (;;) {  // take every descriptor left
    int fd = dup(0);
    if (fd < 0) break;
    fillers.push_back(fd);
  }
  for (int i = 0; i < 5; ++i) ksi_svc_run_once({0, 20000});
  EXPECT_FALSE(wait_readable(l->xp_fd, 0))
      << "the pending connection was taken off";
  for (int fd : fillers) close(fd);
  EXPECT_TRUE(peer_closed(victim));
  close(victim);
  close(probe);
  serve_while([&] {
    int c = connect_tcp(port);
    EXPECT_EQ(SUCCESS, tcp_call(c, Call{}).stat);
    close(c);
  });
}

}  // namespace
