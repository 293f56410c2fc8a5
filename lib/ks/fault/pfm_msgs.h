// The pfm message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_pfm_msgs;

// Positions in the pfm message table.
enum { KSI_PFM_ASSERT_FAILED = 0, KSI_PFM_ABORT = 1 };
