// Client authentication against real requests: our server, driven on the
// test's thread, cracks the caller of every call it receives from our
// client (AUTH_NONE, AUTH_UNIX, AUTH_NT), from a libtirpc client run as
// root, as nobody and as a user created for the test, and from hand-built
// hostile calls. Remote claims of the product group and of privilege must
// never be believed; malformed credentials are refused before dispatch.
#include "rpc/svc/svc_peer.h"

#include <cstdio>
#include <string>

#include <orvexks/credutl.h>
#include <orvexks/rpc/clnt.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_accounts.h>

#include "clientauth/client_settings.h"

namespace {

using namespace svc_peer;

constexpr uint32_t kWhoProg = 0x20000131;
constexpr uint32_t kWhoAmI = 1;

// What the dispatch function saw of its last caller.
struct Seen {
  int calls = 0, status = -1, priv = -1;
  credutl_sid_credentials_t sids = {};
  std::string domain, host;
};
Seen seen;

void who_dispatch(struct svc_req *rq, SVCXPRT *xprt) {
  char domain[256], host[256];
  ++seen.calls;
  seen.status = credutl_crack_rpc_auth(rq, &seen.sids, sizeof domain, domain,
                                       sizeof host, host);
  seen.domain = domain;
  seen.host = host;
  credutl_client_t client = {CREDUTL_AUTH_FAMILY_ONC, rq};
  credutl_client_is_privileged(&client, &seen.priv);
  ks_svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(xdr_void), nullptr);
}

enum auth_stat accept_anything(struct svc_req *, struct rpc_msg *) {
  return AUTH_OK;
}

bool has_group(const credutl_sid_credentials_t &s, const credutl_sid_t &g) {
  bool found = credutl_sid_eq(&s.group, &g);
  for (int i = 0; i < s.ngroups; ++i) found |= credutl_sid_eq(&s.groups[i], &g);
  return found;
}

struct ClientAuth : ::testing::Test {
  static void SetUpTestSuite() {
    settings = new ClientSettings(true);
    ASSERT_TRUE(ks_svc_register(nullptr, kWhoProg, 1, who_dispatch, 0));
    ASSERT_EQ(ks_svc_auth_reg(300, accept_anything), 0);
  }
  static void TearDownTestSuite() {
    ks_svc_unregister(kWhoProg, 1);
    delete settings;
  }
  void SetUp() override {
    tcp_ =
        ks_svc_vc_create(bound_socket(AF_INET, SOCK_STREAM, &tcp_port_), 0, 0);
    udp_ =
        ks_svc_dg_create(bound_socket(AF_INET, SOCK_DGRAM, &udp_port_), 0, 0);
    ASSERT_TRUE(tcp_ != nullptr && udp_ != nullptr);
  }
  void TearDown() override {
    tcp_->xp_ops->xp_destroy(tcp_);
    udp_->xp_ops->xp_destroy(udp_);
  }

  // One call of our client over TCP with auth (consumed).
  void call_with(AUTH *auth) {
    seen = Seen();
    struct sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(tcp_port_);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    serve_while([&] {
      int sock = -1;
      CLIENT *cl = ks_clnttcp_create(&sin, kWhoProg, 1, &sock, 0, 0);
      ASSERT_NE(cl, nullptr);
      KS_AUTH_DESTROY(cl->cl_auth);
      cl->cl_auth = auth;
      struct timeval tv = {10, 0};
      EXPECT_EQ(KS_CLNT_CALL(cl, kWhoAmI, reinterpret_cast<xdrproc_t>(xdr_void),
                             nullptr, reinterpret_cast<xdrproc_t>(xdr_void),
                             nullptr, tv),
                RPC_SUCCESS);
      KS_AUTH_DESTROY(cl->cl_auth);  // a client never destroys its AUTH
      KS_CLNT_DESTROY(cl);
    });
  }
  // An AUTH_UNIX credential naming this host, or (remote) another one.
  static AUTH *unix_auth(bool remote, uint32_t uid, uint32_t gid,
                         std::vector<int32_t> gids = {}) {
    return ks_authunix_create(machname(remote).c_str(), int32_t(uid),
                              int32_t(gid), int32_t(gids.size()), gids.data());
  }
  static AUTH *nt_auth(bool remote, uint32_t uid, uint32_t gid) {
    nt_sid_t *user = nullptr, *group = nullptr;
    ntx_uid_to_sid(uid, &user);
    ntx_gid_to_sid(gid, &group);
    AUTH *auth =
        authnt_create(machname(remote).c_str(), user, group, 0, nullptr);
    nt_sid_free(user);
    nt_sid_free(group);
    return auth;
  }
  static std::string machname(bool remote) {
    return upper_host() + "/" +
           (remote ? "elsewhere.invalid" : sysutl_myhostname());
  }

