// The time of day, broken-down times, and the per-thread result buffers of
// the date routines.
#include <orvexks/stg.h>

#include <cstdlib>
#include <cstring>

#include "date/date_internal.h"

time_t ksi_date_now(void) { return time(nullptr); }

bool ksi_date_local(time_t t, struct tm *tm) {
  return localtime_r(&t, tm) != nullptr;
}

bool ksi_date_utc(time_t t, struct tm *tm) {
  return gmtime_r(&t, tm) != nullptr;
}

namespace {

// Days from 1970-01-01 to the first of a month (1-12) of the proleptic
// Gregorian calendar, counted in 400-year eras of 146,097 days.
long long days_to_month(long long year, int month) {
  year -= month <= 2 ? 1 : 0;
  long long era = (year >= 0 ? year : year - 399) / 400;
  long long year_of_era = year - era * 400;
  long long day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
  long long day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

}  // namespace

// Plain arithmetic instead of the C library's timegm, which takes the
// time-zone lock and searches; out-of-range days, hours, minutes and
// seconds simply add up.
time_t ksi_date_timegm(const struct tm *tm) {
  long long months = static_cast<long long>(tm->tm_year) * 12 + tm->tm_mon;
  long long year = 1900 + (months >= 0 ? months / 12 : (months - 11) / 12);
  int month = static_cast<int>(months - (year - 1900) * 12) + 1;
  long long days = days_to_month(year, month) + tm->tm_mday - 1;
  return static_cast<time_t>(days * 86400 + tm->tm_hour * 3600LL +
                             tm->tm_min * 60LL + tm->tm_sec);
}

bool ksi_date_is_recent(time_t t) {
  time_t now = ksi_date_now();
  return date_one_year_ago(now) < t && t <= now;
}

namespace {

// The buffers live in the block's own area; only the token copies are on
// the heap.
void date_tls_cleanup(void *record) {
  for (char *&token : static_cast<ksi_date_tls *>(record)->tokens) {
    if (token != nullptr) stg_free(token);
    token = nullptr;
  }
}

ksi_tls_slot_t date_slot = KSI_TLS_SLOT_INIT(ksi_date_tls, date_tls_cleanup);

}  // namespace

ksi_date_tls *ksi_date_tls_get(void) {
  return ksi_tls_record<ksi_date_tls>(&date_slot);
}

extern "C" {

KS_API long date_get_timeval(struct timeval *tv) {
  if (gettimeofday(tv, nullptr) != 0) {
    tv->tv_sec = time(nullptr);
    tv->tv_usec = 0;
  }
  if (tv->tv_usec >= 1000000) {
    tv->tv_sec += tv->tv_usec / 1000000;
    tv->tv_usec %= 1000000;
  }
  return static_cast<long>(tv->tv_usec);
}

KS_API struct tm *date_get_localtime(const time_t *t, struct tm *tm) {
  return ksi_date_local(t != nullptr ? *t : ksi_date_now(), tm) ? tm : nullptr;
}

KS_API struct tm *date_get_gmtime(const time_t *t, struct tm *tm) {
  return ksi_date_utc(t != nullptr ? *t : ksi_date_now(), tm) ? tm : nullptr;
}

}  // extern "C"
