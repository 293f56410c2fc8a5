// The security-descriptor layer on real files: the stored attribute, the
// POSIX mode it carries, damaged attributes, file systems without user
// extended attributes, and enforcement by the kernel for other users.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_security.h>

#include "nt_fixture.h"
#include "sd_fixture.h"

namespace {

// ---- an independent reading of the stored bytes --------------------------

struct RawAce {
  int type, flags;
  uint32_t mask;
  std::string sid;
};

struct RawSd {
  int control = 0;
  std::string owner, group;
  std::vector<RawAce> dacl;
};

uint32_t le(const std::string &b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--)
    v = v << 8 | static_cast<uint8_t>(b.at(at + i));
  return v;
}

std::string raw_sid(const std::string &b, size_t at) {
  std::string s = "S-" + std::to_string(static_cast<uint8_t>(b.at(at)));
  uint64_t auth = 0;
  for (int i = 2; i < 8; i++)
    auth = auth << 8 | static_cast<uint8_t>(b.at(at + i));
  s += "-" + std::to_string(auth);
  for (int i = 0; i < static_cast<uint8_t>(b.at(at + 1)); i++)
    s += "-" + std::to_string(le(b, at + 8 + 4 * i, 4));
  return s;
}

RawSd decode(const std::string &b) {
  RawSd sd;
  EXPECT_EQ(b.at(0), 1);
  sd.control = static_cast<int>(le(b, 2, 2));
  sd.owner = raw_sid(b, le(b, 4, 4));
  sd.group = raw_sid(b, le(b, 8, 4));
  const size_t acl = le(b, 16, 4);
  EXPECT_EQ(b.at(acl), 2);
  size_t at = acl + 8;
  for (uint32_t i = 0, n = le(b, acl + 4, 2); i < n; i++) {
    sd.dacl.push_back({static_cast<uint8_t>(b.at(at)),
                       static_cast<uint8_t>(b.at(at + 1)), le(b, at + 4, 4),
                       raw_sid(b, at + 8)});
    at += le(b, at + 2, 2);
  }
  EXPECT_EQ(at, acl + le(b, acl + 2, 2));
  return sd;
}

std::string stored_attr(const std::string &path) {
  std::string b(NT_SD_MAX_SIZE, '\0');
  const ssize_t n =
      getxattr(path.c_str(), NT_SD_XATTR_NAME, b.data(), b.size());
  b.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return b;
}

// ---- helpers -------------------------------------------------------------

struct Sd {
  nt_security_descriptor_t *bytes = nullptr;
  size_t size = 0;
  Sd() = default;
  Sd(const Sd &) = delete;
  ~Sd() { nt_sd_free(bytes); }
  nt_sd_info_t info() const {
    nt_sd_info_t i{};
    EXPECT_EQ(nt_sd_parse(bytes, size, &i), 0);
    return i;
  }
};

struct Sid {
  nt_sid_t *p = nullptr;
  explicit Sid(nt_sid_t *s) : p(s) {}
  Sid(const Sid &) = delete;
  ~Sid() { nt_sid_free(p); }
};

nt_sid_t *uid_sid(uid_t u) {
  nt_sid_t *s = nullptr;
  ntx_uid_to_sid(u, &s);
  return s;
}

nt_sid_t *gid_sid(gid_t g) {
  nt_sid_t *s = nullptr;
  ntx_gid_to_sid(g, &s);
  return s;
}

int disk_mode(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777)
                                      : -1;
}

int read_mode(const std::string &path) {
  Sd sd;
  if (nt_get_file_security(path.c_str(), NT_ALL_SECURITY_INFORMATION, &sd.bytes,
                           &sd.size) != 0)
    return -2;
  const nt_sd_info_t i = sd.info();
  return nt_sd_mode(&i);
}

// A group for the files' group that is neither the product group nor
// Administrators: the process's own.
class NtSecurity : public SdFixture {
 protected:
  // The entries of the descriptor stored on p: type, flags, mask, SID.
  using Entry = std::tuple<int, int, uint32_t, std::string>;
  static void expect_dacl(const RawSd &sd, const std::vector<Entry> &want) {
    ASSERT_EQ(sd.dacl.size(), want.size());
    for (size_t i = 0; i < want.size(); i++)
      EXPECT_EQ(std::make_tuple(sd.dacl[i].type, sd.dacl[i].flags,
                                sd.dacl[i].mask, sd.dacl[i].sid),
                want[i])
          << "entry " << i;
  }
  void create(const std::string &p, int mode, bool dir, uid_t u = geteuid(),
              gid_t g = getegid()) {
    Sid me(uid_sid(geteuid())), owner(uid_sid(u)), group(gid_sid(g));
    Sd sd;
    ASSERT_EQ(nt_sd_build_layout(me.p, owner.p, group.p, mode, dir, 0,
                                 &sd.bytes, &sd.size),
              0);
    ASSERT_EQ(nt_create_file_with_security(p.c_str(), dir, sd.bytes, sd.size),
              0);
  }
};

