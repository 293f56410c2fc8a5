// Access-list handles: the ACL object, its entries, permission sets, tags
// and qualifiers.
#include <orvexks/pfm.h>
#include <orvexks/sysutl_acl.h>
#include <orvexnt/nt_accounts.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

#include "internal/alloc_fault.h"
#include "protect/sysutl_acl_impl.h"

namespace {

struct AclBlock {
  sysutl_acl_handle handle;
  ksi_acl acl;
};

struct EntryBlock {
  sysutl_acl_handle handle;
  ksi_acl_entry entry;
};

bool ksi_is_handle(const sysutl_acl_handle *h, uint32_t kind) {
  return h != nullptr && h->magic == SYSUTL_ACL_MAGIC && h->kind == kind;
}

EntryBlock *ksi_block_of(ksi_acl_entry *e) {
  return reinterpret_cast<EntryBlock *>(reinterpret_cast<char *>(e) -
                                        offsetof(EntryBlock, entry));
}

// Unlinks an entry from its ACL and frees it with its permission set.
void ksi_acl_drop(ksi_acl *acl, ksi_acl_entry *e) {
  if (acl->cursor == &e->node)
    acl->cursor = e->node.prev == &acl->entries ? nullptr : e->node.prev;
  llist_d_remove(&e->node);
  acl->count--;
  e->aclnt_magic = 0;
  e->permset->magic = 0;
  free(e->permset);
  EntryBlock *b = ksi_block_of(e);
  b->handle.magic = 0;
  free(b);
}

bool ksi_valid_tag(int tag) {
  switch (tag) {
    case SYSUTL_ACL_USER_OBJ:
    case SYSUTL_ACL_USER:
    case SYSUTL_ACL_GROUP_OBJ:
    case SYSUTL_ACL_GROUP:
    case SYSUTL_ACL_MASK:
    case SYSUTL_ACL_OTHER:
      return true;
    default:
      return false;
  }
}

bool ksi_has_qualifier(int tag) {
  return tag == SYSUTL_ACL_USER_OBJ || tag == SYSUTL_ACL_USER ||
         tag == SYSUTL_ACL_GROUP_OBJ || tag == SYSUTL_ACL_GROUP;
}

}  // namespace

ksi_acl *ksi_acl_of(sysutl_acl_t h) {
  if (!ksi_is_handle(h, SYSUTL_ACL_KIND_ACL)) return nullptr;
  auto *acl = static_cast<ksi_acl *>(h->object);
  PFM_ASSERT(acl->ent_magic == NT_ACL_MAGIC);
  return acl;
}

ksi_acl_entry *ksi_acl_entry_of(sysutl_acl_entry_t h) {
  if (!ksi_is_handle(h, SYSUTL_ACL_KIND_ENTRY)) return nullptr;
  auto *data_p = static_cast<ksi_acl_entry *>(h->object);
  PFM_ASSERT(data_p->aclnt_magic == NT_ACLENT_MAGIC);
  return data_p;
}

ksi_acl_entry *ksi_acl_permset_of(sysutl_acl_permset_t h) {
  if (!ksi_is_handle(h, SYSUTL_ACL_KIND_PERMSET)) return nullptr;
  auto *data_p = static_cast<ksi_acl_entry *>(h->object);
  PFM_ASSERT(data_p->aclnt_magic == NT_ACLENT_MAGIC);
  return data_p;
}

ksi_acl_entry *ksi_acl_first(ksi_acl *acl) {
  llist_d_t *n = acl->entries.next;
  return n == nullptr || n == &acl->entries
             ? nullptr
             : static_cast<ksi_acl_entry *>(n->data);
}

ksi_acl_entry *ksi_acl_next(ksi_acl *acl, ksi_acl_entry *e) {
  llist_d_t *n = e->node.next;
  return n == &acl->entries ? nullptr : static_cast<ksi_acl_entry *>(n->data);
}

sysutl_acl_t ksi_acl_new() {
  auto *b = static_cast<AclBlock *>(nt_calloc(1, sizeof(AclBlock)));
  if (b == nullptr) return nullptr;
  b->handle = {SYSUTL_ACL_MAGIC, SYSUTL_ACL_KIND_ACL, &b->acl};
  b->acl.ent_magic = NT_ACL_MAGIC;
  return &b->handle;
}

ksi_acl_entry *ksi_acl_append(ksi_acl *acl) {
  auto *b = static_cast<EntryBlock *>(nt_calloc(1, sizeof(EntryBlock)));
  auto *ps = static_cast<sysutl_acl_handle *>(
      b ? nt_malloc(sizeof(sysutl_acl_handle)) : nullptr);
  if (ps == nullptr) {
    free(b);
    return nullptr;
  }
  ksi_acl_entry *e = &b->entry;
  b->handle = {SYSUTL_ACL_MAGIC, SYSUTL_ACL_KIND_ENTRY, e};
  *ps = {SYSUTL_ACL_MAGIC, SYSUTL_ACL_KIND_PERMSET, e};
  e->aclnt_magic = NT_ACLENT_MAGIC;
  e->permset = ps;
  llist_d_insert(&acl->entries, e, &e->node, LLIST_D_TAIL);
  acl->count++;
  return e;
}

