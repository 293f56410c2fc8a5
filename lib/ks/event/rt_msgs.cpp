// The rt message table: errors of the event loop and of its worker-thread
// settings.

#include <orvexks/rt.h>

#include "event/rt_msgs.h"
#include "internal/msg_tables.h"

namespace {

constexpr ksi_msg_entry kRows[] = {
    {0, 1, "Malloc failed at \"%s\":%d\n"},
    {1, 2, "Unable to set multithread mode\n"},
    {2, 3, "Unable to set worker threads number\n"},
    {3, 4, "Unable to get current multithread mode\n"},
    {4, 5, "Unable to get current worker threads number\n"},
    {5, 6, "Bad descriptor handler kind %d\n"},
    {6, 7, "Descriptor %d is already handled\n"},
    {7, 8, "Too many descriptor handlers of kind %d\n"},
    {8, 9, "select failed: %s\n"},
    {9, 10, "rt_run must be called from the main thread\n"},
    {10, 11, "Bad event in the timer queue at 0x%p\n"},
    {11, 12, "Relative time %ld is out of range\n"},
    {12, 13, "Event storage of %d bytes is too small\n"},
};

}  // namespace

KSI_DEFINE_MSG_TABLE(ksi_rt_msgs, "rt", 15, 13, 1, 13, kRows);

extern "C" {

const ks_msg_table_t *rt_ks_msg_table_adr(void) { return &ksi_rt_msgs; }
const ks_msg_table_t *_rt_ks_msg_table_adr(void) { return &ksi_rt_msgs; }

}  // extern "C"
