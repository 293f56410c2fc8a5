// A libtirpc client in its own process calls our server over UDP and TCP,
// IPv4 and IPv6: results, credentials and error replies as that client
// reads them (every reply kind is checked in svc_test).
#include "svc_peer.h"

#include "rpc/command_output.h"

#include <cstdio>
#include <string>

namespace {

using namespace svc_peer;

#ifdef TIRPC_CLIENT_PATH

// Runs one call of the foreign client; returns its line.
std::string foreign_call(const std::string &netid, uint16_t port, uint32_t vers,
                         uint32_t proc, const std::string &flavor = "none",
                         const std::string &arg = "") {
  std::string command = std::string(TIRPC_CLIENT_PATH) + " " + netid + " " +
                        std::to_string(port) + " " + std::to_string(kProg) +
                        " " + std::to_string(vers) + " " +
                        std::to_string(proc) + " " + flavor;
  if (!arg.empty()) command += " '" + arg + "'";
  return command_output(command);
}

struct ForeignClient : ::testing::Test {
  static void SetUpTestSuite() {
    ASSERT_TRUE(ks_svc_register(nullptr, kProg, 2, echo_dispatch, 0));
    ASSERT_TRUE(ks_svc_register(nullptr, kProg, 4, echo_dispatch, 0));
  }
};

TEST_F(ForeignClient, RepliesOverEveryTransport) {
  for (std::string n : {"udp", "tcp", "udp6", "tcp6"}) {
    int family = n.size() == 4 ? AF_INET6 : AF_INET;
    uint16_t port;
    SVCXPRT *x =
        n[0] == 'u' ? datagram_server(family, &port) : listener(family, &port);
    ASSERT_NE(nullptr, x);
    serve_while([&] {
      EXPECT_EQ("stat 0\n", foreign_call(n, port, 2, kNull)) << n;
      EXPECT_EQ("stat 0\n", foreign_call(n, port, 2, kNull, "unix")) << n;
      EXPECT_EQ("stat 0 echo hello there\n",
                foreign_call(n, port, 4, kEcho, "none", "hello there"));
      EXPECT_EQ("stat 9 low 2 high 4\n", foreign_call(n, port, 3, kNull)) << n;
      EXPECT_EQ("stat 10\n", foreign_call(n, port, 2, 42)) << n;
      EXPECT_EQ("stat 7 why 2\n", foreign_call(n, port, 2, kNull, "bogus"))
          << n;
    });
    x->xp_ops->xp_destroy(x);
  }
}

#else
TEST(ForeignClient, NeedsLibtirpc) {
  GTEST_SKIP() << "libtirpc not found at build time";
}
#endif

}  // namespace