  static ClientSettings *settings;
  SVCXPRT *tcp_ = nullptr, *udp_ = nullptr;
  uint16_t tcp_port_ = 0, udp_port_ = 0;
};
ClientSettings *ClientAuth::settings = nullptr;

TEST_F(ClientAuth, OurClientWithEachFlavour) {
  call_with(ks_authnone_create());
  EXPECT_EQ(seen.status, 2);
  EXPECT_EQ(credutl_sid_eq(&seen.sids.user, &CREDUTL_SID_NOBODY), 1);
  EXPECT_EQ(seen.priv, 0);

  credutl_sid_t root = uid_sid(0), root_group = gid_sid(0),
                nobody = uid_sid(65534), nogroup = gid_sid(65534);
  call_with(unix_auth(false, 0, 0, {65534}));
  EXPECT_EQ(seen.status, 0);
  EXPECT_EQ(seen.domain, upper_host());
  EXPECT_EQ(seen.host, sysutl_myhostname());
  EXPECT_EQ(credutl_sid_eq(&seen.sids.user, &root), 1);
  EXPECT_EQ(credutl_sid_eq(&seen.sids.group, &root_group), 1);
  ASSERT_EQ(seen.sids.ngroups, 1);
  EXPECT_EQ(credutl_sid_eq(&seen.sids.groups[0], &nogroup), 1);
  EXPECT_EQ(seen.priv, 1);

  call_with(unix_auth(false, 65534, 65534));
  EXPECT_EQ(credutl_sid_eq(&seen.sids.user, &nobody), 1);
  EXPECT_EQ(seen.priv, 0);

  call_with(nt_auth(false, 0, 0));
  EXPECT_EQ(seen.status, 0);
  EXPECT_EQ(credutl_sid_eq(&seen.sids.user, &root), 1);
  EXPECT_EQ(seen.priv, 1);

  // Root by its own word, from another host: never privileged.
  for (AUTH *remote : {unix_auth(true, 0, 0), nt_auth(true, 0, 0)}) {
    call_with(remote);
    EXPECT_EQ(credutl_sid_eq(&seen.sids.user, &root), 1);
    EXPECT_EQ(seen.host, "elsewhere.invalid");
    EXPECT_EQ(seen.priv, 0);
  }
}

// A user created for the test, in the product group: privileged from
// this host; from another host the group is not believed, whether it is
// claimed as primary group or in the list.
TEST_F(ClientAuth, ProductGroupOnlyFromThisHost) {
  if (!settings->has_product_group()) GTEST_SKIP() << "needs root and groupadd";
  long uid = settings->add_user(TempAccounts::unique("qmcli"), true);
  ASSERT_GE(uid, 0);
  auto gid = static_cast<uint32_t>(settings->product_gid());
  credutl_sid_t product;
  credutl_nt_sid_to_sid(nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP), &product);
  credutl_sid_t by_gid = gid_sid(gid);
  ASSERT_EQ(credutl_sid_eq(&product, &by_gid), 1);
  for (bool remote : {false, true}) {
    for (AUTH *auth : {unix_auth(remote, uid, gid),
                       unix_auth(remote, uid, 65534, {int32_t(gid), 5}),
                       nt_auth(remote, uid, gid)}) {
      call_with(auth);
      EXPECT_EQ(has_group(seen.sids, product), !remote);
      EXPECT_EQ(seen.priv, remote ? 0 : 1);
    }
  }
}

// Hand-built calls: a flavour only a registered authenticator knows cracks
// to NOBODY; malformed AUTH_UNIX and AUTH_NT bodies are refused with
// AUTH_BADCRED and never reach the dispatch function.
TEST_F(ClientAuth, UnknownAndMalformedCredentials) {
  int fd = udp_client(udp_port_);
  Call call;
  call.prog = kWhoProg;
  call.proc = kWhoAmI;
  std::vector<uint32_t> long_name = {0, 300}, many_groups = {0, 0, 0, 0, 17};
  long_name.resize(2 + 75 + 3);
  many_groups.resize(5 + 17);
  seen = Seen();
  serve_while([&] {
    call.cred_flavor = 300;
    call.cred_body = {1, 2, 3};
    Reply r = udp_call(fd, call);
    EXPECT_TRUE(r.ok && r.reply_stat == 0 && r.stat == 0);
  });
  EXPECT_EQ(seen.status, 1);
  EXPECT_EQ(credutl_sid_eq(&seen.sids.user, &CREDUTL_SID_NOBODY), 1);
  EXPECT_EQ(seen.priv, 0);

  serve_while([&] {
    for (auto [flavor, body] :
         {std::pair{AUTH_UNIX, long_name}, std::pair{AUTH_UNIX, many_groups},
          std::pair{AUTH_UNIX, std::vector<uint32_t>{0, 4}},
          std::pair{AUTH_NT, std::vector<uint32_t>{0, 0, 0xffffffffu}}}) {
      call.cred_flavor = static_cast<uint32_t>(flavor);
      call.cred_body = body;
      Reply r = udp_call(fd, call);
      EXPECT_TRUE(r.ok && r.reply_stat == 1 && r.stat == 1);  // AUTH_ERROR
      EXPECT_EQ(r.rest, std::vector<uint32_t>{AUTH_BADCRED});
    }
  });
  EXPECT_EQ(seen.calls, 1);
  close(fd);
}

