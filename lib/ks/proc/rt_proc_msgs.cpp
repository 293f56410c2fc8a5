// The rt_proc message table: failures of the child-death watcher.

#include <orvexks/rt_proc.h>

#include "internal/msg_tables.h"
#include "proc/rt_proc_msgs.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1, "rt_proc: WaitForMultipleObjects failed: %ld\n"},
    {1, 2, "rt_proc: unable to start the process watcher: %s\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_rt_proc_msgs, "rt_proc", 16, 2, 1, 2, kRows);

extern "C" {

const ks_msg_table_t *rt_proc_ks_msg_table_adr(void) {
  return &ksi_rt_proc_msgs;
}
const ks_msg_table_t *_rt_proc_ks_msg_table_adr(void) {
  return &ksi_rt_proc_msgs;
}

}  // extern "C"
