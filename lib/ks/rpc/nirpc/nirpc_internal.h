// The duplicate request cache's timers and the hooks its tests use.
#pragma once

#include <cstddef>
#include <cstdint>

// The timers that drop a saved reply 300 seconds after it was saved: the
// event loop's mt timers, or a test's own that it fires without waiting.
struct ksi_nirpc_timers {
  // Schedules callback(arg) seconds from now; null when it cannot.
  void *(*sched)(void (*callback)(void *), void *arg, uint32_t seconds);
  // Cancels a timer: 0 removed, 2 not queued, 4 it has already fired.
  int (*unsched)(void *event);
  // True once the timer has fired (its callback may not have run yet).
  bool (*fired)(const void *event);
  // Returns the record of a timer that has fired.
  void (*free_event)(void *event);
};

// The event loop's mt timers: the default. An mt event keeps its record
// after firing, so a save racing with the firing learns of it.
const ksi_nirpc_timers *ksi_nirpc_loop_timers();

// Installs timers; null restores the default, the event loop's.
void ksi_nirpc_set_timers(const ksi_nirpc_timers *timers);

// What a saved reply's timer runs: removes the entry and its reply.
void ksi_nirpc_expire(void *entry);

// Entries in the cache, whether answered, running or expired but not yet
// removed.
size_t ksi_nirpc_entry_count();
// Drops every entry whose timer has not fired, cancelling its timer.
void ksi_nirpc_clear();
