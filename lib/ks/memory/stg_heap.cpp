// The guarded heap: stg_malloc, stg_realloc, stg_free, stg_strdup.
//
// While storage tracing is on at level 1, a block is laid out as
//   [8-byte size][caller's bytes (filled 0xFF)][0xAA guard up to round8+8]
// and the guard is verified when the block is reallocated or freed. A freed
// guarded block is overwritten with the double 3735928559.0 so that a use
// after free shows a recognisable pattern.
//
// The mode is remembered per block: every guarded block's caller address is
// kept in a small pointer set, so a block allocated in one mode is released
// correctly even after tracing was switched on or off. While no guarded
// block exists, stg_free costs one atomic load over plain free().
#include "memory/stg_heap.h"
#include "internal/alloc_fault.h"
#include "internal/thread_safety.h"
#include "thread/qmthread_internal.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned char kGuardByte = 0xAA;
constexpr unsigned char kFreshByte = 0xFF;
constexpr uint64_t kFreedWord = 0x41EBD5B7DDE00000ull;  // 3735928559.0
constexpr size_t kHeaderBytes = 8;

size_t round8(size_t n) { return (n + 7) & ~static_cast<size_t>(7); }

// Bytes of a guarded block for a caller size: header, rounded data, guard.
size_t guarded_total(size_t size) { return round8(size) + 16; }

// ---- The set of guarded blocks: open addressing, linear probing, deletion
// by backward shift (so an insert right after a removal never grows it).
qmthread_mutex_t guarded_lock = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(guarded_lock);
void **guarded_slots KSI_GUARDED_BY(guarded_lock) = nullptr;
size_t guarded_capacity KSI_GUARDED_BY(guarded_lock) = 0;  // power of two
std::atomic<size_t> guarded_count{0};

size_t slot_of(const void *p, size_t mask) {
  auto v = reinterpret_cast<uintptr_t>(p) >> 3;
  return static_cast<size_t>(v * 0x9E3779B97F4A7C15ull) & mask;
}

void place(void **slots, size_t mask, void *p) {
  size_t i = slot_of(p, mask);
  while (slots[i] != nullptr) i = (i + 1) & mask;
  slots[i] = p;
}

// False when the set could not grow.
bool guarded_insert(void *p) KSI_REQUIRES(guarded_lock) {
  size_t count = guarded_count.load(std::memory_order_relaxed);
  if ((count + 1) * 4 > guarded_capacity * 3) {
    size_t capacity = guarded_capacity ? guarded_capacity * 2 : 64;
    auto **slots = static_cast<void **>(nt_calloc(capacity, sizeof(void *)));
    if (slots == nullptr) return false;
    for (size_t i = 0; i < guarded_capacity; ++i) {
      if (guarded_slots[i] != nullptr) {
        place(slots, capacity - 1, guarded_slots[i]);
      }
    }
    std::free(guarded_slots);
    guarded_slots = slots;
    guarded_capacity = capacity;
  }
  place(guarded_slots, guarded_capacity - 1, p);
  guarded_count.store(count + 1, std::memory_order_release);
  return true;
}

// Slot index of p, or guarded_capacity.
size_t guarded_find(const void *p) KSI_REQUIRES(guarded_lock) {
  if (guarded_capacity == 0) return 0;
  size_t mask = guarded_capacity - 1;
  for (size_t i = slot_of(p, mask);; i = (i + 1) & mask) {
    if (guarded_slots[i] == p) return i;
    if (guarded_slots[i] == nullptr) return guarded_capacity;
  }
}

// True when p was a guarded block.
bool guarded_remove(void *p) KSI_REQUIRES(guarded_lock) {
  size_t i = guarded_find(p);
  if (i == guarded_capacity) return false;
  // Pull later members of the probe run back over the hole.
  size_t mask = guarded_capacity - 1;
  for (size_t j = (i + 1) & mask; guarded_slots[j] != nullptr;
       j = (j + 1) & mask) {
    size_t home = slot_of(guarded_slots[j], mask);
    bool movable = (i <= j) ? (home <= i || home > j) : (home <= i && home > j);
    if (movable) {
      guarded_slots[i] = guarded_slots[j];
      i = j;
    }
  }
  guarded_slots[i] = nullptr;
  guarded_count.fetch_sub(1, std::memory_order_release);
  return true;
}

bool is_guarded(const void *p) {
  if (guarded_count.load(std::memory_order_acquire) == 0) return false;
  qmthread_mutex_lock(&guarded_lock);
  bool found = guarded_find(p) != guarded_capacity;
  qmthread_mutex_unlock(&guarded_lock);
  return found;
}

// True (and p forgotten) when p is a guarded block.
bool take_guarded(void *p) {
  if (guarded_count.load(std::memory_order_acquire) == 0) return false;
  qmthread_mutex_lock(&guarded_lock);
  bool found = guarded_remove(p);
  qmthread_mutex_unlock(&guarded_lock);
  return found;
}

unsigned char *header_of(void *block) {
  return static_cast<unsigned char *>(block) - kHeaderBytes;
}

