// Hash tables: the key kinds' hash functions, and entering, looking up and
// removing keys.
//
// A key is looked up in bucket hval mod nbuckets from the bucket's head;
// string and fixed-length cells are compared only when their stored hash
// value equals the probe's, integer cells directly. The built-in hash and
// compare functions are recognised and run inline, so the common tables
// make no indirect call per probe.
#include <orvexks/hash.h>
#include <orvexks/imsg.h>
#include <orvexks/list.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <cctype>
#include <cstdint>
#include <cstring>

#include "hash/hash_internal.h"
#include "hash/hash_poly.h"
#include "startup/ks_msgs.h"

namespace {

inline uint32_t str_hash(const char *s) {
  return ksi_hash_poly::hash(0, reinterpret_cast<const unsigned char *>(s),
                             std::strlen(s), ksi_hash_poly::widen_signed);
}

inline uint32_t bytes_hash(const unsigned char *p, uint32_t n) {
  return ksi_hash_poly::hash(0, p, n, ksi_hash_poly::widen_unsigned);
}

inline bool str_equal(const char *a, const char *b) {
  return std::strcmp(a, b) == 0;
}

uint32_t int_hval(const hash_table_t *t, int32_t key) {
  if (t->hash_fn == ksi_hash_int) return static_cast<uint32_t>(key >> 2);
  return t->hash_fn(&key);
}

uint32_t key_hval(const hash_table_t *t, const void *key) {
  if (t->hash_fn == ksi_hash_str)
    return str_hash(static_cast<const char *>(key));
  if (t->hash_fn == nullptr)
    return bytes_hash(static_cast<const unsigned char *>(key), t->key_bytes);
  return t->hash_fn(key);
}

bool key_equal(const hash_table_t *t, const void *stored, const void *probe) {
  if (t->compare_fn == ksi_hash_str_equal)
    return str_equal(static_cast<const char *>(stored),
                     static_cast<const char *>(probe));
  if (t->compare_fn == nullptr)
    return std::memcmp(stored, probe, t->key_bytes) == 0;
  return t->compare_fn(stored, probe) != 0;
}

// A cell found, with its predecessor in the bucket (null at the head).
struct Found {
  hash_cell *cell;
  hash_cell *prev;
};

Found find_int(const hash_table_t *t, int32_t key, uint32_t hval) {
  const uint32_t b = ksi_hash_bucket(t, hval);
  if (!ksi_hash_may_hold(t, b, hval)) return {nullptr, nullptr};
  hash_cell *prev = nullptr;
  for (hash_cell *c = t->buckets[b]; c != nullptr; prev = c, c = c->next) {
    if (c->key.value == key) return {c, prev};
  }
  return {nullptr, nullptr};
}

// Whether cell c holds key, read from the cell.
bool holds(const hash_table_t *t, const hash_cell *c, const void *key,
           uint32_t hval) {
  return c->hval == hval && key_equal(t, c->key.ptr, key);
}

// Whether the head record's known key of place i is key.
bool known(const hash_table_t *t, const ksi_hash_head &h, int i,
           const void *key, uint32_t hval) {
  return h.hval[i] == hval && key_equal(t, h.key[i], key);
}

// The first two cells are tried from the bucket's head record; only the
// rest of the chain, and a cell whose key the record does not know, are
// read from the cells.
Found find_key(const hash_table_t *t, const void *key, uint32_t hval) {
  const uint32_t b = ksi_hash_bucket(t, hval);
  if (!ksi_hash_may_hold(t, b, hval)) return {nullptr, nullptr};
  const ksi_hash_head &h = ksi_hash_of(t)->heads[b];
  hash_cell *first = h.first;
  if (first == nullptr) return {nullptr, nullptr};
  if (h.key[0] != nullptr ? known(t, h, 0, key, hval)
                          : holds(t, first, key, hval))
    return {first, nullptr};
  if (h.key[1] != nullptr && known(t, h, 1, key, hval))
    return {first->next, first};
  hash_cell *prev = first;
  hash_cell *c = first->next;
  if (c != nullptr && h.key[1] != nullptr) {  // the second cell differs
    prev = c;
    c = c->next;
  }
  for (; c != nullptr; prev = c, c = c->next) {
    if (holds(t, c, key, hval)) return {c, prev};
  }
  return {nullptr, nullptr};
}

// Sets the outputs to the cell's key and data (null for no cell) and
// returns result, or 0 for no cell.
template <typename Key>
int give(hash_cell *cell, Key **key_out, void **data_out, int result) {
  // The cell is read only for a wanted key: a caller asking for the data
  // alone gets its address without waiting for the cell's memory.
  if (key_out != nullptr)
    *key_out = cell != nullptr ? ksi_hash_key<Key>(cell) : nullptr;
  if (data_out != nullptr)
    *data_out = cell != nullptr ? ksi_hash_data(cell) : nullptr;
  return cell != nullptr ? result : 0;
}

// A null string or fixed-length key is a caller's fault.
template <typename Key>
int null_key(Key **key_out, void **data_out) {
  imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_HASH_UNEXPECTED);
  return give<Key>(nullptr, key_out, data_out, 0);
}

// The key a new cell will keep: the caller's, or a copy in the table's
// area. A fixed-length copy reuses the buffer of the cell that the free
// list will hand out, if any. Null when the copy cannot be made.
const void *kept_key(hash_table_t *t, const void *key) {
  if (!t->copy_keys) return key;
  if (t->key_type == HASH_KEY_STR)
    return stg_area_strdup(t->area, static_cast<const char *>(key));
  void *buf = t->free_list != nullptr
                  ? const_cast<void *>(t->free_list->key.ptr)
                  : nullptr;
  if (buf == nullptr) buf = stg_alloc(t->area, t->key_bytes);
  if (buf != nullptr) std::memcpy(buf, key, t->key_bytes);
  return buf;
}

