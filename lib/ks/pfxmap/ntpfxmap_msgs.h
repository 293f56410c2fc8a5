// The ntpfxmap message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_ntpfxmap_msgs;

// ks/ntpfxmap: the drive prefix map.
enum {
  KSI_NTPFXMAP_NO_SD = 0,
  KSI_NTPFXMAP_SD_INIT_FAILED = 1,
  KSI_NTPFXMAP_SD_ACL_FAILED = 2,
  KSI_NTPFXMAP_CANT_CREATE = 3,
  KSI_NTPFXMAP_CANT_GET_ADDRESS = 4,
  KSI_NTPFXMAP_MUTEX_TIMEOUT = 5,
  KSI_NTPFXMAP_NO_ROOM = 6,
  KSI_NTPFXMAP_INVALID_UNC = 7,
  KSI_NTPFXMAP_CANT_ENUMERATE = 8,
  KSI_NTPFXMAP_CANT_CONNECT = 9,
  KSI_NTPFXMAP_NO_DRIVE_LETTER = 10,
  KSI_NTPFXMAP_CANT_UNMOUNT = 11,
  KSI_NTPFXMAP_QUERY_DEVICE_FAILED = 12,
  KSI_NTPFXMAP_GET_CONNECTION_FAILED = 13,
  KSI_NTPFXMAP_NULL_SERVER = 14
};
