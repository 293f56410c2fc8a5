// ISO 8601 date-times in basic and extended form, with the truncated forms
// that begin with '-' (--MM-DD, ---DD, -W-D, T-mm, ...). Fields the text
// leaves out are completed from the current time, towards the most recent
// matching date (direction 0) or the next one (direction 1).
#include <cctype>
#include <cstring>

#include "date/date_internal.h"

namespace {

constexpr int kAbsent = -1;

struct iso_fields {
  int century = kAbsent;
  int year = kAbsent;  // of the century
  int month = kAbsent;
  int day = kAbsent;
  int yday = kAbsent;
  int week = kAbsent;
  int wday = kAbsent;  // Monday 1 ... Sunday 7
  int hour = kAbsent;
  int minute = kAbsent;
  int second = kAbsent;
  int usec = kAbsent;
  bool zone = false;
  long zone_offset = 0;  // seconds east of UTC
};

bool set(int field) { return field != kAbsent; }

int count_digits(const char *p) {
  int n = 0;
  while (isdigit(static_cast<unsigned char>(p[n]))) ++n;
  return n;
}

int count_dashes(const char *p) {
  int n = 0;
  while (p[n] == '-') ++n;
  return n;
}

// Reads n digits the caller has counted.
int take(const char *&p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) v = v * 10 + (*p++ - '0');
  return v;
}

// After 'W': ww, ww-D or wwD; with allow_bare_weekday also -D.
bool parse_week(const char *&p, iso_fields &f, bool allow_bare_weekday) {
  int d = count_digits(p);
  if (d == 2 || d == 3) {
    f.week = take(p, 2);
    if (d == 3) {
      f.wday = take(p, 1);
    } else if (p[0] == '-' && count_digits(p + 1) == 1) {
      ++p;
      f.wday = take(p, 1);
    }
    return true;
  }
  if (allow_bare_weekday && d == 0 && p[0] == '-' && count_digits(p + 1) == 1) {
    ++p;
    f.wday = take(p, 1);
    return true;
  }
  return false;
}

// After a year: nothing, or optionally '-' and MM[-DD], DDD or Www..., or
// 'W' and the week directly.
bool parse_after_year(const char *&p, iso_fields &f) {
  const char *q = p;
  if (*q == '-') ++q;
  if (*q == 'W') {
    ++q;
    if (!parse_week(q, f, false)) return false;
    p = q;
    return true;
  }
  if (q == p) return true;
  int d = count_digits(q);
  if (d == 2) {
    f.month = take(q, 2);
    if (q[0] == '-' && count_digits(q + 1) == 2) {
      ++q;
      f.day = take(q, 2);
    }
  } else if (d == 3) {
    f.yday = take(q, 3);
  } else {
    return false;
  }
  p = q;
  return true;
}

bool parse_date(const char *&p, iso_fields &f) {
  int dashes = count_dashes(p);
  const char *q = p + dashes;
  int d = count_digits(q);
  switch (dashes) {
    case 0:
      if (d == 2 && q[2] == '\0') {
        f.century = take(q, 2);
      } else if (d == 2 || d == 4) {
        if (d == 4) f.century = take(q, 2);
        f.year = take(q, 2);
        if (!parse_after_year(q, f)) return false;
      } else if (d == 5 || d == 7) {
        if (d == 7) f.century = take(q, 2);
        f.year = take(q, 2);
        f.yday = take(q, 3);
      } else if (d == 6 || d == 8) {
        if (d == 8) f.century = take(q, 2);
        f.year = take(q, 2);
        f.month = take(q, 2);
        f.day = take(q, 2);
      } else {
        return false;
      }
      break;
    case 1:
      if (d == 0 && *q == 'W') {
        ++q;
        if (!parse_week(q, f, true)) return false;
      } else if (d == 2) {
        f.year = take(q, 2);
        if (!parse_after_year(q, f)) return false;
      } else if (d == 3) {
        f.yday = take(q, 3);
      } else if (d == 4) {
        f.year = take(q, 2);
        f.month = take(q, 2);
      } else {
        return false;
      }
      break;
    case 2:
      if (d == 2) {
        f.month = take(q, 2);
        if (q[0] == '-' && count_digits(q + 1) == 2) {
          ++q;
          f.day = take(q, 2);
        }
      } else if (d == 4) {
        f.month = take(q, 2);
        f.day = take(q, 2);
      } else {
        return false;
      }
      break;
    case 3:
      if (d != 2) return false;
      f.day = take(q, 2);
      break;
    default:
      return false;
  }
  p = q;
  return true;
}

// ':' and exactly two digits, in extended times.
bool take_extended(const char *&p, int *field) {
  if (p[0] != ':' || count_digits(p + 1) != 2) return false;
  ++p;
  *field = take(p, 2);
  return true;
}

