// The binder clients and name-based client creation against the system
// rpcbind (started by the fixture) and a libtirpc server in its own
// process; rpcinfo confirms what our clients registered.
#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/rpcb.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "rpc/bind/netconfig.h"
#include "rpc/clnt/call_helpers.h"
#include "rpc/clnt/tirpc_server.h"
#include "rpc/command_output.h"
#include "rpc/loopback.h"
#include "rpc/rpcbind_fixture.h"

namespace {

constexpr uint32_t kProg = 0x20000555;
const char *const kNetids[] = {"udp", "tcp", "udp6", "tcp6"};

const char *host_of(const std::string &netid) {
  return netid.back() == '6' ? "::1" : "127.0.0.1";
}

std::string rpcinfo_listing() {
  return command_output("/usr/sbin/rpcinfo -p 127.0.0.1");
}

class ClntRpcbindTest : public RpcbindFixture {};

TEST_F(ClntRpcbindTest, RpcbindNullProcedureOverEveryTransport) {
  for (const char *netid : kNetids) {
    CLIENT *cl = ks_clnt_tp_create(host_of(netid), RPCBPROG, RPCBVERS4,
                                   ksi_netconfig_lookup(netid));
    ASSERT_NE(cl, nullptr) << netid << ": " << ks_clnt_spcreateerror("create");
    EXPECT_STREQ(cl->cl_netid, netid);
    EXPECT_EQ(call_void(cl, 0), RPC_SUCCESS) << netid;
    KS_CLNT_DESTROY(cl);
  }
}

TEST_F(ClntRpcbindTest, SetGetaddrDumpAndUnsetOnEveryTransport) {
  for (const char *netid : kNetids) {
    loopback_addr at = loopback(netid, 4321);
    struct netbuf nb = {sizeof at.ss, at.len, &at.ss};
    ASSERT_TRUE(ks_rpcb_set(kProg, 7, ksi_netconfig_lookup(netid), &nb));
  }
  std::string listing = rpcinfo_listing();
  for (const char *line :
       {"536872277    7   tcp   4321", "536872277    7   udp   4321"})
    EXPECT_NE(listing.find(line), std::string::npos) << listing;
  for (const char *netid : kNetids) {
    const struct netconfig *nc = ksi_netconfig_lookup(netid);
    loopback_addr found;
    struct netbuf out = {sizeof found.ss, 0, &found.ss};
    ASSERT_TRUE(ks_rpcb_getaddr(kProg, 7, nc, &out, host_of(netid)))
        << netid << ": " << ks_clnt_spcreateerror("getaddr");
    EXPECT_EQ(found.port(), 4321) << netid;
    out.maxlen = 4;  // too small a buffer
    EXPECT_FALSE(ks_rpcb_getaddr(kProg, 7, nc, &out, host_of(netid)));
    EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_FAILED);
  }
  struct rpcblist *maps =
      ks_rpcb_getmaps(ksi_netconfig_lookup("tcp"), "127.0.0.1");
  ASSERT_NE(maps, nullptr);
  int ours = 0;
  for (struct rpcblist *m = maps; m != nullptr; m = m->rpcb_next)
    ours += m->rpcb_map.r_prog == kProg;
  EXPECT_EQ(ours, 4);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &maps);

  EXPECT_TRUE(ks_rpcb_unset(kProg, 7, nullptr));
  for (const char *netid : {"tcp6", "udp"}) {
    sockaddr_storage found{};
    struct netbuf out = {sizeof found, 0, &found};
    EXPECT_FALSE(ks_rpcb_getaddr(kProg, 7, ksi_netconfig_lookup(netid), &out,
                                 host_of(netid)));
    EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_PROGNOTREGISTERED);
  }
  EXPECT_EQ(rpcinfo_listing().find("536872277"), std::string::npos);
}

TEST_F(ClntRpcbindTest, PortMapperSetGetportUnset) {
  ASSERT_TRUE(ks_pmap_set(kProg, 2, IPPROTO_UDP, 4242));
  ASSERT_TRUE(ks_pmap_set(kProg, 2, IPPROTO_TCP, 4243));
  sockaddr_in sin;
  ks_get_myaddress(&sin);
  EXPECT_EQ(ks_pmap_getport(&sin, kProg, 2, IPPROTO_UDP), 4242);
  EXPECT_EQ(sin.sin_port, 0);
  EXPECT_EQ(ks_pmap_getport(&sin, kProg, 2, IPPROTO_TCP), 4243);
  EXPECT_NE(rpcinfo_listing().find("536872277    2   udp   4242"),
            std::string::npos);
  EXPECT_TRUE(ks_pmap_unset(kProg, 2));
  EXPECT_EQ(ks_pmap_getport(&sin, kProg, 2, IPPROTO_UDP), 0);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_PROGNOTREGISTERED);
}

TEST_F(ClntRpcbindTest, ClnttcpCreateWithPortZeroAndNoRegistrationFails) {
  sockaddr_in sin;
  ks_get_myaddress(&sin);
  sin.sin_port = 0;
  int sock = -1;
  EXPECT_EQ(ks_clnttcp_create(&sin, kProg, 1, &sock, 0, 0), nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_PROGNOTREGISTERED);
  EXPECT_EQ(ks_clnt_create("127.0.0.1", kProg, 1, "udp"), nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_PROGNOTREGISTERED);
}

