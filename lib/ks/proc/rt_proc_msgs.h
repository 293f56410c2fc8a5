// The rt_proc message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_rt_proc_msgs;

// rt_proc: child process tracking.
enum { KSI_RT_PROC_WAIT_FAILED = 0, KSI_RT_PROC_CANT_START = 1 };
