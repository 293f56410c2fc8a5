// Fuzzes the date-time parser (classic grammar, then ISO 8601) in both
// year-inference directions. A failure must leave the result alone; an
// accepted time must be non-negative and, up to 2099, come back unchanged
// through its ISO UTC token.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <ctime>
#include <string>

#include <orvexks/date.h>

namespace {

constexpr time_t kUnset = -77;
constexpr time_t kYear2100 = 4102444800;

void check(const char *text, int direction) {
  time_t t = kUnset;
  int rc = date_str_to_time2(text, direction, &t);
  if (rc != 0) {
    if (rc != 1 || t != kUnset) abort();
    return;
  }
  if (t < 0) abort();
  if (t >= kYear2100) return;
  time_t back = kUnset;
  if (date_str_to_time(date_fmt_token_utc(t), &back) != 0 || back != t) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("TZ", "UTC0", 1);
  tzset();
  date_fmt_set_default_style(DATE_STYLE_ISO);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  check(text.c_str(), 0);
  check(text.c_str(), 1);
  return 0;
}