TEST_F(ClntRpcbindTest, BinderTimeAndAddressConversions) {
  setenv("NETPATH", "tcp", 1);
  time_t t = 0;
  ASSERT_TRUE(ks_rpcb_gettime("127.0.0.1", &t));
  EXPECT_LE(std::labs(static_cast<long>(t - time(nullptr))), 5);
  unsetenv("NETPATH");
  const struct netconfig *tcp = ksi_netconfig_lookup("tcp");
  loopback_addr at = loopback("tcp", 0x0401);
  struct netbuf nb = {sizeof at.ss, at.len, &at.ss};
  char *uaddr = ks_rpcb_taddr2uaddr(tcp, &nb);
  EXPECT_STREQ(uaddr, "127.0.0.1.4.1");
  free(uaddr);
  struct netbuf *back = ks_rpcb_uaddr2taddr(tcp, "127.0.0.1.4.1");
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->len, sizeof(sockaddr_in));
  EXPECT_EQ(ntohs(static_cast<sockaddr_in *>(back->buf)->sin_port), 0x0401);
  free(back->buf);
  free(back);
  EXPECT_EQ(ks_rpcb_taddr2uaddr(nullptr, &nb), nullptr);
  EXPECT_EQ(ks_rpc_get_createerr()->cf_stat, RPC_UNKNOWNPROTO);
}

// The libtirpc server, registered through our rpcbind client, reached by
// host name and network type.
class ClntByNameTest : public RpcbindFixture {
 protected:
  void SetUp() override {
    RpcbindFixture::SetUp();
    if (IsSkipped()) return;
    if (!server_.running())
      GTEST_SKIP() << "the libtirpc server peer is not available";
    for (const char *netid : kNetids) {
      loopback_addr at = loopback(netid, server_.port(netid));
      struct netbuf nb = {sizeof at.ss, at.len, &at.ss};
      for (uint32_t vers : {2u, 3u})
        ASSERT_TRUE(
            ks_rpcb_set(kTirpcProg, vers, ksi_netconfig_lookup(netid), &nb));
    }
  }
  void TearDown() override {
    if (server_.running() && rpcbind_running()) {
      ks_rpcb_unset(kTirpcProg, 2, nullptr);
      ks_rpcb_unset(kTirpcProg, 3, nullptr);
    }
  }
  tirpc_server server_;
};

// A datagram client made by name reuses the binder's client: it must be
// retargeted at the server's program and version.
TEST_F(ClntByNameTest, CreateByNetworkTypeAndCall) {
  for (const char *nettype : {"udp", "tcp"}) {
    CLIENT *cl = ks_clnt_create("localhost", kTirpcProg, 3, nettype);
    ASSERT_NE(cl, nullptr) << nettype << ": "
                           << ks_clnt_spcreateerror("create");
    uint32_t out = 0;
    EXPECT_EQ(call_u32(cl, 1, 41, &out), RPC_SUCCESS);
    EXPECT_EQ(out, 42u);
    KS_CLNT_DESTROY(cl);
  }
  setenv("NETPATH", "udp:tcp", 1);
  CLIENT *cl = ks_clnt_create("127.0.0.1", kTirpcProg, 2, nullptr);
  ASSERT_NE(cl, nullptr);
  EXPECT_STREQ(cl->cl_netid, "udp");
  KS_CLNT_DESTROY(cl);
  unsetenv("NETPATH");
}

TEST_F(ClntByNameTest, CreateVersSettlesOnTheHighestCommonVersion) {
  uint32_t vers = 0;
  CLIENT *cl = ks_clnt_create_vers("127.0.0.1", kTirpcProg, &vers, 1, 5, "tcp");
  ASSERT_NE(cl, nullptr) << ks_clnt_spcreateerror("create_vers");
  EXPECT_EQ(vers, 3u);
  KS_CLNT_DESTROY(cl);
  // Versions 4 and 5 are not registered: the binder already says so.
  EXPECT_EQ(ks_clnt_create_vers("127.0.0.1", kTirpcProg, &vers, 4, 5, "udp"),
            nullptr);
}

TEST_F(ClntByNameTest, RpcCallCachesItsClientPerThread) {
  uint32_t in = 1, out = 0;
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(ks_rpc_call("127.0.0.1", kTirpcProg, 2, 1, xu32(), &in, xu32(),
                          &out, "tcp"),
              RPC_SUCCESS);
    EXPECT_EQ(out, 2u);
  }
  EXPECT_EQ(
      ks_callrpc("127.0.0.1", kTirpcProg, 3, 1, xu32(), &in, xu32(), &out),
      RPC_SUCCESS);
  EXPECT_EQ(ks_callrpc("127.0.0.1", kTirpcProg, 3, 9, xvoid(), nullptr, xvoid(),
                       nullptr),
            RPC_PROCUNAVAIL);
}

}  // namespace
