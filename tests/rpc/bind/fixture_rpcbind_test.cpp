// The rpcbind fixture itself: it starts a port mapper that answers on
// port 111 and stops it again.
#include "rpc/rpcbind_fixture.h"

#include <sys/socket.h>

namespace {

class FixtureRpcbindTest : public RpcbindFixture {};

TEST_F(FixtureRpcbindTest, PortMapperAnswersRpcinfo) {
  int rc = system("/usr/sbin/rpcinfo -p 127.0.0.1 | grep -q portmapper");
  EXPECT_EQ(rc, 0);
}

}  // namespace