// Enters a string or fixed-length key; null outputs when memory ran out.
template <typename Key>
int enter_key(hash_table_t *t, const void *key, Key **key_out,
              void **data_out) {
  if (key == nullptr) return null_key(key_out, data_out);
  const uint32_t hval = key_hval(t, key);
  Found f = find_key(t, key, hval);
  if (f.cell != nullptr) return give(f.cell, key_out, data_out, 1);
  const void *kept = kept_key(t, key);
  hash_cell *cell = kept != nullptr ? hash_create_cell(t, hval) : nullptr;
  if (cell != nullptr) {
    cell->key.ptr = kept;
    ksi_hash_set_head_key(t, cell, kept);
  }
  return give(cell, key_out, data_out, 0);
}

template <typename Key>
int lookup_key(hash_table_t *t, const void *key, Key **key_out,
               void **data_out) {
  if (key == nullptr) return null_key(key_out, data_out);
  return give(find_key(t, key, key_hval(t, key)).cell, key_out, data_out, 1);
}

template <typename Key>
int free_key(hash_table_t *t, const void *key, Key **key_out, void **data_out) {
  if (key == nullptr) return null_key(key_out, data_out);
  Found f = find_key(t, key, key_hval(t, key));
  if (f.cell != nullptr) hash_free_cell(t, f.cell, f.prev);
  return give(f.cell, key_out, data_out, 1);
}

}  // namespace

uint32_t ksi_hash_int(const void *key) {
  return static_cast<uint32_t>(*static_cast<const int32_t *>(key) >> 2);
}

int ksi_hash_int_equal(const void *stored, const void *probe) {
  return *static_cast<const int32_t *>(stored) ==
         *static_cast<const int32_t *>(probe);
}

uint32_t ksi_hash_str(const void *key) {
  return str_hash(static_cast<const char *>(key));
}

int ksi_hash_str_equal(const void *stored, const void *probe) {
  return str_equal(static_cast<const char *>(stored),
                   static_cast<const char *>(probe));
}

uint32_t ksi_hash_str_blind(const void *key) {
  uint32_t h = 0;
  for (const auto *s = static_cast<const unsigned char *>(key); *s != '\0';
       ++s) {
    if (!std::isspace(*s)) h = h + ((h << 7) ^ *s);
  }
  return h;
}

int ksi_hash_str_blind_equal(const void *stored, const void *probe) {
  return strutl_cmp_ignore_whitespace(static_cast<const char *>(stored),
                                      static_cast<const char *>(probe)) == 0;
}

extern "C" {

KS_API int hash_int_enter(hash_table_t *table, int32_t key, int32_t **key_out,
                          void **data_out) {
  const uint32_t hval = int_hval(table, key);
  Found f = find_int(table, key, hval);
  if (f.cell != nullptr) return give(f.cell, key_out, data_out, 1);
  hash_cell *cell = hash_create_cell(table, hval);
  if (cell != nullptr) cell->key.value = key;
  return give(cell, key_out, data_out, 0);
}

KS_API int hash_int_lookup(hash_table_t *table, int32_t key, int32_t **key_out,
                           void **data_out) {
  return give(find_int(table, key, int_hval(table, key)).cell, key_out,
              data_out, 1);
}

KS_API int hash_int_free(hash_table_t *table, int32_t key, int32_t **key_out,
                         void **data_out) {
  Found f = find_int(table, key, int_hval(table, key));
  if (f.cell != nullptr) hash_free_cell(table, f.cell, f.prev);
  return give(f.cell, key_out, data_out, 1);
}

KS_API int hash_str_enter(hash_table_t *table, const char *key, char **key_out,
                          void **data_out) {
  return enter_key(table, key, key_out, data_out);
}

KS_API int hash_str_lookup(hash_table_t *table, const char *key, char **key_out,
                           void **data_out) {
  return lookup_key(table, key, key_out, data_out);
}

KS_API int hash_str_free(hash_table_t *table, const char *key, char **key_out,
                         void **data_out) {
  if (table->copy_keys && key != nullptr)
    imsg_print(IMSG_WARNING, &ksi_ks_msgs, KSI_KS_HASH_FREE_COPIED_KEYS);
  return free_key(table, key, key_out, data_out);
}

KS_API int hash_flen_enter(hash_table_t *table, const void *key, void **key_out,
                           void **data_out) {
  return enter_key(table, key, key_out, data_out);
}

KS_API int hash_flen_lookup(hash_table_t *table, const void *key,
                            void **key_out, void **data_out) {
  return lookup_key(table, key, key_out, data_out);
}

KS_API int hash_flen_free(hash_table_t *table, const void *key, void **key_out,
                          void **data_out) {
  return free_key(table, key, key_out, data_out);
}

KS_API int hash_str_enter_list(hash_table_t *table, list_t *list) {
  int all_present = 1;
  void *data = nullptr;
  for (list_elem_t *e = list_next(list, nullptr, &data); e != nullptr;
       e = list_next(list, e, &data)) {
    if (hash_str_enter(table, static_cast<const char *>(data), nullptr,
                       nullptr) != 1)
      all_present = 0;
  }
  return all_present;
}

}  // extern "C"
