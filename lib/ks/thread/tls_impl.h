// Per-thread slots: the library's thread-local block and its registry.
//
// A family that keeps per-thread state defines one slot (the size of its
// record and a cleanup function) and asks for the caller's record through
// it. The slot gets its index in the block on its first use in the
// process; the record is made, zero-filled, from the block's own storage
// area on the thread's first use. When the block goes (outermost leave of
// the library lock, qmthread_exit, end of the thread) each made record's
// cleanup runs, in slot order, and the area goes with every record in it.
// The threads layer thereby knows no family's state.
#pragma once

#include <orvexks/stg.h>

#include <atomic>
#include <cstddef>

// At most this many slots in the process (a fixed table: the block is one
// allocation).
constexpr int kKsiTlsMaxSlots = 16;

struct ksi_tls_slot_t {
  size_t size;                    // bytes of the family's record
  void (*cleanup)(void *record);  // frees what the record owns, or null
  std::atomic<int> index;         // -1 until the first use
};
#define KSI_TLS_SLOT_INIT(type, cleanup) \
  {                                      \
    sizeof(type), (cleanup), { -1 }      \
  }

struct ksi_tls_t {
  stg_area_t area;  // the storage area holding the block; always first
  void *records[kKsiTlsMaxSlots];  // by slot index; null until made
};

// The caller's block (zero-filled when new). Failure ends the process.
ksi_tls_t *ksi_tls_block(void);

// The caller's record of `slot`, made on first use; null when memory for
// it runs out.
void *ksi_tls_get(ksi_tls_slot_t *slot);
// As ksi_tls_get, but running out of memory ends the process (pfm_panic),
// as it does for the block itself.
void *ksi_tls_need(ksi_tls_slot_t *slot);

template <typename T>
T *ksi_tls_record(ksi_tls_slot_t *slot) {
  return static_cast<T *>(ksi_tls_get(slot));
}
template <typename T>
T *ksi_tls_needed(ksi_tls_slot_t *slot) {
  return static_cast<T *>(ksi_tls_need(slot));
}
