// Server object protection over real files in a temporary directory, with
// real accounts (created when the test runs as root, else the tests that
// need them skip): modes through the stored descriptor and back, protection
// changes and reports, access decisions, the identity files of a storage
// directory, ownership transfer, the host-name file and lock files.
#include <gtest/gtest.h>

#include <orvexks/fileutl.h>
#include <orvexks/server.h>

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_security.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "clientauth/client_settings.h"
#include "protect/acl_rows.h"
#include "protect/server_owner_file.h"
#include "scratch_dir.h"

namespace {

// Accounts shared by every test: the product group, three groups and three
// users (the owner; a member of the owner's group through a supplementary
// group; an outsider).
struct Accounts : ::testing::Environment {
  void SetUp() override {
    settings = new ClientSettings(true);
    if (!settings->has_product_group()) return;
    for (auto &g : group_names) {
      g = TempAccounts::unique("qmg");
      gids.push_back(accounts.add_group(g));
    }
    const std::string users[3][2] = {{"qmown", group_names[0]},
                                     {"qmmem", group_names[2]},
                                     {"qmout", group_names[1]}};
    for (int i = 0; i < 3; ++i) {
      const std::string name = TempAccounts::unique(users[i][0].c_str());
      uids.push_back(accounts.add_user(name, users[i][1], "", "/",
                                       i == 1 ? group_names[0] : ""));
    }
    ready = true;
  }
  void TearDown() override { delete settings; }

