// Fuzzes the security-descriptor parser over arbitrary attribute bytes.
// Whatever it accepts must be walkable entry by entry inside the bytes, and
// rebuilding the descriptor from its owner, group and allowed and denied
// entries must give a descriptor that parses and grants the same mode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <orvexnt/nt_security.h>

namespace {

// Collects the entries of a DACL; false when there are more than fit.
bool collect(const nt_acl_t *acl, nt_ace_info_t *aces, int cap, int *n) {
  *n = 0;
  for (int i = 0, count = nt_acl_count(acl); i < count; i++) {
    nt_ace_info_t ace;
    if (nt_acl_get_ace(acl, i, &ace) != 0) abort();
    if (ace.sid == nullptr) continue;  // neither allowed nor denied
    if (!nt_sid_is_valid(ace.sid)) abort();
    if (*n == cap) return false;
    aces[(*n)++] = ace;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // An exact-size copy, so that any read past the end is caught.
  auto *bytes = static_cast<uint8_t *>(malloc(size ? size : 1));
  if (size) memcpy(bytes, data, size);
  nt_sd_info_t info;
  if (nt_sd_parse(bytes, size, &info) == 0) {
    static nt_ace_info_t aces[NT_ACL_MAX_SIZE / 16];
    int n = 0, sacl_n = 0;
    collect(info.sacl, aces, NT_ACL_MAX_SIZE / 16, &sacl_n);
    const int mode = nt_sd_mode(&info);
    if (mode < 0 || mode > 0777) abort();
    nt_sd_unix_owner(&info);
    if (collect(info.dacl, aces, NT_ACL_MAX_SIZE / 16, &n)) {
      nt_security_descriptor_t *again = nullptr;
      size_t again_size = 0;
      if (nt_sd_build(info.owner, info.group, aces, n, &again, &again_size) ==
          0) {
        nt_sd_info_t again_info;
        if (nt_sd_parse(again, again_size, &again_info) != 0) abort();
        if (nt_sd_mode(&again_info) != mode) abort();
        nt_sd_free(again);
      }
    }
  }
  free(bytes);
  return 0;
}
