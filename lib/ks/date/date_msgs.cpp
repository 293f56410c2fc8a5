// The ks/date message table: keywords, month and weekday names, the
// separators of the numeric forms and the usage text of the parsers.
#include <orvexks/date.h>

#include "date/date_internal.h"
#include "internal/msg_tables.h"

namespace {

const char *const kTexts[] = {
    "TODAY",
    "YESTERDAY",
    "TODAY",
    "JANUARY", "JAN", "FEBRUARY", "FEB", "MARCH", "MAR", "APRIL", "APR",
    "MAY", "MAY", "JUNE", "JUN", "JULY", "JUL", "AUGUST", "AUG",
    "SEPTEMBER", "SEP", "OCTOBER", "OCT", "NOVEMBER", "NOV",
    "DECEMBER", "DEC",
    "MONDAY", "MON", "TUESDAY", "TUE", "WEDNESDAY", "WED", "THURSDAY", "THU",
    "FRIDAY", "FRI", "SATURDAY", "SAT", "SUNDAY", "SUN",
    "-",
    ":",
    ".",
    "<date-time> = <date>.<time> | <date> | <time> | \"now\" | \"none\"\n<date>      = d[d]-<month>[-[yy]yy] | <day-of-week> | \"today\" | \"yesterday\"\n<time>      = h[h]:m[m][:s[s]][UTC[+|-][h[h][:mm]]] (24-hour time)\n",
    "YESTERDAY",
    "NOW",
    "NONE",
    "UTC",
};
const int16_t kIds[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                        14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
                        27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39,
                        40, 41, 42, 43, 44, 45, 46, 47, 48, 49};
static_assert(sizeof(kTexts) / sizeof(kTexts[0]) == KSI_DATE_MSG_COUNT);
static_assert(sizeof(kIds) / sizeof(kIds[0]) == KSI_DATE_MSG_COUNT);

}  // namespace

const ks_msg_table_t ksi_date_msgs = {"ks_lib", "ks/date", 12, KSI_DATE_MSG_COUNT,
                                      kTexts, kIds};

extern "C" {

KS_API const ks_msg_table_t *date_ks_msg_table_adr(void) { return &ksi_date_msgs; }
KS_API const ks_msg_table_t *_date_ks_msg_table_adr(void) { return &ksi_date_msgs; }

}  // extern "C"
