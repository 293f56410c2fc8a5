// Storage areas: arenas of chunks from which callers make many small
// allocations and release them all at once.
//
// An allocation rounds its size to 8 bytes and bumps the used offset of a
// chunk under the area's mutex. Chunks are linked newest first; a request
// the newest chunk cannot hold goes to the oldest older chunk that can, and
// only then to a new chunk (an index of the older chunks' free space finds
// that chunk without walking the list). Fresh chunk memory is filled with 0xFF
// (or 0x00 after stg_set_zero) so that the corruption check at trace level 1
// can see writes past the end of an earlier allocation.
//
// Every live area is also recorded in a process-wide registry, indexed by a
// slot taken as the lowest free bit of a bitmap, so stg_dump can list them.
#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>
#include <orvexks/stg.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "internal/alloc_fault.h"
#include "internal/thread_safety.h"
#include "memory/stg_heap.h"
#include "memory/stg_older.h"
#include "thread/qmthread_internal.h"

struct stg_chunk {
  uint64_t used;    // offset of the next free byte of data
  stg_chunk *prev;  // next older chunk, null for the oldest
  uint64_t size;
  unsigned char *data;
};

// Every field but `lock` is guarded by it once the area is returned to its
// creator; `slot` belongs to the registry.
struct stg_area {
  stg_chunk *chunks KSI_GUARDED_BY(lock);  // newest chunk
  uint64_t first_size KSI_GUARDED_BY(lock);
  uint64_t incr KSI_GUARDED_BY(lock);
  uint64_t total KSI_GUARDED_BY(lock);
  uint64_t desired KSI_GUARDED_BY(lock);
  float growth KSI_GUARDED_BY(lock);
  uint32_t slot;
  uint32_t zero_fill KSI_GUARDED_BY(lock);
  uint32_t incr_set KSI_GUARDED_BY(lock);
  qmthread_mutex_t lock;
  // Every chunk but the newest, for the oldest fit.
  ksi_stg_older older KSI_GUARDED_BY(lock);
};

