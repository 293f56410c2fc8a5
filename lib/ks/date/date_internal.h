// Internals shared by the date formatting and parsing units.
#pragma once

#include <ctime>

#include <orvexks/date.h>

#include "date/date_msgs.h"
#include "thread/tls_impl.h"

// Keywords, separators and names, looked up once per process and kept in
// upper case so that they compare directly with upper-cased input.
constexpr int kKsiDateNameMax = 64;
constexpr int kKsiDateMonthNames = 48;  // table full/short + locale full/short
constexpr int kKsiDateWeekdayNames = 28;

struct ksi_date_name {
  char text[kKsiDateNameMax];  // empty when the source had no text
  int value;  // month 0-11 or weekday (Sunday 0 ... Saturday 6)
};

struct ksi_date_words {
  char today[2][kKsiDateNameMax];
  char yesterday[2][kKsiDateNameMax];
  char now[kKsiDateNameMax];
  char none[kKsiDateNameMax];
  char utc[kKsiDateNameMax];
  char date_sep[kKsiDateNameMax];
  char time_sep[kKsiDateNameMax];
  char date_time_sep[kKsiDateNameMax];
  ksi_date_name months[kKsiDateMonthNames];
  ksi_date_name weekdays[kKsiDateWeekdayNames];
};

// Copies src upper-cased into dst of size bytes, truncating.
void ksi_date_upper(char *dst, const char *src, size_t size);

// The process's words, built on the first call.
const ksi_date_words *ksi_date_words_get(void);
// Month (0-11) or weekday (0-6) named by the upper-case text of length
// len, or -1.
int ksi_date_month_of(const char *text, size_t len);
int ksi_date_weekday_of(const char *text, size_t len);
// Days in month 0-11, February counted as 29.
int ksi_date_month_days(int month);

// Per-thread result buffers, allocated in the thread-local block on first
// use.
enum KsiDateToken {
  KSI_DATE_TOKEN_DATE,
  KSI_DATE_TOKEN_DATE_TIME,
  KSI_DATE_TOKEN_UTC,
  KSI_DATE_TOKEN_PNAME,
  KSI_DATE_TOKEN_SHORT,
  KSI_DATE_TOKEN_COUNT
};

struct ksi_date_tls {
  char long_date_time[128];
  char short_date_time[128];
  char short_date[32];
  char short_time[128];
  char ls_date_time[128];
  char numeric[128];
  char usage[1024];
  char
      *tokens[KSI_DATE_TOKEN_COUNT];  // heap copies of the named token routines
};

ksi_date_tls *ksi_date_tls_get(void);

// The current time, and broken-down local or UTC time; false when the
// platform cannot convert t.
time_t ksi_date_now(void);
bool ksi_date_local(time_t t, struct tm *tm);
bool ksi_date_utc(time_t t, struct tm *tm);

// Recent: one year ago < t <= now.
bool ksi_date_is_recent(time_t t);

// The two parsers behind date_str_to_time2: 0 with *t set, 1 on failure
// with *t unchanged.
int ksi_date_parse_classic(const char *text, int direction, time_t *t);
int ksi_date_parse_iso(const char *text, int direction, time_t *t);

// Seconds since the epoch of broken-down fields read as UTC; fields out of
// their range carry over as they do for timegm.
time_t ksi_date_timegm(const struct tm *tm);
