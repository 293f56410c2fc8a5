// Access lists built from rows of tag, qualifier and permission bits, for
// the tests that write lists to files and compare them.
#pragma once

#include <gtest/gtest.h>

#include <orvexks/sysutl_acl.h>

#include <vector>

struct AclRow {
  int tag;
  credutl_sid_t sid;  // not used for OTHER
  int perms;
};

inline sysutl_acl_t make_acl(const std::vector<AclRow> &rows) {
  sysutl_acl_t acl = nullptr;
  EXPECT_EQ(sysutl_acl_init(4, &acl), 0);
  for (const AclRow &row : rows) {
    sysutl_acl_entry_t e = nullptr;
    sysutl_acl_permset_t ps = nullptr;
    EXPECT_EQ(sysutl_acl_create_entry(&acl, &e), 0);
    EXPECT_EQ(sysutl_acl_set_tag_type(e, row.tag), 0);
    if (row.tag != SYSUTL_ACL_OTHER) {
      EXPECT_EQ(sysutl_acl_set_qualifier(e, &row.sid), 0);
    }
    EXPECT_EQ(sysutl_acl_get_permset(e, &ps), 0);
    EXPECT_EQ(sysutl_acl_add_perm(ps, row.perms), 0);
  }
  return acl;
}
