// Account and group lookups and their caches against the host's accounts.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <orvexks/credutl.h>
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_env.h>

#include "account_fixture.h"

namespace {

std::string domain() { return nt_get_domain_name(nullptr, 0); }

std::string dump() {
  testing::internal::CaptureStdout();
  ntcreds_dump_cache();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// The lines of the dump's table `name`, up to the blank line after it.
std::string dump_table(const std::string &all, const std::string &name) {
  const size_t start = all.find(name + "\n");
  if (start == std::string::npos) return "";
  const size_t end = all.find("\n\n", start);
  return all.substr(start, end - start);
}

TEST(CredutlLookup, NobodyIsFixedAndPlaceholderSidsHaveNoAccount) {
  credutl_passwd_sid_t *p = credutl_getpwnam("NOBODY");
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->user.name, "nobody");
  EXPECT_EQ(p->user.uid, CREDUTL_ID_NOBODY);
  EXPECT_EQ(p->group.gid, CREDUTL_ID_NOBODY);
  EXPECT_TRUE(credutl_sid_eq(&p->user.sid, &CREDUTL_SID_NOBODY));
  EXPECT_TRUE(credutl_sid_eq(&p->group.sid, &CREDUTL_SID_NOBODY));
  credutl_group_sid_t *g = credutl_getgrnam("Nobody");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->gid, CREDUTL_ID_NOBODY);
  EXPECT_TRUE(credutl_sid_eq(&g->sid, &CREDUTL_SID_NOBODY));

  EXPECT_EQ(credutl_getpwsid(&CREDUTL_SID_DONTCARE), nullptr);
  EXPECT_EQ(credutl_getpwsid(&CREDUTL_SID_NOBODY), nullptr);
  EXPECT_EQ(credutl_getgrsid(&CREDUTL_SID_DONTCARE), nullptr);
  EXPECT_EQ(credutl_getpwuid(CREDUTL_ID_NOBODY), nullptr);
  EXPECT_EQ(credutl_getgrgid(CREDUTL_ID_DONTCARE), nullptr);
  EXPECT_EQ(credutl_getpwnam(TempAccounts::unique("nosuch").c_str()), nullptr);
  EXPECT_EQ(credutl_getgrnam(TempAccounts::unique("nosuch").c_str()), nullptr);
}

TEST(CredutlLookup, RootRoundTripsByNameIdAndSid) {
  credutl_passwd_sid_t *p = credutl_getpwnam("root");
  ASSERT_NE(p, nullptr);
  const std::string qualified = domain() + "\\root";
  EXPECT_EQ(std::string(p->user.name), qualified);
  EXPECT_EQ(p->user.uid, 0u);
  EXPECT_EQ(p->user.sid.type, CREDUTL_SID_TYPE_NT);
  const credutl_sid_t user_sid = p->user.sid;
  const credutl_sid_t group_sid = p->group.sid;
  EXPECT_EQ(std::string(p->group.name), domain() + "\\root");

  for (const std::string &name : {qualified, std::string("ROOT")}) {
    credutl_passwd_sid_t *again = credutl_getpwnam(name.c_str());
    ASSERT_NE(again, nullptr) << name;
    EXPECT_TRUE(credutl_sid_eq(&again->user.sid, &user_sid)) << name;
  }
  credutl_passwd_sid_t *by_uid = credutl_getpwuid(0);
  ASSERT_NE(by_uid, nullptr);
  EXPECT_EQ(std::string(by_uid->user.name), qualified);
  credutl_passwd_sid_t *by_sid = credutl_getpwsid(&user_sid);
  ASSERT_NE(by_sid, nullptr);
  EXPECT_EQ(std::string(by_sid->user.name), qualified);

  credutl_sid_t unix_uid0, unix_gid0;
  credutl_unix_uid_to_sid(0, &unix_uid0);
  credutl_unix_gid_to_sid(0, &unix_gid0);
  credutl_passwd_sid_t *by_unix = credutl_getpwsid(&unix_uid0);
  ASSERT_NE(by_unix, nullptr);
  EXPECT_EQ(std::string(by_unix->user.name), qualified);
  EXPECT_EQ(credutl_getpwsid(&unix_gid0), nullptr);  // a gid SID is no user

  credutl_group_sid_t *g = credutl_getgrsid(&group_sid);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->gid, 0u);
  credutl_group_sid_t *g_unix = credutl_getgrsid(&unix_gid0);
  ASSERT_NE(g_unix, nullptr);
  EXPECT_TRUE(credutl_sid_eq(&g_unix->sid, &group_sid));
  EXPECT_EQ(credutl_getgrsid(&user_sid), nullptr);  // a user SID is no group
}

