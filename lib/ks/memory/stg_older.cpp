#include "memory/stg_older.h"

#include <sys/mman.h>

#include <cstring>

namespace {

constexpr uint32_t kFirstCapacity = 64;

uint64_t larger(uint64_t a, uint64_t b) { return a > b ? a : b; }

// Both arrays live in one mapping of their own, outside the C heap: an
// index block among the chunks would pin the heap's top there, and the
// chunks above it would go back to the system at every clearing.
size_t mapping_size(uint32_t capacity) {
  return size_t{capacity} * (sizeof(stg_chunk *) + 2 * sizeof(uint64_t));
}

}  // namespace

bool ksi_stg_older_reserve(ksi_stg_older *older) {
  if (older->count < older->capacity) return true;
  if (older->capacity > UINT32_MAX / 4) return false;
  uint32_t capacity =
      older->capacity == 0 ? kFirstCapacity : older->capacity * 2;
  void *block = mmap(nullptr, mapping_size(capacity), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return false;
  // Fresh mappings are zero-filled: unused leaves hold no room.
  auto *room = static_cast<uint64_t *>(block);
  auto *chunks = reinterpret_cast<stg_chunk **>(room + 2 * size_t{capacity});
  if (older->count > 0) {
    std::memcpy(chunks, older->chunks, older->count * sizeof(stg_chunk *));
    std::memcpy(room + capacity, older->room + older->capacity,
                older->count * sizeof(uint64_t));
  }
  for (uint32_t k = capacity - 1; k >= 1; --k)
    room[k] = larger(room[2 * k], room[2 * k + 1]);
  uint32_t count = older->count;
  ksi_stg_older_free(older);
  older->chunks = chunks;
  older->room = room;
  older->capacity = capacity;
  older->count = count;
  return true;
}

void ksi_stg_older_append(ksi_stg_older *older, stg_chunk *chunk,
                          uint64_t room) {
  uint32_t pos = older->count++;
  older->chunks[pos] = chunk;
  ksi_stg_older_set_room(older, pos, room);
}

stg_chunk *ksi_stg_older_find(const ksi_stg_older *older, uint64_t need,
                              uint32_t *pos) {
  if (older->count == 0 || older->room[1] < need) return nullptr;
  // Down from the root, to the left child whenever it has room enough.
  uint32_t k = 1;
  while (k < older->capacity)
    k = older->room[2 * k] >= need ? 2 * k : 2 * k + 1;
  *pos = k - older->capacity;
  return older->chunks[*pos];
}

void ksi_stg_older_set_room(ksi_stg_older *older, uint32_t pos, uint64_t room) {
  uint32_t k = older->capacity + pos;
  older->room[k] = room;
  for (k /= 2; k >= 1; k /= 2)
    older->room[k] = larger(older->room[2 * k], older->room[2 * k + 1]);
}

void ksi_stg_older_clear(ksi_stg_older *older) {
  if (older->room != nullptr)
    std::memset(older->room, 0, 2 * size_t{older->capacity} * sizeof(uint64_t));
  older->count = 0;
}

void ksi_stg_older_free(ksi_stg_older *older) {
  if (older->room != nullptr)
    munmap(older->room, mapping_size(older->capacity));
  older->chunks = nullptr;
  older->room = nullptr;
  older->capacity = 0;
  older->count = 0;
}
