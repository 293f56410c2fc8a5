// The classic date-time grammar (the usage text of the ks/date table):
//   <date-time> = <date>.<time> | <date> | <time> | now | none
//   <date>      = d[d]-<month>[-[yy]yy] | <day-of-week> | today | yesterday
//   <time>      = h[h]:m[m][:s[s]][UTC[+|-][h[h][:mm]]]
// Keywords, names and separators come from the table (so a catalog can
// translate them) and from the locale; input is compared in upper case.
// date_str_to_time2 tries this grammar first and ISO 8601 second.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "date/date_internal.h"
#include "date/date_msgs.h"
#include "msg/msg_lookup.h"

namespace {

constexpr size_t kTextMax = 1024;

struct clock_time {
  int hour = 0;
  int minute = 0;
  int second = 0;
  bool utc = false;
  long offset = 0;  // seconds east of UTC, with utc
};

// ASCII white space inline; other bytes go to the locale.
bool is_space(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x80) return u == ' ' || (u >= '\t' && u <= '\r');
  return isspace(u) != 0;
}

// Reads min_digits to max_digits digits.
bool read_number(const char *&p, int min_digits, int max_digits, int *value) {
  int v = 0, n = 0;
  while (n < max_digits && isdigit(static_cast<unsigned char>(p[n])))
    v = v * 10 + (p[n++] - '0');
  if (n < min_digits || isdigit(static_cast<unsigned char>(p[n]))) return false;
  p += n;
  *value = v;
  return true;
}

bool skip_word(const char *&p, const char *word) {
  size_t len = strlen(word);
  if (len == 0 || strncmp(p, word, len) != 0) return false;
  p += len;
  return true;
}

// h[h]:m[m][:s[s]][UTC[+|-][h[h][:mm]]]
bool parse_time(const char *p, const ksi_date_words &w, clock_time *out) {
  clock_time c;
  if (!read_number(p, 1, 2, &c.hour) || !skip_word(p, w.time_sep) ||
      !read_number(p, 1, 2, &c.minute))
    return false;
  if (skip_word(p, w.time_sep) && !read_number(p, 1, 2, &c.second))
    return false;
  if (c.hour > 23 || c.minute > 59 || c.second > 59) return false;
  if (skip_word(p, w.utc)) {
    c.utc = true;
    bool has_sign = *p == '+' || *p == '-';
    int sign = has_sign && *p++ == '-' ? -1 : 1;
    int hours = 0, minutes = 0;
    bool has_hours = isdigit(static_cast<unsigned char>(*p)) != 0;
    if (has_sign && !has_hours) return false;
    if (has_hours) {
      if (!read_number(p, 1, 2, &hours) || hours > 23) return false;
      if (skip_word(p, w.time_sep) &&
          (!read_number(p, 2, 2, &minutes) || minutes > 59))
        return false;
    }
    c.offset = sign * (hours * 3600L + minutes * 60L);
  }
  if (*p != '\0') return false;
  *out = c;
  return true;
}

bool same(const char *text, const char *word) {
  return word[0] != '\0' && strcmp(text, word) == 0;
}

// Today's local broken-down time, read on first use: a text that names
// its date in full never needs it.
class local_today {
 public:
  const struct tm *get() {
    if (!taken_) {
      taken_ = true;
      ok_ = ksi_date_local(ksi_date_now(), &tm_);
    }
    return ok_ ? &tm_ : nullptr;
  }

 private:
  bool taken_ = false;
  bool ok_ = false;
  struct tm tm_;
};

// Keywords and weekday names: `date` becomes the named day; false when
// the text is neither.
bool parse_day_word(const char *p, const ksi_date_words &w,
                    const struct tm &today, int direction, struct tm *date) {
  *date = today;
  if (same(p, w.today[0]) || same(p, w.today[1])) return true;
  if (same(p, w.yesterday[0]) || same(p, w.yesterday[1])) {
    --date->tm_mday;
    return true;
  }
  int weekday = ksi_date_weekday_of(p, strlen(p));
  if (weekday < 0) return false;
  if (direction == DATE_DIRECTION_FUTURE) {
    date->tm_mday += (weekday - today.tm_wday + 7) % 7;
  } else {
    date->tm_mday -= (today.tm_wday - weekday + 7) % 7;
  }
  return true;
}

