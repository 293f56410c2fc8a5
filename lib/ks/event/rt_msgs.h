// The rt message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_rt_msgs;

// rt: the event loop.
enum {
  KSI_RT_MALLOC_FAILED = 0,
  KSI_RT_CANT_SET_MULTITHREAD = 1,
  KSI_RT_CANT_SET_WORKERS = 2,
  KSI_RT_CANT_GET_MULTITHREAD = 3,
  KSI_RT_CANT_GET_WORKERS = 4,
  KSI_RT_BAD_KIND = 5
};
