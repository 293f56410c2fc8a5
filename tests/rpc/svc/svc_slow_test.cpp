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
  SVCXPRT *listener =
      ks_svc_vc_create(bound_socket(AF_INET, SOCK_STREAM, &port), 0, 0);
  ASSERT_NE(nullptr, listener);
  int c = connect_tcp(port);
  std::vector<char> rec = record(Call{}.words());
  ASSERT_TRUE(send_all(c, std::vector<char>(rec.begin(), rec.begin() + 10)));
  bool closed = false;
  serve_while([&] {
    EXPECT_FALSE(wait_readable(c, 1000)) << "the server waits for the rest";
    for (int waited = 1; waited < 60 && !closed; ++waited)
      closed = wait_readable(c, 1000) && peer_closed(c);
  });
  EXPECT_TRUE(closed);
  close(c);
  serve_while([&] {
    int other = connect_tcp(port);
    EXPECT_EQ(SUCCESS, tcp_call(other, Call{}).stat);
    close(other);
  });
  listener->xp_ops->xp_destroy(listener);
}

}  // namespace
