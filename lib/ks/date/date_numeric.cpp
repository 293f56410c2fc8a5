// Numeric date forms: digits only, with the date-time and time separators
// of the ks/date table (for example 240103.090507), or the time as a
// decimal or hexadecimal number. Formatting and parsing share one table of
// templates: a template with "%%" for '%' and "%s" for a separator becomes
// a strftime format, and the parser walks that same format.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "date/date_internal.h"

namespace {

constexpr int kFormDecimal = 6;
constexpr int kFormHex = 7;
constexpr int kFormCount = 9;

// Templates of the digit forms; the first "%s" is the date-time separator,
// the second the time separator.
const char *const kTemplates[kFormCount] = {
    "%%y%%m%%d%s%%H%%M%%S",
    "%%Y%%m%%d%s%%H%%M%%S",
    "%%y%%m%%d%s%%H%%M",
    "%%Y%%m%%d%s%%H%%M",
    "%%y%%m%%d",
    "%%Y%%m%%d",
    nullptr,
    nullptr,
    "%%y%%m%%d%s%%H%s%%M",
};

bool is_digit_form(int form) {
  return form >= 0 && form < kFormCount && kTemplates[form] != nullptr;
}

void build_format(int form, char *format, size_t size) {
  const ksi_date_words *words = ksi_date_words_get();
  snprintf(format, size, kTemplates[form], words->date_time_sep,
           words->time_sep);
}

bool read_field(const char *&text, int width, int *value) {
  int v = 0;
  for (int i = 0; i < width; ++i, ++text) {
    if (!isdigit(static_cast<unsigned char>(*text))) return false;
    v = v * 10 + (*text - '0');
  }
  *value = v;
  return true;
}

// Reads text against a strftime format of the digit forms. Time fields the
// format lacks stay 0.
bool read_digit_form(const char *format, const char *text, struct tm *tm) {
  memset(tm, 0, sizeof *tm);
  for (const char *f = format; *f != '\0'; ++f) {
    if (*f != '%') {
      if (*text++ != *f) return false;
      continue;
    }
    int value = 0;
    char directive = *++f;
    if (!read_field(text, directive == 'Y' ? 4 : 2, &value)) return false;
    switch (directive) {
      case 'y':
        tm->tm_year = (value < 70 ? 2000 + value : 1900 + value) - 1900;
        break;
      case 'Y':
        tm->tm_year = value - 1900;
        break;
      case 'm':
        tm->tm_mon = value - 1;
        break;
      case 'd':
        tm->tm_mday = value;
        break;
      case 'H':
        tm->tm_hour = value;
        break;
      case 'M':
        tm->tm_min = value;
        break;
      case 'S':
        tm->tm_sec = value;
        break;
      default:
        return false;
    }
  }
  tm->tm_isdst = -1;
  return true;
}

bool read_number(const char *text, int base, time_t *t) {
  char *end = nullptr;
  errno = 0;
  long long value = strtoll(text, &end, base);
  if (end == text || errno == ERANGE) return false;
  *t = static_cast<time_t>(value);
  return true;
}

}  // namespace

extern "C" {

KS_API char *date_fmt_token_numeric(int form, time_t t) {
  ksi_date_tls *tls = ksi_date_tls_get();
  if (tls == nullptr || t < 0) return nullptr;
  char *out = tls->numeric;
  if (form == kFormDecimal || form == kFormHex) {
    snprintf(out, sizeof tls->numeric, form == kFormDecimal ? "%u" : "%x",
             static_cast<unsigned>(static_cast<uint32_t>(t)));
    return out;
  }
  if (!is_digit_form(form)) return nullptr;
  struct tm tm;
  if (!ksi_date_local(t, &tm)) return nullptr;
  char format[3 * kKsiDateNameMax];
  build_format(form, format, sizeof format);
  if (strftime(out, sizeof tls->numeric, format, &tm) == 0) out[0] = '\0';
  return out;
}

KS_API int date_numeric_str_to_time(int form, const char *text, time_t *t) {
  if (text == nullptr || t == nullptr) return 0;
  if (form == kFormDecimal || form == kFormHex)
    return read_number(text, form == kFormDecimal ? 10 : 16, t) ? 1 : 0;
  if (!is_digit_form(form)) return 0;
  char format[3 * kKsiDateNameMax];
  build_format(form, format, sizeof format);
  struct tm tm;
  if (!read_digit_form(format, text, &tm)) return 0;
  time_t result = mktime(&tm);
  if (result == static_cast<time_t>(-1)) return 0;
  *t = result;
  return 1;
}

}  // extern "C"
