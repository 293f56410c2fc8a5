// The ks/stg message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_stg_msgs;

// Positions in the ks/stg message table.
enum KsiStgMsg {
  KSI_STG_CREATED_AREA = 0,
  KSI_STG_NO_MEMORY,
  KSI_STG_CREATED_CHUNK,
  KSI_STG_CORRUPTED,
  KSI_STG_ALLOCATED,
  KSI_STG_CLEARING,
  KSI_STG_FREEING_CHUNK,
  KSI_STG_DELETING,
  KSI_STG_DUMP_AREA,
  KSI_STG_DUMP_CHUNK,
  KSI_STG_HEAP_ALLOCATED,
  KSI_STG_HEAP_REALLOCATED,
  KSI_STG_HEAP_FREEING,
  KSI_STG_HEAP_OVERWRITTEN
};
