// The ks/ntpfxmap message table: errors of the drive prefix map and of the
// export-list query. Catalog numbers 13 to 15 belong to retired messages.

#include <orvexks/ntpfxmap.h>

#include "internal/msg_tables.h"
#include "pfxmap/ntpfxmap_msgs.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1, "Could not allocate a security descriptor\n"},
    {1, 2, "Error initializing security descriptor: %d\n"},
    {2, 3, "Error setting security ACL: %d\n"},
    {3, 4, "Could not create prefix map\n"},
    {4, 5, "Could not get address of prefix map\n"},
    {5, 6, "Timed out waiting for prefix map mutex\n"},
    {6, 7, "No more room in prefix map\n"},
    {7, 8, "Invalid UNC name - %s\n"},
    {8, 9, "Could not enumerate Network Providers - %d"},
    {9, 10, "Could not connect [%s] to [%s] - error %d\n"},
    {10, 11, "All drive letters already in use\n"},
    {11, 12, "Could not unmount drive %s - error - %d\n"},
    {12, 16, "QueryDosDevice(%s) failed - %d\n"},
    {13, 17, "WNetGetConnection(%s) failed - %d\n"},
    {14, 18, "shwmnt_open_transport(): servername (nil)!\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_ntpfxmap_msgs, "ks/ntpfxmap", 20, 15, 1, 18, kRows);

extern "C" {

const ks_msg_table_t *ntpfxmap_ks_msg_table_adr(void) {
  return &ksi_ntpfxmap_msgs;
}
const ks_msg_table_t *_ntpfxmap_ks_msg_table_adr(void) {
  return &ksi_ntpfxmap_msgs;
}

}  // extern "C"
