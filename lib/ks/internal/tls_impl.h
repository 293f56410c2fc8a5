// The library's thread-local block: one per thread, created on first use.
// Families that keep per-thread state add their member records here.
#pragma once

#include <orvexks/stg.h>

struct ksi_tls_t {
  stg_area_t area;  // the storage area holding the block; always first
};

// Run on a thread's block before it is freed, in list order; the list ends
// with a null entry.
typedef void (*ksi_tls_cleanup_t)(ksi_tls_t *block);
extern const ksi_tls_cleanup_t ksi_tls_cleanups[];

// The caller's block (zero-filled when new). Failure ends the process.
ksi_tls_t *ksi_tls_block(void);
