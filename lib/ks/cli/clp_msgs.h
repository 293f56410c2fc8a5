// The clp message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_clp_msgs;

// clp: parsing handles and flag descriptors.
enum {
  KSI_CLP_NESTED_EXCLUSION = 0,
  KSI_CLP_UNMATCHED_END_EXCLUSION = 1,
  KSI_CLP_SAME_VALUE = 2,
  KSI_CLP_ALIAS_WITHOUT_TARGET = 3,
  KSI_CLP_UNTERMINATED_QUOTE = 4,
  KSI_CLP_DUPLICATE_FLAG = 5,
  KSI_CLP_EXCLUSIVE_FLAGS = 6,
  KSI_CLP_BAD_MAGIC = 7,
  KSI_CLP_NULL_HANDLE = 8,
  KSI_CLP_BAD_FLAGS_PTR = 9,
  KSI_CLP_BAD_CONSTRAINTS_PTR = 10,
  KSI_CLP_BAD_ARGV_PTR = 11,
  KSI_CLP_BAD_ARGV_ARRAY = 12,
  KSI_CLP_NULL_AREA = 13,
  KSI_CLP_UNRECOGNIZED_OPTION = 14,
  KSI_CLP_OBSOLETE_FLAG = 15,
  KSI_CLP_OBSOLETE_SYNTAX = 16,
  KSI_CLP_TOKEN_OVERFLOW = 17
};
