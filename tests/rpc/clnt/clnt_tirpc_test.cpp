// Our clients against a server built with the system's libtirpc, in its
// own process, over UDP and TCP, IPv4 and IPv6.
#include <orvexks/rpc/clnt.h>

#include <gtest/gtest.h>

#include "rpc/clnt/call_helpers.h"
#include "rpc/clnt/tirpc_server.h"
#include "rpc/loopback.h"

namespace {

class ClntTirpcTest : public ::testing::TestWithParam<const char *> {
 protected:
  static void SetUpTestSuite() { server = new tirpc_server(); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override {
    if (!server->running())
      GTEST_SKIP() << "the libtirpc server peer is not available";
  }

  // A client of the peer over the parameter's netid, by address.
  CLIENT *client(uint32_t vers) {
    loopback_addr at = loopback(GetParam(), server->port(GetParam()));
    int sock = -1;
    CLIENT *cl = tcp() ? ks_clnttcp_create_sockaddr(at.sa(), kTirpcProg, vers,
                                                    &sock, 0, 0)
                       : ks_clntudp_create_sockaddr(at.sa(), kTirpcProg, vers,
                                                    tv(1), &sock);
    EXPECT_NE(cl, nullptr) << ks_clnt_spcreateerror("create");
    EXPECT_GE(sock, 0);  // the socket the library opened
    EXPECT_STREQ(cl != nullptr ? cl->cl_netid : "", tcp() ? "tcp" : "udp");
    return cl;
  }
  bool tcp() const { return GetParam()[0] == 't'; }

  static tirpc_server *server;
};
tirpc_server *ClntTirpcTest::server = nullptr;

TEST_P(ClntTirpcTest, CallsAndTheServersErrors) {
  CLIENT *cl = client(3);
  ASSERT_NE(cl, nullptr);
  EXPECT_EQ(call_void(cl, 0), RPC_SUCCESS);
  for (uint32_t i = 0; i < 50; i++) {
    uint32_t out = 0;
    ASSERT_EQ(call_u32(cl, 1, i, &out), RPC_SUCCESS);
    EXPECT_EQ(out, i + 1);
  }
  EXPECT_EQ(call_void(cl, 9), RPC_PROCUNAVAIL);
  uint32_t v = 5;
  KS_CLNT_CONTROL(cl, CLSET_VERS, &v);
  EXPECT_EQ(call_void(cl, 0), RPC_PROGVERSMISMATCH);
  EXPECT_STREQ(
      ks_clnt_sperror(cl, "x"),
      "x: RPC: Program/version mismatch; low version = 2, high version = 3");
  KS_CLNT_DESTROY(cl);
}

TEST_P(ClntTirpcTest, LargeRepliesWithinTheBuffer) {
  CLIENT *cl = client(2);
  ASSERT_NE(cl, nullptr);
  uint32_t n = tcp() ? 60000 : 8000;
  struct counted {
    char *b;
    uint32_t n;
  } out = {nullptr, 0};
  xdrproc_t xbytes =
      reinterpret_cast<xdrproc_t>(+[](XDR *x, counted *c) -> bool_t {
        return xdr_bytes(x, &c->b, &c->n, 65536);
      });
  ASSERT_EQ(KS_CLNT_CALL(cl, 2, xu32(), &n, xbytes, &out, tv(5)), RPC_SUCCESS);
  EXPECT_EQ(out.n, n);
  EXPECT_TRUE(KS_CLNT_FREERES(cl, xbytes, &out));
  KS_CLNT_DESTROY(cl);
}

INSTANTIATE_TEST_SUITE_P(Transports, ClntTirpcTest,
                         ::testing::Values("udp", "tcp", "udp6", "tcp6"));

}  // namespace
