// Internals shared by the storage areas and the guarded heap.
#pragma once

#include <cstddef>

#include <orvexks/stg.h>

#include "msg/msg_out.h"

// Positions in the ks/stg message table.
enum KsiStgMsg {
  KSI_STG_CREATED_AREA = 0,
  KSI_STG_NO_MEMORY,
  KSI_STG_CREATED_CHUNK,
  KSI_STG_CORRUPTED,
  KSI_STG_ALLOCATED,
  KSI_STG_CLEARING,
  KSI_STG_FREEING_CHUNK,
  KSI_STG_DELETING,
  KSI_STG_DUMP_AREA,
  KSI_STG_DUMP_CHUNK,
  KSI_STG_HEAP_ALLOCATED,
  KSI_STG_HEAP_REALLOCATED,
  KSI_STG_HEAP_FREEING,
  KSI_STG_HEAP_OVERWRITTEN
};

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