// After 'T': hh[:mm[:ss]], hhmm, hhmmss, -mm[:ss], -mmss or --ss, then
// ".ffffff" after the seconds.
bool parse_time(const char *&p, iso_fields &f) {
  int dashes = count_dashes(p);
  const char *q = p + dashes;
  int d = count_digits(q);
  if (dashes == 0 && d == 2) {
    f.hour = take(q, 2);
    if (take_extended(q, &f.minute)) take_extended(q, &f.second);
  } else if (dashes == 0 && (d == 4 || d == 6)) {
    f.hour = take(q, 2);
    f.minute = take(q, 2);
    if (d == 6) f.second = take(q, 2);
  } else if (dashes == 1 && d == 2) {
    f.minute = take(q, 2);
    take_extended(q, &f.second);
  } else if (dashes == 1 && d == 4) {
    f.minute = take(q, 2);
    f.second = take(q, 2);
  } else if (dashes == 2 && d == 2) {
    f.second = take(q, 2);
  } else {
    return false;
  }
  if (set(f.second) && q[0] == '.') {
    if (count_digits(q + 1) != 6) return false;
    ++q;
    f.usec = take(q, 6);
  }
  p = q;
  return true;
}

// Z, +hh, +hh:mm or +hhmm (or '-'); no zone when none of these starts.
bool parse_zone(const char *&p, iso_fields &f) {
  if (*p == 'Z') {
    ++p;
    f.zone = true;
    return true;
  }
  if (*p != '+' && *p != '-') return true;
  int sign = *p == '-' ? -1 : 1;
  const char *q = p + 1;
  int d = count_digits(q);
  int hours = 0, minutes = 0;
  if (d == 2) {
    hours = take(q, 2);
    take_extended(q, &minutes);
  } else if (d == 4) {
    hours = take(q, 2);
    minutes = take(q, 2);
  } else {
    return false;
  }
  if (hours > 23 || minutes > 59) return false;
  f.zone = true;
  f.zone_offset = sign * (hours * 3600L + minutes * 60L);
  p = q;
  return true;
}

bool in_range(int field, int low, int high) {
  return !set(field) || (field >= low && field <= high);
}

// Week numbers are read but not accepted: only a weekday alone names a
// day by week.
bool valid(const iso_fields &f) {
  if (set(f.century) && f.century != 19 && f.century != 20) return false;
  if (!in_range(f.month, 1, 12) || !in_range(f.day, 1, 31) ||
      !in_range(f.wday, 1, 7) || !in_range(f.yday, 1, 366) ||
      !in_range(f.hour, 0, 24) || !in_range(f.minute, 0, 59) ||
      !in_range(f.second, 0, 60) || !in_range(f.usec, 0, 999999))
    return false;
  if (set(f.week)) return false;
  if (set(f.yday) && (set(f.month) || set(f.day) || set(f.wday))) return false;
  if (set(f.day) && set(f.wday)) return false;
  return true;
}

// 0 = Sunday, for the proleptic Gregorian calendar.
int day_of_week(int year, int month, int day) {
  static const int kShift[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) --year;
  return (year + year / 4 - year / 100 + year / 400 + kShift[month - 1] + day) %
         7;
}

int iso_weekday(int weekday) { return weekday == 0 ? 7 : weekday; }

int iso_weeks_in(int year) {
  int jan1 = day_of_week(year, 1, 1);
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return (jan1 == 4 || (leap && jan1 == 3)) ? 53 : 52;
}

// The moment the missing fields are taken from.
struct iso_now {
  struct tm tm;
  int iso_year;
  int iso_week;
  int iso_wday;
};

bool take_now(const iso_fields &f, iso_now *now) {
  time_t t = ksi_date_now();
  bool ok = f.zone ? ksi_date_utc(t + f.zone_offset, &now->tm)
                   : ksi_date_local(t, &now->tm);
  if (!ok) return false;
  int year = now->tm.tm_year + 1900;
  now->iso_wday = iso_weekday(now->tm.tm_wday);
  now->iso_year = year;
  now->iso_week = (now->tm.tm_yday + 1 - now->iso_wday + 10) / 7;
  if (now->iso_week < 1) {
    now->iso_year = year - 1;
    now->iso_week = iso_weeks_in(year - 1);
  } else if (now->iso_week > iso_weeks_in(year)) {
    now->iso_year = year + 1;
    now->iso_week = 1;
  }
  return true;
}

// Whether the date fields name a day after (sign 1) or before (sign -1)
// today within the current year.
bool beyond_today(const iso_fields &f, const iso_now &now, int sign) {
  auto beyond = [sign](int a, int b) { return sign > 0 ? a > b : a < b; };
  int today_month = now.tm.tm_mon + 1;
  if (set(f.yday) && beyond(f.yday, now.tm.tm_yday + 1)) return true;
  if (set(f.week) && beyond(f.week, now.iso_week)) return true;
  if (set(f.week) && f.week == now.iso_week && set(f.wday) &&
      beyond(f.wday, now.iso_wday))
    return true;
  if (set(f.month) && beyond(f.month, today_month)) return true;
  if (set(f.month) && f.month == today_month && set(f.day) &&
      beyond(f.day, now.tm.tm_mday))
    return true;
  return false;
}

