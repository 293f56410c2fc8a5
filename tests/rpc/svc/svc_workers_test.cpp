// A pool of two workers: slow requests on three connections run two at a
// time, and the third is served once a worker is free.
#include "svc_peer.h"

namespace {

using namespace svc_peer;

constexpr uint32_t kSlowProg = 0x20000102;

std::atomic<int> running{0};
std::atomic<int> most_at_once{0};

void slow_dispatch(struct svc_req *, SVCXPRT *xprt) {
  int now = ++running;
  int seen = most_at_once;
  while (now > seen && !most_at_once.compare_exchange_weak(seen, now)) {
  }
  usleep(300000);
  --running;
  ks_svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(xdr_void), nullptr);
}

TEST(TwoWorkers, ThreeSlowRequestsRunTwoAtATime) {
  int32_t on = 1, two = 2;
  ASSERT_TRUE(ks_rpc_control(KS_RPC_SVC_THREADED_SET, &on));
  ASSERT_TRUE(ks_rpc_control(KS_RPC_SVC_NWORKERS_SET, &two));
  ASSERT_TRUE(ks_svc_register(nullptr, kSlowProg, 1, slow_dispatch, 0));
  ASSERT_TRUE(ks_svc_setup_threads());
  uint16_t port;
  ASSERT_NE(nullptr, listener(AF_INET, &port));
  std::atomic<int> served{0};
  serve_while([&] {
    std::vector<std::thread> clients;
    for (int i = 0; i < 3; ++i) {
      clients.emplace_back([&] {
        int c = connect_tcp(port);
        if (tcp_call(c, Call{.prog = kSlowProg}).stat == SUCCESS) ++served;
        close(c);
      });
    }
    for (auto &t : clients) t.join();
  });
  EXPECT_EQ(3, served);
  EXPECT_EQ(2, most_at_once) << "never more than the two workers";
}

}  // namespace
