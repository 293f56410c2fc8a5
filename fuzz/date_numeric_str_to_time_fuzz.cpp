// Fuzzes the numeric date forms. The first byte picks the form (0-9, 9
// being invalid). A failure must leave the result alone. For a digit form,
// an accepted time between 1970 and 9999 formats to a text that parses
// back to a time with the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <ctime>
#include <string>

#include <orvexks/date.h>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("TZ", "UTC0", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const int form = data[0] % 10;
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  time_t t = -77;
  int rc = date_numeric_str_to_time(form, text.c_str(), &t);
  if (rc == 0) {
    if (t != -77) abort();
    return 0;
  }
  if (rc != 1) abort();
  constexpr time_t kYear10000 = 253402300800;
  if (t < 0 || t >= kYear10000 || form == 6 || form == 7) return 0;
  const std::string first(date_fmt_token_numeric(form, t));
  time_t again = -77;
  if (date_numeric_str_to_time(form, first.c_str(), &again) != 1) abort();
  if (strcmp(date_fmt_token_numeric(form, again), first.c_str()) != 0) abort();
  return 0;
}
