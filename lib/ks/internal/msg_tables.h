// Every message table of the library. Each table has one source of truth:
// its file under msg_tables/ (or, for the foundation families, the
// family's own source).
//
// Code names a message by its position in the table; the enums below give
// those positions names, so that no caller prints a bare number.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_clp_msgs;
extern const ks_msg_table_t ksi_credutl_msgs;
extern const ks_msg_table_t ksi_date_msgs;
extern const ks_msg_table_t ksi_imsg_msgs;
extern const ks_msg_table_t ksi_ks_msgs;
extern const ks_msg_table_t ksi_ntpfxmap_msgs;
extern const ks_msg_table_t ksi_rt_msgs;
extern const ks_msg_table_t ksi_rt_proc_msgs;
extern const ks_msg_table_t ksi_server_id_nt_msgs;
extern const ks_msg_table_t ksi_strutl_msgs;
extern const ks_msg_table_t ksi_sysutl_msgs;

// ---- Building a table from one list of rows.

// One row of a table source: the position callers use, the catalog number
// and the default text. Keeping the three together lets the compiler check
// the table instead of a reader counting entries of two parallel arrays.
struct ksi_msg_entry {
  int index;
  int16_t id;
  const char *text;
};

namespace ksi_msg_rows {

template <size_t N>
constexpr std::array<const char *, N> texts(const ksi_msg_entry (&rows)[N]) {
  std::array<const char *, N> out{};
  for (size_t i = 0; i < N; ++i) out[i] = rows[i].text;
  return out;
}

template <size_t N>
constexpr std::array<int16_t, N> ids(const ksi_msg_entry (&rows)[N]) {
  std::array<int16_t, N> out{};
  for (size_t i = 0; i < N; ++i) out[i] = rows[i].id;
  return out;
}

// Rows are listed in position order, every row has a text, and catalog
// numbers rise strictly from first_id to last_id.
template <size_t N>
constexpr bool well_formed(const ksi_msg_entry (&rows)[N], int first_id,
                           int last_id) {
  if (rows[0].id != first_id || rows[N - 1].id != last_id) return false;
  for (size_t i = 0; i < N; ++i) {
    if (rows[i].index != static_cast<int>(i) || rows[i].text == nullptr)
      return false;
    if (i > 0 && rows[i].id <= rows[i - 1].id) return false;
  }
  return true;
}

}  // namespace ksi_msg_rows

