// The ks/list message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_list_msgs;

// Positions in the ks/list message table.
enum {
  KSI_LIST_NO_STORAGE = 0,
  KSI_LIST_ATTRS_TOO_LONG = 1,
  KSI_LIST_NOT_IN_LIST = 2
};
