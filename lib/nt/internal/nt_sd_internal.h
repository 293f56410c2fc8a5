// Shared pieces of the security-descriptor layer: little-endian fields,
// assembling descriptors from parts, the protection layout and the Windows
// codes of host failures.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <orvexnt/nt_security.h>

// Windows system error codes the layer reports.
enum : int {
  NTI_ERROR_FILE_NOT_FOUND = 2,
  NTI_ERROR_PATH_NOT_FOUND = 3,
  NTI_ERROR_ACCESS_DENIED = 5,
  NTI_ERROR_NOT_ENOUGH_MEMORY = 8,
  NTI_ERROR_FILE_EXISTS = 80,
  NTI_ERROR_INVALID_PARAMETER = 87,
  NTI_ERROR_ALREADY_EXISTS = 183,
};

inline uint16_t nti_get16(const uint8_t *p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t nti_get32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void nti_put16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void nti_put32(uint8_t *p, uint32_t v) {
  nti_put16(p, v);
  nti_put16(p + 2, v >> 16);
}

// Byte length of an ACL from nt_sd_parse (its declared size).
inline size_t nti_acl_size(const nt_acl_t *acl) {
  return nti_get16(reinterpret_cast<const uint8_t *>(acl) + 2);
}

// A new self-relative descriptor of owner, group (either may be null) and
// the ACL bytes dacl (null: no DACL), copied as they are. Results as
// nt_sd_build.
int nti_sd_assemble(const nt_sid_t *owner, const nt_sid_t *group,
                    const nt_acl_t *dacl, nt_security_descriptor_t **sd_out,
                    size_t *size_out);

// nt_sd_build_layout, except that a missing product group leaves its
// entries out instead of failing.
int nti_sd_layout(const nt_sid_t *sd_owner, const nt_sid_t *unix_owner,
                  const nt_sid_t *group, int mode, bool is_dir,
                  bool network_write, bool need_product_group,
                  nt_security_descriptor_t **sd_out, size_t *size_out);

// The Windows code of a host errno value (ENOENT 2, EACCES 5, ...).
int nti_errno_to_win32(int err);

// True when the calling thread holds the capability cap in its effective
// set (uid 0 counts as holding every one).
bool nti_has_capability(int cap);