// Defines the table `name` (declared above) from the constexpr array
// `rows`, checking its count and catalog-number range at compile time.
#define KSI_DEFINE_MSG_TABLE(name, subsys, set, count, first_id, last_id,  \
                             rows)                                         \
  static_assert(std::size(rows) == (count), "message count");              \
  static_assert(ksi_msg_rows::well_formed(rows, first_id, last_id),        \
                "rows out of order or catalog numbers out of range");      \
  static constexpr auto name##_texts = ksi_msg_rows::texts(rows);          \
  static constexpr auto name##_ids = ksi_msg_rows::ids(rows);              \
  const ks_msg_table_t name = {"ks_lib",           subsys,                 \
                               set,                count,                  \
                               name##_texts.data(), name##_ids.data()}

// ---- Positions of the messages the library prints.

// ks/imsg: message formatting, delivery, prompts and error texts.
enum {
  KSI_IMSG_UNKNOWN_TYPE = 0,
  KSI_IMSG_LOGGING_INTERNAL_ERROR = 1,
  KSI_IMSG_CANT_REOPEN_DAEMON_LOG = 2,
  KSI_IMSG_CANT_OPEN_FILE = 3,
  KSI_IMSG_PROMPT_DEFAULT = 4,
  KSI_IMSG_PROMPT_ACCEPT_DEFAULT = 5,
  KSI_IMSG_CANT_PROCESS_INPUT = 6,
  KSI_IMSG_INPUT_OVERFLOW = 7,
  KSI_IMSG_AMBIGUOUS_RESPONSE = 8,
  KSI_IMSG_ANSWER_ONE_OF = 9,
  KSI_IMSG_WORD_YES = 10,
  KSI_IMSG_WORD_NO = 11,
  KSI_IMSG_WORD_ABORT = 12,
  KSI_IMSG_WORD_PROCEED = 13,
  KSI_IMSG_PREFIX_OK = 14,
  KSI_IMSG_PREFIX_WARNING = 15,
  KSI_IMSG_PREFIX_ERROR = 16,
  KSI_IMSG_PREFIX_SYSTEM = 17,
  KSI_IMSG_NULL_MESSAGE = 18,
  KSI_IMSG_BAD_TABLE_INDEX = 19,
  KSI_IMSG_LOG_HEADER = 71,
  KSI_IMSG_CANT_OPEN_EVENT_LOG = 72,
  KSI_IMSG_CANT_CREATE_PIPE = 73,
  KSI_IMSG_CANT_DUP_PIPES = 74,
  KSI_IMSG_CANT_CREATE_PIPE_EVENT = 75,
  KSI_IMSG_CANT_SET_STD_HANDLES = 76,
  KSI_IMSG_CANT_CREATE_PIPE_READER = 77,
  KSI_IMSG_HOST_NOT_FOUND = 95,
  KSI_IMSG_NO_DATA_RECORD = 96,
  KSI_IMSG_NON_RECOVERABLE = 97,
  KSI_IMSG_NON_AUTHORITATIVE = 98,
  KSI_IMSG_NOT_DAEMON_DRAIN = 99,
  KSI_IMSG_NOT_DAEMON_BLOCKING = 100,
  KSI_IMSG_NOT_DAEMON_LOG_FD = 101,
  KSI_IMSG_DAEMON_LOG_NOT_OPEN = 102,
  KSI_IMSG_STRING_BUFFER_TOO_SMALL = 103
};

// Positions 20 to 70 and 78 to 94 hold the socket error texts, each
// beginning "[WINSOCK] ": codes 10004 to 10071, 10101, 10091 to 10093 and
// 11001 to 11004, then 10102 to 10112, 997, 996, 6, 87, 8 and 995.
enum {
  KSI_IMSG_SOCKET_TEXTS_FIRST = 20,
  KSI_IMSG_SOCKET_TEXTS_LAST = 70,
  KSI_IMSG_MORE_SOCKET_TEXTS_FIRST = 78,
  KSI_IMSG_MORE_SOCKET_TEXTS_LAST = 94
};

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

// rt: the event loop.
enum {
  KSI_RT_MALLOC_FAILED = 0,
  KSI_RT_CANT_SET_MULTITHREAD = 1,
  KSI_RT_CANT_SET_WORKERS = 2,
  KSI_RT_CANT_GET_MULTITHREAD = 3,
  KSI_RT_CANT_GET_WORKERS = 4
};

// rt_proc: child process tracking.
enum {
  KSI_RT_PROC_WAIT_FAILED = 0
};

// server_id_nt: server identity and object protection.
enum {
  KSI_SERVER_CANT_READ_SECURITY_FILE = 0,
  KSI_SERVER_TRACE_NETWORK_ACE = 1,
  KSI_SERVER_NO_USER_SID = 2,
  KSI_SERVER_NO_PRODUCT_GROUP = 3,
  KSI_SERVER_CANT_CREATE_SD = 4,
  KSI_SERVER_CANT_CREATE_DIR = 5,
  KSI_SERVER_CANT_CREATE_FILE = 6,
  KSI_SERVER_CANT_TELL_ACL_SUPPORT = 7,
  KSI_SERVER_CANT_GET_ATTRIBUTE = 8,
  KSI_SERVER_CANT_SET_ATTRIBUTE = 9,
  KSI_SERVER_CANT_GET_SD = 10,
  KSI_SERVER_UNKNOWN_STYLE_ON = 11,
  KSI_SERVER_CANT_SET_OWNER = 12,
  KSI_SERVER_CANT_SET_ACL = 13,
  KSI_SERVER_SD_NO_OWNER = 14,
  KSI_SERVER_SD_NO_GROUP = 15,
  KSI_SERVER_SD_NO_ACL = 16,
  KSI_SERVER_ACE_WRONG_TYPE = 17,
  KSI_SERVER_ACE_BAD_CREATOR_OWNER = 18,
  KSI_SERVER_ACL_UNPARSABLE = 19,
  KSI_SERVER_ACE_BAD_EVERYONE = 20,
  KSI_SERVER_ACE_BAD_PRODUCT_GROUP = 21,
  KSI_SERVER_ACE_BAD_GROUP = 22,
  KSI_SERVER_ACE_BAD_OWNER = 23,
  KSI_SERVER_CANT_DETERMINE_OWNER = 24,
  KSI_SERVER_CANT_DETERMINE_GROUP = 25,
  KSI_SERVER_REPORT_EXPECTED = 26,
  KSI_SERVER_REPORT_PROTECTIONS = 27,
  KSI_SERVER_REPORT_ACTUAL = 28,
  KSI_SERVER_REPORT_WRONG = 29,
  KSI_SERVER_REPORT_EXPECTED_OWNERSHIP = 30,
  KSI_SERVER_REPORT_ACTUAL_OWNERSHIP = 31,
  KSI_SERVER_REPORT_OWNERSHIP = 32,
  KSI_SERVER_REPORT_NEEDS_READONLY = 33,
  KSI_SERVER_REPORT_NO_READONLY = 34,
  KSI_SERVER_REPORT_UNKNOWN_STYLE = 35,
  KSI_SERVER_CANT_RETRIEVE_ACL = 36,
  KSI_SERVER_CANT_SHOW_ACL = 37,
  KSI_SERVER_CANT_REMOVE = 38,
  KSI_SERVER_CANT_WRITE_SECURITY_FILE = 39,
  KSI_SERVER_RELOGIN = 40,
  KSI_SERVER_OUT_OF_SYNCH = 41,
  KSI_SERVER_CANT_GET_GROUP_LIST = 42,
  KSI_SERVER_TOO_MANY_GROUPS = 43,
  KSI_SERVER_GROUP_ALREADY_ADDED = 44,
  KSI_SERVER_GROUP_NOT_THERE = 45,
  KSI_SERVER_PROTECTING = 46,
  KSI_SERVER_PATH_ERROR = 47,
  KSI_SERVER_TRACE_REMOVE = 48,
  KSI_SERVER_CANT_READ_OWNERSHIP_FILE = 49,
  KSI_SERVER_CORRUPT_OWNERSHIP_FILE = 50,
  KSI_SERVER_CANT_CONVERT_SID = 51,
  KSI_SERVER_MISPROTECTED_OWNERSHIP_FILE = 52,
  KSI_SERVER_TRACE_TOOK_OWNERSHIP = 53,
  KSI_SERVER_TRACE_OWNERSHIP_FAILED = 54,
  KSI_SERVER_RELOGIN_EMPHASIZED = 55
};

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
  KSI_SYSUTL_TRACE_ACL_ADD = 19
};
