// The server_id_nt message table: server identity, the protection of
// file-system objects, the recorded identity of storage directories and
// the protection report. Catalog number 57 belongs to a retired message.

#include <orvexks/server.h>

#include "internal/msg_tables.h"
#include "protect/server_id_nt_msgs.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1, "unable to read security file %s: %s\n"},
    {1, 2, "server_remove_network_denied_ace: %s() failed - %d\n"},
    {2, 3, "unable to get process user sid\n"},
    {3, 4, "No group \"quillmere\" found\n"},
    {4, 5, "unable to create security descriptor for %s: %s\n"},
    {5, 6, "unable to create directory %s: %s\n"},
    {6, 7, "unable to create file %s: %s\n"},
    {7, 8,
     "Can't determine if the file system on which \"%s\" lives supports "
     "acls.\n"},
    {8, 9, "unable to get attribute for %s: %s\n"},
    {9, 10, "unable to set attribute for %s: %s\n"},
    {10, 11, "unable to get security descriptor for %s: %s\n"},
    {11, 12,
     "unknown style protections on %s: %s\nIf the object is in the VLT's "
     "source or derived object pool, please fix it\nwith \"qmtool checkvlt "
     "-protections -pool\".\nFor other VLT objects, please fix it with "
     "\"qmtool protectvlt\".\nOtherwise, please fix the storage directory "
     "with\n  \"%%QUILLMEREHOME%%\\etc\\utils\\fix_prot\".\n"},
    {12, 13, "unable to set the owner for %s: %s\n"},
    {13, 14, "unable to set access control list for %s: %s\n"},
    {14, 15, "No owner found in security descriptor\n"},
    {15, 16, "No group found in security descriptor\n"},
    {16, 17, "No ACL found in security descriptor\n"},
    {17, 18, "Wrong type of ACE found in ACL\n"},
    {18, 19, "Bad \"Creator Owner\" ACE found in ACL\n"},
    {19, 20, "Unable to parse ACL found in security descriptor\n"},
    {20, 21, "Bad \"Everyone\" ACE found or missing in ACL\n"},
    {21, 22, "Bad \"quillmere\" ACE found or missing in ACL\n"},
    {22, 23, "Bad group ACE found in ACL\n"},
    {23, 24, "Bad owner ACE found in ACL\n"},
    {24, 25, "unable to determine the owner for %s: %s\n"},
    {25, 26, "unable to determine the primary group for %s: %s\n"},
    {26, 27, "Expected protections:\n"},
    {27, 28, "    owner: %s  %s\n    group: %s  %s\n    mode:  0%.3o  %s\n"},
    {28, 29, "Actual protections:\n"},
    {29, 30, "*WRONG*"},
    {30, 31, "Expected ownership:\n"},
    {31, 32, "Actual ownership:\n"},
    {32, 33, "    owner: %s  %s\n    group: %s  %s\n"},
    {33, 34, "Needs readonly attribute set\n"},
    {34, 35, "Should not have readonly attribute set\n"},
    {35, 36, "Unknown style protections: %s\n"},
    {36, 37, "unable to retrieve file system ACL for path '%s': %s\n"},
    {37, 38, "unable to show ACL: %s\n"},
    {38, 39, "unable to remove %s: %s\n"},
    {39, 40, "unable to write security file %s: %s\n"},
    {40, 41,
     "Please re-login as the new owner \"%s\" and run \"protectvlt -force\" to "
     "complete the protection.\n"},
    {41, 42, "protection on %s is out-of-synch with %s and %s\n"},
    {42, 43, "unable to get the supplementary group list for %s: %s\n"},
    {43, 44, "too many groups: unable to add group \"%s\"\n"},
    {44, 45, "group \"%s\" already added\n"},
    {45, 46, "group \"%s\" does not exist\n"},
    {46, 47, "Protecting \"%s\"...\n"},
    {47, 48, "%s: %s\n"},
    {48, 49, "server_remove_fsobj(%s)\n"},
    {49, 50, "unable to read ownership file %s: %s\n"},
    {50, 51, "corrupted ownership file %s found\n"},
    {51, 52, "unable to convert %s to NT sid\n"},
    {52, 53, "misprotected ownership file %s found\n"},
    {53, 54, "assign_owner(%s) took ownership\n"},
    {54, 55, "assign_owner(%s) failed: %s\n"},
    // The same request as position 40, with the name and the command in
    // bold for a console.
    {55, 56,
     "Please re-login as the new owner \"\001\0011B%s\001\0010B\" and run "
     "\"\001\0011Bprotectvlt -force\001\0010B\" to complete the protection.\n"},
    {56, 58, "unable to take ownership of %s: %s\n"},
    {57, 59, "unable to enable the change-owner privileges: %s\n"},
    {58, 60, "unable to grant the server access to %s: %s\n"},
    {59, 61, "unable to write ownership file %s: %s\n"},
    {60, 62, "unable to rename %s to %s: %s\n"},
    {61, 63, "unable to open %s: %s\n"},
    {62, 64, "unable to replace the group in the ACL of %s: %s\n"},
    {63, 65, "unable to read the ACL of %s: %s\n"},
    {64, 66, "unable to get the status of %s: %s\n"},
    {65, 67, "unable to find the account of the owner of %s\n"},
    {66, 68, "unable to lock %s: %s\n"},
    {67, 69, "unable to restore the attributes of %s: %s\n"},
    {68, 70, "Taking ownership of \"%s\"...\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_server_id_nt_msgs, "server_id_nt", 17, 69, 1, 70,
                     kRows);

extern "C" {

const ks_msg_table_t *server_id_nt_ks_msg_table_adr(void) {
  return &ksi_server_id_nt_msgs;
}
const ks_msg_table_t *_server_id_nt_ks_msg_table_adr(void) {
  return &ksi_server_id_nt_msgs;
}

}  // extern "C"
