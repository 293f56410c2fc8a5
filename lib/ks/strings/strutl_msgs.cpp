// The ks/strutl message table: errors of the string conversions and
// bounded edits.
#include "msg/msg_out.h"
#include "internal/msg_tables.h"

#include <orvexks/strutl.h>

namespace {

const char *const kTexts[] = {
    "Bad format in control string at or near \"%s\".\n",
    "Supplied buffer too small.\n",
    "No memory available for storage allocation.\n",
    "The string to be converted is null.\n",
    "Invalid multibyte character: %s\n",
    "Error converting string to wide char string: %s\n",
    "Error converting wide char string to string.\n",
};
const int16_t kIds[] = {1, 2, 3, 4, 5, 6, 7};

KSI_MSG_TABLE(kStrutlTable, "ks/strutl", 8, kTexts, kIds);

}  // namespace

const ks_msg_table_t ksi_strutl_msgs = kStrutlTable;

extern "C" {

KS_API const ks_msg_table_t *strutl_ks_msg_table_adr(void) {
  return &ksi_strutl_msgs;
}
KS_API const ks_msg_table_t *_strutl_ks_msg_table_adr(void) {
  return &ksi_strutl_msgs;
}

}  // extern "C"
