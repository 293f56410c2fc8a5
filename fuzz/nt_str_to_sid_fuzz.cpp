// Fuzzes the SID text parser: any text it accepts must give a valid SID
// whose canonical text parses back to the same SID.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>

#include <orvexnt/nt_sid.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  nt_sid_t *sid = nt_str_to_sid(text.c_str());
  if (sid == nullptr) return 0;

  if (!nt_sid_is_valid(sid)) abort();
  char canonical[NT_SID_STRING_MAX];
  if (nt_sid_to_str(sid, canonical, sizeof canonical) == nullptr) abort();
  nt_sid_t *again = nt_str_to_sid(canonical);
  if (!nt_sid_equal(sid, again)) abort();
  char twice[NT_SID_STRING_MAX];
  if (nt_sid_to_str(again, twice, sizeof twice) == nullptr ||
      strcmp(canonical, twice) != 0)
    abort();

  nt_sid_free(again);
  nt_sid_free(sid);
  return 0;
}