TEST(CredutlLookup, RecordsArePerThread) {
  credutl_passwd_sid_t *mine = credutl_getpwnam("root");
  ASSERT_NE(mine, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; i++)
    threads.emplace_back([] {
      for (int k = 0; k < 200; k++) {
        credutl_passwd_sid_t *p = credutl_getpwnam("nobody");
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(p->user.name, "nobody");
        ASSERT_NE(credutl_getgrgid(0), nullptr);
      }
    });
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(std::string(mine->user.name), domain() + "\\root");
}

TEST(CredutlLookup, ProcessSidsAndGroupsWithTheLimit) {
  nt_sid_t *nt_user = nt_get_user_sid();
  ASSERT_NE(nt_user, nullptr);
  credutl_sid_t expected;
  credutl_nt_sid_to_sid(nt_user, &expected);
  nt_sid_free(nt_user);
  EXPECT_TRUE(credutl_sid_eq(credutl_getusid(), &expected));
  EXPECT_EQ(credutl_sid_to_gid(credutl_getgsid()), getegid());

  const int n = credutl_getgroups(0, nullptr);
  ASSERT_GE(n, 2);
  std::vector<credutl_sid_t> sids(static_cast<size_t>(n) + 40);
  EXPECT_EQ(credutl_getgroups(static_cast<int>(sids.size()), sids.data()), n);
  EXPECT_TRUE(credutl_sid_eq(&sids[0], credutl_getgsid()));
  EXPECT_EQ(credutl_getgroups(-n, sids.data()), n);

  ASSERT_EQ(nt_putenv_safe("QUILLMERE_GRP_LIMIT=1"), 0);
  EXPECT_EQ(credutl_getgroups(32, sids.data()), 1);
  ASSERT_EQ(nt_putenv_safe("QUILLMERE_GRP_LIMIT=many"), 0);
  EXPECT_EQ(credutl_getgroups(32, sids.data()), n);
  nt_putenv_safe("QUILLMERE_GRP_LIMIT=");
}

TEST(CredutlLookup, PreloadCachesOwnShortNameAndDumpShowsTheTables) {
  credutl_passwd_sid_t *me = credutl_getpwsid(credutl_getusid());
  ASSERT_NE(me, nullptr);
  const std::string own = me->user.name;
  const credutl_uid_t own_uid = me->user.uid;      // the next lookup reuses *me
  ASSERT_NE(credutl_getpwnam("nobody"), nullptr);  // runs the preload
  const std::string short_name = own.substr(own.find('\\') + 1);

  const std::string all = dump();
  const std::string names = dump_table(all, "User name->Passwd info");
  EXPECT_NE(names.find("    " + short_name + " -> User: " + own),
            std::string::npos)
      << names;
  // The key keeps the case of the first lookup that entered it.
  EXPECT_NE(
      names.find(" -> User: nobody UID: -2 (0xfffffffe) NOBODY "
                 "Group: nobody GID: -2 (0xfffffffe) NOBODY Gecos:  Home: "),
      std::string::npos)
      << names;
  const std::string uids = dump_table(all, "Uid->Passwd info");
  const std::string uid_key = "    " + std::to_string(own_uid) + " (0x";
  EXPECT_NE(uids.find(uid_key), std::string::npos) << uids;
  for (const char *table : {"Sid->Passwd info", "Gid->Group info",
                            "Group name->Group info", "Sid->Group info"})
    EXPECT_NE(all.find(std::string(table) + "\n"), std::string::npos) << table;
  EXPECT_EQ(all.find("QMFS Login Credential"), std::string::npos);
}

