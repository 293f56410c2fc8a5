// Comparing access lists, and editing the owner, group and other entries
// with UNIX permission bits.
#include <orvexks/imsg.h>
#include <orvexks/sysutl_acl.h>

#include <cerrno>
#include <cstdlib>

#include "internal/alloc_fault.h"
#include "protect/sysutl_acl_impl.h"

namespace {

// One entry of a normalised list.
struct Norm {
  int tag;
  credutl_sid_t sid;
  int perms;
};

// The normalised form of an ACL: USER_OBJ read as USER and GROUP_OBJ as
// GROUP, an entry repeating the SID and permissions of one already taken
// dropped. 0 and a heap array in *out (count in *n); ENOMEM; EINVAL for
// an entry without a valid tag or, for USER and GROUP, a SID.
int ksi_normalise(ksi_acl *acl, Norm **out, int *n) {
  auto *list = static_cast<Norm *>(
      nt_calloc(static_cast<size_t>(acl->count) + 1, sizeof(Norm)));
  if (list == nullptr) return ENOMEM;
  int count = 0;
  for (ksi_acl_entry *e = ksi_acl_first(acl); e; e = ksi_acl_next(acl, e)) {
    Norm x{e->tag, CREDUTL_SID_NOBODY, ksi_acl_mask_perms(e->mask)};
    if (x.tag == SYSUTL_ACL_USER_OBJ) x.tag = SYSUTL_ACL_USER;
    if (x.tag == SYSUTL_ACL_GROUP_OBJ) x.tag = SYSUTL_ACL_GROUP;
    const bool qualified =
        x.tag == SYSUTL_ACL_USER || x.tag == SYSUTL_ACL_GROUP;
    if ((qualified && e->sid == nullptr) ||
        (!qualified && x.tag != SYSUTL_ACL_OTHER && x.tag != SYSUTL_ACL_MASK)) {
      free(list);
      return EINVAL;
    }
    // Repeats are told by the entry's own SID, whatever its tag: OTHER
    // stands for Everyone.
    if (e->sid != nullptr) credutl_nt_sid_to_sid(e->sid, &x.sid);
    bool repeat = false;
    for (int i = 0; i < count && !repeat; i++)
      repeat = list[i].perms == x.perms && credutl_sid_eq(&list[i].sid, &x.sid);
    if (!repeat) list[count++] = x;
  }
  *out = list;
  *n = count;
  return 0;
}

// The first entry of the tag, or null.
ksi_acl_entry *ksi_find(ksi_acl *acl, int tag) {
  for (ksi_acl_entry *e = ksi_acl_first(acl); e; e = ksi_acl_next(acl, e))
    if (e->tag == tag) return e;
  return nullptr;
}

constexpr uint32_t kPermRights = KSI_ACL_BASE_RIGHTS | KSI_ACL_READ_RIGHTS |
                                 KSI_ACL_WRITE_RIGHTS | KSI_ACL_EXECUTE_RIGHTS;

// Gives the entry the permissions perms, keeping its other rights.
void ksi_set_perms(ksi_acl_entry *e, int perms) {
  e->mask = (e->mask & ~kPermRights) | ksi_acl_perm_rights(perms);
}

}  // namespace

extern "C" {

KS_API int sysutl_acl_eq(sysutl_acl_t a, sysutl_acl_t b, int *equal_out) {
  if (equal_out == nullptr) return EINVAL;
  *equal_out = a == nullptr && b == nullptr;
  if (a == nullptr || b == nullptr) return 0;
  ksi_acl *acl_a = ksi_acl_of(a), *acl_b = ksi_acl_of(b);
  if (acl_a == nullptr || acl_b == nullptr) return EINVAL;
  Norm *na = nullptr, *nb = nullptr;
  int ca = 0, cb = 0;
  int rc = ksi_normalise(acl_a, &na, &ca);
  if (rc == 0) rc = ksi_normalise(acl_b, &nb, &cb);
  if (rc == 0) {
    bool equal = ca == cb;
    for (int i = 0; i < ca && equal; i++)
      equal =
          na[i].tag == nb[i].tag && na[i].perms == nb[i].perms &&
          ((na[i].tag != SYSUTL_ACL_USER && na[i].tag != SYSUTL_ACL_GROUP) ||
           credutl_sid_eq(&na[i].sid, &nb[i].sid));
    *equal_out = equal;
  }
  free(na);
  free(nb);
  return rc;
}

// Only the first USER_OBJ, GROUP_OBJ and OTHER entries carry the UNIX
// owner, group and other permissions; further USER and GROUP entries are
// left alone.
KS_API int sysutl_acl_modify_perms(sysutl_acl_t *acl_p, int remove_mode,
                                   int add_mode) {
  if (acl_p == nullptr || *acl_p == nullptr) return 0;
  ksi_acl *acl = ksi_acl_of(*acl_p);
  if (acl == nullptr) return EINVAL;
  ksi_acl_entry *const classes[3] = {ksi_find(acl, SYSUTL_ACL_USER_OBJ),
                                     ksi_find(acl, SYSUTL_ACL_GROUP_OBJ),
                                     ksi_find(acl, SYSUTL_ACL_OTHER)};
  const bool trace =
      imsg_get_desired_verbosity() >= 3 && imsg_should_trace("ks/sysutl", 3);
  auto perms = [&](int c) {
    return classes[c] ? ksi_acl_mask_perms(classes[c]->mask) : 0;
  };
  const struct {
    int mode;
    bool add;
    const char *fmt;
  } steps[] = {
      {remove_mode, false,
       "sysutl_acl_modify_perms: remove %0o is now %0o, %0o, %0o\n"},
      {add_mode, true,
       "sysutl_acl_modify_perms: add %0o is now %0o, %0o, %0o\n"},
  };
  for (const auto &s : steps) {
    for (int c = 0; c < 3; c++) {
      const int bits = s.mode >> (6 - 3 * c) & 7;
      if (classes[c] != nullptr && bits != 0)
        ksi_set_perms(classes[c], s.add ? perms(c) | bits : perms(c) & ~bits);
    }
    if (trace)
      imsg_print(IMSG_TRACE, s.fmt, -1, s.mode, perms(0), perms(1), perms(2));
  }
  return 0;
}

}  // extern "C"
