// Our servers registered with the system rpcbind over both binder
// protocols: rpcinfo lists them and calls them as a foreign client.
#include "svc_peer.h"

#include <orvexks/rpc/rpcb.h>

#include <cstdio>
#include <string>

#include "rpc/command_output.h"
#include "rpc/rpcbind_fixture.h"

namespace {

using namespace svc_peer;

// rpcinfo's output, error messages included.
std::string run(const std::string &command) {
  return command_output(command + " 2>&1");
}

struct RegisteredServer : RpcbindFixture {
  SVCXPRT *udp = nullptr, *tcp = nullptr, *tcp6 = nullptr;
  struct netconfig tcp6_conf = {};
  std::unique_ptr<loop_thread> loop;

  void SetUp() override {
    RpcbindFixture::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(ks_svc_register(nullptr, kProg, 1, echo_dispatch, 0));
    udp = ks_svcudp_create(-1);
    tcp = ks_svctcp_create(-1, 0, 0);
    tcp6_conf.nc_netid = const_cast<char *>("tcp6");
    tcp6_conf.nc_semantics = NC_TPI_COTS_ORD;
    tcp6_conf.nc_protofmly = const_cast<char *>("inet6");
    tcp6_conf.nc_proto = const_cast<char *>("tcp");
    tcp6_conf.nc_device = const_cast<char *>("-");
    tcp6 = ks_svc_tli_create(-1, &tcp6_conf, nullptr, 0, 0);
    ASSERT_TRUE(udp && tcp && tcp6);
    ASSERT_TRUE(ks_pmap_set(kProg, 1, IPPROTO_UDP, udp->xp_port));
    ASSERT_TRUE(ks_pmap_set(kProg, 1, IPPROTO_TCP, tcp->xp_port));
    ASSERT_TRUE(ks_rpcb_set(kProg, 1, &tcp6_conf, &tcp6->xp_ltaddr));
    loop = std::make_unique<loop_thread>();
  }
  void TearDown() override {
    loop.reset();
    ks_pmap_unset(kProg, 1);
    ks_rpcb_unset(kProg, 1, nullptr);
    for (SVCXPRT *x : {udp, tcp, tcp6})
      if (x != nullptr) x->xp_ops->xp_destroy(x);
    ks_svc_unregister(kProg, 1);
  }
};

TEST_F(RegisteredServer, RpcinfoListsAndCallsOurServers) {
  std::string prog = std::to_string(kProg);
  std::string listing = run("rpcinfo -p 127.0.0.1");
  EXPECT_NE(std::string::npos, listing.find(std::to_string(udp->xp_port)))
      << listing;
  EXPECT_NE(std::string::npos, listing.find(std::to_string(tcp->xp_port)))
      << listing;
  EXPECT_NE(std::string::npos, run("rpcinfo -s 127.0.0.1").find("tcp6"))
      << "the rpcbind v3 registration";
  for (const char *proto : {"-u", "-t"}) {
    std::string out =
        run(std::string("rpcinfo ") + proto + " 127.0.0.1 " + prog + " 1");
    EXPECT_NE(std::string::npos, out.find("ready and waiting")) << out;
    out = run(std::string("rpcinfo ") + proto + " 127.0.0.1 " + prog + " 7");
    EXPECT_NE(std::string::npos, out.find("ersion"))
        << "a version mismatch: " << out;
  }
}

}  // namespace