// Fills year, month and day of `date` from the date part.
bool parse_date(const char *p, const ksi_date_words &w, local_today &clock,
                int direction, struct tm *date) {
  if (!isdigit(static_cast<unsigned char>(*p))) {
    const struct tm *today = clock.get();
    return today != nullptr && parse_day_word(p, w, *today, direction, date);
  }

  int day = 0;
  if (!read_number(p, 1, 2, &day) || !skip_word(p, w.date_sep)) return false;
  const char *month_end = strstr(p, w.date_sep);
  size_t month_len =
      month_end != nullptr ? static_cast<size_t>(month_end - p) : strlen(p);
  int month = ksi_date_month_of(p, month_len);
  if (month < 0 || day < 1 || day > ksi_date_month_days(month)) return false;
  p += month_len;

  int year = 0;
  if (skip_word(p, w.date_sep)) {
    const char *digits = p;
    if (!read_number(p, 2, 4, &year) || p - digits == 3 || *p != '\0')
      return false;
    if (year > 99 && year < 1969) return false;
    if (year <= 99) year += year < 69 ? 2000 : 1900;
  } else {
    const struct tm *today = clock.get();
    if (*p != '\0' || today == nullptr) return false;
    year = today->tm_year + 1900;
    bool later = month > today->tm_mon ||
                 (month == today->tm_mon && day > today->tm_mday);
    bool earlier = month < today->tm_mon ||
                   (month == today->tm_mon && day < today->tm_mday);
    if (direction == DATE_DIRECTION_PAST && later) --year;
    if (direction == DATE_DIRECTION_FUTURE && earlier) ++year;
  }
  if (month == 1 && day == 29 && year % 4 != 0) return false;
  memset(date, 0, sizeof *date);
  date->tm_year = year - 1900;
  date->tm_mon = month;
  date->tm_mday = day;
  return true;
}

int parse_token(char *token, int direction, time_t *t) {
  const ksi_date_words &w = *ksi_date_words_get();
  if (same(token, w.none)) {
    *t = 0;
    return 0;
  }
  if (same(token, w.now)) {
    *t = ksi_date_now();
    return 0;
  }

  // Split into date and time parts. Without the date-time separator the
  // token is a time when a time separator comes before any date separator.
  const char *date_part = token;
  const char *time_part = nullptr;
  char *split =
      w.date_time_sep[0] != '\0' ? strstr(token, w.date_time_sep) : nullptr;
  if (split != nullptr) {
    *split = '\0';
    time_part = split + strlen(w.date_time_sep);
  } else {
    const char *colon = strstr(token, w.time_sep);
    const char *dash = strstr(token, w.date_sep);
    if (colon != nullptr && (dash == nullptr || dash > colon)) {
      date_part = nullptr;
      time_part = token;
    }
  }

  local_today clock;
  struct tm fields;
  if (date_part != nullptr) {
    if (!parse_date(date_part, w, clock, direction, &fields)) return 1;
  } else {
    const struct tm *today = clock.get();
    if (today == nullptr) return 1;
    fields = *today;
  }
  clock_time time_of_day;
  if (time_part != nullptr && !parse_time(time_part, w, &time_of_day)) return 1;
  fields.tm_hour = time_of_day.hour;
  fields.tm_min = time_of_day.minute;
  fields.tm_sec = time_of_day.second;
  fields.tm_isdst = -1;
  time_t result = time_of_day.utc
                      ? ksi_date_timegm(&fields) - time_of_day.offset
                      : mktime(&fields);
  if (result < 0) return 1;
  *t = result;
  return 0;
}

}  // namespace

int ksi_date_parse_classic(const char *text, int direction, time_t *t) {
  if (text == nullptr || text[0] == '\0') return 1;
  char upper[kTextMax];
  ksi_date_upper(upper, text, sizeof upper);
  char *token = upper;
  while (is_space(*token)) ++token;
  char *end = token;
  while (*end != '\0' && !is_space(*end)) ++end;
  for (const char *rest = end; *rest != '\0'; ++rest)
    if (!is_space(*rest)) return 1;
  *end = '\0';
  if (*token == '\0') return 1;
  return parse_token(token, direction, t);
}

extern "C" {

KS_API int date_str_to_time2(const char *text, int direction, time_t *t) {
  if (ksi_date_parse_classic(text, direction, t) == 0) return 0;
  return ksi_date_parse_iso(text, direction, t);
}

KS_API int date_str_to_time(const char *text, time_t *t) {
  return date_str_to_time2(text, 0, t);
}

KS_API char *date_usage_date_time(void) {
  ksi_date_tls *tls = ksi_date_tls_get();
  if (tls == nullptr) return nullptr;
  const char *usage = ksi_msg_lookup(&ksi_date_msgs, KSI_DATE_USAGE);
  snprintf(tls->usage, sizeof tls->usage, "%s", usage != nullptr ? usage : "");
  return tls->usage;
}

}  // extern "C"
