// Parses arbitrary text as a SID; every record that parses must format
// without fault and parse back to the same key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <orvexks/credutl.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  credutl_sid_t sid;
  if (credutl_str_to_sid(text.c_str(), &sid) != 0) return 0;
  if (sid.length < 2 || sid.length > CREDUTL_SID_SIZE) std::abort();
  // A UNIX record of an unknown kind is refused by the formatter.
  if (sid.type == CREDUTL_SID_TYPE_UNIX && sid.length == 7 &&
      sid.data[4] != CREDUTL_SID_UNIX_UID &&
      sid.data[4] != CREDUTL_SID_UNIX_GID)
    return 0;
  char buf[CREDUTL_SID_STR_SIZE];
  credutl_sid_to_str(&sid, buf);
  if (std::strlen(buf) >= CREDUTL_SID_STR_SIZE) std::abort();
  credutl_sid_t back;
  if (credutl_str_to_sid(buf, &back) != 0) std::abort();
  bool same = sid.type <= CREDUTL_SID_TYPE_DONTCARE
                  ? back.type == sid.type
                  : credutl_sid_eq(&sid, &back);
  if (!same) std::abort();
  credutl_sid_hash_fn(&sid);
  return 0;
}
