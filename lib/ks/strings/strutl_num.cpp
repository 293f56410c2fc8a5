// Number conversions of the string utilities (whole-text and prefix forms
// over the C library's strto* functions, parameters with defaults and
// clamping, sizes with k/m/g suffixes, unsigned-to-text in any base) and
// the 32-bit text hash.
#include "strings/strutl_internal.h"

#include <orvexks/strutl.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// The result rule shared by every conversion: `stop` is where the C
// library stopped reading, `overflow` tells that the value did not fit, and
// `whole` asks that the whole text was used.
int conversion_result(const char *s, const char *stop, bool overflow,
                      char **end, bool whole) {
  if (end != nullptr) *end = const_cast<char *>(stop);
  if (stop == s || overflow) return 1;
  return whole && *stop != '\0' ? 1 : 0;
}

int to_long(const char *s, int base, long *value, char **end, bool whole) {
  *value = 0;
  if (s == nullptr) {
    if (end != nullptr) *end = nullptr;
    return 1;
  }
  char *stop = nullptr;
  errno = 0;
  long v = std::strtol(s, &stop, base);
  bool overflow = errno == ERANGE;
  if (stop != s && !overflow) *value = v;
  return conversion_result(s, stop, overflow, end, whole);
}

int to_ulong(const char *s, int base, unsigned long *value, char **end,
             bool whole) {
  *value = 0;
  if (s == nullptr) {
    if (end != nullptr) *end = nullptr;
    return 1;
  }
  char *stop = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(s, &stop, base);
  bool overflow = errno == ERANGE;
  if (stop != s && !overflow) *value = v;
  return conversion_result(s, stop, overflow, end, whole);
}

int to_double(const char *s, double *value, char **end, bool whole) {
  *value = 0;
  if (s == nullptr) {
    if (end != nullptr) *end = nullptr;
    return 1;
  }
  char *stop = nullptr;
  errno = 0;
  double v = std::strtod(s, &stop);
  // Underflow to a tiny value is a reading, not an overflow.
  bool overflow = errno == ERANGE && std::fabs(v) == HUGE_VAL;
  if (stop != s && !overflow) *value = v;
  return conversion_result(s, stop, overflow, end, whole);
}

// Reads "<number>[suffix]" and scales it by the suffix's factor (units[0]
// for no suffix, then k, m, g). A non-zero result that truncates to 0
// becomes 1.
int size_with_suffix(const char *text, const double units[4],
                     uint32_t *result) {
  *result = 0;
  double v = 0;
  char *stop = nullptr;
  if (text == nullptr) return 1;
  if (strutl_strtod_extended(text, &v, &stop) != 0 || !(v >= 0)) return 1;
  double factor;
  switch (*stop) {
    case '\0':
      factor = units[0];
      break;
    case 'k':
    case 'K':
      factor = units[1];
      break;
    case 'm':
    case 'M':
      factor = units[2];
      break;
    case 'g':
    case 'G':
      factor = units[3];
      break;
    default:
      return 1;
  }
  if (*stop != '\0' && stop[1] != '\0') return 1;
  double scaled = v * factor;
  if (!(scaled < 4294967296.0)) return 1;
  uint32_t truncated = static_cast<uint32_t>(scaled);
  *result = (truncated == 0 && scaled > 0) ? 1 : truncated;
  return 0;
}

constexpr double kKiB = 1024.0;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

}  // namespace

extern "C" {

KS_API int strutl_strtol(const char *s, int base, long *value) {
  return to_long(s, base, value, nullptr, true);
}

KS_API int strutl_strtoul(const char *s, int base, unsigned long *value) {
  return to_ulong(s, base, value, nullptr, true);
}

KS_API int strutl_strtod(const char *s, double *value) {
  return to_double(s, value, nullptr, true);
}

KS_API int strutl_strtol_extended(const char *s, int base, long *value,
                                  char **end) {
  return to_long(s, base, value, end, false);
}

KS_API int strutl_strtoul_extended(const char *s, int base,
                                   unsigned long *value, char **end) {
  return to_ulong(s, base, value, end, false);
}

KS_API int strutl_strtod_extended(const char *s, double *value, char **end) {
  return to_double(s, value, end, false);
}

KS_API long strutl_process_long_param(const char *text, long def, long min,
                                      long max) {
  long value = 0;
  if (text == nullptr || strutl_strtol(text, 10, &value) != 0) return def;
  if (value < min) return min;
  if (value > max) return max;
  return value;
}

KS_API int strutl_kstr_to_long(const char *text, uint32_t *kbytes) {
  static const double kUnits[4] = {1.0 / kKiB, 1.0, kKiB, kMiB};
  return size_with_suffix(text, kUnits, kbytes);
}

KS_API int strutl_kstr_or_str_to_long(const char *text, uint32_t *bytes) {
  static const double kUnits[4] = {1.0, kKiB, kMiB, kGiB};
  return size_with_suffix(text, kUnits, bytes);
}

KS_API double uint64_to_double(uint64_t value) {
  constexpr uint64_t kTop = uint64_t{1} << 63;
  if (value < kTop) return static_cast<double>(static_cast<int64_t>(value));
  return static_cast<double>(static_cast<int64_t>(value - kTop)) +
         9223372036854775808.0;
}

KS_API const char *strutl_u32tostr(uint32_t value, int base, int width) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  constexpr int kMaxDigits = 32;
  if (base < 2 || base > 36) return nullptr;
  char *buf = ksi_strutl_tls_get()->u32tostr_buf;
  // Digits are produced from the end of the buffer backwards.
  char *p = buf + kMaxDigits;
  *p = '\0';
  if (width < 0) {
    do {
      *--p = kDigits[value % static_cast<uint32_t>(base)];
      value /= static_cast<uint32_t>(base);
    } while (value != 0);
    return p;
  }
  if (width > kMaxDigits) width = kMaxDigits;
  for (int i = 0; i < width; ++i) {
    *--p = kDigits[value % static_cast<uint32_t>(base)];
    value /= static_cast<uint32_t>(base);
  }
  return p;
}

KS_API uint32_t strutl_str_to_hash32(uint32_t seed, const char *text) {
  uint32_t h = seed;
  if (text == nullptr) return h;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
       *p != '\0'; ++p)
    h = ((h << 5) | (h >> 27)) + *p;
  return h;
}

}  // extern "C"
