// Tests of security identifier records, their text forms, hash and
// comparisons, and of the credentials records built from them.
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <orvexks/credutl.h>
#include <orvexks/stg.h>
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_sid.h>

namespace {

std::string Hex(const credutl_sid_t &sid) {
  std::string out;
  char byte[3];
  for (int i = 2; i < sid.length; ++i) {
    snprintf(byte, sizeof byte, "%02x", sid.data[i - 2]);
    out += byte;
  }
  return out;
}

std::string Text(const credutl_sid_t &sid) {
  char buf[CREDUTL_SID_STR_SIZE];
  return credutl_sid_to_str(&sid, buf);
}

credutl_sid_t Parse(const char *text) {
  credutl_sid_t sid;
  EXPECT_EQ(credutl_str_to_sid(text, &sid), 0) << text;
  return sid;
}

credutl_sid_t NtRecord(std::vector<uint32_t> subs, uint64_t authority = 5) {
  nt_sid_t *nt = nt_sid_alloc_from(
      authority, static_cast<unsigned>(subs.size()), subs.data());
  credutl_sid_t sid;
  credutl_nt_sid_to_sid(nt, &sid);
  nt_sid_free(nt);
  return sid;
}

credutl_sid_t UnixUid(credutl_uid_t uid) {
  credutl_sid_t sid;
  credutl_unix_uid_to_sid(uid, &sid);
  return sid;
}

TEST(CredutlSidText, PlaceholdersAndUnixForms) {
  EXPECT_EQ(Text(CREDUTL_SID_NOBODY), "NOBODY");
  EXPECT_EQ(Text(CREDUTL_SID_DONTCARE), "DONTCARE");
  credutl_sid_t nobody = Parse("NOBODY");
  EXPECT_TRUE(credutl_sid_eq(&nobody, &CREDUTL_SID_NOBODY));
  credutl_sid_t sid;
  EXPECT_EQ(credutl_str_to_sid("nobody", &sid), 1);

  sid = Parse("UNIX:UID-0");
  EXPECT_EQ(sid.length, 7);
  EXPECT_EQ(sid.type, CREDUTL_SID_TYPE_UNIX);
  EXPECT_EQ(Hex(sid), "0000000001");
  EXPECT_EQ(credutl_str_to_sid("UNIX:XID-0", &sid), 1);
  EXPECT_EQ(credutl_str_to_sid("UNIX:UID-", &sid), 1);
  EXPECT_EQ(credutl_str_to_sid("UNIX:UID-12x", &sid), 1);

  EXPECT_EQ(Text(UnixUid(1000)), "UNIX:UID-1000");
  EXPECT_EQ(Text(UnixUid(CREDUTL_ID_NOBODY)), "UNIX:UID--2");
  sid = Parse("UNIX:GID--2");
  EXPECT_EQ(credutl_sid_to_unix_gid(&sid), CREDUTL_ID_NOBODY);
  EXPECT_EQ(credutl_sid_to_unix_uid(&sid), CREDUTL_ID_NOBODY);  // wrong kind
  sid = Parse("UNIX:GID-4294967295");
  EXPECT_EQ(credutl_sid_to_unix_gid(&sid), CREDUTL_ID_DONTCARE);
}

TEST(CredutlSidText, RawForm) {
  char buf[CREDUTL_SID_STR_SIZE];
  credutl_sid_t uid1000 = UnixUid(1000);
  EXPECT_STREQ(credutl_sid_to_str_raw(&uid1000, buf), "SID:2.000003e801");
  credutl_sid_t back = Parse(buf);
  EXPECT_EQ(memcmp(&back, &uid1000, sizeof back), 0);

  // A damaged NT record of one byte has no NT form and is shown raw.
  credutl_sid_t sid = Parse("SID:3.01");
  EXPECT_EQ(Text(sid), "SID:3.01");
  EXPECT_EQ(credutl_str_to_sid("SID:300.00", &sid), 1);
  EXPECT_EQ(credutl_str_to_sid("SID:3", &sid), 1);
  // Bytes are read while two hex digits follow, at most 32 of them.
  sid = Parse("SID:7.ABc");
  EXPECT_EQ(sid.length, 3);
  EXPECT_EQ(sid.data[0], 0xab);
  sid = Parse(("SID:9." + std::string(80, 'f')).c_str());
  EXPECT_EQ(sid.length, 34);
  EXPECT_EQ(Text(sid), "SID:9." + std::string(64, 'f'));
  EXPECT_EQ(credutl_str_to_sid("XYZ", &sid), 1);
}

// Records and texts depend only on the SID's numbers, so they are the same
// on every machine and in every run.
TEST(CredutlSidText, NtRecordsArePinned) {
  credutl_sid_t sid = NtRecord({21, 1, 2, 3, 1000});
  EXPECT_EQ(sid.length, 30);
  EXPECT_EQ(sid.type, CREDUTL_SID_TYPE_NT);
  EXPECT_EQ(Hex(sid),
            "010500000000000500000015000000010000000200000003000003e8");
  EXPECT_EQ(credutl_sid_hash_fn(&sid), 0xc2df3c14u);
  credutl_sid_t uid1000 = UnixUid(1000);
  EXPECT_EQ(credutl_sid_hash_fn(&uid1000), 0x9f8036eeu);
  for (size_t i = sid.length - 2; i < sizeof sid.data; ++i)
    EXPECT_EQ(sid.data[i], 0);

  EXPECT_EQ(Text(sid), "NT:S-1-5-21-1-2-3-1000");
  credutl_sid_t back = Parse("NT:S-1-5-21-1-2-3-1000");
  EXPECT_EQ(memcmp(&back, &sid, sizeof sid), 0);
  EXPECT_EQ(credutl_str_to_sid("NT:S-1-5-x", &back), 1);
}

TEST(CredutlSid, NtConversionsAndFit) {
  credutl_sid_t six = NtRecord({21, 4000000000u, 2, 3, 4, 5});
  EXPECT_EQ(six.length, 34);
  unsigned char nt[CREDUTL_NT_SID_BUF_SIZE];
  credutl_sid_to_nt_sid(&six, sizeof nt, nt);
  auto *ntp = reinterpret_cast<const nt_sid_t *>(nt);
  EXPECT_EQ(nt_sid_get_sub_authority(ntp, 1), 4000000000u);
  credutl_sid_t again;
  credutl_nt_sid_to_sid(ntp, &again);
  EXPECT_EQ(memcmp(&again, &six, sizeof six), 0);

  credutl_sid_t seven = NtRecord({21, 1, 2, 3, 4, 5, 6});
  EXPECT_EQ(memcmp(&seven, &CREDUTL_SID_NOBODY, sizeof seven), 0);

  // The placeholders' NT form is the platform's stand-in SID.
  credutl_sid_to_nt_sid(&CREDUTL_SID_DONTCARE, sizeof nt, nt);
  EXPECT_TRUE(nt_sid_equal(ntp, nt_get_enum_sid(NT_ENUM_SID_NOBODY)));
}

TEST(CredutlSid, EqualityHashAndKeyComparison) {
  // A NOBODY record that carries a data byte is still the NOBODY key.
  credutl_sid_t a = CREDUTL_SID_NOBODY, b = CREDUTL_SID_NOBODY;
  b.length = 3;
  b.data[0] = 9;
  EXPECT_TRUE(credutl_sid_keycmp_fn(&a, &b));
  EXPECT_EQ(credutl_sid_hash_fn(&a), 0u);
  EXPECT_EQ(credutl_sid_hash_fn(&b), 0u);
  EXPECT_FALSE(credutl_sid_eq(&a, &b));
  EXPECT_EQ(credutl_sid_hash_fn(&CREDUTL_SID_DONTCARE), 1u);
  EXPECT_FALSE(
      credutl_sid_keycmp_fn(&CREDUTL_SID_NOBODY, &CREDUTL_SID_DONTCARE));

  // Bytes past the length do not take part in equality.
  credutl_sid_t u = UnixUid(5), v = UnixUid(5);
  v.data[20] = 1;
  EXPECT_TRUE(credutl_sid_eq(&u, &v));
  EXPECT_TRUE(credutl_sid_keycmp_fn(&u, &v));
  credutl_sid_t g;
  credutl_unix_gid_to_sid(5, &g);
  EXPECT_FALSE(credutl_sid_eq(&u, &g));
  EXPECT_FALSE(credutl_sid_keycmp_fn(&u, &g));

  credutl_sid_t odd = Parse("SID:200.0102");
  EXPECT_EQ(credutl_sid_hash_fn(&odd), 0u);
  EXPECT_FALSE(credutl_sid_keycmp_fn(&odd, &odd));
  EXPECT_TRUE(credutl_sid_eq(&odd, &odd));
}

TEST(CredutlCredentials, NumericNormalisation) {
  credutl_credentials_t c;
  const credutl_gid_t dup[] = {10, 7, 7, 3};
  ASSERT_EQ(credutl_init_credentials(1, 10, 4, dup, &c), 0);
  ASSERT_EQ(c.ngroups, 2);
  EXPECT_EQ(c.groups[0], 7u);
  EXPECT_EQ(c.groups[1], 3u);
  EXPECT_EQ(c.groups[2], 0u);
  const credutl_gid_t only_primary[] = {10, 10};
  credutl_init_credentials(1, 10, 2, only_primary, &c);
  EXPECT_EQ(c.ngroups, 0);
  EXPECT_TRUE(credutl_has_group(10, &c));
  const credutl_gid_t apart[] = {7, 3, 7};
  credutl_init_credentials(1, 10, 3, apart, &c);
  EXPECT_EQ(c.ngroups, 3);
  EXPECT_TRUE(credutl_has_group(3, &c));
  EXPECT_FALSE(credutl_has_group(4, &c));

  char buf[512];
  EXPECT_STREQ(credutl_credentials_to_str(&c, buf),
               "UID: 1 GID: 10 Groups: 7 3 7 ");
  c.ngroups = 0;
  EXPECT_STREQ(credutl_credentials_to_str(&c, buf), "UID: 1 GID: 10 ");
}

TEST(CredutlCredentials, SidNormalisationAndListEdits) {
  credutl_sid_t user = UnixUid(1), group = UnixUid(100);
  std::vector<credutl_sid_t> in = {group,      CREDUTL_SID_NOBODY,   UnixUid(7),
                                   UnixUid(7), CREDUTL_SID_DONTCARE, UnixUid(3),
                                   UnixUid(7)};
  for (uint32_t id = 200; id < 240; ++id) in.push_back(UnixUid(id));
  credutl_sid_credentials_t s;
  credutl_init_sid_credentials(&user, &group, static_cast<int>(in.size()),
                               in.data(), &s);
  // 32 are taken (7, 7, 3, 7, 200..227), then the repeated 7 is dropped.
  ASSERT_EQ(s.ngroups, 31);
  EXPECT_EQ(Text(s.groups[0]), "UNIX:UID-7");
  EXPECT_EQ(Text(s.groups[1]), "UNIX:UID-3");
  EXPECT_EQ(Text(s.groups[2]), "UNIX:UID-7");
  EXPECT_EQ(Text(s.groups[30]), "UNIX:UID-227");

  credutl_sid_t extra = UnixUid(999);
  EXPECT_EQ(credutl_add_group_sid_to_group_list(&s, &extra), 0);
  credutl_sid_credentials_t before = s;
  EXPECT_EQ(credutl_add_group_sid_to_group_list(&s, &extra), 1);
  EXPECT_EQ(memcmp(&before, &s, sizeof s), 0);

  credutl_sid_t absent = UnixUid(4242);
  EXPECT_EQ(credutl_remove_group_sid_from_group_list(&s, &absent), 0);
  EXPECT_EQ(s.ngroups, 32);
  credutl_sid_t three = UnixUid(3);
  EXPECT_EQ(credutl_remove_group_sid_from_group_list(&s, &three), 0);
  EXPECT_EQ(s.ngroups, 31);
  EXPECT_EQ(Text(s.groups[1]), "UNIX:UID-999");  // the last moved in
  EXPECT_FALSE(credutl_has_group_sid(&three, &s));
  EXPECT_TRUE(credutl_has_group_sid(&group, &s));
}

TEST(CredutlCredentials, UserMembership) {
  credutl_sid_t nt_group = NtRecord({21, 1, 2, 3, 1001});
  credutl_sid_t unix_group = UnixUid(50);
  credutl_sid_credentials_t s{};
  s.user = UnixUid(1);
  s.group = CREDUTL_SID_NOBODY;
  s.groups[0] = nt_group;
  s.groups[1] = unix_group;
  s.ngroups = 2;
  EXPECT_TRUE(credutl_has_user_sid(&s.user, &s));
  EXPECT_TRUE(credutl_has_user_sid(&nt_group, &s));
  EXPECT_FALSE(credutl_has_user_sid(&unix_group, &s));
  EXPECT_FALSE(credutl_has_user_sid(&CREDUTL_SID_NOBODY, &s));

  credutl_whole_credentials_t w{};
  ASSERT_EQ(credutl_sid_credentials_to_whole(&s, &w), 0);
  EXPECT_TRUE(credutl_has_user(&nt_group, &w));
  EXPECT_TRUE(credutl_has_group_whole(&unix_group, &w));
  EXPECT_TRUE(credutl_has_group_whole(&CREDUTL_SID_NOBODY, &w));
  credutl_free_whole_credentials(&w);
  EXPECT_EQ(w.groups, nullptr);
  EXPECT_EQ(w.ngroups, 0);
}

TEST(CredutlCredentials, WholeFormCopiesAndComparisons) {
  std::vector<credutl_sid_t> groups;
  for (uint32_t id = 0; id < 40; ++id) groups.push_back(UnixUid(id));
  credutl_whole_credentials_t w{UnixUid(1), UnixUid(2), 40, groups.data()};
  credutl_whole_credentials_t copy;
  ASSERT_EQ(credutl_copy_whole_credentials(&w, &copy), 0);
  EXPECT_NE(copy.groups, w.groups);
  EXPECT_TRUE(credutl_compare_whole_credentials(&w, &copy));
  copy.groups[39].data[3] = 0x77;
  EXPECT_FALSE(credutl_compare_whole_credentials(&w, &copy));
  credutl_free_whole_credentials(&copy);
}

TEST(CredutlCredentials, TextIsCutWithAPlus) {
  credutl_sid_t groups[3] = {UnixUid(7), UnixUid(8), UnixUid(9)};
  credutl_whole_credentials_t w{UnixUid(1), CREDUTL_SID_NOBODY, 3, groups};
  std::vector<char> buf(1024);
  EXPECT_STREQ(credutl_whole_credentials_to_str(&w, buf.size(), buf.data()),
               "UID: UNIX:UID-1 GID: NOBODY Groups: UNIX:UID-7 UNIX:UID-8 "
               "UNIX:UID-9 ");
  // Room for the header, "Groups: " and one group: "+ " marks the rest.
  EXPECT_STREQ(credutl_whole_credentials_to_str(&w, 55, buf.data()),
               "UID: UNIX:UID-1 GID: NOBODY Groups: UNIX:UID-7 + ");
  // No room for "+ ": the last character becomes '+'.
  EXPECT_STREQ(credutl_whole_credentials_to_str(&w, 49, buf.data()),
               "UID: UNIX:UID-1 GID: NOBODY Groups: UNIX:UID-7+");
  EXPECT_STREQ(credutl_whole_credentials_to_str(&w, 20, buf.data()),
               "UID: UNIX:UID-1 GI+");

  credutl_sid_credentials_t s{};
  s.user = UnixUid(1);
  s.group = UnixUid(2);
  EXPECT_STREQ(credutl_sid_credentials_to_str(&s, buf.data()),
               "UID: UNIX:UID-1 GID: UNIX:UID-2 ");
}

TEST(CredutlCredentials, NameRecordCopies) {
  char user[] = "HOST\\u", group[] = "HOST\\g", g1[] = "HOST\\a", g2[] = "b";
  credutl_string_credentials_t n{user, group, 2, {g1, g2}};
  credutl_whole_string_credentials_t whole, copy;
  ASSERT_EQ(credutl_string_credentials_to_whole_string_credentials(&n, &whole),
            0);
  ASSERT_EQ(credutl_copy_whole_string_credentials(&whole, &copy), 0);
  EXPECT_NE(copy.groups[1], whole.groups[1]);
  EXPECT_TRUE(credutl_compare_whole_string_credentials(&whole, &copy));
  copy.groups[1][0] = 'B';
  EXPECT_FALSE(credutl_compare_whole_string_credentials(&whole, &copy));
  credutl_free_whole_string_credentials(&copy);
  EXPECT_EQ(copy.user, nullptr);

  credutl_string_credentials_t inline_copy;
  ASSERT_EQ(credutl_copy_string_credentials(&n, &inline_copy), 0);
  EXPECT_STREQ(inline_copy.groups[0], "HOST\\a");
  EXPECT_EQ(inline_copy.groups[2], nullptr);
  credutl_free_string_credentials(&inline_copy);
  credutl_free_whole_string_credentials(&whole);
}

// Ids through the platform's mapping: users and groups have SIDs of their
// own although uid and gid numbers overlap.
TEST(CredutlPlatform, IdsAndSids) {
  credutl_sid_t sid;
  EXPECT_EQ(Text(*credutl_uid_to_sid(&sid, CREDUTL_ID_NOBODY)), "NOBODY");
  EXPECT_EQ(Text(*credutl_gid_to_sid(&sid, CREDUTL_ID_DONTCARE)), "DONTCARE");
  EXPECT_EQ(credutl_sid_to_uid(&CREDUTL_SID_DONTCARE), CREDUTL_ID_DONTCARE);

  credutl_sid_t user, group;
  credutl_uid_to_sid(&user, 0);
  credutl_gid_to_sid(&group, 0);
  EXPECT_EQ(user.type, CREDUTL_SID_TYPE_NT);
  EXPECT_FALSE(credutl_sid_eq(&user, &group));
  EXPECT_EQ(credutl_sid_to_uid(&user), 0u);
  EXPECT_EQ(credutl_sid_to_gid(&group), 0u);
  EXPECT_EQ(Text(user).rfind("NT:S-1-5-21-"), 0u);
  EXPECT_EQ(Text(user).substr(Text(user).size() - 5), "-1000");
  // A well-known SID has no host id.
  credutl_sid_t everyone;
  credutl_nt_sid_to_sid(nt_get_enum_sid(NT_ENUM_SID_EVERYONE), &everyone);
  EXPECT_EQ(credutl_sid_to_uid(&everyone), CREDUTL_ID_NOBODY);
  credutl_sid_t unix_uid = UnixUid(42);
  EXPECT_EQ(credutl_sid_to_uid(&unix_uid), 42u);

  credutl_credentials_t c{7, 8, 3, {9, CREDUTL_ID_NOBODY, CREDUTL_ID_DONTCARE}};
  credutl_sid_credentials_t s;
  credutl_credentials_to_sid_credentials(&c, &s);
  EXPECT_EQ(s.ngroups, 3);
  EXPECT_EQ(Text(s.groups[1]), "NOBODY");
  credutl_credentials_t back;
  credutl_sid_credentials_to_credentials(&s, &back);
  EXPECT_EQ(back.uid, 7u);
  EXPECT_EQ(back.gid, 8u);
  ASSERT_EQ(back.ngroups, 2);  // the NOBODY group is dropped
  EXPECT_EQ(back.groups[0], 9u);
  EXPECT_EQ(back.groups[1], CREDUTL_ID_DONTCARE);
}

TEST(CredutlPlatform, ProcessCredentialsAndNames) {
  credutl_sid_credentials_t s;
  ASSERT_EQ(credutl_get_sid_credentials(&s), 0);
  EXPECT_EQ(credutl_sid_to_uid(&s.user), geteuid());
  EXPECT_EQ(credutl_sid_to_gid(&s.group), getegid());
  EXPECT_FALSE(credutl_has_group_sid(&CREDUTL_SID_NOBODY, &s));

  credutl_whole_credentials_t w;
  ASSERT_EQ(credutl_get_whole_credentials(&w), 0);
  EXPECT_TRUE(credutl_sid_eq(&w.user, &s.user));
  for (int i = 0; i < w.ngroups; ++i)
    EXPECT_FALSE(credutl_sid_eq(&w.groups[i], &w.group));

  credutl_whole_string_credentials_t names;
  ASSERT_EQ(credutl_whole_credentials_to_whole_string_credentials(&w, &names),
            0);
  const passwd *pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  std::string user = names.user;
  EXPECT_EQ(user.substr(user.find('\\') + 1), pw->pw_name);
  credutl_whole_credentials_t again;
  ASSERT_EQ(
      credutl_whole_string_credentials_to_whole_credentials(&names, &again), 0);
  EXPECT_TRUE(credutl_sid_eq(&again.user, &w.user));
  EXPECT_TRUE(credutl_sid_eq(&again.group, &w.group));

  // Well-known groups (Everyone) are pruned; real groups stay.
  credutl_remove_well_known_groups(&s);
  for (int i = 0; i < s.ngroups; ++i) {
    credutl_group_sid_t *gr = credutl_getgrsid(&s.groups[i]);
    if (gr != nullptr) {
      EXPECT_EQ(nt_is_well_known_group_cred(gr->name), 0);
    }
  }

  credutl_credentials_t c{CREDUTL_ID_NOBODY, 0, 0, {}};
  credutl_string_credentials_t n;
  ASSERT_EQ(credutl_credentials_to_string_credentials(&c, &n), 0);
  EXPECT_STREQ(n.user, "nobody");
  credutl_free_string_credentials(&n);
  credutl_free_whole_string_credentials(&names);
  credutl_free_whole_credentials(&again);
  credutl_free_whole_credentials(&w);
}

TEST(CredutlDeathTest, BrokenInvariantsAreAssertions) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  credutl_gid_t gids[33] = {};
  credutl_credentials_t c;
  EXPECT_EXIT(credutl_init_credentials(0, 0, 33, gids, &c),
              testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(ngroup <= maxgroups\\) failed");
  EXPECT_EXIT(credutl_sid_to_unix_uid(&CREDUTL_SID_NOBODY),
              testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(sid_p->type == CREDUTL_SID_TYPE_UNIX\\) failed");
  credutl_sid_t bad_kind = UnixUid(1);
  bad_kind.data[4] = 3;
  char buf[CREDUTL_SID_STR_SIZE];
  EXPECT_EXIT(credutl_sid_to_str(&bad_kind, buf),
              testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(type == CREDUTL_SID_UNIX_UID \\|\\| type == "
              "CREDUTL_SID_UNIX_GID\\) failed");
  unsigned char nt[CREDUTL_NT_SID_BUF_SIZE];
  EXPECT_EXIT(credutl_sid_to_nt_sid(&bad_kind, sizeof nt, nt),
              testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(cred_sidp->type == CREDUTL_SID_TYPE_NT\\) failed");
}

}  // namespace
