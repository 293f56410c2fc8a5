// Hash tables: creation, settings, cells and growth.
//
// Every table owns one storage area holding its record, its cells and its
// copied keys; only the bucket array (and iteration cursors) are heap
// blocks. Removed cells go to a free list and are recycled by the next new
// cell, so a table's memory never shrinks before the table is deleted.
#include <orvexks/hash.h>
#include <orvexks/imsg.h>
#include <orvexks/stg.h>

#include <cstdint>
#include <cstring>

#include "hash/hash_internal.h"
#include "startup/ks_msgs.h"

namespace {

constexpr uint32_t kPrimes[] = {
    1,        2,        3,        7,         17,       31,
    61,       127,      257,      509,       1021,     2053,
    4093,     8191,     16381,    32771,     65537,    131071,
    262147,   524287,   1048573,  2097143,   4194301,  8388617,
    16777213, 33554467, 67108859, 134217757, 268435459};
constexpr uint32_t kMaxBuckets = 1048573;

// The first of the first 28 primes that is at least `wanted`, else the
// last one.
uint32_t prime_at_least(uint64_t wanted) {
  for (int i = 0; i < 28; ++i)
    if (kPrimes[i] >= wanted) return kPrimes[i];
  return kPrimes[28];
}

uint32_t min_u32(uint32_t a, uint32_t b) { return a < b ? a : b; }

// nbuckets * limit, saturated: a wrapped product would grow the table
// again at every new cell.
uint32_t cell_limit(uint32_t nbuckets, uint32_t limit) {
  const uint64_t product = uint64_t{nbuckets} * limit;
  return product > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(product);
}

// Integer tables compare the key in the cell and keep no ksi_hash_head
// records.
bool keeps_head_records(hash_key_type type) { return type != HASH_KEY_INT; }

// The heads, their ksi_hash_head records (32-aligned) if the table keeps
// them, then the filter bytes, in one zeroed heap block.
hash_cell_t **new_bucket_array(uint32_t n, hash_key_type type) {
  const size_t records =
      keeps_head_records(type) ? n * sizeof(ksi_hash_head) + 31 : 0;
  const size_t bytes = size_t{n} * sizeof(hash_cell_t *) + records + n;
  auto **b = static_cast<hash_cell_t **>(stg_malloc(bytes));
  if (b != nullptr) std::memset(b, 0, bytes);
  return b;
}

void set_buckets(hash_table_t *t, hash_cell_t **buckets, uint32_t n) {
  t->buckets = buckets;
  t->nbuckets = n;
  ksi_hash_table *rec = ksi_hash_of(t);
  rec->bucket_magic = ksi_hash_magic(n);
  if (keeps_head_records(hash_key_type(t->key_type))) {
    const auto end = reinterpret_cast<uintptr_t>(buckets + n);
    rec->heads = reinterpret_cast<ksi_hash_head *>((end + 31) & ~uintptr_t{31});
    rec->filter = reinterpret_cast<uint8_t *>(rec->heads + n);
  } else {
    rec->heads = nullptr;
    rec->filter = reinterpret_cast<uint8_t *>(buckets + n);
  }
}

// Pushes cell, whose key is head_key (null: not known), at the head of its
// bucket.
void link(hash_table_t *t, hash_cell *cell, const void *head_key) {
  const uint32_t b = ksi_hash_bucket(t, cell->hval);
  cell->next = t->buckets[b];
  t->buckets[b] = cell;
  if (ksi_hash_head *heads = ksi_hash_of(t)->heads; heads != nullptr) {
    ksi_hash_head &h = heads[b];
    h = {cell, {head_key, h.key[0]}, {cell->hval, h.hval[0]}};
  }
  ksi_hash_of(t)->filter[b] |= ksi_hash_tag(cell->hval);
}

// Updates bucket b's head record after its first (removed 0) or second
// (removed 1) cell left it. A cell moving up into the second place is
// compared in its cell until the table grows: one made by the low-level
// call may not hold its key yet.
void unlink_head(hash_table_t *t, uint32_t b, int removed) {
  ksi_hash_head *heads = ksi_hash_of(t)->heads;
  if (heads == nullptr) return;
  ksi_hash_head &h = heads[b];
  h.first = t->buckets[b];
  if (removed == 0) {
    h.key[0] = h.key[1];
    h.hval[0] = h.hval[1];
  }
  h.key[1] = nullptr;
}

hash_fn_t default_hash(hash_key_type type) {
  switch (type) {
    case HASH_KEY_INT:
      return ksi_hash_int;
    case HASH_KEY_STR:
      return ksi_hash_str;
    default:
      return nullptr;  // fixed-length keys: the byte hash over key_bytes
  }
}

hash_compare_fn_t default_compare(hash_key_type type) {
  switch (type) {
    case HASH_KEY_INT:
      return ksi_hash_int_equal;
    case HASH_KEY_STR:
      return ksi_hash_str_equal;
    default:
      return nullptr;  // fixed-length keys: memcmp over key_bytes
  }
}

}  // namespace

