// Binary NT security identifiers: validation, access and allocation.
#include <orvexnt/nt_sid.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kHeaderLength = 8;  // revision, count, 6-byte authority

const uint8_t *nti_bytes(const nt_sid_t *sid) {
  return reinterpret_cast<const uint8_t *>(sid);
}

}  // namespace

extern "C" {

NT_API int nt_sid_is_valid(const nt_sid_t *sid) {
  if (sid == nullptr) return 0;
  const uint8_t *b = nti_bytes(sid);
  return b[0] == NT_SID_REVISION && b[1] <= NT_SID_MAX_SUB_AUTHORITIES;
}

NT_API size_t nt_sid_length(const nt_sid_t *sid) {
  if (!nt_sid_is_valid(sid)) return 0;
  return kHeaderLength + 4u * nti_bytes(sid)[1];
}

NT_API int nt_sid_equal(const nt_sid_t *a, const nt_sid_t *b) {
  const size_t len = nt_sid_length(a);
  return len != 0 && len == nt_sid_length(b) && memcmp(a, b, len) == 0;
}

NT_API uint64_t nt_sid_get_authority(const nt_sid_t *sid) {
  if (sid == nullptr) return 0;
  const uint8_t *b = nti_bytes(sid);
  uint64_t authority = 0;
  for (int i = 2; i < 8; i++) authority = (authority << 8) | b[i];
  return authority;
}

NT_API unsigned nt_sid_sub_authority_count(const nt_sid_t *sid) {
  return sid ? nti_bytes(sid)[1] : 0;
}

NT_API uint32_t nt_sid_get_sub_authority(const nt_sid_t *sid, unsigned index) {
  if (index >= nt_sid_sub_authority_count(sid)) return 0;
  const uint8_t *p = nti_bytes(sid) + kHeaderLength + 4u * index;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

NT_API size_t nt_sid_build(void *buf, size_t size, uint64_t authority,
                           unsigned count, const uint32_t *subs) {
  if (buf == nullptr || authority > NT_SID_MAX_AUTHORITY ||
      count > NT_SID_MAX_SUB_AUTHORITIES || (subs == nullptr && count > 0))
    return 0;
  const size_t len = kHeaderLength + 4u * count;
  if (size < len) return 0;

  uint8_t *b = static_cast<uint8_t *>(buf);
  b[0] = NT_SID_REVISION;
  b[1] = static_cast<uint8_t>(count);
  for (int i = 7; i >= 2; i--, authority >>= 8)
    b[i] = static_cast<uint8_t>(authority);
  for (unsigned i = 0; i < count; i++) {
    uint8_t *p = b + kHeaderLength + 4u * i;
    p[0] = static_cast<uint8_t>(subs[i]);
    p[1] = static_cast<uint8_t>(subs[i] >> 8);
    p[2] = static_cast<uint8_t>(subs[i] >> 16);
    p[3] = static_cast<uint8_t>(subs[i] >> 24);
  }
  return len;
}

NT_API nt_sid_t *nt_sid_alloc_from(uint64_t authority, unsigned count,
                                   const uint32_t *subs) {
  if (count > NT_SID_MAX_SUB_AUTHORITIES) return nullptr;
  const size_t len = kHeaderLength + 4u * count;
  void *buf = malloc(len);
  if (buf == nullptr) return nullptr;
  if (nt_sid_build(buf, len, authority, count, subs) == 0) {
    free(buf);
    return nullptr;
  }
  return static_cast<nt_sid_t *>(buf);
}

NT_API nt_sid_t *nt_sid_alloc(uint64_t authority, unsigned count, ...) {
  if (count > NT_SID_MAX_SUB_AUTHORITIES) return nullptr;
  uint32_t subs[NT_SID_MAX_SUB_AUTHORITIES];
  va_list ap;
  va_start(ap, count);
  for (unsigned i = 0; i < count; i++) subs[i] = va_arg(ap, uint32_t);
  va_end(ap);
  return nt_sid_alloc_from(authority, count, subs);
}

NT_API nt_sid_t *nt_sid_copy(const nt_sid_t *sid) {
  const size_t len = nt_sid_length(sid);
  if (len == 0) return nullptr;
  void *copy = malloc(len);
  if (copy != nullptr) memcpy(copy, sid, len);
  return static_cast<nt_sid_t *>(copy);
}

NT_API void nt_sid_free(nt_sid_t *sid) { free(sid); }

}  // extern "C"
