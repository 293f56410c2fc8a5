// The one slow server test: a blocking connection whose client sends half
// a record and then nothing is closed by the server's 35-second read
// timeout, and the server serves others afterwards. It runs on its own
// (label "slow"), beside the other test programs.
#include "svc_peer.h"

namespace {

using namespace svc_peer;

TEST(SlowServer, BlockingConnectionSilentMidRecordIsClosedAfterItsTimeout) {
  ASSERT_TRUE(ks_svc_register(nullptr, kProg, 1, echo_dispatch, 0));
  uint16_t port;
  SVCXPRT *l = listener(AF_INET, &port);
  ASSERT_NE(nullptr, l);
  int c = connect_tcp(port);
  ASSERT_TRUE(send_all(c, slice(record(Call{}.words()), 0, 10)));
  bool closed = false;
  serve_while([&] {
    EXPECT_FALSE(wait_readable(c, 1000)) << "the server waits for the rest";
    for (int waited = 1; waited < 60 && !closed; ++waited)
      closed = wait_readable(c, 1000) && peer_closed(c);
  });
  EXPECT_TRUE(closed);
  close(c);
  serve_while([&] { EXPECT_EQ(SUCCESS, tcp_null_call(port)); });
  l->xp_ops->xp_destroy(l);
}

}  // namespace
