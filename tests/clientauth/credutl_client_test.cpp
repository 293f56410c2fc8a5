// Client names and client records without a network: qualified names,
// machine names, the product's own client record, and privilege decided
// from names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <string>
#include <thread>

#include <orvexks/credutl.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_accounts.h>

#include "clientauth/client_settings.h"

namespace {

struct CredutlClient : ::testing::Test {
  ClientSettings settings{false};
};

std::string upper_host() {
  std::string h = sysutl_myhostname();
  for (char &c : h)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return h;
}

TEST_F(CredutlClient, QualifiedNames) {
  struct Case {
    const char *name, *domain, *user;
  };
  for (Case c : {Case{"DOM\\joe", "DOM", "joe"}, Case{"DOM/joe", "DOM", "joe"},
                 Case{"a/b\\c", "a", "b\\c"}, Case{"joe", "<unknown>", "joe"},
                 Case{"DOM\\", "DOM", ""}, Case{"", "<unknown>", ""},
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
  EXPECT_EQ(credutl_string_eq(nullptr, nullptr), 1);
  const char *login = nt_getlogin(nullptr, 0);
  ASSERT_NE(login, nullptr);
  std::string me = login;
  std::string short_me = me.substr(me.find('\\') + 1);
  EXPECT_EQ(credutl_string_eq(nullptr, ("ELSEWHERE/" + short_me).c_str()), 1);
  EXPECT_EQ(credutl_string_eq("someone-else", nullptr), 0);
}

TEST_F(CredutlClient, MachineNames) {
  EXPECT_STREQ(credutl_get_domain(), upper_host().c_str());
  // One buffer per thread.
  const char *mine = credutl_get_domain();
  const char *theirs = nullptr;
  std::thread([&] { theirs = credutl_get_domain(); }).join();
  EXPECT_NE(mine, theirs);

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
  credutl_crack_authunix_machname(nullptr, domain, sizeof domain, host,
                                  sizeof host);
  EXPECT_STREQ(domain, "");
  EXPECT_STREQ(host, "");
}

TEST_F(CredutlClient, ProductsOwnRecordOfThisProcess) {
  credutl_auth_quillmere_t auth;
  credutl_client_t client;
  ASSERT_EQ(
      credutl_mk_client_quillmere(CREDUTL_AUTH_QUILLMERE_NAMES, &auth, &client),
      0);
  EXPECT_EQ(client.auth_family, CREDUTL_AUTH_FAMILY_QUILLMERE);
  EXPECT_EQ(client.auth_data, &auth);
  int has_sids = -1, has_names = -1;
  credutl_sid_credentials_t sids;
  credutl_string_credentials_t names = {};
  char domain[256], host[256];
  ASSERT_EQ(credutl_crack_client(&client, &has_sids, &has_names, &sids, &names,
                                 sizeof domain, domain, sizeof host, host),
            0);
  EXPECT_EQ(has_sids, 0);
  EXPECT_EQ(has_names, 1);
  EXPECT_STREQ(domain, upper_host().c_str());
  char hostname[256];
  gethostname(hostname, sizeof hostname);
  EXPECT_STREQ(host, hostname);
  EXPECT_STREQ(names.user, nt_getlogin(nullptr, 0));
  credutl_free_string_credentials(&names);
  credutl_free_client(&client);
  EXPECT_EQ(client.auth_family, CREDUTL_AUTH_FAMILY_NONE);
  EXPECT_EQ(client.auth_data, nullptr);
  EXPECT_EQ(auth.credentials.user, nullptr);
  EXPECT_STREQ(auth.host, "");

  ASSERT_EQ(credutl_mk_client_quillmere(CREDUTL_AUTH_QUILLMERE_HOST_ONLY, &auth,
                                        &client),
            0);
  ASSERT_EQ(credutl_crack_client(&client, &has_sids, &has_names, &sids, &names,
                                 sizeof domain, domain, sizeof host, host),
            0);
  EXPECT_STREQ(names.user, "nobody");
  EXPECT_STREQ(names.group, "nobody");
  EXPECT_EQ(names.ngroups, 0);
  credutl_free_string_credentials(&names);
  credutl_free_client(&client);
}

TEST_F(CredutlClient, MissingClientIsNobodyFromNowhere) {
  int has_sids = 0, has_names = 0, priv = 1;
  credutl_sid_credentials_t sids;
  char domain[256], host[256];
  for (credutl_client_t c :
       {credutl_client_t{CREDUTL_AUTH_FAMILY_NONE, &sids},
        credutl_client_t{CREDUTL_AUTH_FAMILY_ONC, nullptr}}) {
    ASSERT_EQ(credutl_crack_client(&c, &has_sids, &has_names, &sids, nullptr,
                                   sizeof domain, domain, sizeof host, host),
              0);
    EXPECT_EQ(has_sids, 1);
    EXPECT_EQ(has_names, 0);
    EXPECT_EQ(credutl_sid_eq(&sids.user, &CREDUTL_SID_NOBODY), 1);
    EXPECT_EQ(credutl_sid_eq(&sids.group, &CREDUTL_SID_NOBODY), 1);
    EXPECT_EQ(sids.ngroups, 0);
    EXPECT_STREQ(host, "<unknown>");
    EXPECT_STREQ(domain, "<unknown>");
  }
  EXPECT_EQ(credutl_client_is_privileged(nullptr, &priv), 0);
  EXPECT_EQ(priv, 0);
  EXPECT_EQ(credutl_set_server_group_lifetime(60), 1);
  EXPECT_EQ(credutl_is_privileged(), nt_is_privileged());
}

// Name credentials are privileged through the product group's name, from
// this host only, and only when domain and name both match.
TEST(CredutlClientPrivilege, ByGroupName) {
  ClientSettings settings(true);
  if (!settings.has_product_group()) GTEST_SKIP() << "needs root and groupadd";
  std::string qualified = upper_host() + "\\" + settings.product_group();
  std::string other_domain = "ELSEWHERE\\" + settings.product_group();
  char user[] = "nobody", plain[] = "nobody";
  struct Case {
    const char *host;
    std::string group, extra;
    int expected;
  };
  for (const Case &c : {Case{sysutl_myhostname(), qualified, "", 1},
                        Case{sysutl_myhostname(), plain, qualified, 1},
                        Case{sysutl_myhostname(), other_domain, "", 0},
                        Case{sysutl_myhostname(), plain, "", 0},
                        Case{"elsewhere.invalid", qualified, qualified, 0}}) {
    credutl_auth_quillmere_t auth = {};
    auth.kind = CREDUTL_AUTH_QUILLMERE_NAMES;
    strcpy(auth.domain, upper_host().c_str());
    strcpy(auth.host, c.host);
    std::string group = c.group, extra = c.extra;
    auth.credentials.user = user;
    auth.credentials.group = group.data();
    if (!extra.empty()) {
      auth.credentials.ngroups = 1;
      auth.credentials.groups[0] = extra.data();
    }
    credutl_client_t client = {CREDUTL_AUTH_FAMILY_QUILLMERE, &auth};
    int priv = -1;
    EXPECT_EQ(credutl_client_is_privileged(&client, &priv), 0);
    EXPECT_EQ(priv, c.expected) << c.host << " " << c.group << " " << c.extra;
  }
}

}  // namespace
