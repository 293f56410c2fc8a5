// Local-time texts in per-thread buffers (long, short and ls forms), one
// year back from a time, and the process's date style.
#include <orvexks/qmthread.h>
#include <orvexnt/nt_env.h>

#include <cstring>

#include "date/date_internal.h"
#include "internal/thread_safety.h"
#include "thread/qmthread_internal.h"

namespace {

// Guards the style and the one-time read of QUILL_ISO_DATE_FMT.
qmthread_mutex_t style_lock = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(style_lock);
int style KSI_GUARDED_BY(style_lock) = DATE_STYLE_ISO;
bool style_read KSI_GUARDED_BY(style_lock) = false;

void read_style_once() KSI_REQUIRES(style_lock) {
  if (style_read) return;
  style_read = true;
  const char *value = nt_getenv_safe("QUILL_ISO_DATE_FMT");
  if (value != nullptr && strcmp(value, "0") == 0) style = DATE_STYLE_CLASSIC;
}

// strftime of the local time of t into buf; null for a negative or
// unconvertible time.
char *format_local(time_t t, const char *format, char *buf, size_t size) {
  struct tm tm;
  if (t < 0 || !ksi_date_local(t, &tm)) return nullptr;
  if (strftime(buf, size, format, &tm) == 0) buf[0] = '\0';
  return buf;
}

}  // namespace

extern "C" {

KS_API int date_fmt_get_default_date_style(void) {
  qmthread_mutex_lock(&style_lock);
  read_style_once();
  int current = style;
  qmthread_mutex_unlock(&style_lock);
  return current;
}

KS_API int date_fmt_set_default_style(int new_style) {
  qmthread_mutex_lock(&style_lock);
  read_style_once();
  int previous = style;
  style = new_style;
  qmthread_mutex_unlock(&style_lock);
  return previous;
}

KS_API char *date_fmt_long_date_time(time_t t) {
  ksi_date_tls *tls = ksi_date_tls_get();
  if (tls == nullptr) return nullptr;
  return format_local(t, "%A, %B %d, %Y %H:%M:%S", tls->long_date_time,
                      sizeof tls->long_date_time);
}

KS_API char *date_fmt_short_date_time(time_t t) {
  ksi_date_tls *tls = ksi_date_tls_get();
  if (tls == nullptr) return nullptr;
  return format_local(t, "%x %X", tls->short_date_time,
                      sizeof tls->short_date_time);
}

KS_API char *date_fmt_short_date(time_t t) {
  ksi_date_tls *tls = ksi_date_tls_get();
  if (tls == nullptr) return nullptr;
  return format_local(t, "%x", tls->short_date, sizeof tls->short_date);
}

KS_API char *date_fmt_short_time(time_t t) {
  ksi_date_tls *tls = ksi_date_tls_get();
  if (tls == nullptr) return nullptr;
  return format_local(t, "%H:%M:%S", tls->short_time, sizeof tls->short_time);
}

KS_API char *date_fmt_ls_date_time(time_t t) {
  ksi_date_tls *tls = ksi_date_tls_get();
  if (tls == nullptr) return nullptr;
  const char *format = ksi_date_is_recent(t) ? "%b %d %H:%M" : "%b %d  %Y";
  return format_local(t, format, tls->ls_date_time, sizeof tls->ls_date_time);
}

// A year back is 365 or 366 days, chosen by the year's place in the
// four-year leap cycle and by the month.
KS_API time_t date_one_year_ago(time_t t) {
  constexpr time_t kYear = 365 * 86400;
  constexpr time_t kLeapYear = 366 * 86400;
  struct tm tm;
  if (!ksi_date_local(t, &tm)) return t - kYear;
  int cycle = tm.tm_year % 4;
  bool short_year = (cycle == 0 && tm.tm_mon < 3) ||
                    (cycle != 0 && cycle != 1) || (cycle == 1 && tm.tm_mon > 2);
  return t - (short_year ? kYear : kLeapYear);
}

}  // extern "C"
