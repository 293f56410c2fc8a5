// The duplicate request cache behind a real threaded datagram server,
// called by the library's datagram client: a call whose first reply is
// lost runs once, its retransmissions while it runs are dropped, and the
// one after it gets the saved reply.
#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/nirpc.h>

#include "rpc/svc/svc_peer.h"

namespace {

using namespace svc_peer;

constexpr uint32_t kNiProg = 0x20000202;
constexpr uint32_t kCount = 1;  // procedure: runs once per call, counts

// The counting procedure's argument: the caller's key and sequence, how
// long the procedure takes, and whether its first reply is lost.
struct count_args {
  uint64_t key;
  uint32_t seq;
  uint32_t sleep_ms;
  uint32_t lose_reply;
};
bool_t xdr_count_args(XDR *xdrs, count_args *a) {
  return xdr_u_int64_t(xdrs, &a->key) && xdr_u_int32_t(xdrs, &a->seq) &&
         xdr_u_int32_t(xdrs, &a->sleep_ms) &&
         xdr_u_int32_t(xdrs, &a->lose_reply);
}

// Encoded result bytes sent as they stand.
struct raw_reply {
  char *bytes;
  uint32_t len;
};
bool_t xdr_raw_reply(XDR *xdrs, raw_reply *r) {
  return xdr_opaque(xdrs, r->bytes, r->len);
}

std::atomic<uint32_t> executions{0};
std::atomic<int> duplicates{0}, running{0};

// Runs the call once: the result is the number of executions so far.
void count_dispatch(struct svc_req *rq, SVCXPRT *xprt) {
  count_args a = {};
  if (rq->rq_proc != kCount ||
      !KS_SVC_GETARGS(xprt, reinterpret_cast<xdrproc_t>(xdr_count_args), &a)) {
    ks_svcerr_noproc(xprt);
    return;
  }
  char saved[16];
  raw_reply reply = {saved, 0};
  auto raw = reinterpret_cast<xdrproc_t>(xdr_raw_reply);
  switch (nirpc_fetch(rq, a.key, a.seq, saved, sizeof saved, &reply.len)) {
    case NIRPC_NEW: {
      usleep(a.sleep_ms * 1000);
      uint32_t result = ++executions;
      XDR x;
      xdrmem_create(&x, saved, sizeof saved, XDR_ENCODE);
      xdr_u_int32_t(&x, &result);
      reply.len = XDR_GETPOS(&x);
      nirpc_save(rq, a.key, a.seq, saved, reply.len, nullptr);
      if (!a.lose_reply) ks_svc_sendreply(xprt, raw, &reply);
      nirpc_set_finish(rq, a.key, a.seq);
      return;
    }
    case NIRPC_DUPLICATE:
      ++duplicates;
      ks_svc_sendreply(xprt, raw, &reply);
      return;
    case NIRPC_INPROGRESS:
      ++running;
      return;
    default:  // stale: dropped
      return;
  }
}

// The threaded server on a datagram socket for the whole program.
struct Server : ::testing::Environment {
  std::unique_ptr<loop_thread> loop;
  uint16_t port = 0;
  void SetUp() override {
    int32_t on = 1, workers = 4;
    ASSERT_TRUE(ks_rpc_control(KS_RPC_SVC_THREADED_SET, &on));
    ASSERT_TRUE(ks_rpc_control(KS_RPC_SVC_NWORKERS_SET, &workers));
    ASSERT_TRUE(ks_svc_register(nullptr, kNiProg, 1, count_dispatch, 0));
    ASSERT_NE(nullptr, datagram_server(AF_INET, &port));
    ASSERT_TRUE(ks_svc_setup_threads());
    loop = std::make_unique<loop_thread>();
  }
  void TearDown() override { loop.reset(); }
};
auto *const server =
    static_cast<Server *>(::testing::AddGlobalTestEnvironment(new Server));

// One counting call, retransmitted after 100 ms, 200 ms, ... for at most
// 5 seconds; the result, or 0 when the call failed.
uint32_t count_call(count_args args) {
  loopback_addr to = loopback(AF_INET, server->port);
  int sock = -1;
  CLIENT *cl = ks_clntudp_create(reinterpret_cast<sockaddr_in *>(to.sa()),
                                 kNiProg, 1, {0, 100000}, &sock);
  if (cl == nullptr) return 0;
  uint32_t result = 0;
  struct timeval total = {5, 0};
  enum clnt_stat st = KS_CLNT_CALL(
      cl, kCount, reinterpret_cast<xdrproc_t>(xdr_count_args), &args,
      reinterpret_cast<xdrproc_t>(xdr_u_int32_t), &result, total);
  KS_CLNT_DESTROY(cl);
  return st == RPC_SUCCESS ? result : 0;
}

TEST(NirpcServer, SlowCallWithALostReplyRunsOnceAndGetsTheSavedReply) {
  EXPECT_EQ(1u, count_call({1, 1, 600, 1}));
  EXPECT_EQ(1u, executions) << "the procedure ran once";
  EXPECT_GE(running, 1) << "retransmitted while it ran";
  EXPECT_GE(duplicates, 1) << "a retransmission got the saved reply";
}

}  // namespace
