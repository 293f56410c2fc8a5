// The ks/stg message table: traces of storage areas and the guarded heap,
// and their corruption and exhaustion reports.
#include <orvexks/stg.h>

#include "internal/msg_tables.h"
#include "memory/stg_msgs.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 2, "(stg) Area 0x%08lX: created area.\n"},
    {1, 3, "No more memory available.\n"},
    {2, 4, "(stg) Area 0x%08lX: created chunk 0x%08lX (size %u).\n"},
    {3, 5, "Storage area 0x%08lX: corrupted at 0x%08lX.\n"},
    {4, 6, "(stg) Area 0x%08lX: allocated 0x%08lX (size %u).\n"},
    {5, 7, "(stg) Area 0x%08lX: clearing area.\n"},
    {6, 8, "(stg) Area 0x%08lX: freeing chunk 0x%08lX.\n"},
    {7, 9, "(stg) Area 0x%08lX: deleting area.\n"},
    {8, 10,
     "(stg) area 0x%08lX: allocd=%lu used=%lu #chks=%d 1st=%lu base=%lu "
     "des=%lu gf=%.2f\n"},
    {9, 11,
     "(stg)   chunk 0x%08lX: size=%lu avail=%lu data=0x%08lX prev=0x%08lX\n"},
    {10, 12, "(stg) Heap block 0x%08lX: allocated (size %u).\n"},
    {11, 13, "(stg) Heap block 0x%08lX: reallocated as 0x%08lX: (size %u).\n"},
    {12, 14, "(stg) Heap block 0x%08lX: freeing block.\n"},
    {13, 15, "Heap block 0x%08lX: end overwritten at 0x%08lX.\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_stg_msgs, "ks/stg", 6, 14, 2, 15, kRows);

extern "C" {

KS_API const ks_msg_table_t *stg_ks_msg_table_adr(void) {
  return &ksi_stg_msgs;
}
KS_API const ks_msg_table_t *_stg_ks_msg_table_adr(void) {
  return &ksi_stg_msgs;
}

}  // extern "C"
