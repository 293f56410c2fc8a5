// Hash tables: iteration in bucket order and in insertion order.
//
// A cursor is a small heap block holding the bucket and the cell returned
// last; the call that runs off the end frees it, and hash_term_scan frees
// one whose iteration stopped early.
#include <orvexks/hash.h>
#include <orvexks/stg.h>

#include <cstdint>

#include "hash/hash_internal.h"

namespace {

// Sets *cell_out; at the end frees the cursor. 1 while cells remain.
int step(hash_cursor_t **cursor, hash_cell *cell, uint32_t bucket,
         hash_cell_t **cell_out) {
  *cell_out = cell;
  if (cell == nullptr) {
    hash_term_scan(cursor);
    return 0;
  }
  (*cursor)->bucket = bucket;
  (*cursor)->last = cell;
  return 1;
}

// A fresh cursor in *cursor; false (and no cursor) when memory ran out.
bool start(hash_cursor_t **cursor) {
  *cursor = static_cast<hash_cursor_t *>(stg_malloc(sizeof(hash_cursor_t)));
  if (*cursor == nullptr) return false;
  **cursor = hash_cursor_t{0, nullptr};
  return true;
}

template <typename Key, typename Next>
int next_key(hash_table_t *table, hash_cursor_t **cursor, Key **key_out,
             void **data_out, Next next) {
  hash_cell_t *cell = nullptr;
  const int more = next(table, cursor, &cell);
  Key *key = nullptr;
  void *data = nullptr;
  if (more) {
    key = ksi_hash_key<Key>(cell);
    data = ksi_hash_data(cell);
  }
  if (key_out != nullptr) *key_out = key;
  if (data_out != nullptr) *data_out = data;
  return more;
}

}  // namespace

extern "C" {

KS_API int hash_next(hash_table_t *table, hash_cursor_t **cursor,
                     hash_cell_t **cell_out) {
  hash_cell *cell;
  uint32_t b;
  if (*cursor == nullptr) {
    if (!start(cursor)) return step(cursor, nullptr, 0, cell_out);
    b = 0;
    cell = table->buckets[0];
  } else {
    b = (*cursor)->bucket;
    cell = (*cursor)->last->next;
  }
  while (cell == nullptr && ++b < table->nbuckets) cell = table->buckets[b];
  return step(cursor, cell, b, cell_out);
}

KS_API int hash_next_in_order(hash_table_t *table, hash_cursor_t **cursor,
                              hash_cell_t **cell_out) {
  hash_cell *cell;
  if (*cursor == nullptr) {
    if (!start(cursor)) return step(cursor, nullptr, 0, cell_out);
    cell = table->first_in_order;
  } else {
    cell = ksi_hash_links((*cursor)->last)->order;
  }
  return step(cursor, cell, 0, cell_out);
}

KS_API void hash_term_scan(hash_cursor_t **cursor) {
  if (cursor == nullptr) return;
  stg_free(*cursor);
  *cursor = nullptr;
}

KS_API int hash_int_next(hash_table_t *table, hash_cursor_t **cursor,
                         int32_t **key_out, void **data_out) {
  return next_key(table, cursor, key_out, data_out, hash_next);
}

KS_API int hash_str_next(hash_table_t *table, hash_cursor_t **cursor,
                         char **key_out, void **data_out) {
  return next_key(table, cursor, key_out, data_out, hash_next);
}

KS_API int hash_flen_next(hash_table_t *table, hash_cursor_t **cursor,
                          void **key_out, void **data_out) {
  return next_key(table, cursor, key_out, data_out, hash_next);
}

KS_API int hash_int_next_in_order(hash_table_t *table, hash_cursor_t **cursor,
                                  int32_t **key_out, void **data_out) {
  return next_key(table, cursor, key_out, data_out, hash_next_in_order);
}

KS_API int hash_str_next_in_order(hash_table_t *table, hash_cursor_t **cursor,
                                  char **key_out, void **data_out) {
  return next_key(table, cursor, key_out, data_out, hash_next_in_order);
}

KS_API int hash_flen_next_in_order(hash_table_t *table, hash_cursor_t **cursor,
                                   void **key_out, void **data_out) {
  return next_key(table, cursor, key_out, data_out, hash_next_in_order);
}

}  // extern "C"
