// Token texts of a time: date, date and time, short, or date and time with
// microseconds, in the classic style (03-Jan-24.09:05:07) or in ISO 8601
// (2024-01-03T09:05:07+01:00), local or UTC, optionally usable inside a
// path name (no ':' in the text).
#include <orvexks/stg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "date/date_internal.h"

namespace {

constexpr size_t kTokenMax = 128;

struct token_request {
  int variant;
  bool recent;  // variant 2 only: one year ago < t <= now
  bool utc;
  bool pname;
  int usec;
};

void remove_blanks(char *text) {
  char *out = text;
  for (const char *in = text; *in != '\0'; ++in)
    if (*in != ' ') *out++ = *in;
  *out = '\0';
}

// The classic style builds a strftime format from a template ("%%" for
// '%', "%s" for the time separator or the "UTC" suffix) and applies it.
void format_classic(const struct tm &tm, const token_request &req, char *out) {
  const char *sep = req.pname ? "." : ":";
  const char *suffix = req.utc ? "UTC" : "";
  char format[64];
  if (req.variant == DATE_TOKEN_DATE) {
    snprintf(format, sizeof format, "%%d-%%b-%%y");
  } else if (req.variant == DATE_TOKEN_SHORT && req.recent) {
    snprintf(format, sizeof format, "%%d-%%b.%%H%s%%M%s", sep, suffix);
  } else if (req.variant == DATE_TOKEN_SHORT) {
    snprintf(format, sizeof format, "%%d-%%b-%%Y");
  } else {
    snprintf(format, sizeof format, "%%d-%%b-%%y.%%H%s%%M%s%%S%s", sep, sep,
             suffix);
  }
  if (strftime(out, kTokenMax, format, &tm) == 0) out[0] = '\0';
  remove_blanks(out);
}

// "Z" for UTC, else the local offset at t as +hh:mm or -hh:mm (separator
// sep), found by reading the local fields as if they were UTC.
void iso_zone(time_t t, const struct tm &local, bool utc, const char *sep,
              char *zone, size_t size) {
  long long offset =
      utc ? 0 : static_cast<long long>(ksi_date_timegm(&local) - t);
  if (offset == 0) {
    snprintf(zone, size, "Z");
    return;
  }
  char sign = offset < 0 ? '-' : '+';
  offset = llabs(offset);
  snprintf(zone, size, "%c%02lld%s%02lld", sign, offset / 3600, sep,
           offset % 3600 / 60);
}

void format_iso(time_t t, const struct tm &tm, const token_request &req,
                char *out) {
  const char *sep = req.pname ? "" : ":";
  int year = tm.tm_year + 1900, month = tm.tm_mon + 1;
  if (req.variant == DATE_TOKEN_DATE ||
      (req.variant == DATE_TOKEN_SHORT && !req.recent)) {
    snprintf(out, kTokenMax, "%04d-%02d-%02d", year, month, tm.tm_mday);
    return;
  }
  if (req.variant == DATE_TOKEN_SHORT) {
    snprintf(out, kTokenMax, "--%02d-%02dT%02d%s%02d", month, tm.tm_mday,
             tm.tm_hour, sep, tm.tm_min);
    return;
  }
  char zone[32];
  iso_zone(t, tm, req.utc, sep, zone, sizeof zone);
  if (req.variant == DATE_TOKEN_DATE_TIME_USEC) {
    snprintf(out, kTokenMax, "%04d-%02d-%02dT%02d%s%02d%s%02d.%06d%s", year,
             month, tm.tm_mday, tm.tm_hour, sep, tm.tm_min, sep, tm.tm_sec,
             req.usec, zone);
  } else {
    snprintf(out, kTokenMax, "%04d-%02d-%02dT%02d%s%02d%s%02d%s", year, month,
             tm.tm_mday, tm.tm_hour, sep, tm.tm_min, sep, tm.tm_sec, zone);
  }
}

// Replaces the thread's previous copy of routine `slot` by the new text.
char *keep_for_thread(int slot, char *text) {
  ksi_date_tls *tls = ksi_date_tls_get();
  if (tls == nullptr) {
    if (text != nullptr) stg_free(text);
    return nullptr;
  }
  if (tls->tokens[slot] != nullptr) stg_free(tls->tokens[slot]);
  tls->tokens[slot] = text;
  return text;
}

}  // namespace

extern "C" {

KS_API char *date_fmt_token_general(time_t t, int variant, int style, int usec,
                                    int utc, int pname) {
  if (t < 0 || variant < DATE_TOKEN_DATE_TIME ||
      variant > DATE_TOKEN_DATE_TIME_USEC)
    return nullptr;
  if (style == DATE_STYLE_DEFAULT) style = date_fmt_get_default_date_style();
  if (style != DATE_STYLE_CLASSIC && style != DATE_STYLE_ISO) return nullptr;
  token_request req{variant,
                    variant == DATE_TOKEN_SHORT && ksi_date_is_recent(t),
                    utc != 0, pname != 0, usec};
  struct tm tm;
  if (!(req.utc ? ksi_date_utc(t, &tm) : ksi_date_local(t, &tm)))
    return nullptr;
  char text[kTokenMax];
  if (style == DATE_STYLE_CLASSIC) {
    format_classic(tm, req, text);
  } else {
    format_iso(t, tm, req, text);
  }
  return stg_strdup(text);
}

KS_API char *date_fmt_token_date(time_t t) {
  return keep_for_thread(
      KSI_DATE_TOKEN_DATE,
      date_fmt_token_general(t, DATE_TOKEN_DATE, 0, 0, 0, 0));
}

KS_API char *date_fmt_token_date_time(time_t t) {
  return keep_for_thread(
      KSI_DATE_TOKEN_DATE_TIME,
      date_fmt_token_general(t, DATE_TOKEN_DATE_TIME, 0, 0, 0, 0));
}

KS_API char *date_fmt_token_utc(time_t t) {
  return keep_for_thread(
      KSI_DATE_TOKEN_UTC,
      date_fmt_token_general(t, DATE_TOKEN_DATE_TIME, 0, 0, 1, 0));
}

KS_API char *date_fmt_token_date_time_pname(time_t t) {
  return keep_for_thread(
      KSI_DATE_TOKEN_PNAME,
      date_fmt_token_general(t, DATE_TOKEN_DATE_TIME, 0, 0, 0, 1));
}

KS_API char *date_fmt_token_short_date_time(time_t t) {
  return keep_for_thread(
      KSI_DATE_TOKEN_SHORT,
      date_fmt_token_general(t, DATE_TOKEN_SHORT, 0, 0, 0, 0));
}

}  // extern "C"
