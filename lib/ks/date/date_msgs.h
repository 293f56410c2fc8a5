// The ks/date message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_date_msgs;

// Positions in the ks/date message table.
enum KsiDateMsg {
  KSI_DATE_TODAY = 0,
  KSI_DATE_YESTERDAY = 1,
  KSI_DATE_TODAY_ALT = 2,
  KSI_DATE_FIRST_MONTH = 3,     // full name, then three-letter name, per month
  KSI_DATE_FIRST_WEEKDAY = 27,  // full then short, Monday to Sunday
  KSI_DATE_DATE_SEP = 41,
  KSI_DATE_TIME_SEP = 42,
  KSI_DATE_DATE_TIME_SEP = 43,
  KSI_DATE_USAGE = 44,
  KSI_DATE_YESTERDAY_ALT = 45,
  KSI_DATE_NOW = 46,
  KSI_DATE_NONE = 47,
  KSI_DATE_UTC = 48,
  KSI_DATE_MSG_COUNT = 49
};
