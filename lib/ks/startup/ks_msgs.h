// The ks message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_ks_msgs;

// ks: start-up, installation directories, scanner, hash, file layer.
enum {
  KSI_KS_HASH_UNEXPECTED = 0,
  KSI_KS_HASH_FREE_COPIED_KEYS = 1,
  KSI_KS_OPERATION_FAILED = 2,
  KSI_KS_OPERATION_ON_FAILED = 3,
  KSI_KS_CANT_OPEN = 4,
  KSI_KS_CANT_READ_FILE = 5,
  KSI_KS_PATH_ERROR = 6,
  KSI_KS_NO_ABSOLUTE_PATH = 7,
  KSI_KS_NOT_INSTALLED = 8,
  KSI_KS_NO_HOSTDATA_DIR = 9,
  KSI_KS_FILE_OVER_2GB = 10,
  KSI_KS_COMPARE_SIZE_DIFFERS = 11,
  KSI_KS_UNIQUE_PN_BAD_CONTROL = 12,
  KSI_KS_BAD_FORMAT_NUMBER = 13,
  KSI_KS_BRKD_TOO_OLD = 14,
  KSI_KS_NO_STORAGE = 15,
  KSI_KS_COPY_PROGRESS = 16,
  KSI_KS_TRACE_UNLINK = 17,
  KSI_KS_TRACE_CP_FILE = 18,
  KSI_KS_CL_BAD_OPTION = 19,
  KSI_KS_CL_CONFLICTING_OPTION = 20,
  KSI_KS_CL_BAD_ARGUMENT = 21,
  KSI_KS_CL_UNKNOWN_ERROR = 22,
  KSI_KS_CL_OUT_OF_MEMORY = 23,
  KSI_KS_TRACE_MKDIR = 24,
  KSI_KS_TRACE_GET_SD_FAILED = 25,
  KSI_KS_TRACE_SET_SD_FAILED = 26,
  KSI_KS_APPLICATION_WILL_EXIT = 27,
  KSI_KS_NO_PRODUCT_GROUP = 31,
  KSI_KS_FILE_CHANGED_SIZE = 33
};