  ClientSettings *settings = nullptr;
  TempAccounts accounts;
  std::string group_names[3];
  std::vector<long> gids, uids;
  bool ready = false;
};

Accounts *env =
    static_cast<Accounts *>(::testing::AddGlobalTestEnvironment(new Accounts));

credutl_sid_t user_sid(int i) {
  return uid_sid(static_cast<uint32_t>(env->uids[i]));
}
credutl_sid_t group_sid(int i) {
  return gid_sid(static_cast<uint32_t>(env->gids[i]));
}

credutl_sid_credentials_t creds(int user, int group) {
  credutl_sid_credentials_t c = {};
  c.user = user < 0 ? CREDUTL_SID_DONTCARE : user_sid(user);
  c.group = group < 0 ? CREDUTL_SID_DONTCARE : group_sid(group);
  return c;
}

struct stat status(const std::string &path) {
  struct stat st = {};
  lstat(path.c_str(), &st);
  return st;
}

unsigned mode_bits(const std::string &path) {
  return status(path).st_mode & 0777;
}

// The mode path's stored descriptor gives (-5 when it cannot be read).
int stored_mode(const std::string &path, server_fsobj_prot_t *prot) {
  int mode = -5;
  server_get_fsobj_protections(path.c_str(), 1, prot, &mode);
  return mode;
}

// Whether path's protections are want's under mask (-1: the check failed);
// its report into *report when one is asked for.
int matches(const std::string &path, const server_fsobj_prot_t &want, int mask,
            std::string *report = nullptr) {
  int ok = -1;
  char *text = nullptr;
  if (server_check_fsobj_protections(path.c_str(), &want, mask, &ok,
                                     report != nullptr ? &text : nullptr) != 0)
    return -1;
  if (report != nullptr) *report = text != nullptr ? text : "";
  free(text);
  return ok;
}

// Replaces path's descriptor with one of the given owner, group and entries.
void store_sd(const std::string &path, const nt_sid_t *owner,
              const nt_sid_t *group, const nt_ace_info_t *aces, int n) {
  nt_security_descriptor_t *sd = nullptr;
  size_t size = 0;
  ASSERT_EQ(nt_sd_build(owner, group, aces, n, &sd, &size), 0);
  EXPECT_EQ(
      nt_set_file_security(path.c_str(), NT_ALL_SECURITY_INFORMATION, sd, size),
      0);
  nt_sd_free(sd);
}

// The DACL entries of path's stored descriptor.
std::vector<nt_ace_info_t> entries(const std::string &path, void **keep) {
  std::vector<nt_ace_info_t> out;
  nt_sd_info_t info;
  if (server_get_file_sd(path.c_str(), keep) != 0 ||
      nt_sd_parse(*keep, NT_SD_MAX_SIZE, &info) != 0)
    return out;
  for (int i = 0; i < nt_acl_count(info.dacl); ++i) {
    nt_ace_info_t ace;
    nt_acl_get_ace(info.dacl, i, &ace);
    out.push_back(ace);
  }
  return out;
}

// The owner (primary group owner_group), a member of group 0 through a
// supplementary group, and the outsider, as whole credentials.
std::array<credutl_whole_credentials_t, 3> callers(int owner_group) {
  static credutl_sid_t member_groups[1];
  member_groups[0] = group_sid(0);
  return {{{user_sid(0), group_sid(owner_group), 0, nullptr},
           {user_sid(1), group_sid(2), 1, member_groups},
           {user_sid(2), group_sid(1), 0, nullptr}}};
}

class ServerProtect : public ScratchTest {
 protected:
  void SetUp() override {
    if (!env->ready) GTEST_SKIP() << "needs root, useradd and groupadd";
  }
};

TEST_F(ServerProtect, EveryModeRoundTripsThroughTheDescriptorAndTheDisk) {
  const credutl_sid_credentials_t c = creds(0, 0);
  for (int is_dir = 0; is_dir < 2; ++is_dir) {
    for (int mode = 0; mode <= 0777; ++mode) {
      const std::string p = path((is_dir ? "d" : "f") + std::to_string(mode));
      ASSERT_EQ(server_create_fsobj(p.c_str(), &c, mode, is_dir), 0) << p;
      server_fsobj_prot_t prot;
      EXPECT_EQ(stored_mode(p, &prot), mode) << p;
      const struct stat st = status(p);
      EXPECT_EQ(static_cast<int>(st.st_mode & 0777), mode) << p;
      EXPECT_EQ(static_cast<long>(st.st_uid), env->uids[0]);
      EXPECT_EQ(static_cast<long>(st.st_gid), env->gids[0]);
      EXPECT_TRUE(credutl_sid_eq(&prot.owner, &c.user));
      EXPECT_TRUE(credutl_sid_eq(&prot.group, &c.group));
    }
  }
  const credutl_sid_credentials_t again = creds(1, 1);
  EXPECT_EQ(server_create_fsobj(path("f0").c_str(), &again, 0644, 0), EEXIST);
}

TEST_F(ServerProtect, LayoutMasksAndInheritOnlyEntriesFollowTheObjectKind) {
  const credutl_sid_credentials_t c = creds(0, 0);
  ASSERT_EQ(server_create_fsobj(path("f").c_str(), &c, 0755, 0), 0);
  ASSERT_EQ(server_create_fsobj(path("d").c_str(), &c, 0755, 1), 0);
  void *file_sd = nullptr, *dir_sd = nullptr;
  const auto f = entries(path("f"), &file_sd);
  const auto d = entries(path("d"), &dir_sd);
  // Network deny, group, Everyone, owner, product group, Administrators.
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0].type, NT_ACCESS_DENIED_ACE_TYPE);
  EXPECT_EQ(f[1].mask, 0x1200a9u);
  EXPECT_EQ(f[2].mask, 0x1200a9u);
  EXPECT_EQ(f[3].mask, 0x1f01bfu);
  int inherit_only = 0;
  for (const auto &ace : d)
    inherit_only += (ace.flags & NT_INHERIT_ONLY_ACE) != 0;
  EXPECT_EQ(inherit_only, 4);
  for (const auto &ace : f) EXPECT_EQ(ace.flags, 0);
  server_sd_free(file_sd);
  server_sd_free(dir_sd);

  // Network writes leave the deny entry out; removing it keeps the layout.
  EXPECT_EQ(server_enable_network_write(1), 0);
  ASSERT_EQ(server_create_fsobj(path("n").c_str(), &c, 0644, 0), 0);
  EXPECT_EQ(server_enable_network_write(0), 1);
  void *n_sd = nullptr;
  EXPECT_EQ(entries(path("n"), &n_sd).size(), 5u);
  server_sd_free(n_sd);
  ASSERT_EQ(server_remove_network_denied_ace(path("f").c_str()), 0);
  EXPECT_EQ(entries(path("f"), &file_sd).size(), 5u);
  server_sd_free(file_sd);
  server_fsobj_prot_t prot;
  EXPECT_EQ(stored_mode(path("f"), &prot), 0755);
}