namespace {

// Chunk bases never exceed this, whatever the growth factor.
constexpr uint64_t kMaxChunkBase = 102400;
// Larger requests could not be rounded and added to a base without overflow.
constexpr uint64_t kMaxRequest = uint64_t{1} << 62;

uint64_t round8(uint64_t n) { return (n + 7) & ~uint64_t{7}; }

unsigned char fill_byte(const stg_area *area) KSI_REQUIRES(area->lock) {
  return area->zero_fill ? 0x00 : 0xFF;
}

bool is_real(stg_area_t area) {
  return area != STG_AREA_NULL && area != STG_AREA_HEAP;
}

void print(int kind, int index, ...) {
  va_list args;
  va_start(args, index);
  imsg_print_sharedv(kind, kKsiStgSubsys, &ksi_stg_msgs, index, args);
  va_end(args);
}

// ---- Registry of live areas (for stg_dump).

qmthread_mutex_t registry_lock = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(registry_lock);
stg_area_t *registry_slots KSI_GUARDED_BY(registry_lock) = nullptr;
// Entries of registry_slots.
uint32_t registry_capacity KSI_GUARDED_BY(registry_lock) = 0;
uint32_t *registry_bits KSI_GUARDED_BY(registry_lock) = nullptr;
// 32-bit words of registry_bits.
uint32_t registry_words KSI_GUARDED_BY(registry_lock) = 0;

bool registry_in_use(uint32_t slot) KSI_REQUIRES(registry_lock) {
  return (registry_bits[slot / 32] >> (slot % 32)) & 1u;
}

// False when the registry could not grow.
bool registry_add(stg_area *area) KSI_REQUIRES(registry_lock) {
  if (registry_slots == nullptr) {
    auto *slots = static_cast<stg_area_t *>(nt_calloc(512, sizeof(stg_area_t)));
    auto *bits = static_cast<uint32_t *>(nt_calloc(16, sizeof(uint32_t)));
    if (slots == nullptr || bits == nullptr) {
      std::free(slots);
      std::free(bits);
      return false;
    }
    registry_slots = slots;
    registry_capacity = 512;
    registry_bits = bits;
    registry_words = 16;
  }
  uint32_t word = 0;
  while (word < registry_words && registry_bits[word] == UINT32_MAX) ++word;
  if (word == registry_words) {
    uint32_t words = registry_words * 2;
    auto *bits = static_cast<uint32_t *>(
        nt_realloc(registry_bits, words * sizeof(uint32_t)));
    if (bits == nullptr) return false;
    std::memset(bits + registry_words, 0,
                (words - registry_words) * sizeof(uint32_t));
    registry_bits = bits;
    registry_words = words;
  }
  uint32_t slot = word * 32 + __builtin_ctz(~registry_bits[word]);
  if (slot >= registry_capacity) {
    uint32_t capacity =
        slot + 1 > registry_capacity * 2 ? slot + 1 : registry_capacity * 2;
    auto *slots = static_cast<stg_area_t *>(
        nt_realloc(registry_slots, capacity * sizeof(stg_area_t)));
    if (slots == nullptr) return false;
    std::memset(slots + registry_capacity, 0,
                (capacity - registry_capacity) * sizeof(stg_area_t));
    registry_slots = slots;
    registry_capacity = capacity;
  }
  registry_slots[slot] = area;
  registry_bits[word] |= 1u << (slot % 32);
  area->slot = slot;
  return true;
}

// Visits the lock of every registered area in slot order (the fork
// handlers call it with registry_lock held).
bool each_area_lock(ksi_fork_visit_fn visit) KSI_REQUIRES(registry_lock) {
  for (uint32_t slot = 0; slot < registry_words * 32; ++slot)
    if (registry_in_use(slot) && !visit(&registry_slots[slot]->lock))
      return false;
  return true;
}
ksi_fork_guarded_each area_locks_fork_guarded(each_area_lock);

void registry_remove(stg_area *area) {
  qmthread_mutex_lock(&registry_lock);
  registry_slots[area->slot] = STG_AREA_NULL;
  registry_bits[area->slot / 32] &= ~(1u << (area->slot % 32));
  qmthread_mutex_unlock(&registry_lock);
}

// ---- Areas.

// The new area's fields are written before anyone else can see it.
stg_area_t create_area(uint64_t first_size,
                       bool quiet) KSI_NO_THREAD_SAFETY_ANALYSIS {
  auto *area = static_cast<stg_area *>(ksi_heap_alloc(sizeof(stg_area), quiet));
  if (area == nullptr) return STG_AREA_NULL;
  area->chunks = nullptr;
  area->first_size = first_size;
  area->incr = first_size;
  area->total = 0;
  area->desired = 0;
  area->growth = 0;
  area->slot = 0;
  area->zero_fill = 0;
  area->incr_set = 0;
  qmthread_mutex_init(&area->lock);
  new (&area->older) ksi_stg_older();

  qmthread_mutex_lock(&registry_lock);
  bool registered = registry_add(area);
  qmthread_mutex_unlock(&registry_lock);
  if (!registered) {
    ksi_stg_report_exhausted();
    qmthread_mutex_destroy(&area->lock);
    ksi_heap_free(area, quiet);
    return STG_AREA_NULL;
  }
  if (!quiet && ksi_stg_trace(4))
    print(IMSG_TRACE, KSI_STG_CREATED_AREA, ksi_stg_addr(area));
  return area;
}

// Size of the next chunk's base: the first size for the first chunk, then
// the newest chunk grown by the growth factor (unless an increment was set
// explicitly for the second chunk), else the increment; never above
// kMaxChunkBase.
uint64_t next_base(const stg_area *area, uint32_t count)
    KSI_REQUIRES(area->lock) {
  uint64_t base;
  if (count == 0) {
    base = area->first_size;
  } else if (area->growth > 0 && !(count == 1 && area->incr_set)) {
    base = static_cast<uint64_t>(static_cast<float>(area->chunks->size) *
                                 area->growth);
  } else {
    base = area->incr;
  }
  return base < kMaxChunkBase ? base : kMaxChunkBase;
}

// Links a new chunk for a request of `a` bytes (already rounded) at the
// head; null when the heap is exhausted.
stg_chunk *add_chunk(stg_area *area, uint64_t a, bool quiet)
    KSI_REQUIRES(area->lock) {
  // The newest chunk becomes an older one: room in the index comes first,
  // so that a failure leaves the area as it was.
  stg_chunk *newest = area->chunks;
  if (newest != nullptr && !ksi_stg_older_reserve(&area->older)) {
    ksi_stg_report_exhausted();
    return nullptr;
  }
  uint32_t count = area->older.count + (newest != nullptr ? 1 : 0);
  uint64_t base = next_base(area, count);
  // A request of more than 70 % of the base rides on top of the base, so
  // the chunk always holds it.
  uint64_t size = round8(base + (static_cast<double>(a) > 0.7 * base ? a : 0));
  auto *chunk =
      static_cast<stg_chunk *>(ksi_heap_alloc(sizeof(stg_chunk), quiet));
  if (chunk == nullptr) return nullptr;
  auto *data = static_cast<unsigned char *>(ksi_heap_alloc(size, quiet));
  if (data == nullptr) {
    ksi_heap_free(chunk, quiet);
    return nullptr;
  }
  area->total += size;
  if (!(count == 0 && area->incr_set)) area->desired += base;
  std::memset(data, fill_byte(area), size);
  chunk->used = 0;
  chunk->size = size;
  chunk->data = data;
  chunk->prev = area->chunks;
  if (!quiet && ksi_stg_trace(4)) {
    print(IMSG_TRACE, KSI_STG_CREATED_CHUNK, ksi_stg_addr(area),
          ksi_stg_addr(chunk), static_cast<unsigned>(size));
  }
  if (newest != nullptr)
    ksi_stg_older_append(&area->older, newest, newest->size - newest->used);
  area->chunks = chunk;
  return chunk;
}

// The chunk that takes `a` more bytes: the newest when it fits, else the
// oldest older one that fits (its index position in *older_pos), else a
// new one.
stg_chunk *choose_chunk(stg_area *area, uint64_t a, bool quiet,
                        uint32_t *older_pos) KSI_REQUIRES(area->lock) {
  stg_chunk *newest = area->chunks;
  if (newest != nullptr && newest->used + a <= newest->size) return newest;
  stg_chunk *fit = ksi_stg_older_find(&area->older, a, older_pos);
  return fit != nullptr ? fit : add_chunk(area, a, quiet);
}

// Reports the first byte of the chunk's free space (the next `a` bytes, or
// all of it at level 2) that no longer holds the fill byte.
void check_free_space(stg_area *area, const stg_chunk *chunk, uint64_t a)
    KSI_REQUIRES(area->lock) {
  uint64_t span = ksi_stg_trace(2) ? chunk->size - chunk->used : a;
  const unsigned char *p = chunk->data + chunk->used;
  unsigned char fill = fill_byte(area);
  for (uint64_t i = 0; i < span; ++i) {
    if (p[i] != fill) {
      print(IMSG_ERROR, KSI_STG_CORRUPTED, ksi_stg_addr(area),
            ksi_stg_addr(p + i));
      return;
    }
  }
}

void *alloc_from_area(stg_area_t area, uint64_t n, bool quiet) {
  if (area == STG_AREA_HEAP) return ksi_heap_alloc(n, quiet);
  if (area == STG_AREA_NULL) return nullptr;
  if (n > kMaxRequest) {
    ksi_stg_report_exhausted();
    return nullptr;
  }
  uint64_t a = round8(n);
  qmthread_mutex_lock(&area->lock);
  uint32_t older_pos = UINT32_MAX;
  stg_chunk *chunk = choose_chunk(area, a, quiet, &older_pos);
  void *result = nullptr;
  // One look at the verbosity serves both trace tests of the common case.
  bool tracing = !quiet && imsg_get_desired_verbosity() >= 1;
  if (chunk != nullptr) {
    if (tracing && ksi_stg_trace(1)) check_free_space(area, chunk, a);
    result = chunk->data + chunk->used;
    chunk->used += a;
    if (older_pos != UINT32_MAX)
      ksi_stg_older_set_room(&area->older, older_pos,
                             chunk->size - chunk->used);
    if (tracing && ksi_stg_trace(5)) {
      print(IMSG_TRACE, KSI_STG_ALLOCATED, ksi_stg_addr(area),
            ksi_stg_addr(result), static_cast<unsigned>(a));
    }
  }
  qmthread_mutex_unlock(&area->lock);
  return result;
}

// Releases every chunk except, when keep_oldest, the oldest; returns the
// kept chunk or null.
stg_chunk *release_chunks(stg_area *area, bool keep_oldest, bool quiet)
    KSI_REQUIRES(area->lock) {
  stg_chunk *kept = nullptr;
  stg_chunk *c = area->chunks;
  while (c != nullptr) {
    stg_chunk *prev = c->prev;
    if (keep_oldest && prev == nullptr) {
      kept = c;
    } else {
      if (!quiet && ksi_stg_trace(4)) {
        print(IMSG_TRACE, KSI_STG_FREEING_CHUNK, ksi_stg_addr(area),
              ksi_stg_addr(c));
      }
      ksi_heap_free(c->data, quiet);
      ksi_heap_free(c, quiet);
    }
    c = prev;
  }
  area->chunks = kept;
  ksi_stg_older_clear(&area->older);
  return kept;
}

void delete_area(stg_area_t *handle, bool quiet) {
  if (handle == nullptr) return;
  stg_area *area = *handle;
  if (!is_real(area)) return;
  if (!quiet && ksi_stg_trace(4))
    print(IMSG_TRACE, KSI_STG_DELETING, ksi_stg_addr(area));
  registry_remove(area);
  qmthread_mutex_lock(&area->lock);
  release_chunks(area, false, quiet);
  area->total = 0;
  area->desired = 0;
  ksi_stg_older_free(&area->older);
  qmthread_mutex_unlock(&area->lock);
  qmthread_mutex_destroy(&area->lock);
  ksi_heap_free(area, quiet);
  *handle = STG_AREA_NULL;
}

void dump_locked(stg_area *area) KSI_REQUIRES(area->lock) {
  uint64_t allocd = 0, used = 0;
  int count = 0;
  for (stg_chunk *c = area->chunks; c != nullptr; c = c->prev) {
    allocd += c->size;
    used += c->used;
    ++count;
  }
  print(IMSG_OK, KSI_STG_DUMP_AREA, ksi_stg_addr(area),
        static_cast<unsigned long>(allocd), static_cast<unsigned long>(used),
        count, static_cast<unsigned long>(area->first_size),
        static_cast<unsigned long>(area->incr),
        static_cast<unsigned long>(area->desired),
        static_cast<double>(area->growth));
  for (stg_chunk *c = area->chunks; c != nullptr; c = c->prev) {
    print(IMSG_OK, KSI_STG_DUMP_CHUNK, ksi_stg_addr(c),
          static_cast<unsigned long>(c->size),
          static_cast<unsigned long>(c->used), ksi_stg_addr(c->data),
          ksi_stg_addr(c->prev));
  }
}

}  // namespace

