// Mode bits and access masks: the protection layout built from an owner,
// a group and nine mode bits, and the POSIX mode a descriptor grants.
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_security.h>

#include "internal/nt_sd_internal.h"

namespace {

constexpr uint32_t kOwnerAlways = NT_WRITE_DAC | NT_WRITE_OWNER;
constexpr uint32_t kOwnerWrite = NT_FILE_GENERIC_WRITE | NT_DELETE;
constexpr uint32_t kOwnerExecute = NT_FILE_GENERIC_EXECUTE | kOwnerAlways;
// What a reader needs in full to see the read bit.
constexpr uint32_t kReadHeld =
    NT_FILE_READ_DATA | NT_FILE_READ_EA | NT_READ_CONTROL | NT_SYNCHRONIZE;
// What Network is denied unless network writes are on.
constexpr uint32_t kNetworkDenied = NT_FILE_WRITE_DATA | NT_FILE_APPEND_DATA |
                                    NT_FILE_WRITE_EA |
                                    NT_FILE_WRITE_ATTRIBUTES | NT_DELETE;

uint32_t nti_class_mask(int perms, uint32_t write) {
  return (perms & 4 ? NT_FILE_GENERIC_READ : 0) | (perms & 2 ? write : 0) |
         (perms & 1 ? NT_FILE_GENERIC_EXECUTE : 0);
}

// The permissions a denied mask takes away: any right of a class's core
// (read data, write data or append, execute) or its generic right.
int nti_denied_perms(uint32_t mask) {
  if (mask & NT_GENERIC_ALL) return 7;
  int perms = 0;
  if (mask & (NT_FILE_READ_DATA | NT_GENERIC_READ)) perms |= 4;
  if (mask & (NT_FILE_WRITE_DATA | NT_FILE_APPEND_DATA | NT_GENERIC_WRITE))
    perms |= 2;
  if (mask & (NT_FILE_EXECUTE | NT_GENERIC_EXECUTE)) perms |= 1;
  return perms;
}

bool nti_same(const nt_sid_t *a, const nt_sid_t *b) {
  return a != nullptr && b != nullptr && nt_sid_equal(a, b);
}

// Collects the entries of the protection layout in order.
class AceList {
 public:
  void add(uint8_t type, uint8_t flags, uint32_t mask, const nt_sid_t *sid) {
    if (sid != nullptr) aces_[count_++] = {type, flags, mask, sid};
  }
  void allow(uint8_t flags, uint32_t mask, const nt_sid_t *sid) {
    add(NT_ACCESS_ALLOWED_ACE_TYPE, flags, mask, sid);
  }
  const nt_ace_info_t *aces() const { return aces_; }
  int count() const { return count_; }

 private:
  nt_ace_info_t aces_[12] = {};
  int count_ = 0;
};

}  // namespace

int nti_sd_layout(const nt_sid_t *sd_owner, const nt_sid_t *unix_owner,
                  const nt_sid_t *group, int mode, bool is_dir,
                  bool network_write, bool need_product_group,
                  nt_security_descriptor_t **sd_out, size_t *size_out) {
  if (sd_out == nullptr || sd_owner == nullptr || unix_owner == nullptr ||
      group == nullptr || mode < 0 || mode > 0777)
    return NTI_ERROR_INVALID_PARAMETER;
  const nt_sid_t *product = nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP);
  if (product == nullptr && need_product_group) return NT_ERROR_INVALID_SID;
  const nt_sid_t *admins = nt_get_enum_sid(NT_ENUM_SID_ADMINISTRATORS);
  const nt_sid_t *everyone = nt_get_enum_sid(NT_ENUM_SID_EVERYONE);
  const bool group_is_product = nti_same(group, product);
  const bool group_is_admins = nti_same(group, admins);
  uint32_t owner_mask, group_mask, other_mask;
  nt_mode_to_masks(mode, &owner_mask, &group_mask, &other_mask);
  if (group_is_product) group_mask = NT_FILE_ALL_ACCESS;
  if (group_is_admins) group_mask |= NT_FILE_ALL_ACCESS;

  const uint8_t ci = is_dir ? NT_CONTAINER_INHERIT_ACE : 0;
  const uint8_t oi = is_dir ? NT_OBJECT_INHERIT_ACE : 0;
  AceList l;
  if (!network_write && !(mode & 020))
    l.add(NT_ACCESS_DENIED_ACE_TYPE, ci | oi, kNetworkDenied,
          nt_get_enum_sid(NT_ENUM_SID_NETWORK));
  l.allow(ci, group_mask, group);
  l.allow(ci, other_mask, everyone);
  l.allow(ci, owner_mask, unix_owner);
  if (!group_is_product) l.allow(ci, NT_FILE_ALL_ACCESS, product);
  if (is_dir) {
    const uint8_t io = NT_OBJECT_INHERIT_ACE | NT_INHERIT_ONLY_ACE;
    uint32_t inherited = NT_GENERIC_ALL;
    if (!group_is_product && !group_is_admins)
      inherited = (mode & 010 ? NT_GENERIC_EXECUTE : 0) |
                  (mode & 040 ? NT_GENERIC_READ | NT_GENERIC_EXECUTE : 0) |
                  (mode & 020 ? NT_GENERIC_WRITE | NT_DELETE : 0);
    l.allow(io, inherited, group);
    l.allow(io, NT_GENERIC_READ | NT_GENERIC_EXECUTE, everyone);
    l.allow(io,
            NT_GENERIC_READ | NT_GENERIC_WRITE | NT_GENERIC_EXECUTE |
                NT_DELETE | kOwnerAlways,
            unix_owner);
    if (!group_is_product) l.allow(io, NT_GENERIC_ALL, product);
  }
  if (!group_is_admins) l.allow(ci | oi, NT_FILE_ALL_ACCESS, admins);
  return nt_sd_build(sd_owner, group, l.aces(), l.count(), sd_out, size_out);
}