extern "C" {

KS_API hash_table_t *hash_create_ht(uint32_t nbuckets, uint32_t data_bytes,
                                    hash_key_type key_type, int copy_keys,
                                    uint32_t key_bytes, hash_fn_t hash_fn,
                                    hash_compare_fn_t compare_fn) {
  const uint32_t prime = prime_at_least(nbuckets);
  stg_area_t area = stg_create_area(uint64_t{prime} * 8);
  ksi_hash_table *rec = nullptr;
  hash_cell_t **buckets = nullptr;
  const uint32_t n = min_u32(prime, kMaxBuckets);
  if (area != STG_AREA_NULL) {
    stg_set_zero(area);
    stg_set_growth(area, 1.5);
    rec = static_cast<ksi_hash_table *>(stg_alloc(area, sizeof *rec));
    if (rec != nullptr) buckets = new_bucket_array(n, key_type);
  }
  if (buckets == nullptr) {
    imsg_print_shared(IMSG_ERROR, "ks", &ksi_ks_msgs, KSI_KS_CL_OUT_OF_MEMORY);
    if (area != STG_AREA_NULL) stg_delete_area(&area);
    return nullptr;
  }
  hash_table_t *t = &rec->pub;
  *t = hash_table_t{};
  t->key_type = key_type;  // which decides the bucket array's layout
  set_buckets(t, buckets, n);
  t->area = area;
  t->data_bytes = data_bytes;
  t->key_bytes = key_bytes;
  t->copy_keys = copy_keys;
  t->hash_fn = hash_fn != nullptr ? hash_fn : default_hash(key_type);
  t->compare_fn =
      compare_fn != nullptr ? compare_fn : default_compare(key_type);
  return t;
}

KS_API hash_table_t *hash_int_create(uint32_t nbuckets, uint32_t data_bytes) {
  return hash_create_ht(nbuckets, data_bytes, HASH_KEY_INT, 0, 0, ksi_hash_int,
                        ksi_hash_int_equal);
}

KS_API hash_table_t *hash_str_create(uint32_t nbuckets, uint32_t data_bytes,
                                     int copy_keys) {
  return hash_create_ht(nbuckets, data_bytes, HASH_KEY_STR, copy_keys, 0,
                        ksi_hash_str, ksi_hash_str_equal);
}

KS_API hash_table_t *hash_flen_create(uint32_t nbuckets, uint32_t data_bytes,
                                      int copy_keys, uint32_t key_bytes) {
  return hash_create_ht(nbuckets, data_bytes, HASH_KEY_FLEN, copy_keys,
                        key_bytes, nullptr, nullptr);
}

KS_API hash_table_t *hash_flen_create_with_fns(
    uint32_t nbuckets, uint32_t data_bytes, int copy_keys, uint32_t key_bytes,
    hash_fn_t hash_fn, hash_compare_fn_t compare_fn) {
  return hash_create_ht(nbuckets, data_bytes, HASH_KEY_FLEN, copy_keys,
                        key_bytes, hash_fn, compare_fn);
}

KS_API void hash_delete_ht(hash_table_t **table) {
  if (table == nullptr || *table == nullptr) return;
  stg_free((*table)->buckets);
  stg_area_t area = (*table)->area;
  stg_delete_area(&area);
  *table = nullptr;
}

KS_API void hash_str_ignore_spaces(hash_table_t *table) {
  table->hash_fn = ksi_hash_str_blind;
  table->compare_fn = ksi_hash_str_blind_equal;
}

KS_API void hash_set_dynamic(hash_table_t *table, uint32_t factor) {
  table->limit = factor;
  table->cell_limit = cell_limit(table->nbuckets, factor);
}

KS_API void hash_set_order(hash_table_t *table) { table->ordered = 1; }

KS_API uint32_t hash_get_key_bytes(hash_table_t *table) {
  return table->key_bytes;
}

KS_API hash_cell_t *hash_create_cell(hash_table_t *table, uint32_t hval) {
  hash_cell *cell = table->free_list;
  if (cell != nullptr) {
    table->free_list = cell->next;
  } else {
    // The area is zero-filled, so fresh cells need no clearing.
    const uint64_t links = table->ordered ? sizeof(ksi_hash_order_links) : 0;
    auto *block = static_cast<unsigned char *>(
        stg_alloc(table->area, links + sizeof(hash_cell) + table->data_bytes));
    if (block == nullptr) return nullptr;
    cell = reinterpret_cast<hash_cell *>(block + links);
  }
  if (table->ordered) {
    ksi_hash_order_links *links = ksi_hash_links(cell);
    links->order = nullptr;
    links->back = table->last_in_order;
    if (table->last_in_order != nullptr)
      ksi_hash_links(table->last_in_order)->order = cell;
    else
      table->first_in_order = cell;
    table->last_in_order = cell;
  }
  cell->hval = hval;
  // The key is stored by the caller after this returns.
  link(table, cell, nullptr);
  ++table->ncells;
  if (table->limit > 0 && table->ncells > table->cell_limit) {
    hash_resize(table);  // which took the cell's old key as known
    ksi_hash_set_head_key(table, cell, nullptr);
  }
  return cell;
}

KS_API void hash_free_cell(hash_table_t *table, hash_cell_t *cell,
                           hash_cell_t *prev) {
  if (table->ordered) {
    ksi_hash_order_links *links = ksi_hash_links(cell);
    if (links->back != nullptr)
      ksi_hash_links(links->back)->order = links->order;
    else
      table->first_in_order = links->order;
    if (links->order != nullptr)
      ksi_hash_links(links->order)->back = links->back;
    else
      table->last_in_order = links->back;
  }
  const uint32_t b = ksi_hash_bucket(table, cell->hval);
  if (prev != nullptr)
    prev->next = cell->next;
  else
    table->buckets[b] = cell->next;
  uint8_t tags = 0;
  for (hash_cell *c = table->buckets[b]; c != nullptr; c = c->next)
    tags |= ksi_hash_tag(c->hval);
  ksi_hash_of(table)->filter[b] = tags;
  if (prev == nullptr)
    unlink_head(table, b, 0);
  else if (prev == table->buckets[b])
    unlink_head(table, b, 1);
  cell->next = table->free_list;
  table->free_list = cell;
  --table->ncells;
}

KS_API void hash_resize(hash_table_t *table) {
  if (table->nbuckets >= kMaxBuckets) return;
  const uint32_t n =
      min_u32(prime_at_least(uint64_t{table->nbuckets} + 1), kMaxBuckets);
  hash_cell_t **fresh = new_bucket_array(n, hash_key_type(table->key_type));
  if (fresh == nullptr) return;
  hash_cell_t **old = table->buckets;
  const uint32_t old_n = table->nbuckets;
  set_buckets(table, fresh, n);
  for (uint32_t b = 0; b < old_n; ++b) {
    hash_cell *cell = old[b];
    while (cell != nullptr) {
      hash_cell *next = cell->next;
      link(table, cell, nullptr);
      cell = next;
    }
  }
  stg_free(old);
  table->cell_limit = cell_limit(n, table->limit);
}

}  // extern "C"
