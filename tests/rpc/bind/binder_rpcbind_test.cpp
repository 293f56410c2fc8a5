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
#include <utility>

#include "rpc/bind/netconfig.h"
#include "rpc/clnt/socket_peer.h"
#include "rpc/rpcbind_fixture.h"

namespace {

constexpr uint32_t kProg = 0x20000557;

using calls = std::vector<std::pair<uint32_t, uint32_t>>;  // version, proc
// Answers a call of the given binder version; arg is the fifth argument
// word (an indirect call's own argument).
using script_fn =
    std::function<peer::words(uint32_t vers, uint32_t arg, uint32_t xid)>;

peer::words prog_mismatch(uint32_t xid, uint32_t low, uint32_t high) {
  peer::words w;
  w.u32(xid).u32(1).u32(0).u32(0).u32(0).u32(2).u32(low).u32(high);
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
    if (lock_fd >= 0) close(lock_fd);
    fd = lock_fd = -1;
  }
  void SetUp() override {
    if (fd < 0) GTEST_SKIP() << "needs root and a free port 111";
  }

  // Serves calls with script on a thread until stop(), which returns the
  // calls it saw.
  void serve(script_fn script) {
    thread_ = std::thread([this, script] {
      while (!stop_) {
        peer::datagram d = peer::receive(fd, 50);
        if (d.bytes.size() < 40) continue;
        const uint8_t *b = d.bytes.data();
        seen_.emplace_back(peer::word_at(b, 4), peer::word_at(b, 5));
        uint32_t arg = d.bytes.size() >= 60 ? peer::word_at(b, 14) : 0;
        peer::reply_to(fd, d,
                       script(seen_.back().first, arg, peer::word_at(b, 0)));
      }
    });
  }
  calls stop() {
    stop_ = true;
    thread_.join();
    return seen_;
  }

  static int fd;
  static int lock_fd;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  calls seen_;
};
int BinderRpcbindTest::fd = -1;
int BinderRpcbindTest::lock_fd = -1;

// Looks kProg version 1 up over the netid; the port found, 0 on failure.
uint16_t getaddr(const char *netid) {
  sockaddr_in found{};
  struct netbuf nb = {sizeof found, 0, &found};
  if (!ks_rpcb_getaddr(kProg, 1, rpc_getconfip(netid), &nb, "127.0.0.1"))
    return 0;
  return ntohs(found.sin_port);
}

TEST_F(BinderRpcbindTest, DatagramLookupFallsBackFromPortMapperToVersionThree) {
  serve([](uint32_t vers, uint32_t, uint32_t xid) {
    if (vers != 3) return prog_mismatch(xid, 3, 4);
    return peer::success_reply(xid).str("127.0.0.1.4.1");
  });
  uint16_t port = getaddr("udp");
  EXPECT_EQ(stop(), (calls{{2, 3}, {4, 3}, {3, 3}}));  // GETPORT, GETADDR
  EXPECT_EQ(port, 1025) << ks_clnt_spcreateerror("getaddr");
}

// Version 4's address list: the first entry of another transport, the
// second ours.
TEST_F(BinderRpcbindTest, ConnectionLookupUsesTheAddressListOfVersionFour) {
  serve([](uint32_t vers, uint32_t, uint32_t xid) {
    if (vers == 2) return prog_mismatch(xid, 3, 4);
    peer::words w = peer::success_reply(xid);
    w.u32(1).str("127.0.0.1.0.9").str("udp").u32(1).str("inet").str("udp");
    w.u32(1).str("127.0.0.1.0.10").str("tcp").u32(3).str("inet").str("tcp");
    return w.u32(0);
  });
  uint16_t port = getaddr("tcp");
  EXPECT_EQ(stop(), (calls{{2, 3}, {4, 11}}));
  EXPECT_EQ(port, 10) << ks_clnt_spcreateerror("getaddr");
}

TEST_F(BinderRpcbindTest, EmptyAndUnparsableAddressesAndDeadBinders) {
  std::atomic<int> round{0};
  serve([&round](uint32_t vers, uint32_t, uint32_t xid) {
    if (vers == 2) return prog_mismatch(xid, 3, 4);
    return peer::success_reply(xid).str(round == 0 ? "" : "not.an.address");
  });
  EXPECT_EQ(getaddr("udp"), 0);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_PROGNOTREGISTERED);
  round = 1;
  EXPECT_EQ(getaddr("udp"), 0);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_N2AXLATEFAILURE);
  stop();
}

// An indirect call of procedure 5 of kProg version 1 through the local
// binder over UDP, with one word in and one word out; the server's
// address goes to *server.
enum clnt_stat rmtcall(uint32_t in, uint32_t *out, sockaddr_in *server) {
  struct netbuf nb = {sizeof *server, 0, server};
  enum clnt_stat stat = ks_rpcb_rmtcall(
      rpc_getconfip("udp"), "127.0.0.1", kProg, 1, 5,
      reinterpret_cast<xdrproc_t>(xdr_u_int32_t), &in,
      reinterpret_cast<xdrproc_t>(xdr_u_int32_t), out, timeval{5, 0}, &nb);
  EXPECT_EQ(nb.len, sizeof(sockaddr_in));
  return stat;
}

TEST_F(BinderRpcbindTest, IndirectCallAtVersionFourThenThree) {
  serve([](uint32_t vers, uint32_t arg, uint32_t xid) {
    if (vers == 4) return prog_mismatch(xid, 3, 3);
    return peer::success_reply(xid).str("127.0.0.1.0.7").u32(4).u32(arg * 2);
  });
  uint32_t out = 0;
  sockaddr_in server{};
  EXPECT_EQ(rmtcall(21, &out, &server), RPC_SUCCESS);
  EXPECT_EQ(stop(), (calls{{4, 5}, {3, 5}}));
  EXPECT_EQ(out, 42u);
  EXPECT_EQ(ntohs(server.sin_port), 7);
}

// The port mapper's reply: the port, then the results as opaque bytes.
TEST_F(BinderRpcbindTest, IndirectCallFallsBackToThePortMapper) {
  serve([](uint32_t vers, uint32_t arg, uint32_t xid) {
    if (vers != 2) return prog_mismatch(xid, 2, 2);
    return peer::success_reply(xid).u32(2049).u32(4).u32(arg + 1);
  });
  uint32_t out = 0;
  sockaddr_in server{};
  EXPECT_EQ(rmtcall(41, &out, &server), RPC_SUCCESS);
  EXPECT_EQ(stop(), (calls{{4, 5}, {3, 5}, {2, 5}}));
  EXPECT_EQ(out, 42u);
  EXPECT_EQ(ntohs(server.sin_port), 2049);
  EXPECT_EQ(server.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
}

}  // namespace
