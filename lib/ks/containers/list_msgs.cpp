// The ks/list message table: storage and attribute errors of lists.
#include <orvexks/list.h>

#include "containers/list_msgs.h"
#include "internal/msg_tables.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 2, "Unable to allocate storage\n"},
    {1, 3, "Attempt to store %d attribute bytes in list providing %d bytes.\n"},
    {2, 4, "Element 0x%08lX is not in list 0x%08lX; nothing removed.\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_list_msgs, "ks/list", 7, 3, 2, 4, kRows);

extern "C" {

KS_API const ks_msg_table_t *list_ks_msg_table_adr(void) {
  return &ksi_list_msgs;
}
KS_API const ks_msg_table_t *_list_ks_msg_table_adr(void) {
  return &ksi_list_msgs;
}

}  // extern "C"
