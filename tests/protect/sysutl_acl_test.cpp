// The access-list interface: handles, permission sets, the text form,
// comparison, and lists written to and read from real files.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <orvexks/sysutl_acl.h>
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_security.h>

#include "internal/nt_alloc_fault.h"
#include "protect/acl_rows.h"
#include "sd_fixture.h"

namespace {

credutl_sid_t uid_sid(uid_t uid) {
  credutl_sid_t s;
  return *credutl_uid_to_sid(&s, uid);
}

credutl_sid_t gid_sid(gid_t gid) {
  credutl_sid_t s;
  return *credutl_gid_to_sid(&s, gid);
}

std::string to_text(sysutl_acl_t acl) {
  char *text = nullptr;
  size_t len = 0;
  EXPECT_EQ(sysutl_acl_to_text(acl, &len, &text), 0);
  std::string s = text ? text : "";
  EXPECT_EQ(len, s.size());
  EXPECT_EQ(sysutl_acl_free(&text), 0);
  EXPECT_EQ(text, nullptr);
  return s;
}

int disk_mode(const std::string &p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

class SysutlAcl : public SdFixture {};

TEST_F(SysutlAcl, PermissionSetsTagsAndWalking) {
  sysutl_acl_t acl = nullptr;
  ASSERT_EQ(sysutl_acl_init(0, &acl), 0);
  sysutl_acl_entry_t e = reinterpret_cast<sysutl_acl_entry_t>(1);
  EXPECT_EQ(sysutl_acl_get_entry(acl, SYSUTL_ACL_FIRST_ENTRY, &e), 0);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(sysutl_acl_get_entry(acl, 2, &e), EINVAL);

  sysutl_acl_entry_t a, b, c;
  ASSERT_EQ(sysutl_acl_create_entry(&acl, &a), 0);
  ASSERT_EQ(sysutl_acl_create_entry(&acl, &b), 0);
  ASSERT_EQ(sysutl_acl_create_entry(&acl, &c), 0);
  sysutl_acl_permset_t ps;
  int present = -1;
  ASSERT_EQ(sysutl_acl_get_permset(a, &ps), 0);
  EXPECT_EQ(sysutl_acl_add_perm(ps, SYSUTL_ACL_READ), 0);
  EXPECT_EQ(sysutl_acl_add_perm(ps, SYSUTL_ACL_EXECUTE), 0);
  EXPECT_EQ(sysutl_acl_check_perm(ps, SYSUTL_ACL_WRITE, &present), 0);
  EXPECT_EQ(present, 0);
  EXPECT_EQ(sysutl_acl_check_perm(ps, SYSUTL_ACL_EXECUTE, &present), 0);
  EXPECT_EQ(present, 1);
  EXPECT_EQ(sysutl_acl_check_perm(ps, 3, &present), EINVAL);
  EXPECT_EQ(present, 0);
  EXPECT_EQ(sysutl_acl_delete_perm(ps, SYSUTL_ACL_READ), ENOSYS);

  EXPECT_EQ(sysutl_acl_set_tag_type(a, 3), EINVAL);
  const credutl_sid_t me = uid_sid(geteuid());
  EXPECT_EQ(sysutl_acl_set_tag_type(a, SYSUTL_ACL_USER_OBJ), 0);
  EXPECT_EQ(sysutl_acl_set_qualifier(a, &me), 0);
  credutl_sid_t unix_sid;
  credutl_unix_uid_to_sid(5, &unix_sid);
  EXPECT_EQ(sysutl_acl_set_qualifier(a, &unix_sid), EINVAL);
  EXPECT_EQ(sysutl_acl_set_tag_type(b, SYSUTL_ACL_GROUP_OBJ), 0);
  EXPECT_EQ(sysutl_acl_set_qualifier(b, &me), 0);
  EXPECT_EQ(sysutl_acl_set_tag_type(b, SYSUTL_ACL_OTHER), 0);  // Everyone now
  EXPECT_EQ(sysutl_acl_set_tag_type(b, SYSUTL_ACL_GROUP), 0);
  credutl_sid_t got, everyone;
  credutl_nt_sid_to_sid(nt_get_enum_sid(NT_ENUM_SID_EVERYONE), &everyone);
  EXPECT_EQ(sysutl_acl_get_qualifier(b, &got), 0);
  EXPECT_TRUE(credutl_sid_eq(&got, &everyone));
  EXPECT_EQ(sysutl_acl_set_qualifier(b, &me), 0);  // its own SID again
  EXPECT_EQ(sysutl_acl_get_qualifier(b, &got), 0);
  EXPECT_TRUE(credutl_sid_eq(&got, &me));
  EXPECT_EQ(sysutl_acl_get_qualifier(c, &got), 0);  // no tag yet
  EXPECT_TRUE(credutl_sid_eq(&got, &CREDUTL_SID_NOBODY));

  // The cursor survives deleting the entry it stands on.
  EXPECT_EQ(sysutl_acl_get_entry(acl, SYSUTL_ACL_FIRST_ENTRY, &e), 0);
  EXPECT_EQ(sysutl_acl_get_entry(acl, SYSUTL_ACL_NEXT_ENTRY, &e), 0);
  EXPECT_EQ(e, b);
  EXPECT_EQ(sysutl_acl_delete_entry(acl, b), 0);
  EXPECT_EQ(sysutl_acl_get_entry(acl, SYSUTL_ACL_NEXT_ENTRY, &e), 0);
  EXPECT_EQ(e, c);
  EXPECT_EQ(sysutl_acl_get_entry(acl, SYSUTL_ACL_NEXT_ENTRY, &e), 0);
  EXPECT_EQ(e, nullptr);

  EXPECT_EQ(sysutl_acl_free(&a), 0);  // a view: only forgotten
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(sysutl_acl_free(&acl), 0);
  EXPECT_EQ(acl, nullptr);
  EXPECT_EQ(sysutl_acl_add_perm(nullptr, 4), 0);
  char *heap = strdup("x");
  EXPECT_EQ(sysutl_acl_free(&heap), 0);  // any other pointer: free()
}

TEST_F(SysutlAcl, TextFormSpellsOutMasksWithoutSummary) {
  const credutl_sid_t me = uid_sid(geteuid());
  sysutl_acl_t acl = make_acl({{SYSUTL_ACL_USER_OBJ, me, 7},
                               {SYSUTL_ACL_GROUP_OBJ, gid_sid(getegid()), 5},
                               {SYSUTL_ACL_OTHER, {}, 4}});
  char host[256] = "";
  gethostname(host, sizeof host);
  for (char *p = host; *p; p++) *p = static_cast<char>(toupper(*p));
  const std::string user =
      std::string(host) + "\\" + getpwuid(geteuid())->pw_name;
  const std::string text = to_text(acl);
  EXPECT_EQ(text.substr(0, text.find('\n') + 1),
            user + ":(001301bf)C\tUSER_OBJ\r\n");
  const std::string pad(10, ' ');
  const std::string other = "Everyone:(00120089)\tOTHER\r\n" + pad +
                            "READ_CONTROL\r\n" + pad + "SYNCHRONIZE\r\n" + pad +
                            "FILE_GENERIC_READ\r\n" + pad +
                            "FILE_READ_DATA\r\n" + pad + "FILE_READ_EA\r\n" +
                            pad + "FILE_READ_ATTRIBUTES\r\n";
  ASSERT_GE(text.size(), other.size());
  EXPECT_EQ(text.substr(text.size() - other.size()), other);
  EXPECT_NE(text.find(":(001200a9)R\tGROUP_OBJ\r\n"), std::string::npos);

  sysutl_acl_entry_t mask;
  ASSERT_EQ(sysutl_acl_create_entry(&acl, &mask), 0);
  ASSERT_EQ(sysutl_acl_set_tag_type(mask, SYSUTL_ACL_MASK), 0);
  char *t = nullptr;
  EXPECT_EQ(sysutl_acl_to_text(acl, nullptr, &t), EINVAL);
  EXPECT_EQ(t, nullptr);
  sysutl_acl_free(&acl);
}

TEST_F(SysutlAcl, EqualityNormalisesOwnerEntriesAndRepeatsButKeepsOrder) {
  const credutl_sid_t me = uid_sid(geteuid()), g = gid_sid(getegid());
  sysutl_acl_t a = make_acl({{SYSUTL_ACL_USER_OBJ, me, 6},
                             {SYSUTL_ACL_GROUP_OBJ, g, 4},
                             {SYSUTL_ACL_OTHER, {}, 4}});
  sysutl_acl_t b = make_acl({{SYSUTL_ACL_USER, me, 6},
                             {SYSUTL_ACL_USER, me, 6},
                             {SYSUTL_ACL_GROUP, g, 4},
                             {SYSUTL_ACL_OTHER, {}, 4}});
  sysutl_acl_t c = make_acl({{SYSUTL_ACL_GROUP_OBJ, g, 4},
                             {SYSUTL_ACL_USER_OBJ, me, 6},
                             {SYSUTL_ACL_OTHER, {}, 4}});
  sysutl_acl_t d = make_acl({{SYSUTL_ACL_USER_OBJ, me, 7},
                             {SYSUTL_ACL_GROUP_OBJ, g, 4},
                             {SYSUTL_ACL_OTHER, {}, 4}});
  int eq = -1;
  EXPECT_EQ(sysutl_acl_eq(a, b, &eq), 0);
  EXPECT_EQ(eq, 1);
  EXPECT_EQ(sysutl_acl_eq(a, c, &eq), 0);
  EXPECT_EQ(eq, 0);
  EXPECT_EQ(sysutl_acl_eq(a, d, &eq), 0);
  EXPECT_EQ(eq, 0);
  EXPECT_EQ(sysutl_acl_eq(nullptr, nullptr, &eq), 0);
  EXPECT_EQ(eq, 1);
  EXPECT_EQ(sysutl_acl_eq(a, nullptr, &eq), 0);
  EXPECT_EQ(eq, 0);
  // Only an entry of the same SID is a repeat: OTHER (Everyone) after a
  // MASK entry of another SID is kept.
  sysutl_acl_t m = make_acl({{SYSUTL_ACL_MASK, g, 4}});
  sysutl_acl_t mo =
      make_acl({{SYSUTL_ACL_MASK, g, 4}, {SYSUTL_ACL_OTHER, {}, 4}});
  EXPECT_EQ(sysutl_acl_eq(m, mo, &eq), 0);
  EXPECT_EQ(eq, 0);

  // modify_perms: a (6, 4, 4) less 0044 plus 0101 is d's (7, 0, 1).
  EXPECT_EQ(sysutl_acl_modify_perms(&a, 0044, 0101), 0);
  sysutl_acl_t e = make_acl({{SYSUTL_ACL_USER_OBJ, me, 7},
                             {SYSUTL_ACL_GROUP_OBJ, g, 0},
                             {SYSUTL_ACL_OTHER, {}, 1}});
  EXPECT_EQ(sysutl_acl_eq(a, e, &eq), 0);
  EXPECT_EQ(eq, 1);
  for (sysutl_acl_t *x : {&a, &b, &c, &d, &e, &m, &mo}) sysutl_acl_free(x);
}

TEST_F(SysutlAcl, ListsRoundTripThroughFilesAndDirectories) {
  const credutl_sid_t me = uid_sid(geteuid()), g = gid_sid(getegid());
  const std::vector<AclRow> specs = {{SYSUTL_ACL_USER_OBJ, me, 7},
                                     {SYSUTL_ACL_USER, uid_sid(1), 4},
                                     {SYSUTL_ACL_GROUP_OBJ, g, 5},
                                     {SYSUTL_ACL_OTHER, {}, 4}};
  sysutl_acl_t acl = make_acl(specs);
  int valid = 0;
  EXPECT_EQ(sysutl_acl_valid(acl, &valid), 0);
  EXPECT_EQ(valid, 1);
  for (int dir = 0; dir < 2; dir++) {
    const std::string p = path(dir ? "d" : "f");
    ASSERT_EQ(sysutl_acl_set_nt_sd(p.c_str(), dir, acl), 0);  // creates it
    EXPECT_EQ(disk_mode(p), 0754);
    sysutl_acl_t back = nullptr;
    ASSERT_EQ(sysutl_acl_get_file(p.c_str(), SYSUTL_ACL_TYPE_ACCESS, &back), 0);
    int eq = 0;
    EXPECT_EQ(sysutl_acl_eq(acl, back, &eq), 0);
    EXPECT_EQ(eq, 1);
    EXPECT_EQ(to_text(acl), to_text(back));
    sysutl_acl_free(&back);
  }

  // Narrowed and written through a descriptor; read back by path.
  const std::string f = path("f");
  EXPECT_EQ(sysutl_acl_modify_perms(&acl, 0055, 0), 0);
  const int fd = open(f.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(sysutl_acl_set_fd(fd, acl), 0);
  EXPECT_EQ(disk_mode(f), 0700);
  sysutl_acl_t back = nullptr;
  ASSERT_EQ(sysutl_acl_get_fd(fd, &back), 0);
  close(fd);
  int eq = 0;
  EXPECT_EQ(sysutl_acl_eq(acl, back, &eq), 0);
  EXPECT_EQ(eq, 1);
  sysutl_acl_free(&back);

  // A file of the protection layout is no list; a missing parent is
  // reported and no file is made.
  const std::string plain = path("plain");
  close(open(plain.c_str(), O_CREAT | O_WRONLY, 0644));
  EXPECT_EQ(sysutl_acl_get_file(plain.c_str(), 0, &back), 1336);
  EXPECT_EQ(back, nullptr);
  // Nor is a list of another ACL revision.
  nt_security_descriptor_t *sd = nullptr;
  size_t size = 0;
  nt_sd_info_t info;
  ASSERT_EQ(
      nt_get_file_security(f.c_str(), NT_DACL_SECURITY_INFORMATION, &sd, &size),
      0);
  ASSERT_EQ(nt_sd_parse(sd, size, &info), 0);
  const_cast<uint8_t *>(reinterpret_cast<const uint8_t *>(info.dacl))[0] =
      NT_ACL_REVISION_DS;
  ASSERT_EQ(
      nt_set_file_security(f.c_str(), NT_DACL_SECURITY_INFORMATION, sd, size),
      0);
  nt_sd_free(sd);
  EXPECT_EQ(sysutl_acl_get_file(f.c_str(), 0, &back), 1336);
  EXPECT_EQ(sysutl_acl_get_file(nullptr, 0, &back), EINVAL);
  testing::internal::CaptureStderr();
  EXPECT_EQ(sysutl_acl_set_nt_sd(path("no/f").c_str(), 0, acl), ENOENT);
  EXPECT_NE(
      testing::internal::GetCapturedStderr().find("unable to create file"),
      std::string::npos);
  sysutl_acl_free(&acl);
}

TEST_F(SysutlAcl, FileSystemWithoutAttributesHasNoLists) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting ramfs needs root";
  const std::string m = path("ramfs");
  ASSERT_EQ(mkdir(m.c_str(), 0755), 0);
  if (mount("ramfs", m.c_str(), "ramfs", 0, nullptr) != 0)
    GTEST_SKIP() << "cannot mount ramfs: " << strerror(errno);
  struct Unmount {
    std::string at;
    ~Unmount() { umount(at.c_str()); }
  } unmount{m};
  int has = 1;
  if (nt_fs_has_acl(m.c_str(), &has) != 0 || has)
    GTEST_SKIP() << "this ramfs takes user attributes";
  const std::string f = m + "/f";
  const int fd = open(f.c_str(), O_CREAT | O_RDWR, 0644);
  ASSERT_GE(fd, 0);
  sysutl_acl_t acl = make_acl({{SYSUTL_ACL_OTHER, {}, 7}});
  sysutl_acl_t back = nullptr;
  EXPECT_EQ(sysutl_acl_get_file(f.c_str(), 0, &back), EINVAL);
  EXPECT_EQ(sysutl_acl_get_fd(fd, &back), EINVAL);
  EXPECT_EQ(sysutl_acl_set_file(f.c_str(), 0, acl), EINVAL);
  EXPECT_EQ(sysutl_acl_set_fd(fd, acl), EINVAL);
  EXPECT_EQ(back, nullptr);
  EXPECT_EQ(disk_mode(f), 0644);
  close(fd);
  sysutl_acl_free(&acl);
}

#ifdef ORVEX_ALLOC_FAULTS
// Every allocation of reading, writing, printing and comparing lists fails
// in turn: each call then fails cleanly or succeeds, and leaves nothing
// allocated (the leak checker of the sanitizer builds sees to that).
TEST_F(SysutlAcl, EachFailingAllocationIsReportedWithoutLeaks) {
  const credutl_sid_t me = uid_sid(geteuid()), g = gid_sid(getegid());
  sysutl_acl_t acl = make_acl({{SYSUTL_ACL_USER_OBJ, me, 7},
                               {SYSUTL_ACL_USER, uid_sid(1), 4},
                               {SYSUTL_ACL_GROUP_OBJ, g, 5},
                               {SYSUTL_ACL_OTHER, {}, 4}});
  const std::string f = path("f");
  ASSERT_EQ(sysutl_acl_set_nt_sd(f.c_str(), 0, acl), 0);
  for (unsigned n = 1;; n++) {
    nt_alloc_fault_arm(n);
    sysutl_acl_t back = nullptr;
    char *text = nullptr;
    int eq = 0;
    const int get = sysutl_acl_get_file(f.c_str(), 0, &back);
    const int set = sysutl_acl_set_nt_sd(f.c_str(), 0, acl);
    const int show = sysutl_acl_to_text(acl, nullptr, &text);
    const int same = back ? sysutl_acl_eq(acl, back, &eq) : 0;
    const bool fired = nt_alloc_fault_fired();
    nt_alloc_fault_arm(0);
    EXPECT_EQ(get != 0, back == nullptr) << n;
    EXPECT_EQ(show != 0, text == nullptr) << n;
    free(text);
    sysutl_acl_free(&back);
    if (!fired) {
      EXPECT_EQ(get | set | show | same, 0);
      EXPECT_EQ(eq, 1);
      break;
    }
  }
  sysutl_acl_free(&acl);
}
#endif

}  // namespace
