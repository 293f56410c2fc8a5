// The objects behind sysutl_acl handles.
//
// Every handle is the first member of a heap block, so that
// sysutl_acl_free can tell a handle from any other heap pointer: an ACL
// block holds the ACL's handle and the ACL; an entry block holds the
// entry's handle and the entry, whose permission-set handle is a block of
// its own that the entry owns. Entry and permission-set handles are views:
// freeing one only forgets it.
#pragma once

#include <orvexks/credutl.h>
#include <orvexks/llist.h>
#include <orvexks/sysutl_acl.h>
#include <orvexnt/nt_security.h>

#include <stddef.h>
#include <stdint.h>

struct sysutl_acl_handle {
  uint32_t magic;  // SYSUTL_ACL_MAGIC
  uint32_t kind;   // SYSUTL_ACL_KIND_*
  void *object;
};

// "Nacl" and "Nent", stored as the bytes "lcaN" and "tneN".
constexpr uint32_t NT_ACL_MAGIC = 0x4e61636cu;
constexpr uint32_t NT_ACLENT_MAGIC = 0x4e656e74u;

// The access rights a permission adds and the rights that show it.
constexpr uint32_t KSI_ACL_READ_RIGHTS = 0x89;
constexpr uint32_t KSI_ACL_WRITE_RIGHTS = 0x10116;
constexpr uint32_t KSI_ACL_EXECUTE_RIGHTS = 0x20;
constexpr uint32_t KSI_ACL_BASE_RIGHTS = 0x120080;

struct ksi_acl_entry {
  uint32_t aclnt_magic;  // NT_ACLENT_MAGIC
  llist_d_t node;
  uint32_t mask;  // NT access rights
  int tag;        // SYSUTL_ACL_*, 0 while unset
  // The entry's SID: own_sid, the shared Everyone SID, or null while unset.
  const nt_sid_t *sid;
  unsigned char own_sid[NT_SID_MAX_LENGTH];
  sysutl_acl_handle *permset;
};

struct ksi_acl {
  uint32_t ent_magic;  // NT_ACL_MAGIC
  llist_d_t entries;
  llist_d_t *cursor;  // the entry sysutl_acl_get_entry gave last, or null
  int count;
};

// The object of a handle of the given kind; null when the handle is not a
// live handle of that kind.
ksi_acl *ksi_acl_of(sysutl_acl_t h);
ksi_acl_entry *ksi_acl_entry_of(sysutl_acl_entry_t h);
ksi_acl_entry *ksi_acl_permset_of(sysutl_acl_permset_t h);

// The entries of an ACL in order: for (e = first; e; e = next(acl, e)).
ksi_acl_entry *ksi_acl_first(ksi_acl *acl);
ksi_acl_entry *ksi_acl_next(ksi_acl *acl, ksi_acl_entry *e);

// A new empty ACL and its handle; null when memory runs out.
sysutl_acl_t ksi_acl_new();

// Appends a zeroed entry; null when memory runs out.
ksi_acl_entry *ksi_acl_append(ksi_acl *acl);

// The permissions (4, 2, 1) an access mask shows.
int ksi_acl_mask_perms(uint32_t mask);

// The rights that adding the permissions perm (any of 4, 2, 1) gives.
uint32_t ksi_acl_perm_rights(int perm);

// The entry's SID as a credentials record (NOBODY when it has none).
void ksi_acl_entry_sid(const ksi_acl_entry *e, credutl_sid_t *out);
