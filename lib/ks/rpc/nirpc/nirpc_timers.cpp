// The event loop's mt timers behind the expiry of saved replies. An mt
// event keeps its record after firing, so that a save racing with the
// firing learns of it (rt_unsched_mt answers 4) and the expiry callback
// frees the record itself.
#include <orvexks/rt.h>

#include "rpc/nirpc/nirpc_internal.h"

namespace {

rt_event *event_of(void *event) { return static_cast<rt_event *>(event); }

void *loop_sched(void (*callback)(void *), void *arg, uint32_t seconds) {
  return rt_sched_mt(callback, arg, seconds);
}
int loop_unsched(void *event) { return rt_unsched_mt(event_of(event), 1); }
bool loop_fired(const void *event) {
  return rt_event_in_timeout(static_cast<const rt_event *>(event)) != 0;
}
void loop_free(void *event) { rt_free_event(event_of(event)); }

const ksi_nirpc_timers kLoopTimers = {loop_sched, loop_unsched, loop_fired,
                                      loop_free};

}  // namespace

const ksi_nirpc_timers *ksi_nirpc_loop_timers() { return &kLoopTimers; }
