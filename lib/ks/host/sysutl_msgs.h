// The sysutl message table and the names of its positions: code names a
// message by its position, never by a bare number.
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_sysutl_msgs;

// ks/sysutl: hosts, sockets, accounts, processes and access lists.
enum {
  KSI_SYSUTL_UNKNOWN_USER = 0,
  KSI_SYSUTL_UNKNOWN_GROUP = 1,
  KSI_SYSUTL_TRACE_QUALIFIED_USER = 2,
  KSI_SYSUTL_TRACE_QUALIFIED_GROUP = 3,
  KSI_SYSUTL_PIPE_SOCKET = 4,
  KSI_SYSUTL_PIPE_BIND = 5,
  KSI_SYSUTL_PIPE_GETSOCKNAME = 6,
  KSI_SYSUTL_PIPE_LISTEN = 7,
  KSI_SYSUTL_PIPE_CONNECT = 8,
  KSI_SYSUTL_CANT_EXEC = 9,
  KSI_SYSUTL_NO_GUI_VIA_WEB = 10,
  KSI_SYSUTL_OPERATION_FAILED = 11,
  KSI_SYSUTL_CHILD_OUTPUT = 12,
  KSI_SYSUTL_EDITOR_STATUS = 13,
  KSI_SYSUTL_BAD_GET_UMASK = 14,
  KSI_SYSUTL_BAD_SET_UMASK = 15,
  KSI_SYSUTL_TRACE_WINDOW_STYLE = 16,
  KSI_SYSUTL_TRACE_WINDOW_ALLOWED = 17,
  KSI_SYSUTL_TRACE_ACL_REMOVE = 18,
  KSI_SYSUTL_TRACE_ACL_ADD = 19,
  KSI_SYSUTL_CANT_EXPAND = 27,
  KSI_SYSUTL_EDIT_TMPFILE = 29,
  KSI_SYSUTL_EDIT_WRITE = 30
};
