// The duplicate request cache behind a real threaded server, called by the
// library's datagram client through a small UDP proxy that can drop
// replies: a retransmitted call runs once and gets the saved reply, and
// the retransmissions of a running call are dropped.
#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/nirpc.h>

#include "rpc/svc/svc_peer.h"

namespace {

using namespace svc_peer;

constexpr uint32_t kNiProg = 0x20000202;
constexpr uint32_t kCount = 1;  // procedure: runs once per call, counts

// The counting procedure's argument: the caller's key and sequence, and how
// long the procedure takes.
struct count_args {
  uint64_t key;
  uint32_t seq;
  uint32_t sleep_ms;
};
bool_t xdr_count_args(XDR *xdrs, count_args *a) {
  return xdr_u_int64_t(xdrs, &a->key) && xdr_u_int32_t(xdrs, &a->seq) &&
         xdr_u_int32_t(xdrs, &a->sleep_ms);
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
      ks_svc_sendreply(xprt, raw, &reply);
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
    ASSERT_NE(nullptr,
              ks_svc_dg_create(bound_socket(AF_INET, SOCK_DGRAM, &port), 0, 0));
    ASSERT_TRUE(ks_svc_setup_threads());
    loop = std::make_unique<loop_thread>();
  }
  void TearDown() override { loop.reset(); }
};
auto *const server =
    static_cast<Server *>(::testing::AddGlobalTestEnvironment(new Server));

// Forwards datagrams between one client and the server, dropping the
// first `drop` replies.
class Proxy {
 public:
  explicit Proxy(int drop) : drop_(drop) {
    fd_ = bound_socket(AF_INET, SOCK_DGRAM, &port_);
    thread_ = std::thread([this] { run(); });
  }
  ~Proxy() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  uint16_t port() const { return port_; }
  int dropped() const { return dropped_; }

 private:
  void run() {
    sockaddr_in server_addr = {}, client = {};
    server_addr.sin_family = AF_INET;
    server_addr.sin_port = htons(server->port);
    server_addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char buf[9000];
    while (!stop_) {
      if (!wait_readable(fd_, 20)) continue;
      sockaddr_in from = {};
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(fd_, buf, sizeof buf, 0,
                           reinterpret_cast<sockaddr *>(&from), &len);
      if (n <= 0) continue;
      bool from_server = from.sin_port == server_addr.sin_port;
      if (!from_server) client = from;
      if (from_server && dropped_ < drop_) {
        ++dropped_;
        continue;
      }
      const sockaddr_in &to = from_server ? client : server_addr;
      sendto(fd_, buf, static_cast<size_t>(n), 0,
             reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
  }
  int drop_;
  std::atomic<int> dropped_{0};
  std::atomic<bool> stop_{false};
  uint16_t port_ = 0;
  int fd_;
  std::thread thread_;
};

// One counting call through the proxy, retransmitted after 100 ms, 200 ms,
// ... for at most 5 seconds; the result, or 0 when the call failed.
uint32_t count_call(const Proxy &proxy, count_args args) {
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(proxy.port());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int sock = -1;
  CLIENT *cl = ks_clntudp_create(&to, kNiProg, 1, {0, 100000}, &sock);
  if (cl == nullptr) return 0;
  uint32_t result = 0;
  struct timeval total = {5, 0};
  enum clnt_stat st = KS_CLNT_CALL(
      cl, kCount, reinterpret_cast<xdrproc_t>(xdr_count_args), &args,
      reinterpret_cast<xdrproc_t>(xdr_u_int32_t), &result, total);
  KS_CLNT_DESTROY(cl);
  return st == RPC_SUCCESS ? result : 0;
}

TEST(NirpcServer, RetransmittedCallRunsOnceAndGetsTheSavedReply) {
  Proxy proxy(1);
  uint32_t before = executions, dup_before = duplicates;
  uint32_t result = count_call(proxy, {1, 1, 0});
  EXPECT_EQ(1, proxy.dropped());
  EXPECT_EQ(before + 1, result);
  EXPECT_EQ(before + 1, executions) << "the procedure ran once";
  EXPECT_GE(duplicates - dup_before, 1) << "the retransmission was answered";
}

TEST(NirpcServer, RetransmissionsOfARunningCallAreDropped) {
  Proxy proxy(0);
  uint32_t before = executions;
  int running_before = running;
  EXPECT_EQ(before + 1, count_call(proxy, {2, 1, 600}));
  EXPECT_EQ(before + 1, executions);
  EXPECT_GE(running - running_before, 1) << "retransmitted while it ran";
}

}  // namespace
