// The companion library's account layer against the host's real accounts.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_env.h>

#include "account_fixture.h"
#include "nt_fixture.h"

namespace {

std::string domain() { return nt_get_domain_name(nullptr, 0); }

// The machine domain as an independent reading of /etc/machine-id.
std::string expected_domain_sid() {
  FILE *f = fopen("/etc/machine-id", "r");
  if (f == nullptr) return "S-1-5-21-0-0-0";
  char id[64] = {0};
  if (fgets(id, sizeof id, f) == nullptr) id[0] = '\0';
  fclose(f);
  unsigned long w[3];
  for (int i = 0; i < 3; i++)
    w[i] = strtoul(std::string(id + 8 * i, 8).c_str(), nullptr, 16);
  return "S-1-5-21-" + std::to_string(w[0]) + "-" + std::to_string(w[1]) + "-" +
         std::to_string(w[2]);
}

// Points the settings file at a temporary one naming the product group.
class ProductGroupSetting {
 public:
  explicit ProductGroupSetting(const std::string &group) {
    char tmpl[] = "/tmp/nt_accounts_testXXXXXX";
    const int fd = mkstemp(tmpl);
    path_ = tmpl;
    const std::string text =
        "[params]\n8=c:\\orvex\n[accounts]\nproduct_group = " + group + "\n";
    EXPECT_EQ(write(fd, text.data(), text.size()),
              static_cast<ssize_t>(text.size()));
    fchmod(fd, 0644);  // readable by the unprivileged children too
    close(fd);
    nt_putenv_safe(("ORVEX_REGISTRY=" + path_).c_str());
  }
  ~ProductGroupSetting() {
    nt_putenv_safe("ORVEX_REGISTRY=");
    unlink(path_.c_str());
  }

