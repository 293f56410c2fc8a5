// Cells, cursors and the table record as the hash family lays them out,
// and the bucket arithmetic every lookup shares.
#pragma once

#include <orvexks/hash.h>

#include <cstdint>
#include <type_traits>

// A cell: the handle points here. In order mode two links (newer, older)
// sit just before it; the caller's data follows it.
struct hash_cell {
  hash_cell *next;  // next cell of the bucket, or of the free list
  union {
    int32_t value;    // integer tables keep the key itself
    const void *ptr;  // the others point at it
  } key;
  uint32_t hval;
  uint32_t pad;  // keeps the data 8-aligned
};
static_assert(sizeof(hash_cell) == 24, "cell header of 24 bytes");

struct ksi_hash_order_links {
  hash_cell *order;  // the next newer cell
  hash_cell *back;   // the next older cell
};

struct hash_cursor {
  uint32_t bucket;
  hash_cell *last;  // the cell returned last
};
static_assert(sizeof(hash_cursor) == 16, "16-byte cursor");

// The record callers see, followed by what lookups derive from it.
struct ksi_hash_table {
  hash_table_t pub;
  // Lemire's reciprocal of nbuckets: a bucket costs two multiplications
  // instead of a division.
  uint64_t bucket_magic;
};

inline ksi_hash_table *ksi_hash_of(hash_table_t *t) {
  return reinterpret_cast<ksi_hash_table *>(t);
}

inline uint64_t ksi_hash_magic(uint32_t nbuckets) {
  return UINT64_MAX / nbuckets + 1;
}

// hval mod nbuckets.
inline uint32_t ksi_hash_bucket(const hash_table_t *t, uint32_t hval) {
  const uint64_t magic =
      reinterpret_cast<const ksi_hash_table *>(t)->bucket_magic;
  const uint64_t low = magic * hval;
  return static_cast<uint32_t>(
      (static_cast<unsigned __int128>(low) * t->nbuckets) >> 64);
}

inline ksi_hash_order_links *ksi_hash_links(hash_cell *cell) {
  return reinterpret_cast<ksi_hash_order_links *>(cell) - 1;
}

inline void *ksi_hash_data(hash_cell *cell) { return cell + 1; }

// The cell's key as the callers of each kind see it: the stored integer,
// or the key's address.
template <typename Key>
Key *ksi_hash_key(hash_cell *cell) {
  if constexpr (std::is_same_v<Key, int32_t>)
    return &cell->key.value;
  else
    return static_cast<Key *>(const_cast<void *>(cell->key.ptr));
}

// The key kinds' own functions.
uint32_t ksi_hash_int(const void *key);
int ksi_hash_int_equal(const void *stored, const void *probe);
uint32_t ksi_hash_str(const void *key);
int ksi_hash_str_equal(const void *stored, const void *probe);
uint32_t ksi_hash_str_blind(const void *key);
int ksi_hash_str_blind_equal(const void *stored, const void *probe);