uint64_t guarded_size(void *block) {
  uint64_t size;
  std::memcpy(&size, header_of(block), sizeof size);
  return size;
}

// Stores the size and writes the guard behind the caller's bytes.
void write_guard(unsigned char *raw, size_t size) {
  uint64_t stored = size;
  std::memcpy(raw, &stored, sizeof stored);
  unsigned char *user = raw + kHeaderBytes;
  std::memset(user + size, kGuardByte, round8(size) + 8 - size);
}

// Reports the first overwritten guard byte of a guarded block.
void check_guard(void *block) {
  size_t size = guarded_size(block);
  auto *user = static_cast<unsigned char *>(block);
  for (size_t i = size; i < round8(size) + 8; ++i) {
    if (user[i] != kGuardByte) {
      imsg_print(IMSG_ERROR, stg_ks_msg_table_adr(), KSI_STG_HEAP_OVERWRITTEN,
                 ksi_stg_addr(block), ksi_stg_addr(user + i));
      return;
    }
  }
}

void *guarded_alloc(size_t size) {
  auto *raw = static_cast<unsigned char *>(nt_malloc(guarded_total(size)));
  if (raw == nullptr) return nullptr;
  write_guard(raw, size);
  std::memset(raw + kHeaderBytes, kFreshByte, size);
  void *block = raw + kHeaderBytes;
  qmthread_mutex_lock(&guarded_lock);
  bool kept = guarded_insert(block);
  qmthread_mutex_unlock(&guarded_lock);
  if (!kept) {
    std::free(raw);
    return nullptr;
  }
  return block;
}

void guarded_free(void *block, bool quiet) {
  if (!quiet) check_guard(block);
  unsigned char *raw = header_of(block);
  size_t words = guarded_total(guarded_size(block)) / sizeof(uint64_t);
  for (size_t i = 0; i < words; ++i) {
    std::memcpy(raw + i * sizeof(uint64_t), &kFreedWord, sizeof kFreedWord);
  }
  std::free(raw);
}

// Guarded realloc of a guarded block; the block stays registered on failure.
void *guarded_realloc(void *block, size_t size) {
  check_guard(block);
  qmthread_mutex_lock(&guarded_lock);
  guarded_remove(block);
  auto *raw = static_cast<unsigned char *>(
      nt_realloc(header_of(block), guarded_total(size)));
  void *result = nullptr;
  if (raw == nullptr) {
    guarded_insert(block);  // a slot was just freed: cannot fail
  } else {
    write_guard(raw, size);
    result = raw + kHeaderBytes;
    guarded_insert(result);
  }
  qmthread_mutex_unlock(&guarded_lock);
  return result;
}

}  // namespace

void ksi_stg_report_exhausted() {
  imsg_print(IMSG_ERROR, stg_ks_msg_table_adr(), KSI_STG_NO_MEMORY);
  errno = ENOMEM;
}

void *ksi_heap_alloc(size_t size, bool quiet) {
  if (size == 0) size = 1;
  bool guard = !quiet && ksi_stg_trace(1);
  void *block = guard ? guarded_alloc(size) : nt_malloc(size);
  if (block == nullptr) {
    ksi_stg_report_exhausted();
    return nullptr;
  }
  if (!quiet && ksi_stg_trace(5)) {
    imsg_print(IMSG_TRACE, stg_ks_msg_table_adr(), KSI_STG_HEAP_ALLOCATED,
               ksi_stg_addr(block), static_cast<unsigned>(size));
  }
  return block;
}

void ksi_heap_free(void *block, bool quiet) {
  if (!quiet && ksi_stg_trace(5)) {
    imsg_print(IMSG_TRACE, stg_ks_msg_table_adr(), KSI_STG_HEAP_FREEING,
               ksi_stg_addr(block));
  }
  if (block == nullptr) return;
  if (take_guarded(block)) {
    guarded_free(block, quiet);
  } else {
    std::free(block);
  }
}

extern "C" {

void *stg_malloc(size_t size) { return ksi_heap_alloc(size, false); }

void *stg_realloc(void *block, size_t size) {
  if (size == 0) size = 1;
  void *result;
  if (block == nullptr) {
    result = ksi_stg_trace(1) ? guarded_alloc(size) : nt_malloc(size);
  } else if (is_guarded(block)) {
    result = guarded_realloc(block, size);
  } else {
    result = nt_realloc(block, size);
  }
  if (result == nullptr) {
    ksi_stg_report_exhausted();
    return nullptr;
  }
  if (ksi_stg_trace(5)) {
    imsg_print(IMSG_TRACE, stg_ks_msg_table_adr(), KSI_STG_HEAP_REALLOCATED,
               ksi_stg_addr(block), ksi_stg_addr(result),
               static_cast<unsigned>(size));
  }
  return result;
}

void stg_free(void *block) { ksi_heap_free(block, false); }

char *stg_strdup(const char *s) {
  if (s == nullptr) return nullptr;
  size_t n = std::strlen(s) + 1;
  auto *copy = static_cast<char *>(stg_malloc(n));
  if (copy != nullptr) std::memcpy(copy, s, n);
  return copy;
}

}  // extern "C"