int ksi_acl_mask_perms(uint32_t mask) {
  return (mask & KSI_ACL_READ_RIGHTS ? SYSUTL_ACL_READ : 0) |
         (mask & KSI_ACL_WRITE_RIGHTS ? SYSUTL_ACL_WRITE : 0) |
         (mask & KSI_ACL_EXECUTE_RIGHTS ? SYSUTL_ACL_EXECUTE : 0);
}

uint32_t ksi_acl_perm_rights(int perm) {
  if ((perm & 7) == 0) return 0;
  return KSI_ACL_BASE_RIGHTS |
         (perm & SYSUTL_ACL_READ ? KSI_ACL_READ_RIGHTS : 0) |
         (perm & SYSUTL_ACL_WRITE ? KSI_ACL_WRITE_RIGHTS : 0) |
         (perm & SYSUTL_ACL_EXECUTE ? KSI_ACL_EXECUTE_RIGHTS : 0);
}

void ksi_acl_entry_sid(const ksi_acl_entry *e, credutl_sid_t *out) {
  if (e->sid == nullptr || !ksi_has_qualifier(e->tag))
    *out = CREDUTL_SID_NOBODY;
  else
    credutl_nt_sid_to_sid(e->sid, out);
}

extern "C" {

KS_API int sysutl_acl_init(int count, sysutl_acl_t *acl_out) {
  if (acl_out == nullptr || count < 0) return EINVAL;
  *acl_out = ksi_acl_new();
  return *acl_out ? 0 : ENOMEM;
}

KS_API int sysutl_acl_free(void *handle_p) {
  if (handle_p == nullptr) return 0;
  void **var = static_cast<void **>(handle_p);
  auto *h = static_cast<sysutl_acl_handle *>(*var);
  if (h == nullptr) return 0;
  *var = nullptr;
  // Only a block large enough to be a handle is looked at as one.
  if (malloc_usable_size(h) >= sizeof *h && h->magic == SYSUTL_ACL_MAGIC) {
    if (h->kind == SYSUTL_ACL_KIND_ENTRY || h->kind == SYSUTL_ACL_KIND_PERMSET)
      return 0;
    if (ksi_acl *acl = ksi_acl_of(h)) {
      while (ksi_acl_entry *e = ksi_acl_first(acl)) ksi_acl_drop(acl, e);
      acl->ent_magic = 0;
      h->magic = 0;
      free(h);
      return 0;
    }
  }
  free(h);
  return 0;
}

KS_API int sysutl_acl_create_entry(sysutl_acl_t *acl_p,
                                   sysutl_acl_entry_t *entry_out) {
  if (entry_out == nullptr) return EINVAL;
  *entry_out = nullptr;
  if (acl_p == nullptr || *acl_p == nullptr) return 0;
  ksi_acl *acl = ksi_acl_of(*acl_p);
  if (acl == nullptr) return EINVAL;
  ksi_acl_entry *e = ksi_acl_append(acl);
  if (e == nullptr) return ENOMEM;
  *entry_out = &ksi_block_of(e)->handle;
  return 0;
}

KS_API int sysutl_acl_delete_entry(sysutl_acl_t acl_h,
                                   sysutl_acl_entry_t entry) {
  if (acl_h == nullptr || entry == nullptr) return 0;
  ksi_acl *acl = ksi_acl_of(acl_h);
  ksi_acl_entry *e = ksi_acl_entry_of(entry);
  if (acl == nullptr || e == nullptr) return EINVAL;
  for (ksi_acl_entry *x = ksi_acl_first(acl); x; x = ksi_acl_next(acl, x))
    if (x == e) {
      ksi_acl_drop(acl, e);
      return 0;
    }
  return EINVAL;  // an entry of another ACL
}

KS_API int sysutl_acl_get_entry(sysutl_acl_t acl_h, int which,
                                sysutl_acl_entry_t *entry_out) {
  if (entry_out == nullptr) return EINVAL;
  *entry_out = nullptr;
  if (acl_h == nullptr) return 0;
  ksi_acl *acl = ksi_acl_of(acl_h);
  if (acl == nullptr ||
      (which != SYSUTL_ACL_FIRST_ENTRY && which != SYSUTL_ACL_NEXT_ENTRY))
    return EINVAL;
  ksi_acl_entry *e =
      which == SYSUTL_ACL_NEXT_ENTRY && acl->cursor != nullptr
          ? ksi_acl_next(acl, static_cast<ksi_acl_entry *>(acl->cursor->data))
          : ksi_acl_first(acl);
  if (e == nullptr) return 0;
  acl->cursor = &e->node;
  *entry_out = &ksi_block_of(e)->handle;
  return 0;
}

KS_API int sysutl_acl_get_permset(sysutl_acl_entry_t entry,
                                  sysutl_acl_permset_t *permset_out) {
  if (permset_out == nullptr) return EINVAL;
  *permset_out = nullptr;
  if (entry == nullptr) return 0;
  ksi_acl_entry *e = ksi_acl_entry_of(entry);
  if (e == nullptr) return EINVAL;
  *permset_out = e->permset;
  return 0;
}

KS_API int sysutl_acl_set_permset(sysutl_acl_entry_t entry,
                                  sysutl_acl_permset_t permset) {
  if (entry == nullptr || permset == nullptr) return 0;
  ksi_acl_entry *e = ksi_acl_entry_of(entry);
  ksi_acl_entry *from = ksi_acl_permset_of(permset);
  if (e == nullptr || from == nullptr) return EINVAL;
  e->mask = from->mask;
  return 0;
}

KS_API int sysutl_acl_add_perm(sysutl_acl_permset_t permset, int perm) {
  if (permset == nullptr) return 0;
  ksi_acl_entry *e = ksi_acl_permset_of(permset);
  if (e == nullptr || (perm & ~7) != 0) return EINVAL;
  e->mask |= ksi_acl_perm_rights(perm);
  return 0;
}

KS_API int sysutl_acl_clear_perms(sysutl_acl_permset_t permset) {
  if (permset == nullptr) return 0;
  ksi_acl_entry *e = ksi_acl_permset_of(permset);
  if (e == nullptr) return EINVAL;
  e->mask = 0;
  return 0;
}

KS_API int sysutl_acl_delete_perm(sysutl_acl_permset_t, int) { return ENOSYS; }

KS_API int sysutl_acl_check_perm(sysutl_acl_permset_t permset, int perm,
                                 int *present_out) {
  if (present_out != nullptr) *present_out = 0;
  if (permset == nullptr) return 0;
  ksi_acl_entry *e = ksi_acl_permset_of(permset);
  if (e == nullptr || present_out == nullptr ||
      (perm != SYSUTL_ACL_READ && perm != SYSUTL_ACL_WRITE &&
       perm != SYSUTL_ACL_EXECUTE))
    return EINVAL;
  *present_out = (ksi_acl_mask_perms(e->mask) & perm) ? 1 : 0;
  return 0;
}

KS_API int sysutl_acl_get_tag_type(sysutl_acl_entry_t entry, int *tag_out) {
  if (entry == nullptr) return 0;
  ksi_acl_entry *e = ksi_acl_entry_of(entry);
  if (e == nullptr || tag_out == nullptr) return EINVAL;
  *tag_out = e->tag;
  return 0;
}

KS_API int sysutl_acl_set_tag_type(sysutl_acl_entry_t entry, int tag) {
  if (entry == nullptr) return 0;
  ksi_acl_entry *e = ksi_acl_entry_of(entry);
  if (e == nullptr || !ksi_valid_tag(tag)) return EINVAL;
  e->tag = tag;
  if (tag == SYSUTL_ACL_OTHER) e->sid = nt_get_enum_sid(NT_ENUM_SID_EVERYONE);
  return 0;
}

KS_API int sysutl_acl_get_qualifier(sysutl_acl_entry_t entry,
                                    credutl_sid_t *sid_out) {
  if (entry == nullptr) return 0;
  ksi_acl_entry *e = ksi_acl_entry_of(entry);
  if (e == nullptr || sid_out == nullptr) return EINVAL;
  ksi_acl_entry_sid(e, sid_out);
  return 0;
}

KS_API int sysutl_acl_set_qualifier(sysutl_acl_entry_t entry,
                                    const credutl_sid_t *sid) {
  if (entry == nullptr) return 0;
  ksi_acl_entry *e = ksi_acl_entry_of(entry);
  if (e == nullptr || sid == nullptr || sid->type != CREDUTL_SID_TYPE_NT)
    return EINVAL;
  credutl_sid_to_nt_sid(sid, sizeof e->own_sid, e->own_sid);
  e->sid = reinterpret_cast<const nt_sid_t *>(e->own_sid);
  return 0;
}

// Not provided on this platform.
KS_API int sysutl_acl_from_text(const char *, sysutl_acl_t *) { return 0; }
KS_API int sysutl_acl_size(sysutl_acl_t, size_t *) { return 0; }
KS_API int sysutl_acl_calc_mask(sysutl_acl_t *) { return 0; }

}  // extern "C"
