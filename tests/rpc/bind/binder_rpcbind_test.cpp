// The binder clients against a scripted binder on port 111 (the system
// rpcbind answers no indirect calls and cannot be told to refuse a
// version): the address lookup's fallbacks from the port mapper to
// rpcbind versions 4 and 3, and indirect calls. The program holds the
// rpcbind lock (tests/rpc/rpcbind_fixture.h) while its binder owns the port.
#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/rpcb.h>

#include <fcntl.h>
#include <sys/file.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

#include "rpc/bind/netconfig.h"
#include "rpc/clnt/socket_peer.h"
#include "rpc/rpcbind_fixture.h"

namespace {

constexpr uint32_t kProg = 0x20000557;

// A call as the binder saw it: version, procedure and argument words.
struct seen_call {
  uint32_t vers;
  uint32_t proc;
  std::vector<uint32_t> args;
};
using script_fn = std::function<peer::words(const seen_call &, uint32_t xid)>;

peer::words prog_mismatch(uint32_t xid, uint32_t low, uint32_t high) {
  peer::words w;
  w.u32(xid).u32(1).u32(0).u32(0).u32(0).u32(2).u32(low).u32(high);
  return w;
}

peer::words string_words(peer::words w, const std::string &s) {
  w.u32(static_cast<uint32_t>(s.size())).raw(s.data(), s.size());
  static const char pad[4] = {};
  w.raw(pad, (4 - s.size() % 4) % 4);
  return w;
}

class BinderRpcbindTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lock_fd =
        open(RpcbindFixture::kLockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (geteuid() != 0 || lock_fd < 0 || flock(lock_fd, LOCK_EX) != 0) return;
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sin;
    ks_get_myaddress(&sin);
    if (bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin) != 0) {
      close(fd);
      fd = -1;
    }
  }
  static void TearDownTestSuite() {
    if (fd >= 0) close(fd);
    fd = -1;
    if (lock_fd >= 0) close(lock_fd);
    lock_fd = -1;
  }
  void SetUp() override {
    if (fd < 0) GTEST_SKIP() << "needs root and a free port 111";
  }

  // Serves calls with script until stopped; returns what it saw.
  void serve(script_fn script) {
    stop_ = false;
    thread_ = std::thread([this, script] {
      while (!stop_) {
        peer::datagram d = peer::receive(fd, 50);
        if (d.bytes.size() < 40) continue;
        const uint8_t *b = d.bytes.data();
        seen_call call{peer::word_at(b, 4), peer::word_at(b, 5), {}};
        for (size_t i = 10; i < d.bytes.size() / 4; i++)
          call.args.push_back(peer::word_at(b, i));
        {
          std::lock_guard<std::mutex> hold(mutex_);
          seen_.push_back(call);
        }
        peer::reply_to(fd, d, script(call, peer::word_at(b, 0)));
      }
    });
  }
  std::vector<std::pair<uint32_t, uint32_t>> stop() {
    stop_ = true;
    thread_.join();
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const seen_call &c : seen_) out.emplace_back(c.vers, c.proc);
    return out;
  }

  static int fd;
  static int lock_fd;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<seen_call> seen_;
};
int BinderRpcbindTest::fd = -1;
int BinderRpcbindTest::lock_fd = -1;

using calls = std::vector<std::pair<uint32_t, uint32_t>>;

TEST_F(BinderRpcbindTest, DatagramLookupFallsBackFromPortMapperToVersionThree) {
  serve([](const seen_call &c, uint32_t xid) {
    if (c.vers != 3) return prog_mismatch(xid, 3, 4);
    return string_words(peer::success_reply(xid), "127.0.0.1.4.1");
  });
  sockaddr_storage found{};
  struct netbuf nb = {sizeof found, 0, &found};
  bool ok = ks_rpcb_getaddr(kProg, 1, rpc_getconfip("udp"), &nb, "127.0.0.1");
  calls seen = stop();
  ASSERT_TRUE(ok) << ks_clnt_spcreateerror("getaddr");
  EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in *>(&found)->sin_port), 1025);
  // GETPORT at 2, GETADDR at 4 and then 3.
  EXPECT_EQ(seen, (calls{{2, 3}, {4, 3}, {3, 3}}));
}