// A credential can name any host: a request that names this host but
// comes from an address that is not this host's is neither privileged nor
// believed about the product group.
TEST_F(ClientAuth, LocalNameFromAForeignAddressIsNotBelieved) {
  std::string name = machname(false);
  int32_t gid = static_cast<int32_t>(settings->product_gid());
  struct authunix_parms parms = {0, name.data(), 0, 0, 1, &gid};
  SVCXPRT xprt = {};
  struct sockaddr_in from = {};
  from.sin_family = AF_INET;
  xprt.xp_rtaddr = {sizeof from, sizeof from, &from};
  struct svc_req req = {kWhoProg, 1,    kWhoAmI, {AUTH_UNIX, nullptr, 0},
                        &parms,   &xprt};
  credutl_client_t client = {CREDUTL_AUTH_FAMILY_ONC, &req};
  credutl_sid_t product = gid_sid(static_cast<uint32_t>(gid));
  for (uint32_t address : {0xC0000201u, uint32_t{INADDR_LOOPBACK}}) {
    from.sin_addr.s_addr = htonl(address);  // 192.0.2.1 is documentation only
    bool here = address == INADDR_LOOPBACK;
    int priv = -1;
    credutl_client_is_privileged(&client, &priv);
    EXPECT_EQ(priv, here ? 1 : 0) << std::hex << address;
    credutl_sid_credentials_t sids;
    ASSERT_EQ(credutl_crack_rpc_auth(&req, &sids, 0, nullptr, 0, nullptr), 0);
    if (settings->has_product_group()) {
      EXPECT_EQ(has_group(sids, product), here) << std::hex << address;
    }
  }
}

#ifdef TIRPC_CLIENT_PATH

// A libtirpc client's AUTH_UNIX call (its host name, the ids it runs
// with), run as the account uid/gid (-1: as this process).
void foreign_call(uint16_t port, long uid, long gid) {
  std::string command;
  if (uid >= 0)
    command = "setpriv --reuid=" + std::to_string(uid) +
              " --regid=" + std::to_string(gid) + " --clear-groups ";
  command += std::string(TIRPC_CLIENT_PATH) + " tcp " + std::to_string(port) +
             " " + std::to_string(kWhoProg) + " 1 " + std::to_string(kWhoAmI) +
             " unix";
  seen = Seen();
  std::string out;
  serve_while([&] {
    FILE *p = popen(command.c_str(), "r");
    char buf[256];
    while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr) out += buf;
    if (p != nullptr) pclose(p);
  });
  EXPECT_EQ(out, "stat 0\n") << command;
}

TEST_F(ClientAuth, ForeignClientAsRootNobodyAndANewUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as other accounts";
  foreign_call(tcp_port_, -1, -1);
  credutl_sid_t root = uid_sid(0), nobody = uid_sid(65534);
  EXPECT_EQ(credutl_sid_eq(&seen.sids.user, &root), 1);
  char hostname[256];
  gethostname(hostname, sizeof hostname);
  EXPECT_EQ(seen.host, hostname);
  EXPECT_EQ(seen.domain, "");  // a plain host name carries no domain
  EXPECT_EQ(seen.priv, 1);

  foreign_call(tcp_port_, 65534, 65534);
  EXPECT_EQ(credutl_sid_eq(&seen.sids.user, &nobody), 1);
  EXPECT_EQ(seen.priv, 0);

  if (!settings->has_product_group()) GTEST_SKIP() << "needs groupadd";
  long uid = settings->add_user(TempAccounts::unique("qmtir"), true);
  ASSERT_GE(uid, 0);
  foreign_call(tcp_port_, uid, settings->product_gid());
  credutl_sid_t user = uid_sid(static_cast<uint32_t>(uid));
  EXPECT_EQ(credutl_sid_eq(&seen.sids.user, &user), 1);
  EXPECT_EQ(seen.priv, 1);
}

#endif

}  // namespace
