// The ks/date message table: keywords, month and weekday names, the
// separators of the numeric forms and the usage text of the parsers.
#include <orvexks/date.h>

#include "date/date_msgs.h"
#include "internal/msg_tables.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1, "TODAY"},
    {1, 2, "YESTERDAY"},
    {2, 3, "TODAY"},
    {3, 4, "JANUARY"},
    {4, 5, "JAN"},
    {5, 6, "FEBRUARY"},
    {6, 7, "FEB"},
    {7, 8, "MARCH"},
    {8, 9, "MAR"},
    {9, 10, "APRIL"},
    {10, 11, "APR"},
    {11, 12, "MAY"},
    {12, 13, "MAY"},
    {13, 14, "JUNE"},
    {14, 15, "JUN"},
    {15, 16, "JULY"},
    {16, 17, "JUL"},
    {17, 18, "AUGUST"},
    {18, 19, "AUG"},
    {19, 20, "SEPTEMBER"},
    {20, 21, "SEP"},
    {21, 22, "OCTOBER"},
    {22, 23, "OCT"},
    {23, 24, "NOVEMBER"},
    {24, 25, "NOV"},
    {25, 26, "DECEMBER"},
    {26, 27, "DEC"},
    {27, 28, "MONDAY"},
    {28, 29, "MON"},
    {29, 30, "TUESDAY"},
    {30, 31, "TUE"},
    {31, 32, "WEDNESDAY"},
    {32, 33, "WED"},
    {33, 34, "THURSDAY"},
    {34, 35, "THU"},
    {35, 36, "FRIDAY"},
    {36, 37, "FRI"},
    {37, 38, "SATURDAY"},
    {38, 39, "SAT"},
    {39, 40, "SUNDAY"},
    {40, 41, "SUN"},
    {41, 42, "-"},
    {42, 43, ":"},
    {43, 44, "."},
    {44, 45,
     "<date-time> = <date>.<time> | <date> | <time> | \"now\" | "
     "\"none\"\n<date>      = d[d]-<month>[-[yy]yy] | <day-of-week> | "
     "\"today\" | \"yesterday\"\n<time>      = "
     "h[h]:m[m][:s[s]][UTC[+|-][h[h][:mm]]] (24-hour time)\n"},
    {45, 46, "YESTERDAY"},
    {46, 47, "NOW"},
    {47, 48, "NONE"},
    {48, 49, "UTC"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_date_msgs, "ks/date", 12, KSI_DATE_MSG_COUNT, 1, 49,
                     kRows);

extern "C" {

KS_API const ks_msg_table_t *date_ks_msg_table_adr(void) {
  return &ksi_date_msgs;
}
KS_API const ks_msg_table_t *_date_ks_msg_table_adr(void) {
  return &ksi_date_msgs;
}

}  // extern "C"
