// The older chunks of a storage area (every chunk but the newest), oldest
// first, with each chunk's free bytes kept in a max-tree. A request that
// the newest chunk cannot hold must go to the oldest chunk with room for
// it; the tree finds that chunk in logarithmic time, where walking the
// chunk list costs a visit to every chunk on every such request.
#pragma once

#include <cstdint>

struct stg_chunk;

struct ksi_stg_older {
  stg_chunk **chunks = nullptr;  // `capacity` entries, oldest first
  // 2 * capacity entries: room[capacity + i] is the free bytes of chunk i,
  // room[k] the larger of room[2k] and room[2k + 1]; unused leaves hold 0.
  uint64_t *room = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;  // a power of two, or 0
};

// Makes room for one more chunk. False when the memory cannot be had; the
// index is then unchanged.
bool ksi_stg_older_reserve(ksi_stg_older *older);

// Appends a chunk (the newest, as it becomes older) with `room` free bytes.
// REQUIRES: ksi_stg_older_reserve succeeded since the last append.
void ksi_stg_older_append(ksi_stg_older *older, stg_chunk *chunk,
                          uint64_t room);

// The oldest chunk with at least `need` (> 0) free bytes and its position,
// or null.
stg_chunk *ksi_stg_older_find(const ksi_stg_older *older, uint64_t need,
                              uint32_t *pos);

// Records the free bytes of the chunk at `pos` after an allocation from it.
void ksi_stg_older_set_room(ksi_stg_older *older, uint32_t pos, uint64_t room);

// Forgets every chunk and keeps the memory for reuse.
void ksi_stg_older_clear(ksi_stg_older *older);

// Releases the index's memory.
void ksi_stg_older_free(ksi_stg_older *older);
