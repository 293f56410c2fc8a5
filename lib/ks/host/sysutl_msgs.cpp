// The ks/sysutl message table: hosts and socket pairs, account names,
// starting programs, the file-creation mask and access lists. Catalog
// numbers 21 to 23 belong to retired messages.

#include <orvexks/sysutl.h>

#include "host/sysutl_msgs.h"
#include "internal/msg_tables.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1, "Unknown user name: \"%s\".\n"},
    {1, 2, "Unknown group name: \"%s\".\n"},
    {2, 3, "Fully-Qualified User Name: %s -> %s\n"},
    {3, 4, "Fully-Qualified Group Name: %s -> %s\n"},
    {4, 5, "socket: %s (sysutl_pipe)\n"},
    {5, 6, "bind: %s (sysutl_pipe)\n"},
    {6, 7, "getsockname: %s (sysutl_pipe)\n"},
    {7, 8, "listen failed: %s (sysutl_pipe)\n"},
    {8, 9, "connect failed: %s (sysutl_pipe)\n"},
    {9, 10, "Can't exec \"%s\": %s\n"},
    {10, 11, "GUI applications cannot be run via the Web interface\n"},
    {11, 12, "The '%s' operation failed.\n"},
    {12, 13, "%s\n"},
    {13, 14, "Running editor \"%s\" resulted in exit status: %d.\n"},
    {14, 15, "Internal error: improper use of sysutl_get_umask()\n"},
    {15, 16, "Internal error: improper use of sysutl_set_umask()\n"},
    {16, 17, "Checking window name/style: %s %lx\n"},
    {17, 18, "Allowed window creation!\n"},
    {18, 19, "sysutl_acl_modify_perms: remove %0o is now %0o, %0o, %0o\n"},
    {19, 20, "sysutl_acl_modify_perms: add %0o is now %0o, %0o, %0o\n"},
    {20, 24, "Unable to create pipe: %s\n"},
    {21, 25, "CreateProcess failed for \"%s\": %s\n"},
    {22, 26, "Unable to get the exit code of \"%s\": %s\n"},
    {23, 27, "Unable to wait for \"%s\": %s\n"},
    {24, 28, "Unable to read the output of \"%s\": %s\n"},
    {25, 29, "Command line too long: \"%s\"\n"},
    {26, 30, "Unable to find program \"%s\".\n"},
    {27, 31, "Unable to expand environment references in \"%s\".\n"},
    {28, 32, "No command interpreter found.\n"},
    {29, 33, "Unable to create temporary file for editing: %s\n"},
    {30, 34, "Unable to write file \"%s\": %s\n"},
    {31, 35, "Unable to get host name: %s\n"},
    {32, 36, "Unknown address family %d\n"},
    {33, 37, "Unable to resolve host \"%s\": %s\n"},
    {34, 38, "setsockopt: %s (sysutl_pipe)\n"},
    {35, 39, "accept failed: %s (sysutl_pipe)\n"},
    {36, 40, "ioctlsocket: %s (sysutl_set_socket_nonblocking)\n"},
    {37, 41, "Unable to set handle inheritance: %s\n"},
    {38, 42, "Unable to close descriptor %d: %s\n"},
    {39, 43, "Unable to flush \"%s\": %s\n"},
    {40, 44, "Unable to open process %d: %s\n"},
    {41, 45, "Unable to terminate process %d: %s\n"},
    {42, 46, "Unknown tag type %d in access control list\n"},
    {43, 47, "MASK entries are not supported in access control lists\n"},
    {44, 48, "Unable to look up the account of SID %s: %s\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_sysutl_msgs, "ks/sysutl", 14, 45, 1, 48, kRows);

extern "C" {

const ks_msg_table_t *sysutl_ks_msg_table_adr(void) { return &ksi_sysutl_msgs; }
const ks_msg_table_t *_sysutl_ks_msg_table_adr(void) {
  return &ksi_sysutl_msgs;
}

}  // extern "C"