TEST_F(NtSecurity, EveryModeRoundTripsThroughTheDescriptorOnFilesAndDirs) {
  for (int dir = 0; dir < 2; dir++)
    for (int mode = 0; mode <= 0777; mode++) {
      const std::string p = path((dir ? "d" : "f") + std::to_string(mode));
      create(p, mode, dir);
      ASSERT_EQ(disk_mode(p), mode) << p;
      ASSERT_EQ(read_mode(p), mode) << p;
      ASSERT_FALSE(stored_attr(p).empty()) << p;
    }
  EXPECT_EQ(nt_create_file_with_security(path("f0").c_str(), 0, nullptr, 0),
            87);
  Sid me(uid_sid(geteuid()));
  Sd sd;
  ASSERT_EQ(
      nt_sd_build_layout(me.p, me.p, me.p, 0600, 0, 0, &sd.bytes, &sd.size), 0);
  EXPECT_EQ(
      nt_create_file_with_security(path("f0").c_str(), 0, sd.bytes, sd.size),
      80);
  EXPECT_EQ(
      nt_create_file_with_security(path("d0").c_str(), 1, sd.bytes, sd.size),
      183);
}

TEST_F(NtSecurity, StoredAttributeHasTheLayoutInWindowsBinaryForm) {
  const std::string me = sid_text(Sid(uid_sid(geteuid())).p);
  const std::string grp = sid_text(Sid(gid_sid(getegid())).p);
  const std::string pg = sid_text(nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP));
  const std::string net = "S-1-5-2", all = "S-1-1-0", adm = "S-1-5-32-544";

  create(path("f"), 0640, false);
  const RawSd f = decode(stored_attr(path("f")));
  EXPECT_EQ(f.control, NT_SE_SELF_RELATIVE | NT_SE_DACL_PRESENT);
  EXPECT_EQ(f.owner, me);
  EXPECT_EQ(f.group, grp);
  const std::vector<Entry> want_f = {
      {1, 0, 0x10116, net}, {0, 0, 0x120089, grp}, {0, 0, 0, all},
      {0, 0, 0x1f019f, me}, {0, 0, 0x1f01ff, pg},  {0, 0, 0x1f01ff, adm}};
  expect_dacl(f, want_f);

  // A group-writable directory: no Network entry, inheritance flags and
  // the inherit-only entries.
  create(path("d"), 0775, true);
  const std::vector<Entry> want_d = {
      {0, 2, 0x1201bf, grp},  {0, 2, 0x1200a9, all},   {0, 2, 0x1f01bf, me},
      {0, 2, 0x1f01ff, pg},   {0, 9, 0xe0010000, grp}, {0, 9, 0xa0000000, all},
      {0, 9, 0xe00d0000, me}, {0, 9, 0x10000000, pg},  {0, 3, 0x1f01ff, adm}};
  expect_dacl(decode(stored_attr(path("d"))), want_d);
}

TEST_F(NtSecurity, MasksFollowTheModeBits) {
  uint32_t o, g, a;
  nt_mode_to_masks(0755, &o, &g, &a);
  EXPECT_EQ(o, 0x1f01bfu);
  EXPECT_EQ(g, 0x1200a9u);
  EXPECT_EQ(a, 0x1200a9u);
  EXPECT_EQ(nt_mask_to_perms(0x120009), 4);
  EXPECT_EQ(nt_mask_to_perms(0x120008), 0);  // no read data
  EXPECT_EQ(nt_mask_to_perms(0x120116 | 0x1200a0), 3);
  EXPECT_EQ(nt_mask_to_perms(NT_GENERIC_ALL), 7);
}

