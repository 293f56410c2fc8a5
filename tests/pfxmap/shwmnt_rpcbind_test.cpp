// Export lists over the mount protocol, from a small mount server written
// here on our own RPC server and registered with the system rpcbind, and
// registering a UNC prefix through them.
#include <orvexks/ntpfxmap.h>
#include <orvexks/rpc/rpcb.h>
#include <orvexks/rpc/svc.h>
#include <orvexnt/nt_registry.h>

#include <netinet/in.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pfxmap_fixture.h"
#include "rpc/rpcbind_fixture.h"
#include "rpc/svc/svc_internal.h"

namespace {

using namespace pfxmap_test;

auto *const resources =
    ::testing::AddGlobalTestEnvironment(new pfxmap_test::Resources);

constexpr uint32_t kMountProg = 100005, kMountVers = 1, kExport = 5;

struct Export {
  std::string dir;
  std::vector<std::string> groups;
};
// What the server answers; set by each test before it calls.
std::vector<Export> exports;
std::atomic<bool> fail_exports{false};
std::atomic<int> export_calls{0};

// The reply written from the protocol's description with the plain
// filters: for each node a presence word, the path, the groups (each a
// presence word and a name, then a closing word), then a closing word.
// Names are sent whatever their length, so that a reply may break the
// protocol's limits.
bool_t encode_exports(XDR *xdrs, void *) {
  constexpr uint32_t kAnyLength = 1 << 20;
  for (Export &e : exports) {
    bool_t more = TRUE;
    char *dir = e.dir.data();
    if (!xdr_bool(xdrs, &more) || !xdr_string(xdrs, &dir, kAnyLength))
      return FALSE;
    for (std::string &g : e.groups) {
      char *name = g.data();
      if (!xdr_bool(xdrs, &more) || !xdr_string(xdrs, &name, kAnyLength))
        return FALSE;
    }
    bool_t end = FALSE;
    if (!xdr_bool(xdrs, &end)) return FALSE;
  }
  bool_t end = FALSE;
  return xdr_bool(xdrs, &end);
}

void mount_dispatch(struct svc_req *rq, SVCXPRT *xprt) {
  if (rq->rq_proc != kExport) {
    ks_svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(xdr_void), nullptr);
    return;
  }
  export_calls++;
  if (fail_exports)
    ks_svcerr_systemerr(xprt);
  else
    ks_svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(encode_exports),
                     nullptr);
}

class MountServer : public RpcbindFixture {
 protected:
  SVCXPRT *tcp = nullptr;
  std::atomic<bool> stop{false};
  std::thread loop;

  void SetUp() override {
    RpcbindFixture::SetUp();
    if (IsSkipped()) return;
    write_settings("");
    ASSERT_EQ(ntpfxmap_flush(), 0);
    exports.clear();
    fail_exports = false;
    export_calls = 0;
    ASSERT_TRUE(
        ks_svc_register(nullptr, kMountProg, kMountVers, mount_dispatch, 0));
    tcp = ks_svctcp_create(-1, 0, 0);
    ASSERT_NE(tcp, nullptr);
    ASSERT_TRUE(ks_pmap_set(kMountProg, kMountVers, IPPROTO_TCP, tcp->xp_port));
    loop = std::thread([this] {
      while (!stop) ksi_svc_run_once({0, 20000});
    });
  }
  void TearDown() override {
    if (loop.joinable()) {
      stop = true;
      loop.join();
    }
    ks_pmap_unset(kMountProg, kMountVers);
    if (tcp != nullptr) tcp->xp_ops->xp_destroy(tcp);
    ks_svc_unregister(kMountProg, kMountVers);
  }
};

std::vector<Export> listed(const shwmnt_export_t *list) {
  std::vector<Export> out;
  for (; list != nullptr; list = list->ex_next) {
    out.push_back({list->ex_dir, {}});
    for (const shwmnt_group_t *g = list->ex_groups; g != nullptr;
         g = g->gr_next)
      out.back().groups.push_back(g->gr_name);
  }
  return out;
}