 private:
  std::string path_;
};

TEST(NtAccounts, MachineDomainAndIdMappingFollowTheMachineId) {
  const std::string dom = expected_domain_sid();
  EXPECT_EQ(sid_text(nt_get_enum_sid(NT_ENUM_SID_MACHINE_DOMAIN)), dom);

  nt_sid_t *user = nullptr, *group = nullptr;
  ASSERT_EQ(ntx_uid_to_sid(5, &user), 0);
  ASSERT_EQ(ntx_gid_to_sid(5, &group), 0);
  EXPECT_EQ(sid_text(user), dom + "-1010");
  EXPECT_EQ(sid_text(group), dom + "-1011");
  EXPECT_EQ(nt_sid_to_uid(user), 5u);
  EXPECT_EQ(nt_sid_to_uid(group), 5u);
  EXPECT_FALSE(nt_sid_is_group(user));
  EXPECT_TRUE(nt_sid_is_group(group));
  nt_sid_free(user);
  nt_sid_free(group);

  // The placeholders and ids whose relative id would pass 32 bits.
  nt_sid_t *none = nullptr;
  for (uint32_t id : {0xFFFFFFFEu, 0xFFFFFFFFu, 2147483148u}) {
    errno = 0;
    EXPECT_EQ(ntx_uid_to_sid(id, &none), -1) << id;
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(ntx_gid_to_sid(2147483147u, &none), 0);
  EXPECT_EQ(nt_sid_to_uid(none), 2147483147u);
  nt_sid_free(none);

  // SIDs outside the machine domain have no platform id.
  EXPECT_EQ(nt_sid_to_uid(nt_get_enum_sid(NT_ENUM_SID_EVERYONE)), NT_ID_NONE);
  nt_sid_t *foreign = nt_str_to_sid("S-1-5-21-1-2-3-1000");
  EXPECT_EQ(nt_sid_to_uid(foreign), NT_ID_NONE);
  EXPECT_EQ(nt_getpwsid_sid(foreign), nullptr);
  nt_sid_free(foreign);
}

TEST(NtAccounts, RootByNameSidAndQualifiedName) {
  nt_passwd_sid_t *root = nt_getpwnam_sid("root");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(std::string(root->pw_name), domain() + "\\root");
  EXPECT_EQ(root->pw_uid, 0u);
  EXPECT_EQ(sid_text(root->pw_sid), expected_domain_sid() + "-1000");
  EXPECT_EQ(sid_text(root->pw_group_sid), expected_domain_sid() + "-1001");

  // Qualified with the domain in any case, and the name in upper case.
  std::string lower_domain = domain();
  for (char &c : lower_domain) c = static_cast<char>(tolower(c));
  for (const std::string &name :
       {lower_domain + "\\root", std::string("ROOT")}) {
    nt_passwd_sid_t *again = nt_getpwnam_sid(name.c_str());
    ASSERT_NE(again, nullptr) << name;
    EXPECT_TRUE(nt_sid_equal(again->pw_sid, root->pw_sid)) << name;
    free(again);
  }
  nt_passwd_sid_t *by_sid = nt_getpwsid_sid(root->pw_sid);
  ASSERT_NE(by_sid, nullptr);
  EXPECT_STREQ(by_sid->pw_name, root->pw_name);
  EXPECT_STREQ(by_sid->pw_dir, root->pw_dir);
  free(by_sid);

  // The group SID of gid 0 names the group, not the user.
  EXPECT_EQ(nt_getpwsid_sid(root->pw_group_sid), nullptr);
  nt_group_sid_t *group = nt_getgrsid_sid(root->pw_group_sid);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->gr_gid, 0u);
  EXPECT_EQ(nt_getgrsid_sid(root->pw_sid), nullptr);
  free(group);
  free(root);

  EXPECT_EQ(nt_getpwnam_sid("OTHERDOMAIN\\root"), nullptr);
}

TEST(NtAccounts, UnknownNamesGiveNullWithEnoent) {
  const std::string name = TempAccounts::unique("nosuch");
  errno = 0;
  EXPECT_EQ(nt_getpwnam_sid(name.c_str()), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(nt_getgrnam_sid(name.c_str()), nullptr);
  EXPECT_EQ(nt_getpwnam_sid(""), nullptr);
  EXPECT_EQ(nt_getpwnam_sid((domain() + "\\").c_str()), nullptr);
  errno = 0;
  EXPECT_EQ(nt_getpwnam_sid(nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

TEST(NtAccounts, WellKnownGroups) {
  struct Case {
    int number;
    const char *text, *name, *qualified;
  };
  const Case cases[] = {
      {NT_ENUM_SID_EVERYONE, "S-1-1-0", "Everyone", "Everyone"},
      {NT_ENUM_SID_CREATOR_OWNER, "S-1-3-0", "CREATOR OWNER", "CREATOR OWNER"},
      {NT_ENUM_SID_NETWORK, "S-1-5-2", "network", "NT AUTHORITY\\NETWORK"},
      {NT_ENUM_SID_ADMINISTRATORS, "S-1-5-32-544", "ADMINISTRATORS",
       "BUILTIN\\Administrators"},
  };
  for (const Case &c : cases) {
    const nt_sid_t *sid = nt_get_enum_sid(c.number);
    EXPECT_EQ(sid_text(sid), c.text);
    EXPECT_TRUE(nt_sid_is_group(sid)) << c.text;
    nt_group_sid_t *by_name = nt_getgrnam_sid(c.name);
    ASSERT_NE(by_name, nullptr) << c.name;
    EXPECT_STREQ(by_name->gr_name, c.qualified);
    EXPECT_TRUE(nt_sid_equal(by_name->gr_sid, sid));
    EXPECT_EQ(by_name->gr_gid, NT_ID_NONE);
    free(by_name);
    nt_group_sid_t *by_sid = nt_getgrsid_sid(sid);
    ASSERT_NE(by_sid, nullptr);
    EXPECT_STREQ(by_sid->gr_name, c.qualified);
    free(by_sid);
    EXPECT_TRUE(nt_is_well_known_group_cred(c.qualified));
  }
  EXPECT_EQ(sid_text(nt_get_enum_sid(NT_ENUM_SID_NOBODY)), "S-1-0-0");
  EXPECT_FALSE(nt_sid_is_group(nt_get_enum_sid(NT_ENUM_SID_NOBODY)));
  EXPECT_EQ(nt_get_enum_sid(3), nullptr);
  EXPECT_FALSE(nt_is_well_known_group_cred("root"));
}

TEST(NtAccounts, ProcessIdentityAndGroups) {
  nt_sid_t *user = nt_get_user_sid();
  nt_sid_t *group = nt_getgroup_sid();
  ASSERT_NE(user, nullptr);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(nt_sid_to_uid(user), geteuid());
  EXPECT_EQ(nt_sid_to_uid(group), getegid());

  const int n = nt_getgroups_sid(0, nullptr);
  ASSERT_GE(n, 2);
  std::vector<nt_sid_t *> sids(static_cast<size_t>(n) + 1);
  ASSERT_EQ(nt_getgroups_sid(n + 1, sids.data()), n);
  EXPECT_TRUE(nt_sid_equal(sids[0], group));  // the effective group first
  bool everyone = false, admins = false;
  for (int i = 0; i < n; i++) {
    everyone |= nt_sid_equal(sids[i], nt_get_enum_sid(NT_ENUM_SID_EVERYONE));
    admins |=
        nt_sid_equal(sids[i], nt_get_enum_sid(NT_ENUM_SID_ADMINISTRATORS));
    for (int j = 0; j < i; j++) EXPECT_FALSE(nt_sid_equal(sids[i], sids[j]));
  }
  for (int i = 0; i < n; i++) nt_sid_free(sids[i]);
  EXPECT_TRUE(everyone);
  EXPECT_EQ(admins, geteuid() == 0);
  ASSERT_EQ(nt_getgroups_sid(1, sids.data()), 1);
  nt_sid_free(sids[0]);
  EXPECT_EQ(nt_getgroups_sid(-1, sids.data()), -1);

  char login[NT_ACCOUNT_NAME_MAX];
  nt_passwd_sid_t *me = nt_getpwsid_sid(user);
  if (me != nullptr) {
    EXPECT_STREQ(nt_getlogin(login, sizeof login), me->pw_name);
    EXPECT_STREQ(nt_get_my_homedir(nullptr, 0), me->pw_dir);
    errno = 0;
    EXPECT_EQ(nt_getlogin(login, 3), nullptr);
    EXPECT_EQ(errno, ERANGE);
    free(me);
  }
  nt_sid_free(user);
  nt_sid_free(group);
}

TEST(NtAccounts, DomainNameIsTheUpperCaseHostName) {
  char host[256];
  ASSERT_EQ(gethostname(host, sizeof host), 0);
  std::string upper = host;
  for (char &c : upper) c = static_cast<char>(toupper(c));
  char buf[NT_ACCOUNT_NAME_MAX];
  EXPECT_EQ(std::string(nt_get_domain_name(buf, sizeof buf)), upper);
  EXPECT_EQ(nt_get_domain_name(buf, upper.size()), nullptr);
}

TEST(NtAccounts, CreatedUserAndGroupsRoundTrip) {
  if (!TempAccounts::can_create()) GTEST_SKIP() << "needs root and useradd";
  TempAccounts acc;
  const std::string primary = TempAccounts::unique("ntg");
  const std::string extra = TempAccounts::unique("ntx");
  const std::string user = TempAccounts::unique("ntu");
  const long gid = acc.add_group(primary);
  ASSERT_GE(acc.add_group(extra), 0);
  const long uid = acc.add_user(user, primary, "Test User,Room 1",
                                "/nonexistent/" + user, extra);
  ASSERT_GE(uid, 0);
  ASSERT_GE(gid, 0);

  nt_passwd_sid_t *p = nt_getpwnam_sid((domain() + "\\" + user).c_str());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->pw_uid, static_cast<uint32_t>(uid));
  EXPECT_EQ(p->pw_gid, static_cast<uint32_t>(gid));
  EXPECT_STREQ(p->pw_gecos, "Test User");
  EXPECT_EQ(std::string(p->pw_dir), "/nonexistent/" + user);
  EXPECT_EQ(nt_sid_to_uid(p->pw_sid), static_cast<uint32_t>(uid));
  nt_group_sid_t *g = nt_getgrsid_sid(p->pw_group_sid);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(std::string(g->gr_name), domain() + "\\" + primary);
  nt_group_sid_t *g2 = nt_getgrnam_sid(primary.c_str());
  ASSERT_NE(g2, nullptr);
  EXPECT_TRUE(nt_sid_equal(g2->gr_sid, g->gr_sid));
  free(g);
  free(g2);
  free(p);
}

// nt_is_privileged's answer in a child running as uid and gid 65534 with
// the given supplementary groups.
int privileged_as_nobody(const std::vector<gid_t> &groups) {
  return as_identity(65534, 65534, groups, nt_is_privileged);
}

TEST(NtAccounts, ProductGroupFromTheSettingsDecidesPrivilege) {
  if (!TempAccounts::can_create()) GTEST_SKIP() << "needs root and groupadd";
  TempAccounts acc;
  const std::string name = TempAccounts::unique("qmprod");
  const long gid = acc.add_group(name);
  ASSERT_GE(gid, 0);
  {
    ProductGroupSetting setting(name);
    EXPECT_EQ(std::string(nt_get_quillmere_group_name()), name);
    nt_sid_t *expected = nullptr;
    ASSERT_EQ(ntx_gid_to_sid(static_cast<uint32_t>(gid), &expected), 0);
    const nt_sid_t *product = nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP);
    EXPECT_TRUE(nt_sid_equal(product, expected));

    EXPECT_EQ(nt_is_privileged(), 1);  // root
    EXPECT_EQ(privileged_as_nobody({}), 0);
    EXPECT_EQ(privileged_as_nobody({static_cast<gid_t>(gid)}), 1);

    nt_sid_t *nobody = nullptr;
    ASSERT_EQ(ntx_uid_to_sid(65534, &nobody), 0);
    const nt_sid_t *with_product[] = {nobody, expected};
    EXPECT_EQ(nt_is_privileged_sid_creds(nobody, nobody, 2, with_product), 1);
    EXPECT_EQ(nt_is_privileged_sid_creds(nobody, nobody, 1, with_product), 0);
    EXPECT_EQ(
        nt_is_privileged_sid_creds(
            nobody, nt_get_enum_sid(NT_ENUM_SID_ADMINISTRATORS), 0, nullptr),
        1);
    nt_sid_t *root = nullptr;
    ASSERT_EQ(ntx_uid_to_sid(0, &root), 0);
    EXPECT_EQ(nt_is_privileged_sid_creds(root, nullptr, 0, nullptr), 1);
    nt_sid_free(root);
    nt_sid_free(nobody);
    nt_sid_free(expected);
  }
  EXPECT_STREQ(nt_get_quillmere_group_name(), "quillmere");
}

}  // namespace
