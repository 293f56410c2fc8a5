// The ks/strutl message table: errors of the string conversions and
// bounded edits.
#include <orvexks/strutl.h>

#include "internal/msg_tables.h"
#include "strings/strutl_msgs.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1, "Bad format in control string at or near \"%s\".\n"},
    {1, 2, "Supplied buffer too small.\n"},
    {2, 3, "No memory available for storage allocation.\n"},
    {3, 4, "The string to be converted is null.\n"},
    {4, 5, "Invalid multibyte character: %s\n"},
    {5, 6, "Error converting string to wide char string: %s\n"},
    {6, 7, "Error converting wide char string to string.\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_strutl_msgs, "ks/strutl", 8, 7, 1, 7, kRows);

extern "C" {

KS_API const ks_msg_table_t *strutl_ks_msg_table_adr(void) {
  return &ksi_strutl_msgs;
}
KS_API const ks_msg_table_t *_strutl_ks_msg_table_adr(void) {
  return &ksi_strutl_msgs;
}

}  // extern "C"
