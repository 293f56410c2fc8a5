// "groups.sd" descriptors to records and back, over the companion
// library's descriptor codec.
#include "protect/server_ids_codec.h"

#include <cstring>

#include <orvexnt/nt_accounts.h>

#include "protect/server_internal.h"

namespace {

bool same(const nt_sid_t *a, int well_known) {
  const nt_sid_t *b = nt_get_enum_sid(well_known);
  return b != nullptr && nt_sid_equal(a, b) != 0;
}

}  // namespace

uint32_t ksi_groups_decode(const void *bytes, size_t size,
                           ksi_groups_record *out) {
  memset(out, 0, sizeof *out);
  out->ids.user = CREDUTL_SID_NOBODY;
  out->ids.group = CREDUTL_SID_NOBODY;
  nt_sd_info_t info;
  const int rc = nt_sd_parse(bytes, size, &info);
  if (rc != 0) return static_cast<uint32_t>(rc);
  if (info.owner == nullptr || info.group == nullptr || info.dacl == nullptr)
    return NT_ERROR_INVALID_ACL;
  credutl_nt_sid_to_sid(info.owner, &out->ids.user);
  credutl_nt_sid_to_sid(info.group, &out->ids.group);
  const int count = nt_acl_count(info.dacl);
  for (int i = 0; i < count; ++i) {
    nt_ace_info_t ace;
    if (nt_acl_get_ace(info.dacl, i, &ace) != 0 || ace.sid == nullptr ||
        ace.type != NT_ACCESS_ALLOWED_ACE_TYPE ||
        (ace.flags & NT_INHERIT_ONLY_ACE) != 0)
      continue;
    if (same(ace.sid, NT_ENUM_SID_EVERYONE)) {
      out->everyone_mask |= ace.mask;
      continue;
    }
    if (same(ace.sid, NT_ENUM_SID_CREATOR_OWNER) ||
        same(ace.sid, NT_ENUM_SID_PRODUCT_GROUP) ||
        out->ids.ngroups == CREDUTL_MAX_GROUPS)
      continue;
    credutl_nt_sid_to_sid(ace.sid, &out->ids.groups[out->ids.ngroups++]);
  }
  return 0;
}

uint32_t ksi_groups_encode(const ksi_groups_record &record,
                           nt_security_descriptor_t **sd_out,
                           size_t *size_out) {
  const credutl_sid_credentials_t &ids = record.ids;
  if (ids.ngroups < 0 || ids.ngroups > CREDUTL_MAX_GROUPS) return 87;
  uint8_t owner[NT_SID_MAX_LENGTH];
  uint8_t group[NT_SID_MAX_LENGTH];
  uint8_t sids[CREDUTL_MAX_GROUPS][NT_SID_MAX_LENGTH];
  nt_ace_info_t aces[CREDUTL_MAX_GROUPS + 1];
  if (!ksi_server_nt_sid(&ids.user, owner) ||
      !ksi_server_nt_sid(&ids.group, group))
    return NT_ERROR_INVALID_SID;
  int count = 0;
  for (int i = 0; i < ids.ngroups; ++i) {
    if (!ksi_server_nt_sid(&ids.groups[i], sids[i]))
      return NT_ERROR_INVALID_SID;
    aces[count++] = {NT_ACCESS_ALLOWED_ACE_TYPE, 0, 0, ksi_as_sid(sids[i])};
  }
  if (record.everyone_mask != 0)
    aces[count++] = {NT_ACCESS_ALLOWED_ACE_TYPE, 0, record.everyone_mask,
                     nt_get_enum_sid(NT_ENUM_SID_EVERYONE)};
  return static_cast<uint32_t>(nt_sd_build(ksi_as_sid(owner), ksi_as_sid(group),
                                           aces, count, sd_out, size_out));
}
