// Self-relative security descriptors: building them from parts and parsing
// untrusted bytes with every offset and length checked before use.
#include <orvexnt/nt_security.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "internal/nt_alloc_fault.h"
#include "internal/nt_sd_internal.h"

namespace {

const uint8_t *nti_u8(const void *p) { return static_cast<const uint8_t *>(p); }

// Offsets of the header fields.
constexpr size_t kControl = 2, kOwner = 4, kGroup = 8, kSacl = 12, kDacl = 16;
constexpr size_t kAceFixed = NT_ACE_HEADER_SIZE + 4;  // header and mask

bool nti_is_sid_ace(uint8_t type) {
  return type == NT_ACCESS_ALLOWED_ACE_TYPE ||
         type == NT_ACCESS_DENIED_ACE_TYPE;
}

// The length of a valid SID that starts at b[at] and ends by b[end];
// 0 when it does not fit or is not valid.
size_t nti_sid_fits(const uint8_t *b, size_t at, size_t end) {
  if (at > end || end - at < 8) return 0;
  const size_t len = nt_sid_length(reinterpret_cast<const nt_sid_t *>(b + at));
  return len != 0 && len <= end - at ? len : 0;
}

// Checks the ACL at b[at], whose bytes must end by b[end]: a known
// revision, a size that fits, and entries that lie inside that size.
bool nti_acl_fits(const uint8_t *b, size_t at, size_t end) {
  if (at > end || end - at < NT_ACL_HEADER_SIZE) return false;
  const uint8_t *acl = b + at;
  const size_t size = nti_get16(acl + 2);
  if ((acl[0] != NT_ACL_REVISION && acl[0] != NT_ACL_REVISION_DS) ||
      size < NT_ACL_HEADER_SIZE || size % 4 != 0 || size > end - at)
    return false;
  size_t pos = NT_ACL_HEADER_SIZE;
  for (unsigned i = 0, n = nti_get16(acl + 4); i < n; i++) {
    if (size - pos < NT_ACE_HEADER_SIZE) return false;
    const size_t ace_size = nti_get16(acl + pos + 2);
    if (ace_size < NT_ACE_HEADER_SIZE || ace_size % 4 != 0 ||
        ace_size > size - pos)
      return false;
    if (nti_is_sid_ace(acl[pos]) &&
        (ace_size < kAceFixed ||
         nti_sid_fits(acl, pos + kAceFixed, pos + ace_size) == 0))
      return false;
    pos += ace_size;
  }
  return true;
}

// Checks the SID named by the header field at `field`; its offset goes to
// *at (0: absent). 0, 1338 for an offset outside the bytes, 1337 for a SID
// that is not valid.
int nti_check_sid_part(const uint8_t *b, size_t size, size_t field,
                       size_t *at) {
  *at = nti_get32(b + field);
  if (*at == 0) return 0;
  if (*at < NT_SD_HEADER_SIZE || *at >= size)
    return NT_ERROR_INVALID_SECURITY_DESCR;
  return nti_sid_fits(b, *at, size) ? 0 : NT_ERROR_INVALID_SID;
}

// The same for an ACL that the control bit `present` announces.
int nti_check_acl_part(const uint8_t *b, size_t size, size_t field,
                       uint16_t present, size_t *at) {
  *at = (nti_get16(b + kControl) & present) ? nti_get32(b + field) : 0;
  if (*at == 0) return 0;
  if (*at < NT_SD_HEADER_SIZE || *at >= size)
    return NT_ERROR_INVALID_SECURITY_DESCR;
  return nti_acl_fits(b, *at, size) ? 0 : NT_ERROR_INVALID_ACL;
}

// Writes the ACL header and the count allowed or denied entries at out.
void nti_write_acl(uint8_t *out, size_t acl_size, const nt_ace_info_t *aces,
                   int count) {
  out[0] = NT_ACL_REVISION;
  out[1] = 0;
  nti_put16(out + 2, static_cast<uint32_t>(acl_size));
  nti_put16(out + 4, static_cast<uint32_t>(count));
  nti_put16(out + 6, 0);
  uint8_t *p = out + NT_ACL_HEADER_SIZE;
  for (int i = 0; i < count; i++) {
    const size_t sid_len = nt_sid_length(aces[i].sid);
    p[0] = aces[i].type;
    p[1] = aces[i].flags;
    nti_put16(p + 2, static_cast<uint32_t>(kAceFixed + sid_len));
    nti_put32(p + 4, aces[i].mask);
    memcpy(p + kAceFixed, aces[i].sid, sid_len);
    p += kAceFixed + sid_len;
  }
}

// Lays out header, owner, group and the DACL (acl_size bytes written by
// fill) in one heap block.
template <typename Fill>
int nti_sd_layout_parts(const nt_sid_t *owner, const nt_sid_t *group,
                        size_t acl_size, bool has_dacl, Fill fill,
                        nt_security_descriptor_t **sd_out, size_t *size_out) {
  if ((owner != nullptr && !nt_sid_is_valid(owner)) ||
      (group != nullptr && !nt_sid_is_valid(group)))
    return NT_ERROR_INVALID_SID;
  const size_t owner_len = owner ? nt_sid_length(owner) : 0;
  const size_t group_len = group ? nt_sid_length(group) : 0;
  const size_t total = NT_SD_HEADER_SIZE + owner_len + group_len + acl_size;
  auto *b = static_cast<uint8_t *>(nt_calloc(1, total));
  if (b == nullptr) return NTI_ERROR_NOT_ENOUGH_MEMORY;
  b[0] = NT_SD_REVISION;
  nti_put16(b + kControl,
            NT_SE_SELF_RELATIVE | (has_dacl ? NT_SE_DACL_PRESENT : 0));
  size_t at = NT_SD_HEADER_SIZE;
  if (owner != nullptr) {
    nti_put32(b + kOwner, static_cast<uint32_t>(at));
    memcpy(b + at, owner, owner_len);
    at += owner_len;
  }
  if (group != nullptr) {
    nti_put32(b + kGroup, static_cast<uint32_t>(at));
    memcpy(b + at, group, group_len);
    at += group_len;
  }
  if (has_dacl) {
    nti_put32(b + kDacl, static_cast<uint32_t>(at));
    fill(b + at);
  }
  *sd_out = reinterpret_cast<nt_security_descriptor_t *>(b);
  if (size_out != nullptr) *size_out = total;
  return 0;
}

}  // namespace