extern "C" {

NT_API void nt_mode_to_masks(int mode, uint32_t *owner_out, uint32_t *group_out,
                             uint32_t *other_out) {
  if (owner_out != nullptr)
    *owner_out = kOwnerAlways | (mode & 0400 ? NT_FILE_GENERIC_READ : 0) |
                 (mode & 0200 ? kOwnerWrite : 0) |
                 (mode & 0100 ? kOwnerExecute : 0);
  if (group_out != nullptr)
    *group_out = nti_class_mask(mode >> 3 & 7, NT_FILE_GENERIC_WRITE);
  if (other_out != nullptr)
    *other_out = nti_class_mask(mode & 7, NT_FILE_GENERIC_WRITE);
}

NT_API int nt_mask_to_perms(uint32_t mask) {
  if (mask & NT_GENERIC_ALL) return 7;
  auto holds = [mask](uint32_t all) { return (mask & all) == all; };
  return (holds(kReadHeld) || (mask & NT_GENERIC_READ) ? 4 : 0) |
         (holds(NT_FILE_GENERIC_WRITE) || (mask & NT_GENERIC_WRITE) ? 2 : 0) |
         (holds(NT_FILE_GENERIC_EXECUTE) || (mask & NT_GENERIC_EXECUTE) ? 1
                                                                        : 0);
}

NT_API const nt_sid_t *nt_sd_unix_owner(const nt_sd_info_t *info) {
  if (info == nullptr) return nullptr;
  const nt_sid_t *everyone = nt_get_enum_sid(NT_ENUM_SID_EVERYONE);
  const nt_sid_t *product = nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP);
  int seen = 0;
  bool layout = false;
  for (int i = 0, n = nt_acl_count(info->dacl); i < n; i++) {
    nt_ace_info_t ace;
    nt_acl_get_ace(info->dacl, i, &ace);
    if (ace.type != NT_ACCESS_ALLOWED_ACE_TYPE ||
        (ace.flags & NT_INHERIT_ONLY_ACE))
      continue;
    if (++seen == 2)
      layout = nti_same(ace.sid, everyone) || nti_same(ace.sid, product);
    else if (seen == 3 && layout)
      return ace.sid;
  }
  return info->owner;
}

NT_API int nt_sd_mode(const nt_sd_info_t *info) {
  if (info == nullptr) return -1;
  const nt_sid_t *owner = nt_sd_unix_owner(info);
  const nt_sid_t *everyone = nt_get_enum_sid(NT_ENUM_SID_EVERYONE);
  const nt_sid_t *const who[3] = {owner, info->group, everyone};
  uint32_t allowed[3] = {0, 0, 0};
  int denied[3] = {0, 0, 0};
  for (int i = 0, n = nt_acl_count(info->dacl); i < n; i++) {
    nt_ace_info_t ace;
    nt_acl_get_ace(info->dacl, i, &ace);
    if (ace.sid == nullptr || (ace.flags & NT_INHERIT_ONLY_ACE)) continue;
    const bool for_all = nti_same(ace.sid, everyone);
    for (int c = 0; c < 3; c++) {
      if (!nti_same(ace.sid, who[c]) &&
          !(for_all && ace.type == NT_ACCESS_DENIED_ACE_TYPE))
        continue;
      if (ace.type == NT_ACCESS_ALLOWED_ACE_TYPE)
        allowed[c] |= ace.mask;
      else
        denied[c] |= nti_denied_perms(ace.mask);
    }
  }
  int mode = 0;
  for (int c = 0; c < 3; c++)
    mode = mode << 3 | (nt_mask_to_perms(allowed[c]) & ~denied[c]);
  return mode;
}

NT_API int nt_sd_build_layout(const nt_sid_t *sd_owner,
                              const nt_sid_t *unix_owner, const nt_sid_t *group,
                              int mode, int is_dir, int network_write,
                              nt_security_descriptor_t **sd_out,
                              size_t *size_out) {
  return nti_sd_layout(sd_owner, unix_owner, group, mode, is_dir != 0,
                       network_write != 0, true, sd_out, size_out);
}

}  // extern "C"
