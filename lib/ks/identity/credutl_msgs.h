// The credutl message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_credutl_msgs;

// credutl: identifiers, credentials and the account caches.
enum {
  KSI_CREDUTL_GETGROUPS_FAILED = 0,
  KSI_CREDUTL_SID_WONT_FIT = 1,
  KSI_CREDUTL_MACHNAME_TOO_LONG = 2,
  KSI_CREDUTL_DUMP_TABLE_NAME = 3,
  KSI_CREDUTL_DUMP_ID_KEY = 4,
  KSI_CREDUTL_DUMP_TEXT_KEY = 5,
  KSI_CREDUTL_DUMP_ACCOUNT = 6,
  KSI_CREDUTL_DUMP_GROUP_BY_ID = 7,
  KSI_CREDUTL_DUMP_GROUP_BY_TEXT = 8,
  KSI_CREDUTL_DUMP_EMPTY = 9,
  KSI_CREDUTL_DUMP_END_OF_TABLE = 10
};
