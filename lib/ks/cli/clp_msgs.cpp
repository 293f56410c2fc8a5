// The clp message table: flag descriptor, parsing handle and command text
// errors of the command-line parser.

#include <orvexks/clp.h>

#include "cli/clp_msgs.h"
#include "internal/msg_tables.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1,
     "Bad flag descriptors - cannot have nested CLP_START_MUTUAL_EXCLUSIONs\n"},
    {1, 2,
     "Bad flag descriptors - CLP_END_MUTUAL_EXCLUSION without matching "
     "CLP_START_MUTUAL_EXCLUSION\n"},
    {2, 3,
     "Bad flag descriptors: \"%s\" and \"%s\" have the same value. Define one "
     "as CLP_ALIAS_FLAG\n"},
    {3, 4,
     "Bad flag descriptors - alias flag \"%s\" defined without a non-alias "
     "flag with the same value\n"},
    {4, 5, "Bad command line: unterminated quoted string\n"},
    {5, 6, "Illegal duplicate use of flag \"%s\"\n"},
    {6, 7, "Illegal use of mutually exclusive flags \"%s\" and \"%s\"\n"},
    {7, 8, "BAD MAGIC: Command line parsing handle\n"},
    {8, 9, "NULL HANDLE: Command line parsing handle\n"},
    {9, 10, "BAD FLAGS PTR: Command line parsing handle\n"},
    {10, 11, "BAD CONSTRAINTS PTR: Command line parsing handle\n"},
    {11, 12, "BAD ARGV PTR: Command line parsing handle\n"},
    {12, 13, "BAD ARGV ARRAY: Command line parsing handle\n"},
    {13, 14, "NULL STORAGE AREA: Cannot switch parsing flags\n"},
    {14, 15, "Unrecognized option \"%s\"\n"},
    {15, 16, "Obsolete command or flag: \"%s\"\n"},
    {16, 17, "Obsolete syntax was used.\n"},
    {17, 18, "Token buffer overflow, max size is %d.\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_clp_msgs, "clp", 13, 18, 1, 18, kRows);

extern "C" {

const ks_msg_table_t *clp_ks_msg_table_adr(void) { return &ksi_clp_msgs; }
const ks_msg_table_t *_clp_ks_msg_table_adr(void) { return &ksi_clp_msgs; }

}  // extern "C"