TEST_F(NtSecurity, PartialWritesKeepTheOtherPartsAndDescriptorsOfOtherLayouts) {
  const std::string p = path("f");
  create(p, 0600, false);
  // A plain DACL: Everyone may read, the owner everything, a deny for
  // Everyone takes write away from every class; the group has no entry, and
  // Everyone's grant counts for the other class only.
  Sid me(uid_sid(geteuid())), grp(gid_sid(getegid()));
  const nt_sid_t *all = nt_get_enum_sid(NT_ENUM_SID_EVERYONE);
  const nt_ace_info_t aces[] = {
      {NT_ACCESS_ALLOWED_ACE_TYPE, 0, NT_FILE_GENERIC_READ, all},
      {NT_ACCESS_ALLOWED_ACE_TYPE, 0, NT_FILE_ALL_ACCESS, me.p},
      {NT_ACCESS_DENIED_ACE_TYPE, 0, NT_FILE_APPEND_DATA, all}};
  Sd plain;
  ASSERT_EQ(nt_sd_build(nullptr, nullptr, aces, 3, &plain.bytes, &plain.size),
            0);
  EXPECT_EQ(nt_set_file_security(p.c_str(), NT_OWNER_SECURITY_INFORMATION,
                                 plain.bytes, plain.size),
            NT_ERROR_INVALID_SECURITY_DESCR);
  ASSERT_EQ(nt_set_file_security(p.c_str(), NT_DACL_SECURITY_INFORMATION,
                                 plain.bytes, plain.size),
            0);
  EXPECT_EQ(disk_mode(p), 0504);
  Sd got;
  ASSERT_EQ(nt_get_file_security(
                p.c_str(),
                NT_OWNER_SECURITY_INFORMATION | NT_GROUP_SECURITY_INFORMATION,
                &got.bytes, &got.size),
            0);
  const nt_sd_info_t i = got.info();
  EXPECT_EQ(sid_text(i.owner), sid_text(me.p));  // kept from the first write
  EXPECT_EQ(sid_text(i.group), sid_text(grp.p));
  EXPECT_EQ(i.dacl, nullptr);  // not asked for
  EXPECT_EQ(read_mode(p), 0504);
}

TEST_F(NtSecurity, DamagedOrStaleAttributeNeverGrantsMoreThanTheModeOnDisk) {
  const std::string p = path("f");
  create(p, 0600, false);
  const std::string good = stored_attr(p);

  // Hostile: a valid descriptor granting Everyone everything, stored by hand
  // while the mode stays 0600.
  Sid me(uid_sid(geteuid()));
  const nt_ace_info_t all = {NT_ACCESS_ALLOWED_ACE_TYPE, 0, NT_FILE_ALL_ACCESS,
                             nt_get_enum_sid(NT_ENUM_SID_EVERYONE)};
  Sd open_sd;
  ASSERT_EQ(nt_sd_build(me.p, me.p, &all, 1, &open_sd.bytes, &open_sd.size), 0);
  const std::string garbage = good.substr(0, good.size() - 3) + "\x7f\x7f\x7f";
  std::string bad_offset = good;
  bad_offset[16] = '\xff';
  const std::vector<std::string> attrs = {
      std::string(reinterpret_cast<char *>(open_sd.bytes), open_sd.size),
      good.substr(0, good.size() / 2), garbage, bad_offset, "x"};
  for (const std::string &a : attrs) {
    ASSERT_EQ(setxattr(p.c_str(), NT_SD_XATTR_NAME, a.data(), a.size(), 0), 0);
    EXPECT_EQ(read_mode(p), 0600);
  }
  // Stale: the mode changed behind the layer's back.
  ASSERT_EQ(setxattr(p.c_str(), NT_SD_XATTR_NAME, good.data(), good.size(), 0),
            0);
  ASSERT_EQ(chmod(p.c_str(), 0604), 0);
  EXPECT_EQ(read_mode(p), 0604);
}

TEST_F(NtSecurity, ParserRejectsEveryTruncationAndOutOfRangeParts) {
  create(path("d"), 0750, true);
  const std::string b = stored_attr(path("d"));
  ASSERT_EQ(nt_sd_parse(b.data(), b.size(), nullptr), 0);
  for (size_t n = 0; n < b.size(); n++)
    EXPECT_NE(nt_sd_parse(b.data(), n, nullptr), 0) << n;
  std::string s = b;
  s[0] = 2;  // descriptor revision
  EXPECT_EQ(nt_sd_parse(s.data(), s.size(), nullptr), 1338);
  s = b;
  s[4] = 3;  // owner offset into the header
  EXPECT_EQ(nt_sd_parse(s.data(), s.size(), nullptr), 1338);
  s = b;
  s[le(b, 16, 4) + 8 + 8 + 1] = 15;  // an entry's SID runs past the entry
  EXPECT_EQ(nt_sd_parse(s.data(), s.size(), nullptr), 1336);
  s = b;
  s[le(b, 4, 4) + 1] = 16;  // an owner of 16 sub-authorities
  EXPECT_EQ(nt_sd_parse(s.data(), s.size(), nullptr), 1337);
  s = b;
  s[le(b, 16, 4) + 4] += 1;  // one entry more than the ACL holds
  EXPECT_EQ(nt_sd_parse(s.data(), s.size(), nullptr), 1336);
  s = b;
  s[le(b, 16, 4) + 8 + 2] = 6;  // an entry too short for its SID
  EXPECT_EQ(nt_sd_parse(s.data(), s.size(), nullptr), 1336);
}

