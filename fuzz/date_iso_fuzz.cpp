// Fuzzes the ISO 8601 parser on its own, in every direction (past, next,
// no adjustment), with the process in a zone east of UTC so that zone
// offsets and local conversions both matter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <ctime>
#include <string>

#include "date/date_internal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("TZ", "<+0530>-5:30", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  for (int direction = 0; direction < 3; ++direction) {
    time_t t = -77;
    int rc = ksi_date_parse_iso(text.c_str(), direction, &t);
    if (rc == 0 ? t < 0 : rc != 1 || t != -77) abort();
  }
  return 0;
}
