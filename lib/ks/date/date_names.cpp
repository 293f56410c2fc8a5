// Keywords, separators and month and weekday names of the date parsers and
// the numeric formatter. They are built once per process: the ks/date
// table's texts (through the catalog, so translations apply) and the
// month and weekday names of the process's locale, all in upper case.
#include <langinfo.h>

#include <orvexks/qmthread.h>

#include <cctype>
#include <cstring>

#include "date/date_internal.h"
#include "date/date_msgs.h"
#include "msg/msg_lookup.h"

namespace {

ksi_date_words words;
qmthread_once_t words_once = QMTHREAD_ONCE_INIT;

constexpr int kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr nl_item kLocaleMonths[12] = {MON_1, MON_2,  MON_3,  MON_4,
                                       MON_5, MON_6,  MON_7,  MON_8,
                                       MON_9, MON_10, MON_11, MON_12};
constexpr nl_item kLocaleShortMonths[12] = {
    ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
    ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
// Sunday first, as the platform numbers weekdays.
constexpr nl_item kLocaleDays[7] = {DAY_1, DAY_2, DAY_3, DAY_4,
                                    DAY_5, DAY_6, DAY_7};
constexpr nl_item kLocaleShortDays[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                         ABDAY_5, ABDAY_6, ABDAY_7};

void copy_entry(const char *src, char *dst) {
  ksi_date_upper(dst, src != nullptr ? src : "", kKsiDateNameMax);
}

void copy_table_entry(int index, char *dst) {
  copy_entry(ksi_msg_lookup(&ksi_date_msgs, index), dst);
}

void build_words() {
  copy_table_entry(KSI_DATE_TODAY, words.today[0]);
  copy_table_entry(KSI_DATE_TODAY_ALT, words.today[1]);
  copy_table_entry(KSI_DATE_YESTERDAY, words.yesterday[0]);
  copy_table_entry(KSI_DATE_YESTERDAY_ALT, words.yesterday[1]);
  copy_table_entry(KSI_DATE_NOW, words.now);
  copy_table_entry(KSI_DATE_NONE, words.none);
  copy_table_entry(KSI_DATE_UTC, words.utc);
  copy_table_entry(KSI_DATE_DATE_SEP, words.date_sep);
  copy_table_entry(KSI_DATE_TIME_SEP, words.time_sep);
  copy_table_entry(KSI_DATE_DATE_TIME_SEP, words.date_time_sep);

  int n = 0;
  for (int m = 0; m < 12; ++m) {
    for (int form = 0; form < 2; ++form, ++n) {
      copy_table_entry(KSI_DATE_FIRST_MONTH + 2 * m + form,
                       words.months[n].text);
      words.months[n].value = m;
    }
  }
  for (int m = 0; m < 12; ++m, n += 2) {
    copy_entry(nl_langinfo(kLocaleMonths[m]), words.months[n].text);
    copy_entry(nl_langinfo(kLocaleShortMonths[m]), words.months[n + 1].text);
    words.months[n].value = words.months[n + 1].value = m;
  }

  // The table lists Monday to Sunday.
  n = 0;
  for (int k = 0; k < 7; ++k) {
    for (int form = 0; form < 2; ++form, ++n) {
      copy_table_entry(KSI_DATE_FIRST_WEEKDAY + 2 * k + form,
                       words.weekdays[n].text);
      words.weekdays[n].value = (k + 1) % 7;
    }
  }
  for (int d = 0; d < 7; ++d, n += 2) {
    copy_entry(nl_langinfo(kLocaleDays[d]), words.weekdays[n].text);
    copy_entry(nl_langinfo(kLocaleShortDays[d]), words.weekdays[n + 1].text);
    words.weekdays[n].value = words.weekdays[n + 1].value = d;
  }
}

int find_name(const ksi_date_name *names, int count, const char *text,
              size_t len) {
  if (len == 0) return -1;
  for (int i = 0; i < count; ++i) {
    if (strlen(names[i].text) == len && memcmp(names[i].text, text, len) == 0)
      return names[i].value;
  }
  return -1;
}

}  // namespace

// ASCII letters are converted inline; other bytes go to the locale.
void ksi_date_upper(char *dst, const char *src, size_t size) {
  size_t i = 0;
  for (; i + 1 < size && src[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    if (c >= 'a' && c <= 'z') {
      c = static_cast<unsigned char>(c - 'a' + 'A');
    } else if (c >= 0x80) {
      c = static_cast<unsigned char>(toupper(c));
    }
    dst[i] = static_cast<char>(c);
  }
  dst[i] = '\0';
}

const ksi_date_words *ksi_date_words_get(void) {
  qmthread_once(&words_once, build_words);
  return &words;
}

int ksi_date_month_of(const char *text, size_t len) {
  return find_name(ksi_date_words_get()->months, kKsiDateMonthNames, text, len);
}

int ksi_date_weekday_of(const char *text, size_t len) {
  return find_name(ksi_date_words_get()->weekdays, kKsiDateWeekdayNames, text,
                   len);
}

int ksi_date_month_days(int month) { return kMonthDays[month]; }
