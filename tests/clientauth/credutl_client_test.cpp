// Client names and the product's own client records, without a network:
// qualified names, machine names, cracking a record, and privilege decided
// from group names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include <orvexks/credutl.h>
#include <orvexks/rpc/svc.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_accounts.h>

#include "clientauth/client_settings.h"

namespace {

struct CredutlClient : ::testing::Test {
  ClientSettings settings{false};
};

TEST_F(CredutlClient, QualifiedNames) {
  struct Case {
    const char *name, *domain, *user;
  };
  for (Case c : {Case{"DOM\\joe", "DOM", "joe"}, Case{"a/b\\c", "a", "b\\c"},
                 Case{"joe", "<unknown>", "joe"}, Case{"DOM\\", "DOM", ""},
                 Case{nullptr, "<unknown>", ""}}) {
    char domain[64], user[64];
    credutl_crack_fq_name(c.name, domain, sizeof domain, user, sizeof user);
    EXPECT_STREQ(domain, c.domain) << (c.name ? c.name : "(null)");
    EXPECT_STREQ(user, c.user) << (c.name ? c.name : "(null)");
  }
  char domain[4], user[3];
  credutl_crack_fq_name("DOMAIN\\joseph", domain, sizeof domain, user,
                        sizeof user);
  EXPECT_STREQ(domain, "DOM");
  EXPECT_STREQ(user, "jo");

  EXPECT_EQ(credutl_string_eq("DOM1\\joe", "DOM2/JOE"), 1);
  EXPECT_EQ(credutl_string_eq("joe", "DOM\\Joe"), 1);
  EXPECT_EQ(credutl_string_eq("DOM\\joe", "DOM\\jo"), 0);
  std::string me = nt_getlogin(nullptr, 0);
  EXPECT_EQ(credutl_string_eq(
                nullptr, ("ELSEWHERE/" + me.substr(me.find('\\') + 1)).c_str()),
            1);
  EXPECT_EQ(credutl_string_eq("someone-else", nullptr), 0);
}

TEST_F(CredutlClient, MachineNames) {
  EXPECT_STREQ(credutl_get_domain(), upper_host().c_str());
  char buf[600];
  EXPECT_EQ(credutl_mk_authunix_machname(buf, sizeof buf), buf);
  EXPECT_EQ(std::string(buf), upper_host() + "/" + sysutl_myhostname());
  testing::internal::CaptureStderr();
  credutl_mk_authunix_machname(buf, 4);
  std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_STREQ(buf, "<cr");
  EXPECT_NE(warning.find("exceed 4 bytes.  Using bogus string \"<credutl "
                         "authunix machname too long>\""),
            std::string::npos)
      << warning;

  char domain[16], host[8];
  credutl_crack_authunix_machname("DOM/host/x", domain, sizeof domain, host,
                                  sizeof host);
  EXPECT_STREQ(domain, "DOM");
  EXPECT_STREQ(host, "host/x");
  credutl_crack_authunix_machname("plainhostname", domain, sizeof domain, host,
                                  sizeof host);
  EXPECT_STREQ(domain, "");
  EXPECT_STREQ(host, "plainho");
}

TEST_F(CredutlClient, RecordsOfThisProcessAndOfNobody) {
  credutl_auth_quillmere_t auth;
  credutl_client_t client;
  int has_sids = -1, has_names = -1;
  credutl_sid_credentials_t sids;
  credutl_string_credentials_t names;
  char domain[256], host[256], hostname[256];
  gethostname(hostname, sizeof hostname);
  for (int kind :
       {CREDUTL_AUTH_QUILLMERE_NAMES, CREDUTL_AUTH_QUILLMERE_HOST_ONLY}) {
    ASSERT_EQ(credutl_mk_client_quillmere(kind, &auth, &client), 0);
    ASSERT_EQ(
        credutl_crack_client(&client, &has_sids, &has_names, &sids, &names,
                             sizeof domain, domain, sizeof host, host),
        0);
    EXPECT_EQ(has_sids, 0);
    EXPECT_EQ(has_names, 1);
    EXPECT_STREQ(domain, upper_host().c_str());
    EXPECT_STREQ(host, hostname);
    EXPECT_STREQ(names.user, kind == CREDUTL_AUTH_QUILLMERE_NAMES
                                 ? nt_getlogin(nullptr, 0)
                                 : "nobody");
    credutl_free_string_credentials(&names);
    credutl_free_client(&client);
    EXPECT_EQ(client.auth_data, nullptr);
    EXPECT_EQ(auth.credentials.user, nullptr);
  }

  // No client at all: NOBODY from "<unknown>", never privileged.
  ASSERT_EQ(credutl_crack_client(nullptr, &has_sids, &has_names, &sids, nullptr,
                                 sizeof domain, domain, sizeof host, host),
            0);
  EXPECT_EQ(has_sids, 1);
  EXPECT_EQ(credutl_sid_eq(&sids.user, &CREDUTL_SID_NOBODY), 1);
  EXPECT_STREQ(host, "<unknown>");
  int priv = -1;
  EXPECT_EQ(credutl_client_is_privileged(nullptr, &priv), 0);
  EXPECT_EQ(priv, 0);
}

// Name credentials are privileged through the product group's name, from
// this host only, and only when domain and name both match.
TEST(CredutlClientPrivilege, ByGroupName) {
  ClientSettings settings(true);
  if (!settings.has_product_group()) GTEST_SKIP() << "needs root and groupadd";
  std::string qualified = upper_host() + "\\" + settings.product_group();
  std::string other_domain = "ELSEWHERE\\" + settings.product_group();
  char plain[] = "nobody";
  struct Case {
    const char *host;
    std::string group, extra;
    int expected;
  };
  for (Case c : {Case{sysutl_myhostname(), qualified, "", 1},
                 Case{sysutl_myhostname(), plain, qualified, 1},
                 Case{sysutl_myhostname(), other_domain, "", 0},
                 Case{sysutl_myhostname(), plain, "", 0},
                 Case{"elsewhere.invalid", qualified, qualified, 0}}) {
    credutl_auth_quillmere_t auth = {CREDUTL_AUTH_QUILLMERE_NAMES, "", "", {}};
    snprintf(auth.host, sizeof auth.host, "%s", c.host);
    auth.credentials = {
        plain, c.group.data(), c.extra.empty() ? 0 : 1, {c.extra.data()}};
    credutl_client_t client = {CREDUTL_AUTH_FAMILY_QUILLMERE, &auth};
    int priv = -1;
    EXPECT_EQ(credutl_client_is_privileged(&client, &priv), 0);
    EXPECT_EQ(priv, c.expected) << c.host << " " << c.group << " " << c.extra;
  }
}

// The product group is looked up once it exists and kept, but its absence
// is not kept: a group created after a call from another host was cracked
// is distrusted from the next call on.
TEST(CredutlClientProductGroup, CreatedAfterAFirstCrackIsDistrusted) {
  if (!TempAccounts::can_create()) GTEST_SKIP() << "needs root and groupadd";
  ClientSettings settings(false);
  TempAccounts accounts;
  const std::string name = TempAccounts::unique("qmlate");
  settings.name_product_group(name);
  char machname[] = "ELSEWHERE/elsewhere.invalid";
  int32_t claimed = 1;  // a group other than the primary one
  struct authunix_parms parms = {0, machname, 0, 0, 1, &claimed};
  struct svc_req req = {1, 1, 1, {AUTH_UNIX, nullptr, 0}, &parms, nullptr};
  credutl_sid_credentials_t sids;
  ASSERT_EQ(credutl_crack_rpc_auth(&req, &sids, 0, nullptr, 0, nullptr), 0);
  ASSERT_EQ(sids.ngroups, 1);

  const long gid = accounts.add_group(name);
  ASSERT_GE(gid, 0);
  claimed = static_cast<int32_t>(gid);
  for (int call = 0; call < 2; ++call) {
    ASSERT_EQ(credutl_crack_rpc_auth(&req, &sids, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(sids.ngroups, 0) << "call " << call;  // NOBODY is dropped
  }
}

}  // namespace
