// Recognising the protection layout in a DACL: which entries carry the
// group, everyone else and the owner, and the mode their masks grant.
#include "protect/server_layout.h"

#include <orvexnt/nt_accounts.h>

#include "protect/server_id_nt_msgs.h"

namespace {

bool same(const nt_sid_t *a, const nt_sid_t *b) {
  return a != nullptr && b != nullptr && nt_sid_equal(a, b) != 0;
}

bool is_full(uint32_t mask) {
  return (mask & NT_FILE_ALL_ACCESS) == NT_FILE_ALL_ACCESS ||
         (mask & NT_GENERIC_ALL) != 0;
}

struct WellKnown {
  const nt_sid_t *product, *everyone, *admins, *network, *creator;
};

WellKnown well_known() {
  return {nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP),
          nt_get_enum_sid(NT_ENUM_SID_EVERYONE),
          nt_get_enum_sid(NT_ENUM_SID_ADMINISTRATORS),
          nt_get_enum_sid(NT_ENUM_SID_NETWORK),
          nt_get_enum_sid(NT_ENUM_SID_CREATOR_OWNER)};
}

// The entries that recognition keeps, in order, and what it counted.
struct Scan {
  nt_ace_info_t slots[4];
  int nslots;
  int product, everyone, others;
  uint32_t other_mask;
};

// Walks the entries: the Network deny entry and inherit-only entries are
// passed over, the first four others kept. 0, or the reason.
int scan_entries(const nt_acl_t *dacl, bool is_dir, const WellKnown &wk,
                 Scan *s) {
  *s = Scan{};
  const int count = nt_acl_count(dacl);
  for (int i = 0; i < count; ++i) {
    nt_ace_info_t ace;
    if (nt_acl_get_ace(dacl, i, &ace) != 0) return KSI_SERVER_ACL_UNPARSABLE;
    if (ace.type == NT_ACCESS_DENIED_ACE_TYPE && same(ace.sid, wk.network))
      continue;
    if (ace.type != NT_ACCESS_ALLOWED_ACE_TYPE || ace.sid == nullptr)
      return KSI_SERVER_ACE_WRONG_TYPE;
    const bool inherit_only = (ace.flags & NT_INHERIT_ONLY_ACE) != 0;
    if (same(ace.sid, wk.creator)) {
      if (!inherit_only || !is_dir) return KSI_SERVER_ACE_BAD_CREATOR_OWNER;
      continue;
    }
    if (inherit_only) continue;
    if (s->nslots < 4) s->slots[s->nslots++] = ace;
    if (same(ace.sid, wk.product)) {
      ++s->product;
    } else if (same(ace.sid, wk.everyone)) {
      ++s->everyone;
      s->other_mask |= ace.mask;
    } else if (!same(ace.sid, wk.admins)) {
      ++s->others;
    }
  }
  return 0;
}

bool is_full_product(const nt_ace_info_t &ace, const WellKnown &wk) {
  return same(ace.sid, wk.product) && is_full(ace.mask);
}

bool is_principal(const nt_sid_t *sid, const WellKnown &wk) {
  return !same(sid, wk.product) && !same(sid, wk.everyone) &&
         !same(sid, wk.admins);
}

// The older layout, with the product group second: the owner is the third
// entry (with the rights of its later entries), the group the first group
// after it (with the rights of every other principal). 0, or the reason.
int read_older_layout(const nt_acl_t *dacl, const WellKnown &wk,
                      const nt_sid_t *owner, ksi_layout *out) {
  if (same(owner, wk.product) || same(owner, wk.everyone) ||
      same(owner, wk.creator))
    return KSI_SERVER_ACE_BAD_OWNER;
  uint32_t owner_mask = 0, group_mask = 0, other_mask = 0;
  const nt_sid_t *group = nullptr;
  bool after_owner = false;
  const int count = nt_acl_count(dacl);
  for (int i = 0; i < count; ++i) {
    nt_ace_info_t ace;
    if (nt_acl_get_ace(dacl, i, &ace) != 0 || ace.sid == nullptr ||
        ace.type != NT_ACCESS_ALLOWED_ACE_TYPE ||
        (ace.flags & NT_INHERIT_ONLY_ACE) != 0)
      continue;
    if (same(ace.sid, owner)) {
      owner_mask |= ace.mask;
      after_owner = true;
    } else if (same(ace.sid, wk.everyone)) {
      other_mask |= ace.mask;
    } else if (is_principal(ace.sid, wk)) {
      group_mask |= ace.mask;
      if (group == nullptr && after_owner && nt_sid_is_group(ace.sid))
        group = ace.sid;
    }
  }
  if (group == nullptr) return KSI_SERVER_ACL_UNPARSABLE;
  out->mode = (nt_mask_to_perms(owner_mask) << 6) |
              (nt_mask_to_perms(group_mask) << 3) |
              nt_mask_to_perms(other_mask);
  out->owner = owner;
  out->group = group;
  return 0;
}

// Checks the kept entries against the layout. 0, or the reason.
int check_slots(const Scan &s, bool is_dir, const WellKnown &wk) {
  if (!same(s.slots[1].sid, wk.everyone)) return KSI_SERVER_ACE_BAD_EVERYONE;
  // Without a fourth entry, or with Administrators there, the group is the
  // product group itself.
  if (s.nslots == 3 || same(s.slots[3].sid, wk.admins)) {
    if (!is_full_product(s.slots[0], wk))
      return KSI_SERVER_ACE_BAD_PRODUCT_GROUP;
  } else {
    const nt_ace_info_t &last = s.slots[3];
    // A file may carry the owner's rights in the product group's entry.
    const bool owner_rights =
        !is_dir && same(last.sid, wk.product) && last.mask == s.slots[2].mask;
    if (!is_full_product(last, wk) && !owner_rights)
      return KSI_SERVER_ACE_BAD_PRODUCT_GROUP;
    if (same(s.slots[0].sid, wk.everyone) || same(s.slots[0].sid, wk.creator))
      return KSI_SERVER_ACE_BAD_GROUP;
  }
  const nt_sid_t *owner = s.slots[2].sid;
  if (same(owner, wk.product) || same(owner, wk.everyone) ||
      same(owner, wk.creator))
    return KSI_SERVER_ACE_BAD_OWNER;
  return 0;
}

}  // namespace

ksi_layout ksi_recognise_layout(const nt_acl_t *dacl, bool is_dir) {
  const WellKnown wk = well_known();
  Scan s;
  int reason = scan_entries(dacl, is_dir, wk, &s);
  if (reason == 0 && s.product == 0) reason = KSI_SERVER_NO_PRODUCT_GROUP;
  if (reason == 0 &&
      (s.everyone == 0 || s.others < 1 || s.others > 2 || s.nslots < 3))
    reason = KSI_SERVER_ACL_UNPARSABLE;
  if (reason == 0 && same(s.slots[1].sid, wk.product)) {
    ksi_layout older = {-1, 0, nullptr, nullptr};
    reason = read_older_layout(dacl, wk, s.slots[2].sid, &older);
    if (reason == 0) return older;
  }
  if (reason == 0) reason = check_slots(s, is_dir, wk);
  if (reason != 0) return {-1, reason, nullptr, nullptr};
  const int mode = (nt_mask_to_perms(s.slots[2].mask) << 6) |
                   (nt_mask_to_perms(s.slots[0].mask) << 3) |
                   nt_mask_to_perms(s.other_mask);
  return {mode, 0, s.slots[2].sid, s.slots[0].sid};
}
