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

// What a bucket's first two cells hold, kept beside the bucket array: a
// string or fixed-length probe finds its cell from this one record and the
// key's own memory, without waiting for the first cell and then the second
// one after another. A key is null when there is no such cell or when its
// key is not known (a cell just created and not yet given its key); the
// cell itself is then compared.
struct ksi_hash_head {
  hash_cell *first;    // the bucket's first cell, as in the bucket array
  const void *key[2];  // the first and the second cell's key
  uint32_t hval[2];    // their hash values, where the key is known
};
static_assert(sizeof(ksi_hash_head) == 32,
              "32-aligned heads never straddle cache lines");

// The record callers see, followed by what lookups derive from it.
struct ksi_hash_table {
  hash_table_t pub;
  // Lemire's reciprocal of nbuckets: a bucket costs two multiplications
  // instead of a division.
  uint64_t bucket_magic;
  // One byte per bucket, at the end of the bucket array's heap block: the
  // union of its cells' tags (ksi_hash_tag). A probe whose tag is missing
  // there cannot be in the bucket, so most misses read one byte of a small,
  // cache-resident array and never touch the chain or the head records.
  uint8_t *filter;
  // Each bucket's ksi_hash_head, 32-aligned in the bucket array's heap
  // block between the heads and the filter; null for integer tables.
  struct ksi_hash_head *heads;
};

inline ksi_hash_table *ksi_hash_of(hash_table_t *t) {
  return reinterpret_cast<ksi_hash_table *>(t);
}
inline const ksi_hash_table *ksi_hash_of(const hash_table_t *t) {
  return reinterpret_cast<const ksi_hash_table *>(t);
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

// One of eight bits chosen by the hash value's high product bits, which
// are independent of its remainder by the bucket count.
inline uint8_t ksi_hash_tag(uint32_t hval) {
  return static_cast<uint8_t>(1u << ((hval * 0x9E3779B1u) >> 29));
}

// Whether bucket b may hold a cell with hash value hval.
inline bool ksi_hash_may_hold(const hash_table_t *t, uint32_t b,
                              uint32_t hval) {
  return (reinterpret_cast<const ksi_hash_table *>(t)->filter[b] &
          ksi_hash_tag(hval)) != 0;
}

// Records key as the known key of cell, or forgets it (null), where the
// head record of cell's bucket keeps it.
inline void ksi_hash_set_head_key(hash_table_t *t, hash_cell *cell,
                                  const void *key) {
  ksi_hash_head *heads = ksi_hash_of(t)->heads;
  if (heads == nullptr) return;
  ksi_hash_head &h = heads[ksi_hash_bucket(t, cell->hval)];
  if (h.first == cell)
    h.key[0] = key;
  else if (h.first != nullptr && h.first->next == cell)
    h.key[1] = key;
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
