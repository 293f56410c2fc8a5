// The ks/imsg message table: texts of message formatting and delivery, the
// prompts, and the socket error texts that imsg_strerror hands out.

#include <orvexks/imsg.h>

#include "internal/msg_tables.h"
#include "msg/imsg_msgs.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 3, "Unknown message type %d in file %s at line %d\n"},
    {1, 4, "Logging internal error to log file\n"},
    {2, 5, "Unable to (re)open daemon log file \"%s\"\n"},
    {3, 6, "Unable to open file \"%s\":  %s\n"},
    {4, 7, "Default:\n"},
    {5, 8, "  (\".\" to accept default)\n"},
    {6, 9, "Unable to process input: %s\n"},
    {7, 10, "Input buffer overflow"},
    {8, 11, "Ambiguous response\n"},
    {9, 12, "Please answer with one of the following: "},
    {10, 13, "yes"},
    {11, 14, "no"},
    {12, 15, "abort"},
    {13, 16, "proceed"},
    {14, 17, "Ok: "},
    {15, 18, "Warning: "},
    {16, 19, "Error: "},
    {17, 20, "System message: "},
    {18, 26, "IMSG Internal error (%s) - NULL Message.\n"},
    {19, 27, "IMSG Internal error (%s) - tbl %ld, num %d.\n"},
    // Socket errors, codes 10004 to 10071.
    {20, 28, "[WINSOCK] Interrupted system call"},
    {21, 29, "[WINSOCK] Bad file descriptor"},
    {22, 30, "[WINSOCK] Permission denied"},
    {23, 31, "[WINSOCK] Bad address"},
    {24, 32, "[WINSOCK] Invalid argument"},
    {25, 33, "[WINSOCK] Too many open files"},
    {26, 34, "[WINSOCK] Resource temporarily unavailable"},
    {27, 35, "[WINSOCK] Operation now in progress"},
    {28, 36, "[WINSOCK] Operation already in progress"},
    {29, 37, "[WINSOCK] Socket operation on non-socket"},
    {30, 38, "[WINSOCK] Destination address required"},
    {31, 39, "[WINSOCK] Message too long"},
    {32, 40, "[WINSOCK] Protocol wrong type for socket"},
    {33, 41, "[WINSOCK] Protocol not available"},
    {34, 42, "[WINSOCK] Protocol not supported"},
    {35, 43, "[WINSOCK] Socket type not supported"},
    {36, 44, "[WINSOCK] Operation not supported"},
    {37, 45, "[WINSOCK] Protocol family not supported"},
    {38, 46, "[WINSOCK] Address family not supported by protocol family"},
    {39, 47, "[WINSOCK] Address already in use"},
    {40, 48, "[WINSOCK] Can't assign requested address"},
    {41, 49, "[WINSOCK] Network is down"},
    {42, 50, "[WINSOCK] Network is unreachable"},
    {43, 51, "[WINSOCK] Network dropped connection on reset"},
    {44, 52, "[WINSOCK] Software caused connection abort"},
    {45, 53, "[WINSOCK] Connection reset by peer"},
    {46, 54, "[WINSOCK] No buffer space available"},
    {47, 55, "[WINSOCK] Socket is already connected"},
    {48, 56, "[WINSOCK] Socket is not connected"},
    {49, 57, "[WINSOCK] Can't send after socket shutdown"},
    {50, 58, "[WINSOCK] Too many references: can't splice"},
    {51, 59, "[WINSOCK] Connection timed out"},
    {52, 60, "[WINSOCK] Connection refused"},
    {53, 61, "[WINSOCK] Too many levels of symbolic links"},
    {54, 62, "[WINSOCK] File name too long"},
    {55, 63, "[WINSOCK] Host is down"},
    {56, 64, "[WINSOCK] No route to host"},
    {57, 65, "[WINSOCK] Directory not empty"},
    {58, 66, "[WINSOCK] Too many processes"},
    {59, 67, "[WINSOCK] Too many users"},
    {60, 68, "[WINSOCK] Disc quota exceeded"},
    {61, 69, "[WINSOCK] Stale NFS file handle"},
    {62, 70, "[WINSOCK] Too many levels of remote in path"},
    // Codes 10101, 10091, 10092, 10093 and 11001 to 11004.
    {63, 71, "[WINSOCK] Graceful shutdown in progress"},
    {64, 72, "[WINSOCK] Network subsystem is unavailable"},
    {65, 73, "[WINSOCK] WINSOCK.DLL version out of range"},
    {66, 74, "[WINSOCK] Successful WSAStartup not yet performed"},
    {67, 75, "[WINSOCK] Host not found"},
    {68, 76, "[WINSOCK] Non-authoritative host not found"},
    {69, 77, "[WINSOCK] This is a non-recoverable error"},
    {70, 78, "[WINSOCK] Valid name, no data record of requested type"},
    {71, 79, "%s. host \"%s\", pid %d, user \"%s\"\n"},
    {72, 80, "Can't open event log (%d)\n"},
    {73, 81, "Can't create pipe"},
    {74, 82, "Can't dup pipes to stdout/err"},
    {75, 83, "Can't create pipe event"},
    {76, 84, "Can't set standard handles"},
    {77, 85, "Can't create pipe reader thread"},
    // Codes 10102 to 10112, then 997, 996, 6, 87, 8 and 995.
    {78, 86,
     "[WINSOCK] No more results can be returned by WSALookupServiceNext"},
    {79, 87,
     "[WINSOCK] A call to WSALookupServiceEnd was made while this call was "
     "still processing"},
    {80, 88, "[WINSOCK] Invalid procedure table from service provider"},
    {81, 89, "[WINSOCK] Invalid service provider version number"},
    {82, 90, "[WINSOCK] Unable to initialize a service provider"},
    {83, 91, "[WINSOCK] System call failure"},
    {84, 92, "[WINSOCK] No such service is known"},
    {85, 93, "[WINSOCK] Class type not found"},
    {86, 94,
     "[WINSOCK] No more results can be returned by WSALookupServiceNext"},
    {87, 95,
     "[WINSOCK] A call to WSALookupServiceEnd was made while this call was "
     "still processing"},
    {88, 96,
     "[WINSOCK] A database query failed because it was actively refused"},
    {89, 97, "[WINSOCK] Overlapped operations will complete later"},
    {90, 98, "[WINSOCK] Overlapped I/O event object not in signaled state"},
    {91, 99, "[WINSOCK] Specified event object handle is invalid"},
    {92, 100, "[WINSOCK] One or more parameters are invalid"},
    {93, 101, "[WINSOCK] Insufficient memory available"},
    {94, 102, "[WINSOCK] Overlapped operation aborted"},
    {95, 103, "Host not found"},
    {96, 104, "Valid name, no data record of requested type"},
    {97, 105, "This is a non-recoverable error"},
    {98, 106, "Non-authoritative host not found"},
    {99, 107,
     "Process not an imsg daemon, cannot drain pipes to daemon log file.\n"},
    {100, 108, "Process not an imsg daemon, cannot set pipes blocking.\n"},
    {101, 109,
     "Process not an imsg daemon, cannot return fd of log file pipe.\n"},
    {102, 110,
     "Log file for imsg daemon not open, cannot return fd of pipe.\n"},
    {103, 111, "String buffer too small.\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_imsg_msgs, "ks/imsg", 10, 104, 3, 111, kRows);

extern "C" {

const ks_msg_table_t *imsg_ks_msg_table_adr(void) { return &ksi_imsg_msgs; }
const ks_msg_table_t *_imsg_ks_msg_table_adr(void) { return &ksi_imsg_msgs; }

}  // extern "C"
