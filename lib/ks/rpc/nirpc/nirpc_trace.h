// The duplicate request cache's trace lines: every operation at level 3
// of class "ks", each line starting with the calling thread's id; a stale
// call also at level 2, with both callers' addresses.
#pragma once

#include <sys/socket.h>

#include <cstdint>

// What a fetch found for an existing entry.
enum ksi_nirpc_fetch_kind {
  KSI_NIRPC_FETCH_INCR,      // a later call: new
  KSI_NIRPC_FETCH_NOREPLY,   // the same call, neither running nor answered
  KSI_NIRPC_FETCH_INPROG,    // the same call, still running
  KSI_NIRPC_FETCH_DUPLICATE  // the same call, answered
};

void ksi_nirpc_trace_found(const void *entry, uint64_t key, uint32_t seq);
void ksi_nirpc_trace_found_expired(const void *entry, uint64_t key);
void ksi_nirpc_trace_fetch_new(uint64_t key, uint32_t seq);
void ksi_nirpc_trace_fetch(ksi_nirpc_fetch_kind kind, const void *entry,
                           uint64_t key, uint32_t seq, uint32_t cached);
void ksi_nirpc_trace_stale(const struct sockaddr *caller, uint64_t key,
                           uint32_t seq, const struct sockaddr *cached_caller,
                           uint64_t cached_key, uint32_t cached);
void ksi_nirpc_trace_save_replace(const void *entry, uint64_t key, uint32_t seq,
                                  uint32_t cached);
void ksi_nirpc_trace_save_new(uint64_t key, uint32_t seq);
void ksi_nirpc_trace_finish(const void *entry, uint64_t key, uint32_t seq,
                            bool was_running);
void ksi_nirpc_trace_finish_missing(uint64_t key, uint32_t seq);