int nti_sd_assemble(const nt_sid_t *owner, const nt_sid_t *group,
                    const nt_acl_t *dacl, nt_security_descriptor_t **sd_out,
                    size_t *size_out) {
  const size_t acl_size = dacl ? nti_acl_size(dacl) : 0;
  return nti_sd_layout_parts(
      owner, group, acl_size, dacl != nullptr,
      [&](uint8_t *out) { memcpy(out, dacl, acl_size); }, sd_out, size_out);
}

extern "C" {

NT_API int nt_sd_build(const nt_sid_t *owner, const nt_sid_t *group,
                       const nt_ace_info_t *aces, int count,
                       nt_security_descriptor_t **sd_out, size_t *size_out) {
  if (sd_out == nullptr || count < 0 || (aces == nullptr && count > 0))
    return NTI_ERROR_INVALID_PARAMETER;
  *sd_out = nullptr;
  size_t acl_size = NT_ACL_HEADER_SIZE;
  for (int i = 0; i < count; i++) {
    if (!nti_is_sid_ace(aces[i].type) || aces[i].sid == nullptr)
      return NTI_ERROR_INVALID_PARAMETER;
    if (!nt_sid_is_valid(aces[i].sid)) return NT_ERROR_INVALID_SID;
    acl_size += kAceFixed + nt_sid_length(aces[i].sid);
    if (acl_size > NT_ACL_MAX_SIZE) return NT_ERROR_INVALID_ACL;
  }
  return nti_sd_layout_parts(
      owner, group, acl_size, true,
      [&](uint8_t *out) { nti_write_acl(out, acl_size, aces, count); }, sd_out,
      size_out);
}

NT_API void nt_sd_free(nt_security_descriptor_t *sd) { free(sd); }

NT_API int nt_sd_parse(const void *bytes, size_t size, nt_sd_info_t *info_out) {
  if (bytes == nullptr) return NTI_ERROR_INVALID_PARAMETER;
  const uint8_t *b = nti_u8(bytes);
  if (size < NT_SD_HEADER_SIZE || b[0] != NT_SD_REVISION ||
      !(nti_get16(b + kControl) & NT_SE_SELF_RELATIVE))
    return NT_ERROR_INVALID_SECURITY_DESCR;
  size_t owner, group, sacl, dacl;
  int rc = nti_check_sid_part(b, size, kOwner, &owner);
  if (rc == 0) rc = nti_check_sid_part(b, size, kGroup, &group);
  if (rc == 0)
    rc = nti_check_acl_part(b, size, kSacl, NT_SE_SACL_PRESENT, &sacl);
  if (rc == 0)
    rc = nti_check_acl_part(b, size, kDacl, NT_SE_DACL_PRESENT, &dacl);
  if (rc != 0 || info_out == nullptr) return rc;
  auto part = [b](size_t at) -> const void * { return at ? b + at : nullptr; };
  info_out->control = nti_get16(b + kControl);
  info_out->owner = static_cast<const nt_sid_t *>(part(owner));
  info_out->group = static_cast<const nt_sid_t *>(part(group));
  info_out->sacl = static_cast<const nt_acl_t *>(part(sacl));
  info_out->dacl = static_cast<const nt_acl_t *>(part(dacl));
  return 0;
}

NT_API int nt_acl_count(const nt_acl_t *acl) {
  return acl ? nti_get16(nti_u8(acl) + 4) : 0;
}

NT_API int nt_acl_get_ace(const nt_acl_t *acl, int index,
                          nt_ace_info_t *ace_out) {
  if (acl == nullptr || ace_out == nullptr || index < 0 ||
      index >= nt_acl_count(acl))
    return NTI_ERROR_INVALID_PARAMETER;
  const uint8_t *a = nti_u8(acl);
  size_t pos = NT_ACL_HEADER_SIZE;
  for (int i = 0; i < index; i++) pos += nti_get16(a + pos + 2);
  const uint8_t *p = a + pos;
  const bool with_sid = nti_is_sid_ace(p[0]);
  ace_out->type = p[0];
  ace_out->flags = p[1];
  ace_out->mask = nti_get16(p + 2) >= kAceFixed ? nti_get32(p + 4) : 0;
  ace_out->sid =
      with_sid ? reinterpret_cast<const nt_sid_t *>(p + kAceFixed) : nullptr;
  return 0;
}

}  // extern "C"
