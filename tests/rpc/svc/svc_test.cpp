// The server in unthreaded mode, driven round by round on the test's
// thread while hand-written socket clients run on another: registration,
// every reply kind over UDP and TCP (IPv4 and IPv6), record handling on
// blocking and non-blocking connections, and hostile or broken clients.
#include "svc_peer.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <string>
#include <tuple>

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
  SVCXPRT *keep(SVCXPRT *x) {
    if (x != nullptr) made.push_back(x);
    return x;
  }
  SVCXPRT *udp(int family, uint16_t *port) {
    return keep(datagram_server(family, port));
  }
  SVCXPRT *tcp(int family, uint16_t *port) {
    return keep(listener(family, port));
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

// Each reply kind with what follows its status.
struct ReplyCase {
  const char *what;
  Call call;
  uint32_t reply_stat, stat;
  std::vector<uint32_t> rest;
};
const ReplyCase kReplies[] = {
    {"null", Call{}, 0, SUCCESS, {}},
    {"echo", echo_call(0, {7, 8, 9}), 0, SUCCESS, opaque_words({7, 8, 9})},
    {"opaque longer than the call",
     Call{.proc = kEcho, .args = {0xfffffff0u}},
     0,
     GARBAGE_ARGS,
     {}},
    {"unknown procedure", Call{.proc = 77}, 0, PROC_UNAVAIL, {}},
    {"unknown version", Call{.vers = 4}, 0, PROG_MISMATCH, {1, 3}},
    {"unknown program", Call{.prog = kProg + 1}, 0, PROG_UNAVAIL, {}},
    {"machine name longer than the credential",
     Call{.cred_flavor = AUTH_UNIX, .cred_body = {1, 500}},
     1,
     AUTH_ERROR,
     {AUTH_BADCRED}},
    {"RPC version 3", Call{.rpcvers = 3}, 1, RPC_MISMATCH, {2, 2}},
};

void expect_reply(const ReplyCase &c, uint32_t xid, const Reply &r) {
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(xid, r.xid);
  EXPECT_EQ(c.reply_stat, r.reply_stat);
  EXPECT_EQ(c.stat, r.stat);
  EXPECT_EQ(c.rest, r.rest);
}

// Over UDP each call comes from a socket of its own: each reply must go to
// its own sender. Over TCP the calls go out pipelined, to a blocking
// connection in one write and to a non-blocking one in pieces that end
// after a header and inside a call: a call that fails must leave the
// stream at the next record, and a record is served only once complete.
TEST_F(Transports, EveryReplyKindOverEveryTransport) {
  std::vector<Call> calls;
  std::vector<char> pipelined;
  for (uint32_t xid = 1; const ReplyCase &c : kReplies) {
    calls.push_back(c.call);
    calls.back().xid = xid++;
    std::vector<char> rec = record(calls.back().words());
    pipelined.insert(pipelined.end(), rec.begin(), rec.end());
  }
  for (int family : {AF_INET, AF_INET6}) {
    uint16_t udp_port, tcp_port, nb_port;
    ASSERT_NE(nullptr, udp(family, &udp_port));
    ASSERT_NE(nullptr, tcp(family, &tcp_port));
    SVCXPRT *nb = tcp(family, &nb_port);
    int32_t max = 2000;
    ASSERT_TRUE(nb && KS_SVC_CONTROL(nb, KS_SVCSET_CONNMAXREC, &max));
    serve_while([&] {
      int t = connect_tcp(tcp_port, family), n = connect_tcp(nb_port, family);
      EXPECT_TRUE(send_all(t, pipelined));
      EXPECT_TRUE(send_all(n, slice(pipelined, 0, 4)));
      EXPECT_FALSE(wait_readable(n, 50)) << "a header alone";
      EXPECT_TRUE(send_all(n, slice(pipelined, 4, 20)));
      EXPECT_FALSE(wait_readable(n, 50)) << "half a call";
      EXPECT_TRUE(send_all(n, slice(pipelined, 20)));
      for (size_t i = 0; i < calls.size(); ++i) {
        const ReplyCase &c = kReplies[i];
        SCOPED_TRACE(c.what);
        int u = udp_client(udp_port, family);
        expect_reply(c, calls[i].xid, udp_call(u, calls[i], 2000));
        close(u);
        expect_reply(c, calls[i].xid, parse_reply(read_record(t)));
        expect_reply(c, calls[i].xid, parse_reply(read_record(n)));
        if (HasFailure()) break;  // a lost reply would be waited for again
      }
      close(t);
      close(n);
    });
  }
}

TEST_F(Transports, ShortOrGarbageDatagramsGetNoReplyAndServiceGoesOn) {
  uint16_t port;
  ASSERT_NE(nullptr, udp(AF_INET, &port));
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

// Each of these ends its connection, blocking or non-blocking, and the
// server goes on serving others; some only non-blocking ones can tell.
TEST_F(Transports, RecordsThatEndTheirConnection) {
  const struct {
    const char *what;
    std::vector<char> bytes;
    bool nonblocking_only;
  } cases[] = {
      {"a reply where a call belongs", record({5, 1, 0, 0, 0, 0}), false},
      {"a streamed reply that cannot be finished: no half reply left open",
       record(Call{.proc = kStreamFails}.words()), false},
      {"a dispatch that destroys its transport",
       record(Call{.proc = kDestroy}.words()), false},
      {"a record above the maximum",
       record(echo_call(1, std::vector<uint32_t>(600, 1)).words()), true},
      {"an absurd fragment header", to_bytes({0xffffffffu}), true},
  };
  uint16_t blocking, nonblocking;
  ASSERT_NE(nullptr, tcp(AF_INET, &blocking));
  int32_t max = 2000;  // a maximum record size makes connections non-blocking
  ASSERT_TRUE(ks_rpc_control(KS_RPC_SVC_CONNMAXREC_SET, &max));
  SVCXPRT *l = tcp(AF_INET, &nonblocking);
  ASSERT_NE(nullptr, l);
  max = 0;
  EXPECT_TRUE(KS_SVC_CONTROL(l, KS_SVCGET_CONNMAXREC, &max));
  EXPECT_EQ(2000, max) << "the listener takes the setting";
  serve_while([&] {
    for (uint16_t port : {blocking, nonblocking})
      for (const auto &c : cases) {
        if (c.nonblocking_only && port == blocking) continue;
        int fd = connect_tcp(port);
        EXPECT_TRUE(send_all(fd, c.bytes));
        EXPECT_TRUE(peer_closed(fd)) << c.what << " on port " << port;
        close(fd);
      }
    EXPECT_EQ(SUCCESS, tcp_null_call(blocking)) << "others are still served";
    EXPECT_EQ(SUCCESS, tcp_null_call(nonblocking));
  });
}

TEST_F(Transports, StreamedReplyLeavesInFragments) {
  serve_connection([&](int &c, uint16_t) {
    // 200 KB: many send buffers.
    Reply r = tcp_call(c, Call{.proc = kStream, .args = {50000}});
    ASSERT_EQ(SUCCESS, r.stat);
    ASSERT_EQ(50000u, r.rest.size());
    for (uint32_t i = 0; i < 50000; ++i) ASSERT_EQ(i, r.rest[i]);
    EXPECT_EQ(SUCCESS, tcp_call(c, Call{}).stat)
        << "the stream is usable afterwards";
  });
}

TEST_F(Transports, ClientThatVanishesMidReplyDoesNotHurtTheServer) {
  serve_connection([&](int &c, uint16_t port) {
    struct linger hard = {1, 0};
    setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    int small = 4096;
    setsockopt(c, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(
        send_all(c, record(Call{.proc = kStream, .args = {1000000}}.words())));
    char some[100];
    recv_all(c, some, sizeof some);
    close(c);  // reset while the server still writes
    c = -1;
    EXPECT_EQ(SUCCESS, tcp_null_call(port));
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
  int quiet = connect_tcp(port), blocking = connect_tcp(nb_port);
  send_all(quiet, slice(record(Call{}.words()), 0, 10));
  for (int i = 0; i < 10; ++i) ksi_svc_run_once({0, 20000});
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
  EXPECT_NE(-1, fcntl(fd, F_GETFD)) << "the caller's socket stays open";
  close(fd);
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  SVCXPRT *x = keep(ks_svc_fd_create(pair[0], 0, 0));
  ASSERT_NE(nullptr, x);
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
  SVCXPRT *u = keep(ks_svcudp_create(-1)),
          *t = keep(ks_svctcp_create(-1, 0, 0));
  ASSERT_TRUE(u && t);
  for (auto [x, netid, type] : {std::tuple{u, "udp", 1}, {t, "tcp", 3}}) {
    EXPECT_GE(x->xp_port, 49152);
    EXPECT_STREQ(netid, x->xp_netid);
    EXPECT_EQ(type, x->xp_type);
  }
  // A caller's socket bound to a port of its choice is made to listen.
  int own = socket(AF_INET, SOCK_STREAM, 0);
  loopback_addr at = loopback(AF_INET, 0);
  ASSERT_EQ(0, bind(own, at.sa(), at.len));
  SVCXPRT *o = keep(ks_svctcp_create(own, 0, 0));
  ASSERT_NE(nullptr, o);
  serve_while([&] {
    int c = udp_client(u->xp_port);
    EXPECT_EQ(SUCCESS, udp_call(c, Call{}).stat);
    close(c);
    EXPECT_EQ(SUCCESS, tcp_null_call(t->xp_port));
    EXPECT_EQ(SUCCESS, tcp_null_call(o->xp_port));
  });
}

TEST_F(Transports, TliCreateTakesSocketsAsTheyAre) {
  uint16_t port;
  int listening = bound_socket(AF_INET6, SOCK_STREAM, &port);
  SVCXPRT *l = keep(ks_svc_tli_create(listening, nullptr, nullptr, 0, 0));
  ASSERT_NE(nullptr, l) << "already bound and listening";
  int32_t max = 0;
  EXPECT_TRUE(KS_SVC_CONTROL(l, KS_SVCGET_CONNMAXREC, &max)) << "a listener";
  struct netconfig unknown = {};
  unknown.nc_netid = const_cast<char *>("ticotsord");
  for (auto [conf, text] :
       {std::pair<netconfig *, std::string>{nullptr, "invalid netconfig"},
        {&unknown, "could not open connection for ticotsord"}}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, ks_svc_tli_create(-1, conf, nullptr, 0, 0));
    EXPECT_EQ("ks_svc_tli_create: " + text + "\n",
              testing::internal::GetCapturedStderr());
  }
  struct netconfig tcp6 = {};
  tcp6.nc_netid = const_cast<char *>("tcp6");
  tcp6.nc_device = const_cast<char *>("-");
  struct sockaddr_in6 at = {};
  at.sin6_family = AF_INET6;
  at.sin6_addr = in6addr_loopback;
  struct t_bind b = {{sizeof at, sizeof at, &at}, 5};
  SVCXPRT *x = keep(ks_svc_tli_create(-1, &tcp6, &b, 0, 0));
  ASSERT_NE(nullptr, x);
  EXPECT_STREQ("tcp6", x->xp_netid);
  EXPECT_STREQ("-", x->xp_tp);
  uint16_t xport =
      ntohs(static_cast<sockaddr_in6 *>(x->xp_ltaddr.buf)->sin6_port);
  serve_while([&] { EXPECT_EQ(SUCCESS, tcp_null_call(xport, AF_INET6)); });
}

TEST_F(Transports, ElevenHundredConnectionsStayWithinTheTable) {
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit raised = {4096, saved.rlim_max};
  if (setrlimit(RLIMIT_NOFILE, &raised) != 0)
    GTEST_SKIP() << "cannot raise the descriptor limit";
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
    EXPECT_EQ(SUCCESS, tcp_null_call(port)) << "still serving";
    usleep(50000);
  });
  int in_set = 0;
  for (int fd = 0; fd < FD_SETSIZE; ++fd)
    in_set += FD_ISSET(fd, &ks_svc_fdset) ? 1 : 0;
  EXPECT_LT(in_set, 10) << "the closed connections left the set";
  setrlimit(RLIMIT_NOFILE, &saved);
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
  serve_while([&] { EXPECT_EQ(SUCCESS, tcp_null_call(port)); });
}

}  // namespace