TEST_F(BinderRpcbindTest, ConnectionLookupUsesTheAddressListOfVersionFour) {
  serve([](const seen_call &c, uint32_t xid) {
    if (c.vers == 2) return prog_mismatch(xid, 3, 4);
    // Two entries: the first of another transport, the second ours.
    peer::words w = peer::success_reply(xid);
    w.u32(1);
    w = string_words(w, "127.0.0.1.0.9");
    w = string_words(w, "udp");
    w.u32(1);
    w = string_words(w, "inet");
    w = string_words(w, "udp");
    w.u32(1);
    w = string_words(w, "127.0.0.1.0.10");
    w = string_words(w, "tcp");
    w.u32(3);
    w = string_words(w, "inet");
    w = string_words(w, "tcp");
    w.u32(0);
    return w;
  });
  sockaddr_storage found{};
  struct netbuf nb = {sizeof found, 0, &found};
  bool ok = ks_rpcb_getaddr(kProg, 1, rpc_getconfip("tcp"), &nb, "127.0.0.1");
  calls seen = stop();
  ASSERT_TRUE(ok) << ks_clnt_spcreateerror("getaddr");
  EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in *>(&found)->sin_port), 10);
  EXPECT_EQ(seen, (calls{{2, 3}, {4, 11}}));
}

TEST_F(BinderRpcbindTest, EmptyAndUnparsableAddressesAndDeadBinders) {
  std::atomic<int> round{0};
  serve([&round](const seen_call &c, uint32_t xid) {
    if (c.vers == 2) return prog_mismatch(xid, 3, 4);
    return string_words(peer::success_reply(xid),
                        round == 0 ? "" : "not.an.address");
  });
  sockaddr_storage found{};
  struct netbuf nb = {sizeof found, 0, &found};
  EXPECT_FALSE(
      ks_rpcb_getaddr(kProg, 1, rpc_getconfip("udp"), &nb, "127.0.0.1"));
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_PROGNOTREGISTERED);
  round = 1;
  EXPECT_FALSE(
      ks_rpcb_getaddr(kProg, 1, rpc_getconfip("udp"), &nb, "127.0.0.1"));
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_N2AXLATEFAILURE);
  stop();
}

// An indirect call of procedure 5 of kProg version 1 through the local
// binder over UDP, with one word in and one word out.
enum clnt_stat rmtcall(uint32_t in, uint32_t *out, struct netbuf *nb) {
  return ks_rpcb_rmtcall(rpc_getconfip("udp"), "127.0.0.1", kProg, 1, 5,
                         reinterpret_cast<xdrproc_t>(xdr_u_int32_t), &in,
                         reinterpret_cast<xdrproc_t>(xdr_u_int32_t), out,
                         timeval{5, 0}, nb);
}

TEST_F(BinderRpcbindTest, IndirectCallAtVersionFourThenThree) {
  serve([](const seen_call &c, uint32_t xid) {
    if (c.vers == 4) return prog_mismatch(xid, 3, 3);
    // Arguments: prog, vers, proc, length 4, the argument word.
    uint32_t arg = c.args.size() >= 5 ? c.args[4] : 0;
    peer::words w = string_words(peer::success_reply(xid), "127.0.0.1.0.7");
    w.u32(4).u32(arg * 2);
    return w;
  });
  uint32_t out = 0;
  sockaddr_storage addr{};
  struct netbuf nb = {sizeof addr, 0, &addr};
  enum clnt_stat stat = rmtcall(21, &out, &nb);
  calls seen = stop();
  EXPECT_EQ(stat, RPC_SUCCESS);
  EXPECT_EQ(out, 42u);
  EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port), 7);
  EXPECT_EQ(seen, (calls{{4, 5}, {3, 5}}));
}

TEST_F(BinderRpcbindTest, IndirectCallFallsBackToThePortMapper) {
  serve([](const seen_call &c, uint32_t xid) {
    if (c.vers != 2) return prog_mismatch(xid, 2, 2);
    uint32_t arg = c.args.size() >= 5 ? c.args[4] : 0;
    // The port mapper's reply: the port, then the results as opaque bytes.
    peer::words w = peer::success_reply(xid);
    w.u32(2049).u32(4).u32(arg + 1);
    return w;
  });
  uint32_t out = 0;
  sockaddr_storage addr{};
  struct netbuf nb = {sizeof addr, 0, &addr};
  enum clnt_stat stat = rmtcall(41, &out, &nb);
  calls seen = stop();
  EXPECT_EQ(stat, RPC_SUCCESS);
  EXPECT_EQ(out, 42u);
  auto *sin = reinterpret_cast<sockaddr_in *>(&addr);
  EXPECT_EQ(nb.len, sizeof(sockaddr_in));
  EXPECT_EQ(ntohs(sin->sin_port), 2049);
  EXPECT_EQ(sin->sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(seen, (calls{{4, 5}, {3, 5}, {2, 5}}));
}

}  // namespace
