// The credutl message table: credentials, identifier conversion and the
// dump of the account caches.

#include <orvexks/credutl.h>

#include "identity/credutl_msgs.h"
#include "internal/msg_tables.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1, "getgroups failed: %s\n"},
    {1, 2, "Sid %s won't fit\n"},
    {2, 3,
     "Combined domain name \"%s\" and host name \"%s\" exceed %d bytes.  Using "
     "bogus string \"%s\".\n"},
    {3, 4, "%s\n"},
    {4, 5, "    %d (0x%x) -> "},
    {5, 6, "    %s -> "},
    {6, 7,
     "User: %s UID: %d (0x%x) %s Group: %s GID: %d (0x%x) %s Gecos: %s Home: "
     "%s\n"},
    {7, 8, "    %d (0x%x) -> %s GID: %d (0x%x) %s\n"},
    {8, 9, "    %s -> %s GID: %d (0x%x) %s\n"},
    {9, 10, "    Empty\n"},
    {10, 11, "\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_credutl_msgs, "credutl", 18, 11, 1, 11, kRows);

extern "C" {

const ks_msg_table_t *credutl_ks_msg_table_adr(void) {
  return &ksi_credutl_msgs;
}
const ks_msg_table_t *_credutl_ks_msg_table_adr(void) {
  return &ksi_credutl_msgs;
}

}  // extern "C"