TEST_F(NtSecurity, FileSystemWithoutUserAttributesKeepsOnlyThePosixMode) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting ramfs needs root";
  const std::string m = path("ramfs");
  ASSERT_EQ(mkdir(m.c_str(), 0755), 0);
  if (mount("ramfs", m.c_str(), "ramfs", 0, nullptr) != 0)
    GTEST_SKIP() << "cannot mount ramfs: " << strerror(errno);
  const std::string f = m + "/f";
  int has = -1;
  EXPECT_EQ(nt_fs_has_acl(f.c_str(), &has), 0);  // not there yet: its dir
  if (setxattr(m.c_str(), "user.probe", "1", 1, 0) == 0 || errno != ENOTSUP) {
    umount(m.c_str());
    GTEST_SKIP() << "this ramfs takes user attributes";
  }
  EXPECT_EQ(has, 0);
  create(f, 0640, false);
  EXPECT_EQ(disk_mode(f), 0640);
  EXPECT_EQ(read_mode(f), 0640);
  ASSERT_EQ(chmod(f.c_str(), 0604), 0);
  EXPECT_EQ(read_mode(f), 0604);
  EXPECT_EQ(umount(m.c_str()), 0);

  EXPECT_EQ(nt_fs_has_acl(dir_.c_str(), &has), 0);
  EXPECT_EQ(has, 1);
  EXPECT_EQ(nt_fs_has_acl(path("no/such/dir").c_str(), &has), 2);
}

// In a child running as uid/gid with the supplementary groups: 4/2/1 for
// each of read, write, execute that the kernel allows on path.
int access_as(uid_t uid, gid_t gid, const std::vector<gid_t> &groups,
              const std::string &p) {
  return as_identity(uid, gid, groups, [&] {
    return (access(p.c_str(), R_OK) == 0 ? 4 : 0) |
           (access(p.c_str(), W_OK) == 0 ? 2 : 0) |
           (access(p.c_str(), X_OK) == 0 ? 1 : 0);
  });
}

TEST_F(NtSecurity, KernelEnforcesTheDescriptorForOtherUsers) {
  if (!TempAccounts::can_create()) GTEST_SKIP() << "creating users needs root";
  const std::string grp = TempAccounts::unique("sdg");
  const long gid = accounts_.add_group(grp);
  const long owner =
      accounts_.add_user(TempAccounts::unique("sdo"), grp, "", "/", "");
  const long member =
      accounts_.add_user(TempAccounts::unique("sdm"), "nogroup", "", "/", grp);
  const long other =
      accounts_.add_user(TempAccounts::unique("sdx"), "nogroup", "", "/", "");
  ASSERT_TRUE(gid >= 0 && owner >= 0 && member >= 0 && other >= 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  const gid_t nogroup =
      getgrnam("nogroup") ? getgrnam("nogroup")->gr_gid : 65534;
  for (int mode : {0000, 0754, 0426, 0173, 0617, 0365, 0777, 0542}) {
    const std::string p = path("e" + std::to_string(mode));
    create(p, mode, false, static_cast<uid_t>(owner), static_cast<gid_t>(gid));
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, static_cast<uid_t>(owner));
    EXPECT_EQ(st.st_gid, static_cast<gid_t>(gid));
    EXPECT_EQ(access_as(owner, gid, {}, p), mode >> 6) << std::oct << mode;
    // The member's own group is nogroup; gid is supplementary.
    EXPECT_EQ(access_as(member, nogroup, {static_cast<gid_t>(gid)}, p),
              mode >> 3 & 7)
        << std::oct << mode;
    EXPECT_EQ(access_as(other, nogroup, {}, p), mode & 7) << std::oct << mode;
  }
}

TEST(NtChownPrivilege, EnablingRaisesAPermittedCapabilityAndRestoringDropsIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to set up the capabilities";
  const pid_t pid = fork();
  if (pid == 0) {
    // Keep the permitted set across the switch to an ordinary uid: the
    // effective set is cleared, the permitted one stays.
    if (prctl(PR_SET_KEEPCAPS, 1) != 0 || setuid(65534) != 0) _exit(99);
    int saved = -1;
    const int before = nt_is_chown_privileged();
    const int enabled = nt_enable_chown_privileges(&saved);
    nt_restore_chown_privileges(saved);
    const int after = nt_is_chown_privileged();
    _exit(before * 100 + enabled * 10 + after + (saved != 0 ? 0 : 50));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 10);
  EXPECT_EQ(nt_is_chown_privileged(), 1);
}

}  // namespace