TEST(CredutlLookup, CreatedAccountsGroupsAndCacheLimits) {
  if (!TempAccounts::can_create()) GTEST_SKIP() << "needs root and useradd";
  TempAccounts acc;
  const std::string group = TempAccounts::unique("clg");
  const std::string user = TempAccounts::unique("clu");
  const std::string longhome_user = TempAccounts::unique("cll");
  const long gid = acc.add_group(group);
  ASSERT_GE(gid, 0);
  ASSERT_GE(acc.add_user(user, group, "Cached Person", "/home/" + user, ""), 0);
  std::string home60 = "/tmp/";
  home60.append(60 - home60.size(), 'h');
  ASSERT_GE(acc.add_user(longhome_user, group, "", home60, ""), 0);

  credutl_passwd_sid_t *p = credutl_getpwnam(user.c_str());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p->group.name), domain() + "\\" + group);
  EXPECT_EQ(p->group.gid, static_cast<uint32_t>(gid));
  EXPECT_STREQ(p->gecos, "Cached Person");
  const credutl_sid_t group_sid = p->group.sid;
  credutl_group_sid_t *g = credutl_getgrnam((domain() + "\\" + group).c_str());
  ASSERT_NE(g, nullptr);
  EXPECT_TRUE(credutl_sid_eq(&g->sid, &group_sid));

  // A 60-character home is returned whole but never cached.
  credutl_passwd_sid_t *l = credutl_getpwnam(longhome_user.c_str());
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(std::string(l->home), home60);
  const std::string all = dump();
  EXPECT_NE(all.find(user + " -> User:"), std::string::npos);
  EXPECT_EQ(all.find(longhome_user), std::string::npos);
}

TEST(CredutlLookup, GroupBySidCacheUpdateIsConsultedFirst) {
  credutl_sid_t sid;
  ASSERT_EQ(credutl_str_to_sid("NT:S-1-5-21-9-9-9-4242", &sid), 0);
  EXPECT_EQ(credutl_getgrsid(&sid), nullptr);
  credutl_group_sid_t rec = {const_cast<char *>("REMOTE\\builders"), 77, sid};
  ntcreds_update_getgrsid_cache(&sid, &rec);
  credutl_group_sid_t *g = credutl_getgrsid(&sid);
  ASSERT_NE(g, nullptr);
  EXPECT_STREQ(g->name, "REMOTE\\builders");
  EXPECT_EQ(g->gid, 77u);
  // Placeholder SIDs are never entered.
  ntcreds_update_getgrsid_cache(&CREDUTL_SID_DONTCARE, &rec);
  EXPECT_EQ(credutl_getgrsid(&CREDUTL_SID_DONTCARE), nullptr);
}

TEST(CredutlLookup, LoginCredentialTable) {
  unsigned char entry[NTLOGON_CRED_ENTRY_SIZE];
  credutl_sid_t sids[3];
  for (uint32_t i = 0; i < 3; i++) {
    credutl_unix_uid_to_sid(5000 + i, &sids[i]);
    memset(entry, static_cast<int>('a' + i), sizeof entry);
    memcpy(entry, &sids[i], sizeof sids[i]);
    ASSERT_EQ(ntlogon_cred_add_entry(entry), 0);
  }
  memset(entry + sizeof(credutl_sid_t), 'z',
         sizeof entry - sizeof(credutl_sid_t));
  ASSERT_EQ(ntlogon_cred_add_entry(entry), 0);  // replaces the third
  EXPECT_EQ(ntlogon_cred_delete_entry(&sids[0]), 0);
  EXPECT_EQ(ntlogon_cred_delete_entry(&sids[0]), ENOENT);

  ntlogon_cred_start_scan();
  void *cursor = nullptr;
  credutl_sid_t key;
  int seen = 0;
  while (ntlogon_cred_next_entry(&cursor, &key, entry)) {
    seen++;
    EXPECT_EQ(memcmp(entry, &key, sizeof key), 0);
    EXPECT_FALSE(credutl_sid_eq(&key, &sids[0]));
    const unsigned char last = entry[NTLOGON_CRED_ENTRY_SIZE - 1];
    EXPECT_EQ(last, credutl_sid_eq(&key, &sids[2]) ? 'z' : 'b');
  }
  ntlogon_cred_end_scan();
  EXPECT_EQ(seen, 2);
}

}  // namespace
