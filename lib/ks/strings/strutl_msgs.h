// The ks/strutl message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_strutl_msgs;

// Positions in the ks/strutl message table.
enum {
  KSI_STRUTL_BAD_FORMAT = 0,
  KSI_STRUTL_BUFFER_TOO_SMALL = 1,
  KSI_STRUTL_NO_MEMORY = 2,
  KSI_STRUTL_NULL_STRING = 3,
  KSI_STRUTL_BAD_MULTIBYTE = 4,
  KSI_STRUTL_TO_WIDE_FAILED = 5,
  KSI_STRUTL_TO_MULTIBYTE_FAILED = 6
};