TEST_F(ServerProtect, ProtectingChangesModeOwnerAndReadOnlyAsAsked) {
  const std::string p = path("f");
  const credutl_sid_credentials_t c = creds(0, 0);
  const credutl_sid_credentials_t keep = creds(-1, -1);
  ASSERT_EQ(server_create_fsobj(p.c_str(), &c, 0444, 0), 0);
  EXPECT_EQ(mode_bits(p) & 0222, 0u);  // read-only
  ASSERT_EQ(server_protect_fsobj(p.c_str(), &keep, 0, 0200), 0);
  EXPECT_EQ(mode_bits(p), 0644u);
  ASSERT_EQ(server_protect_fsobj(p.c_str(), &keep, -1, 0640), 0);
  EXPECT_EQ(mode_bits(p), 0640u);
  ASSERT_EQ(server_protect_fsobj(p.c_str(), &keep, 0040, 0), 0);
  EXPECT_EQ(mode_bits(p), 0600u);
  // A new owner, the group kept.
  const credutl_sid_credentials_t to_other = creds(2, -1);
  ASSERT_EQ(server_protect_fsobj(p.c_str(), &to_other, 0, -1), 0);
  const struct stat st = status(p);
  EXPECT_EQ(static_cast<long>(st.st_uid), env->uids[2]);
  EXPECT_EQ(static_cast<long>(st.st_gid), env->gids[0]);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ServerProtect, ChecksReportWhatDiffers) {
  const std::string p = path("f");
  const credutl_sid_credentials_t c = creds(0, 0);
  ASSERT_EQ(server_create_fsobj(p.c_str(), &c, 0644, 0), 0);
  server_fsobj_prot_t want = {c.user, c.group, 0644};
  std::string text;
  EXPECT_EQ(matches(p, want, -1, &text), 1);
  EXPECT_EQ(text.find("*WRONG*"), std::string::npos) << text;

  want.mode = 0444;
  EXPECT_EQ(matches(p, want, -1, &text), 0);
  EXPECT_EQ(text.find("Expected protections:\n"), 0u) << text;
  EXPECT_NE(text.find("mode:  0444  \n"), std::string::npos) << text;
  EXPECT_NE(text.find("mode:  0644  *WRONG*\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Needs readonly attribute set\n"), std::string::npos);
  // Under a clear mask only the bits it covers count.
  for (auto [mode, mask, same] :
       {std::array{0444, 0222, 0}, std::array{0060, 0070, 0},
        std::array{0044, 0077, 1}}) {
    want.mode = mode;
    EXPECT_EQ(matches(p, want, mask), same) << std::oct << mask;
  }

  // Ownership only.
  EXPECT_EQ(matches(p, {user_sid(2), c.group, 0}, 0, &text), 0);
  EXPECT_EQ(text.find("Expected ownership:\n"), 0u) << text;
  EXPECT_NE(text.find("Actual ownership:\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("mode:"), std::string::npos) << text;
}

TEST_F(ServerProtect, ForeignDescriptorsAreUnknownStyleAndNeverGuessed) {
  const std::string p = path("f");
  const credutl_sid_credentials_t c = creds(0, 0);
  ASSERT_EQ(server_create_fsobj(p.c_str(), &c, 0644, 0), 0);
  uint8_t owner[NT_SID_MAX_LENGTH];
  credutl_sid_to_nt_sid(&c.user, sizeof owner, owner);
  const nt_sid_t *sid = reinterpret_cast<const nt_sid_t *>(owner);
  const nt_ace_info_t only = {NT_ACCESS_ALLOWED_ACE_TYPE, 0, 0x120089, sid};
  store_sd(p, sid, sid, &only, 1);
  server_fsobj_prot_t prot;
  EXPECT_EQ(stored_mode(p, &prot), SERVER_MODE_UNKNOWN);
  const credutl_sid_credentials_t keep = creds(-1, -1);
  EXPECT_EQ(server_protect_fsobj(p.c_str(), &keep, 0, 0200), EINVAL);
  std::string text;
  EXPECT_EQ(matches(p, {c.user, c.group, 0644}, -1, &text), 0);
  EXPECT_NE(text.find("Unknown style protections: "), std::string::npos);
  int granted = -1;
  credutl_whole_credentials_t who = {c.user, c.group, 0, nullptr};
  EXPECT_EQ(server_check_fsobj_access(p.c_str(), &who, 0, &granted), EACCES);

  // The older layout, with the product group second, is still read.
  uint8_t group[NT_SID_MAX_LENGTH];
  credutl_sid_to_nt_sid(&c.group, sizeof group, group);
  const nt_sid_t *gsid = reinterpret_cast<const nt_sid_t *>(group);
  const nt_ace_info_t older[] = {
      {NT_ACCESS_ALLOWED_ACE_TYPE, 0, NT_FILE_ALL_ACCESS,
       nt_get_enum_sid(NT_ENUM_SID_ADMINISTRATORS)},
      {NT_ACCESS_ALLOWED_ACE_TYPE, 0, NT_FILE_ALL_ACCESS,
       nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP)},
      {NT_ACCESS_ALLOWED_ACE_TYPE, 0, 0x1f01bf, sid},
      {NT_ACCESS_ALLOWED_ACE_TYPE, 0, 0x1200a9, gsid},
      {NT_ACCESS_ALLOWED_ACE_TYPE, 0, 0x120089,
       nt_get_enum_sid(NT_ENUM_SID_EVERYONE)}};
  store_sd(p, sid, gsid, older, 5);
  EXPECT_EQ(stored_mode(p, &prot), 0754);
  EXPECT_TRUE(credutl_sid_eq(&prot.owner, &c.user));
  EXPECT_TRUE(credutl_sid_eq(&prot.group, &c.group));
}

TEST_F(ServerProtect, AccessFollowsOwnerGroupAndOtherBits) {
  const std::string p = path("f");
  const credutl_sid_credentials_t c = creds(0, 0);
  ASSERT_EQ(server_create_fsobj(p.c_str(), &c, 0664, 0), 0);
  const auto who = callers(0);  // owner, member, outsider
  for (auto [caller, write, expected] :
       {std::array{0, 1, 0200}, std::array{1, 1, 020}, std::array{2, 1, 0},
        std::array{2, 0, 04}}) {
    int granted = -1;
    ASSERT_EQ(
        server_check_fsobj_access(p.c_str(), &who[caller], write, &granted), 0);
    EXPECT_EQ(granted, expected) << caller << " " << write;
  }
}

TEST_F(ServerProtect, AccessListsDecideAccessAndAreCompared) {
  const std::string p = path("f");
  const credutl_sid_credentials_t c = creds(0, 0);
  // Owner read-write, group read, nothing for the outsider or others.
  sysutl_acl_t acl = make_acl({{SYSUTL_ACL_USER_OBJ, user_sid(0), 6},
                               {SYSUTL_ACL_USER, user_sid(2), 0},
                               {SYSUTL_ACL_GROUP_OBJ, group_sid(0), 4},
                               {SYSUTL_ACL_OTHER, {}, 0}});
  ASSERT_EQ(server_create_fsobj_acl(p.c_str(), &c, 0, acl, 0), 0);
  const auto who = callers(1);  // owner, member, outsider
  int granted = -1;
  for (auto [caller, write, expected] :
       {std::array{0, 1, 1}, std::array{1, 1, 0}, std::array{1, 0, 1},
        std::array{2, 0, 0}}) {
    ASSERT_EQ(
        server_check_fsobj_access_acl(p.c_str(), &who[caller], write, &granted),
        0);
    EXPECT_EQ(granted, expected) << caller << " " << write;
  }

  // The same list compares equal; once the file's list gains group write it
  // no longer does, and the report shows both lists.
  const server_fsobj_prot_t want = {*credutl_getusid(), group_sid(0), 0};
  int ok = -1;
  char *report = nullptr;
  ASSERT_EQ(server_check_fsobj_protections_acl(p.c_str(), &want, 0, acl, &ok,
                                               nullptr),
            0);
  EXPECT_EQ(ok, 1);
  ASSERT_EQ(server_protect_fsobj_acl(p.c_str(), &c, 0, 020, 1, nullptr), 0);
  ASSERT_EQ(server_check_fsobj_protections_acl(p.c_str(), &want, 0, acl, &ok,
                                               &report),
            0);
  EXPECT_EQ(ok, 0);
  const std::string text = report;
  free(report);
  EXPECT_NE(text.find("GROUP_OBJ"), std::string::npos) << text;
  EXPECT_NE(text.find("*WRONG*"), std::string::npos) << text;
  ASSERT_EQ(server_check_fsobj_access_acl(p.c_str(), &who[1], 1, &granted), 0);
  EXPECT_EQ(granted, 1);
  sysutl_acl_free(&acl);
}

TEST_F(ServerProtect, IdentityFilesRecordOwnerGroupAndSupplementaryGroups) {
  credutl_sid_credentials_t ids = creds(0, 0);
  ids.ngroups = 2;
  ids.groups[0] = group_sid(1);
  ids.groups[1] = group_sid(2);
  ASSERT_EQ(server_set_ids_flag(dir_.c_str(), &ids, 1), 0);
  EXPECT_EQ(mode_bits(dir_), 0775u);
  EXPECT_EQ(static_cast<long>(status(dir_).st_uid), env->uids[0]);
  credutl_sid_credentials_t got;
  ASSERT_EQ(server_get_ids(dir_.c_str(), &got), 0);
  EXPECT_TRUE(credutl_sid_eq(&got.user, &ids.user));
  EXPECT_TRUE(credutl_sid_eq(&got.group, &ids.group));
  ASSERT_EQ(got.ngroups, 2);
  EXPECT_TRUE(credutl_sid_eq(&got.groups[1], &ids.groups[1]));

  // Adding: a new group goes last, a repeat is a warning, the product
  // group is refused; removing keeps the order of the rest.
  const credutl_sid_t g0 = group_sid(0);
  ASSERT_EQ(server_allow_add_group_id(dir_.c_str(), 1), 0);
  ASSERT_EQ(server_add_group_id(dir_.c_str(), &g0), 0);
  ASSERT_EQ(server_add_group_id(dir_.c_str(), &g0), 0);
  credutl_sid_t product;
  credutl_nt_sid_to_sid(nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP), &product);
  EXPECT_EQ(server_add_group_id(dir_.c_str(), &product), EINVAL);
  const credutl_sid_t g1 = group_sid(1);
  ASSERT_EQ(server_remove_group_id(dir_.c_str(), &g1), 0);
  ASSERT_EQ(server_allow_add_group_id(dir_.c_str(), 0), 0);
  ASSERT_EQ(server_get_ids(dir_.c_str(), &got), 0);
  ASSERT_EQ(got.ngroups, 2);
  EXPECT_TRUE(credutl_sid_eq(&got.groups[0], &ids.groups[1]));
  EXPECT_TRUE(credutl_sid_eq(&got.groups[1], &g0));

  // DONTCARE keeps what is recorded; a new group is recorded again.
  const credutl_sid_credentials_t keep = creds(-1, -1);
  ASSERT_EQ(server_set_ids(dir_.c_str(), &keep), 0);
  EXPECT_EQ(mode_bits(dir_), 0755u);
  ASSERT_EQ(server_get_ids(dir_.c_str(), &got), 0);
  EXPECT_EQ(got.ngroups, 2);
  const credutl_sid_t g2 = group_sid(2);
  ASSERT_EQ(server_replace_server_process_group(dir_.c_str(), nullptr, &g2), 0);
  ASSERT_EQ(server_get_ids(dir_.c_str(), &got), 0);
  EXPECT_TRUE(credutl_sid_eq(&got.group, &g2));
  EXPECT_EQ(static_cast<long>(status(dir_).st_gid), env->gids[2]);
}