extern "C" {

stg_area_t stg_create_area(uint64_t first_size) {
  return create_area(first_size, false);
}

stg_area_t stg_create_area_quiet(uint64_t first_size) {
  return create_area(first_size, true);
}

void *stg_alloc(stg_area_t area, uint64_t size) {
  return alloc_from_area(area, size, false);
}

void *stg_alloc_quiet(stg_area_t area, uint64_t size) {
  return alloc_from_area(area, size, true);
}

char *stg_area_strdup(stg_area_t area, const char *s) {
  if (s == nullptr) return nullptr;
  size_t n = std::strlen(s) + 1;
  auto *copy = static_cast<char *>(stg_alloc(area, n));
  if (copy != nullptr) std::memcpy(copy, s, n);
  return copy;
}

void stg_set_incr(stg_area_t area, uint64_t incr) {
  if (!is_real(area)) return;
  qmthread_mutex_lock(&area->lock);
  area->incr = incr;
  area->incr_set = 1;
  qmthread_mutex_unlock(&area->lock);
}

void stg_set_growth(stg_area_t area, double factor) {
  if (!is_real(area) || !(factor > 1.0)) return;
  qmthread_mutex_lock(&area->lock);
  area->growth = static_cast<float>(factor);
  qmthread_mutex_unlock(&area->lock);
}

void stg_set_zero(stg_area_t area) {
  if (!is_real(area)) return;
  qmthread_mutex_lock(&area->lock);
  area->zero_fill = 1;
  qmthread_mutex_unlock(&area->lock);
}

void stg_free_area(stg_area_t area, int keep_first) {
  if (!is_real(area)) return;
  qmthread_mutex_lock(&area->lock);
  if (ksi_stg_trace(4)) print(IMSG_TRACE, KSI_STG_CLEARING, ksi_stg_addr(area));
  stg_chunk *kept = release_chunks(area, keep_first != 0, false);
  if (kept != nullptr) {
    kept->used = 0;
    std::memset(kept->data, fill_byte(area), kept->size);
    area->total = kept->size;
    area->desired = area->incr_set ? 0 : area->first_size;
  } else {
    area->total = 0;
    area->desired = 0;
  }
  qmthread_mutex_unlock(&area->lock);
}

void stg_delete_area(stg_area_t *area) { delete_area(area, false); }

void stg_delete_area_quiet(stg_area_t *area) { delete_area(area, true); }

void stg_dump_area(stg_area_t area) {
  if (!is_real(area)) return;
  qmthread_mutex_lock(&area->lock);
  dump_locked(area);
  qmthread_mutex_unlock(&area->lock);
}

void stg_dump(void) {
  pfm_inhibit();
  qmthread_mutex_lock(&registry_lock);
  for (uint32_t slot = 0; slot < registry_words * 32; ++slot) {
    if (!registry_in_use(slot)) continue;
    stg_area *area = registry_slots[slot];
    qmthread_mutex_lock(&area->lock);
    dump_locked(area);
    qmthread_mutex_unlock(&area->lock);
  }
  qmthread_mutex_unlock(&registry_lock);
  pfm_enable();
}

}  // extern "C"
