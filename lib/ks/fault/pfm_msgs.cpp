// The pfm message table: the assertion and abort lines.
#include <orvexks/pfm.h>

#include "fault/pfm_msgs.h"
#include "internal/msg_tables.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1, "PFM_ASSERT:(%s) failed: '%s':%d\n"},
    {1, 2, "***ABORT***  '%s':%d\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_pfm_msgs, "pfm", 19, 2, 1, 2, kRows);

extern "C" {

KS_API const ks_msg_table_t *pfm_ks_msg_table_adr(void) {
  return &ksi_pfm_msgs;
}
KS_API const ks_msg_table_t *_pfm_ks_msg_table_adr(void) {
  return &ksi_pfm_msgs;
}

}  // extern "C"