TEST_F(ServerProtect, OwnershipOfATreeGoesToTheNewOwner) {
  const credutl_sid_credentials_t mine = creds(0, 0);
  ASSERT_EQ(server_create_fsobj(path("sub").c_str(), &mine, 0750, 1), 0);
  ASSERT_EQ(server_create_fsobj(path("sub/f").c_str(), &mine, 0640, 0), 0);
  ASSERT_EQ(server_create_fsobj(path("g").c_str(), &mine, 0444, 0), 0);
  const credutl_sid_credentials_t next = creds(2, 0);
  ASSERT_EQ(ksi_write_owner_file(dir_.c_str(), next), 0);
  int done = 0;
  ASSERT_EQ(server_take_ownership(dir_.c_str(), &done), 0);
  EXPECT_EQ(done, 1);
  for (const char *name : {"sub", "sub/f", "g", "new.owner"}) {
    const struct stat st = status(path(name));
    EXPECT_EQ(static_cast<long>(st.st_uid), env->uids[2]) << name;
    EXPECT_EQ(static_cast<long>(st.st_gid), env->gids[0]) << name;
  }
  EXPECT_EQ(mode_bits(path("sub/f")), 0640u);

  // A server that may not change owners leaves the note and asks the new
  // owner to finish (the test below, run as the owner of "store").
  const std::string store = path("store");
  ASSERT_EQ(server_create_fsobj(store.c_str(), &mine, 0755, 1), 0);
  chmod(dir_.c_str(), 0755);
  const std::string arg = std::string(getenv("ORVEX_REGISTRY")) + "\n" + store +
                          "\n" + std::to_string(env->uids[2]) + "\n" +
                          std::to_string(env->gids[0]);
  EXPECT_EQ(rerun_as_user(static_cast<uid_t>(env->uids[0]),
                          static_cast<gid_t>(env->gids[0]), "ServerAsOwner.*",
                          "SERVER_HANDOVER", arg),
            0);

  // A damaged note changes nothing.
  chmod(path("new.owner").c_str(), 0644);
  spit(path("new.owner"), "only-one-field\n");
  EXPECT_EQ(server_take_ownership(dir_.c_str(), &done), EINVAL);
  EXPECT_EQ(done, 0);
}