// Whether completion reads the current time: fully specified texts skip
// the clock and its time-zone conversion.
bool needs_now(const iso_fields &f) {
  return (set(f.second) && !set(f.minute)) || (set(f.minute) && !set(f.hour)) ||
         (set(f.hour) && !set(f.day) && !set(f.wday) && !set(f.yday)) ||
         (set(f.day) && !set(f.month)) || (set(f.wday) && !set(f.week)) ||
         (!set(f.year) && (set(f.yday) || set(f.month) || set(f.week)));
}

void complete(iso_fields &f, const iso_now &now, int direction) {
  // Time upwards; a time without a date is today's.
  if (set(f.second) && !set(f.minute)) f.minute = now.tm.tm_min;
  if (set(f.minute) && !set(f.hour)) f.hour = now.tm.tm_hour;
  if (set(f.hour) && !set(f.day) && !set(f.wday) && !set(f.yday))
    f.yday = now.tm.tm_yday + 1;

  if (set(f.day) && !set(f.month)) {
    f.month = now.tm.tm_mon + 1;
    if (direction == DATE_DIRECTION_PAST && f.day > now.tm.tm_mday) --f.month;
    if (direction == DATE_DIRECTION_FUTURE && f.day < now.tm.tm_mday) ++f.month;
  }
  if (set(f.wday) && !set(f.week)) {
    f.week = now.iso_week;
    if (direction == DATE_DIRECTION_PAST && f.wday > now.iso_wday) --f.week;
    if (direction == DATE_DIRECTION_FUTURE && f.wday < now.iso_wday) ++f.week;
  }

  // A week counts in the ISO week-numbering year, which differs from the
  // calendar year in the days around January 1.
  if (!set(f.year) && (set(f.yday) || set(f.month) || set(f.week))) {
    int year = set(f.week) ? now.iso_year : now.tm.tm_year + 1900;
    if (direction == DATE_DIRECTION_PAST && beyond_today(f, now, 1)) --year;
    if (direction == DATE_DIRECTION_FUTURE && beyond_today(f, now, -1)) ++year;
    f.century = year / 100;
    f.year = year % 100;
  }
  if (set(f.year) && !set(f.century)) f.century = f.year < 51 ? 20 : 19;
  if (set(f.century) && !set(f.year)) f.year = 0;

  if (set(f.month) && !set(f.day)) f.day = 1;
  if (!set(f.yday) && !set(f.month) && !set(f.week)) f.yday = 1;
  if (set(f.week) && !set(f.wday)) f.wday = 1;

  if (!set(f.hour)) f.hour = 0;
  if (!set(f.minute)) f.minute = 0;
  if (!set(f.second)) f.second = 0;
}

// Broken-down fields of the completed date; out-of-range days (day of the
// year, a week's day) are left to the normalisation of the conversion.
void to_tm(const iso_fields &f, struct tm *tm) {
  memset(tm, 0, sizeof *tm);
  tm->tm_year = (f.century - 19) * 100 + f.year;
  if (set(f.month)) {
    tm->tm_mon = f.month - 1;
    tm->tm_mday = f.day;
  } else if (set(f.yday)) {
    tm->tm_mday = f.yday;
  } else {
    // Week 1 is the week that holds January 4.
    int jan4 = iso_weekday(day_of_week(tm->tm_year + 1900, 1, 4));
    tm->tm_mday = 4 - (jan4 - 1) + (f.week - 1) * 7 + (f.wday - 1);
  }
  tm->tm_hour = f.hour;
  tm->tm_min = f.minute;
  tm->tm_sec = f.second;
  tm->tm_isdst = -1;
}

}  // namespace

int ksi_date_parse_iso(const char *text, int direction, time_t *t) {
  if (text == nullptr || t == nullptr) return 1;
  iso_fields f;
  const char *p = text;
  if (*p != 'T' && !parse_date(p, f)) return 1;
  if (*p == 'T') {
    ++p;
    if (!parse_time(p, f)) return 1;
  }
  if (!parse_zone(p, f) || *p != '\0' || !valid(f)) return 1;

  iso_now now{};
  if (needs_now(f) && !take_now(f, &now)) return 1;
  complete(f, now, direction);
  struct tm tm;
  to_tm(f, &tm);
  time_t result = f.zone ? ksi_date_timegm(&tm) - f.zone_offset : mktime(&tm);
  if (result < 0) return 1;
  *t = result;
  return 0;
}
