// The server in threaded mode: the loop runs on its own thread, 16 workers
// serve, and many concurrent clients check that every reply is their own
// (no reply lost, duplicated or mixed up) over TCP and UDP.
#include "svc_peer.h"

#include <netinet/tcp.h>

#include <memory>

namespace {

using namespace svc_peer;

#if defined(__SANITIZE_THREAD__)
constexpr int kCalls = 100;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kCalls = 100;
#else
constexpr int kCalls = 2000;
#endif
#else
constexpr int kCalls = 2000;
#endif
constexpr int kClients = 32;

// The threaded loop for the whole program, stopped at its end.
struct ThreadedLoop : ::testing::Environment {
  std::unique_ptr<loop_thread> loop;
  void SetUp() override {
    int32_t on = 1, workers = 16;
    ASSERT_TRUE(ks_rpc_control(KS_RPC_SVC_THREADED_SET, &on));
    ASSERT_TRUE(ks_rpc_control(KS_RPC_SVC_NWORKERS_SET, &workers));
    ASSERT_TRUE(ks_svc_register(nullptr, kProg, 1, echo_dispatch, 0));
    ASSERT_TRUE(ks_svc_setup_threads());
    loop = std::make_unique<loop_thread>();
  }
  void TearDown() override { loop.reset(); }
};
const auto *const env = ::testing::AddGlobalTestEnvironment(new ThreadedLoop);

TEST(Threaded, SettingsAreFixedOnceTheWorkersRun) {
  int32_t v = 0;
  EXPECT_FALSE(ks_rpc_control(KS_RPC_SVC_THREADED_SET, &v));
  v = 4;
  EXPECT_FALSE(ks_rpc_control(KS_RPC_SVC_NWORKERS_SET, &v));
  EXPECT_TRUE(ks_rpc_control(KS_RPC_SVC_THREADED_GET, &v));
  EXPECT_EQ(1, v);
  EXPECT_FALSE(ks_svc_setup_threads());
}

// Runs kClients clients at once, each making kCalls echo calls with data
// of its own, and counts the replies that came back right.
template <typename CallFn>
int run_clients(CallFn call_one) {
  std::atomic<int> right{0};
  std::vector<std::thread> clients;
  for (uint32_t id = 0; id < kClients; ++id) {
    clients.emplace_back([&, id] {
      for (uint32_t i = 0; i < kCalls; ++i) {
        Call call = echo_call(id * 1000000 + i, {id, i, id ^ i});
        Reply r = call_one(id, call);
        if (r.ok && r.xid == call.xid && r.stat == SUCCESS &&
            r.rest == call.args)
          ++right;
      }
    });
  }
  for (auto &t : clients) t.join();
  return right;
}

// Blocking IPv4 and non-blocking IPv6 connections; each record goes out in
// two writes, the second now and then after a pause.
TEST(Threaded, ManyClientsOverConnections) {
  for (auto [family, max] : {std::pair{AF_INET, 0}, {AF_INET6, 4000}}) {
    if (max > 0) {
      ASSERT_TRUE(ks_rpc_control(KS_RPC_SVC_CONNMAXREC_SET, &max));
    }
    uint16_t port;
    ASSERT_NE(nullptr, listener(family, &port));
    int fds[kClients];
    for (int &fd : fds) {
      fd = connect_tcp(port, family);
      int on = 1;  // the split writes leave at once
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    int right = run_clients([&](uint32_t id, const Call &call) {
      std::vector<char> rec = record(call.words());
      if (!send_all(fds[id], slice(rec, 0, 6))) return Reply{};
      if (call.xid % 50 == 0) usleep(2000);
      if (!send_all(fds[id], slice(rec, 6))) return Reply{};
      return parse_reply(read_record(fds[id]));
    });
    EXPECT_EQ(kClients * kCalls, right) << "connections of family " << family;
    for (int fd : fds) close(fd);
  }
}

// A worker that served a connection waits a moment for its next call.
// A request that destroys its transport, or a caller that closes, meanwhile
// must leave the worker free and the other connections served (and, under
// the address sanitizer, no wait on a freed transport).
TEST(Threaded, ConnectionsEndingWhileTheirWorkerWaits) {
  uint16_t port;
  ASSERT_NE(nullptr, listener(AF_INET, &port));
  int steady = connect_tcp(port);
  for (uint32_t i = 0; i < 40; ++i) {
    int c = connect_tcp(port);
    ASSERT_EQ(SUCCESS, tcp_call(c, Call{.xid = i}).stat);
    if (i % 2 == 0) {
      ASSERT_TRUE(send_all(c, record(Call{.proc = kDestroy}.words())));
      EXPECT_TRUE(peer_closed(c)) << "destroyed transport, call " << i;
    }
    close(c);
    EXPECT_EQ(SUCCESS, tcp_call(steady, Call{.xid = i}).stat) << "after " << i;
  }
  close(steady);
}

// Calls within the worker's wait or after it, a call split across it, and
// two calls sent together are each served once and in order: a wait that
// times out neither closes the connection nor skips a record.
TEST(Threaded, CallsAroundTheWorkersWaitAreServedInOrder) {
  uint16_t port;
  ASSERT_NE(nullptr, listener(AF_INET, &port));
  int c = connect_tcp(port);
  int on = 1;  // split writes leave at once
  setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  uint32_t xid = 0;
  auto next_call = [&] { return echo_call(++xid, {xid, ~xid}); };
  auto check_reply = [&](const Call &call) {
    Reply r = parse_reply(read_record(c));
    EXPECT_TRUE(r.ok && r.xid == call.xid && r.stat == SUCCESS &&
                r.rest == call.args)
        << "call " << call.xid;
  };
  for (int pause_us : {0, 1000, 10000, 30000}) {
    usleep(pause_us);
    Call whole = next_call();
    ASSERT_TRUE(send_all(c, record(whole.words())));
    check_reply(whole);

    usleep(pause_us);
    Call split = next_call();
    std::vector<char> rec = record(split.words());
    ASSERT_TRUE(send_all(c, slice(rec, 0, 2)));
    usleep(pause_us);
    ASSERT_TRUE(send_all(c, slice(rec, 2)));
    check_reply(split);

    usleep(pause_us);
    Call first = next_call(), second = next_call();
    std::vector<char> both = record(first.words());
    std::vector<char> more = record(second.words());
    both.insert(both.end(), more.begin(), more.end());
    ASSERT_TRUE(send_all(c, both));
    check_reply(first);
    check_reply(second);
  }
  close(c);
}

TEST(Threaded, ManyClientsOverUdp) {
  uint16_t port;
  ASSERT_NE(nullptr, datagram_server(AF_INET, &port));
  int fds[kClients];
  for (int &fd : fds) fd = udp_client(port);
  // A datagram may be dropped under load: the client sends again, as a
  // real client does, and a late reply to an earlier attempt is skipped.
  int right = run_clients([&](uint32_t id, const Call &call) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      Reply r = udp_call(fds[id], call, 1000);
      while (r.ok && r.xid != call.xid && wait_readable(fds[id], 1000)) {
        std::vector<char> buf(2000);
        ssize_t n = recv(fds[id], buf.data(), buf.size(), 0);
        buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
        r = parse_reply(to_words(buf));
      }
      if (r.ok && r.xid == call.xid) return r;
    }
    return Reply{};
  });
  EXPECT_EQ(kClients * kCalls, right);
  for (int fd : fds) close(fd);
}

}  // namespace