// Run by the test above as the directory's owner, in a program of its own
// (this one, started again): SERVER_HANDOVER holds the settings, the
// directory, and the uid and gid to hand it to, one a line.
TEST(ServerAsOwner, HandOverWithoutPrivilegeAsksForARelogin) {
  const char *arg = getenv("SERVER_HANDOVER");
  if (arg == nullptr) GTEST_SKIP() << "started by the ownership test";
  std::istringstream lines(arg);
  std::string registry, store, uid, gid;
  std::getline(lines, registry);
  std::getline(lines, store);
  std::getline(lines, uid);
  std::getline(lines, gid);
  nt_putenv_safe(("ORVEX_REGISTRY=" + registry).c_str());
  credutl_sid_credentials_t next = {};
  credutl_uid_to_sid(&next.user, static_cast<credutl_uid_t>(std::stoul(uid)));
  credutl_gid_to_sid(&next.group, static_cast<credutl_gid_t>(std::stoul(gid)));
  testing::internal::CaptureStderr();
  EXPECT_EQ(server_set_ids(store.c_str(), &next), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Please re-login"),
            std::string::npos);
  EXPECT_EQ(access((store + "/new.owner").c_str(), F_OK), 0);
}

TEST_F(ServerProtect, TreesAreProtectedAndRemovedWhole) {
  const credutl_sid_credentials_t c = creds(0, 0);
  ASSERT_EQ(server_create_fsobj(path("t").c_str(), &c, 0755, 1), 0);
  ASSERT_EQ(server_create_fsobj(path("t/d").c_str(), &c, 0755, 1), 0);
  ASSERT_EQ(server_create_fsobj(path("t/d/f").c_str(), &c, 0444, 0), 0);
  const credutl_sid_credentials_t to = creds(2, 1);
  ASSERT_EQ(
      server_protect_tree(path("t").c_str(), &to, &to, -1, 0770, -1, 0660, 1),
      1);
  EXPECT_EQ(mode_bits(path("t/d")), 0770u);
  EXPECT_EQ(mode_bits(path("t/d/f")), 0660u);
  EXPECT_EQ(static_cast<long>(status(path("t/d/f")).st_gid), env->gids[1]);

  // Seen from a deep current directory, an object whose full name does not
  // fit is reported and left alone; the walk goes on and the result tells
  // of the failure.
  std::string deep = dir_;
  while (deep.size() < 900) {
    deep += "/" + std::string(100, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  const std::string far = deep + "/t/" + std::string(150, 'f');
  ASSERT_EQ(mkdir((deep + "/t").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(far.c_str(), 0700), 0);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(deep.c_str()), 0);
  testing::internal::CaptureStderr();
  const int all_done =
      server_protect_tree("t", &to, &to, -1, 0750, -1, 0640, 1);
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(all_done, 0);
  EXPECT_NE(err.find("Could not get an absolute pathname for \"t\\" +
                     std::string(150, 'f') + "\"."),
            std::string::npos)
      << err;
  EXPECT_EQ(mode_bits(deep + "/t"), 0750u);
  EXPECT_EQ(mode_bits(far), 0700u);
  EXPECT_EQ(server_remove_tree(path("t").c_str(), FILEUTL_WALK_QUIET), 0);
  EXPECT_FALSE(fileutl_exists(path("t").c_str(), 0));
  EXPECT_EQ(server_remove_fsobj(path("t").c_str()), ENOENT);
}

using ServerFiles = ScratchTest;

TEST_F(ServerFiles, HostnameFileNamesThisHostAnotherOrNone) {
  char buf[SERVER_HOSTNAME_SIZE];
  EXPECT_EQ(server_validate_hostname(dir_.c_str(), buf), 0);  // missing
  char me[256];
  ASSERT_EQ(gethostname(me, sizeof me), 0);
  const credutl_sid_credentials_t keep = creds(-1, -1);
  ASSERT_EQ(server_create_hostname_file(dir_.c_str(), me, &keep), 0);
  EXPECT_EQ(server_validate_hostname(dir_.c_str(), buf), 1);
  EXPECT_STREQ(buf, me);
  ASSERT_EQ(
      server_create_hostname_file(dir_.c_str(), "elsewhere.invalid", &keep), 0);
  EXPECT_EQ(server_validate_hostname(dir_.c_str(), buf), -1);
  EXPECT_STREQ(buf, "elsewhere.invalid");
  spit(path(".hostname"), "");
  EXPECT_EQ(server_validate_hostname(dir_.c_str(), buf), 0);
  EXPECT_STREQ(buf, "");
}

TEST_F(ServerFiles, LockIsExclusiveAcrossProcessesUntilCleared) {
  const std::string lock = dir_ + "/server.lock";
  int holder = 0;
  const int fd = server_lock_set(lock.c_str(), &holder);
  ASSERT_GE(fd, 0);
  auto child_tries = [&lock]() {
    return exit_code_in_child([&] {
      int seen = 0;
      const int rc = server_lock_set(lock.c_str(), &seen);
      return rc == SERVER_LOCK_HELD && seen == SERVER_LOCK_HOLDER_UNKNOWN ? 2
             : rc >= 0                                                    ? 0
                                                                          : 1;
    });
  };
  EXPECT_EQ(child_tries(), 2);
  ASSERT_EQ(server_lock_clear(lock.c_str(), fd), 0);
  EXPECT_FALSE(fileutl_exists(lock.c_str(), 0));
  EXPECT_EQ(child_tries(), 0);
  EXPECT_EQ(server_lock_set((dir_ + "/no/such/dir/lock").c_str(), &holder), -1);
}

}  // namespace
