// Our clients against a server built with the system's libtirpc, in its
// own process, over UDP and TCP, IPv4 and IPv6.
#include <orvexks/rpc/clnt.h>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <memory>

#include "rpc/clnt/tirpc_server.h"
#include "rpc/loopback.h"

namespace {

struct timeval tv(time_t sec, suseconds_t usec) {
  return timeval{sec, usec};
}
xdrproc_t xvoid() { return reinterpret_cast<xdrproc_t>(xdr_void); }
xdrproc_t xu32() { return reinterpret_cast<xdrproc_t>(xdr_u_int32_t); }

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
    std::string netid = GetParam();
    bool tcp = netid.rfind("tcp", 0) == 0;
    loopback_addr at = loopback(netid.c_str(), server->port(netid));
    int sock = -1;
    sockaddr *sa = at.sa();
    return tcp ? ks_clnttcp_create_sockaddr(sa, kTirpcProg, vers, &sock, 0, 0)
               : ks_clntudp_create_sockaddr(sa, kTirpcProg, vers, tv(1, 0),
                                            &sock);
  }

  static tirpc_server *server;
};
tirpc_server *ClntTirpcTest::server = nullptr;

TEST_P(ClntTirpcTest, NullAndEchoCalls) {
  CLIENT *cl = client(3);
  ASSERT_NE(cl, nullptr) << ks_clnt_spcreateerror("create");
  EXPECT_EQ(KS_CLNT_CALL(cl, 0, xvoid(), nullptr, xvoid(), nullptr, tv(5, 0)),
            RPC_SUCCESS);
  for (uint32_t i = 0; i < 50; i++) {
    uint32_t out = 0;
    ASSERT_EQ(KS_CLNT_CALL(cl, 1, xu32(), &i, xu32(), &out, tv(5, 0)),
              RPC_SUCCESS);
    EXPECT_EQ(out, i + 1);
  }
  KS_CLNT_DESTROY(cl);
}

TEST_P(ClntTirpcTest, UnknownProcedureAndVersionMismatch) {
  CLIENT *cl = client(3);
  ASSERT_NE(cl, nullptr);
  EXPECT_EQ(KS_CLNT_CALL(cl, 9, xvoid(), nullptr, xvoid(), nullptr, tv(5, 0)),
            RPC_PROCUNAVAIL);
  uint32_t v = 5;
  KS_CLNT_CONTROL(cl, CLSET_VERS, &v);
  EXPECT_EQ(KS_CLNT_CALL(cl, 0, xvoid(), nullptr, xvoid(), nullptr, tv(5, 0)),
            RPC_PROGVERSMISMATCH);
  struct rpc_err err;
  KS_CLNT_GETERR(cl, &err);
  EXPECT_EQ(err.re_vers.low, 2u);
  EXPECT_EQ(err.re_vers.high, 3u);
  KS_CLNT_DESTROY(cl);
}

TEST_P(ClntTirpcTest, LargeRepliesWithinTheBuffer) {
  CLIENT *cl = client(2);
  ASSERT_NE(cl, nullptr);
  bool tcp = std::string(GetParam()).rfind("tcp", 0) == 0;
  uint32_t n = tcp ? 60000 : 8000;
  struct counted {
    char *b;
    uint32_t n;
  } out = {nullptr, 0};
  xdrproc_t xbytes =
      reinterpret_cast<xdrproc_t>(+[](XDR *x, counted *c) -> bool_t {
        return xdr_bytes(x, &c->b, &c->n, 65536);
      });
  ASSERT_EQ(KS_CLNT_CALL(cl, 2, xu32(), &n, xbytes, &out, tv(5, 0)),
            RPC_SUCCESS);
  EXPECT_EQ(out.n, n);
  EXPECT_TRUE(KS_CLNT_FREERES(cl, xbytes, &out));
  KS_CLNT_DESTROY(cl);
}

INSTANTIATE_TEST_SUITE_P(Transports, ClntTirpcTest,
                         ::testing::Values("udp", "tcp", "udp6", "tcp6"));

}  // namespace
