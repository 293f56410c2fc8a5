// Internals shared by the storage areas and the guarded heap.
#pragma once

#include <cstddef>

#include <orvexks/stg.h>

#include "memory/stg_msgs.h"
#include "msg/msg_out.h"

inline constexpr const char *kKsiStgSubsys = "ks/stg";

inline bool ksi_stg_trace(int level) {
  return ksi_trace_on(kKsiStgSubsys, level);
}

// Addresses print as "0x%08lX".
inline unsigned long ksi_stg_addr(const void *p) {
  return reinterpret_cast<unsigned long>(p);
}

// Prints "No more memory available.\n" and sets errno to ENOMEM.
void ksi_stg_report_exhausted();

// The heap allocator behind stg_malloc and every area record, chunk record
// and chunk block. Quiet calls print no trace, never use guard mode and skip
// the guard report; exhaustion is still reported.
void *ksi_heap_alloc(size_t size, bool quiet);
void ksi_heap_free(void *block, bool quiet);