TEST_F(MountServer, ExportListsComeBackWhole) {
  exports = {{"/srv/a", {"g1", "g2"}},
             {"/srv/b", {}},
             {std::string(1024, 'x'), {std::string(255, 'n')}}};
  shwmnt_export_t *list = nullptr;
  ASSERT_EQ(shwmnt_get("127.0.0.1", &list), 0);
  const std::vector<Export> got = listed(list);
  shwmnt_free(list);
  ASSERT_EQ(got.size(), exports.size());
  for (size_t i = 0; i < got.size(); i++) {
    EXPECT_EQ(got[i].dir, exports[i].dir);
    EXPECT_EQ(got[i].groups, exports[i].groups);
  }

  exports.clear();
  list = reinterpret_cast<shwmnt_export_t *>(&list);
  ASSERT_EQ(shwmnt_get("127.0.0.1", &list), 0);
  EXPECT_EQ(list, nullptr) << "an empty list";
}

// A failed call, or a reply with a name past the protocol's limits, is
// tried again three times and then counts as an empty list.
TEST_F(MountServer, FailedCallsAreRetriedThenCountAsEmpty) {
  const std::vector<Export> overlong[] = {
      {}, {{std::string(1025, 'x'), {}}}, {{"/d", {std::string(256, 'n')}}}};
  for (const auto &bad : overlong) {
    SCOPED_TRACE(bad.empty() ? "system error" : "overlong name");
    fail_exports = bad.empty();
    exports = {{"/srv/a", {"g"}}};
    exports.insert(exports.end(), bad.begin(), bad.end());
    export_calls = 0;
    shwmnt_export_t *list = reinterpret_cast<shwmnt_export_t *>(&list);
    ASSERT_EQ(shwmnt_get("127.0.0.1", &list), 0);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(export_calls, 4);
  }
}

TEST_F(MountServer, NoClientMeansFailure) {
  shwmnt_export_t *list = reinterpret_cast<shwmnt_export_t *>(&list);
  EXPECT_EQ(shwmnt_get("no-such-host.invalid", &list), -1);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(shwmnt_open_transport(nullptr), nullptr);
  ks_pmap_unset(kMountProg, kMountVers);
  EXPECT_EQ(shwmnt_get("127.0.0.1", &list), -1) << "nothing registered";
}

TEST_F(MountServer, RegisterConnectsTheLongestCoveringExport) {
  exports = {{"/srv/exp", {}}, {"/srv/exp/deep", {"g"}}, {"/srv/ex", {}}};
  ASSERT_EQ(ntpfxmap_register("\\\\127.0.0.1\\srv\\exp\\deep\\f"), 0);
  char target[256];
  ASSERT_EQ(nt_settings_get("drives", "z", target, sizeof target), NTREGY_OK);
  EXPECT_STREQ(target, "/net/127.0.0.1/srv/exp/deep");
  EXPECT_EQ(converted("\\\\127.0.0.1\\srv\\exp\\deep\\f\\g"), "Z:\\f\\g");
  EXPECT_EQ(converted("\\\\127.0.0.1\\srv\\exp\\x"),
            "\\\\127.0.0.1\\srv\\exp\\x");
  EXPECT_EQ(ntpfxmap_validate_all(), 1);

  // A name already covered connects nothing more.
  ASSERT_EQ(ntpfxmap_register("\\\\127.0.0.1\\srv\\exp\\deep\\other"), 0);
  EXPECT_EQ(nt_settings_get("drives", "y", target, sizeof target),
            NTREGY_NOT_SET);
  ASSERT_EQ(ntpfxmap_register("\\\\127.0.0.1\\srv\\exp\\y"), 0);
  EXPECT_EQ(converted("\\\\127.0.0.1\\srv\\exp\\y"), "Y:\\y");

  EXPECT_EQ(ntpfxmap_register("\\\\127.0.0.1\\srv\\exports"), -1)
      << "a name that only shares leading characters with an export";
  EXPECT_EQ(ntpfxmap_register("\\\\127.0.0.1\\SRV\\ex\\z"), -1)
      << "exports compare with their case";
  EXPECT_EQ(ntpfxmap_register("not-unc"), -1);
}

}  // namespace
