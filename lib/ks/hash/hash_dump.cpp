// Hash tables: the trace dumps of a table's cells and of its bucket
// lengths (message kind 8, raw formats).
#include <orvexks/hash.h>
#include <orvexks/imsg.h>

#include <cstdint>

#include "hash/hash_internal.h"

namespace {

// Bucket lengths the statistics count; longer buckets are left out.
constexpr int kHistogramLengths = 50;

template <typename... Args>
void trace(const char *format, Args... args) {
  imsg_print(IMSG_TRACE, format, -1, args...);
}

unsigned long ul(uint32_t n) { return n; }

const char *type_name(uint32_t key_type) {
  switch (key_type) {
    case HASH_KEY_INT:
      return "HASH_KEY_INT";
    case HASH_KEY_STR:
      return "HASH_KEY_STR";
    case HASH_KEY_FLEN:
      return "HASH_KEY_FLEN";
    default:
      return "*unknown*";
  }
}

char flag(int32_t on) { return on ? 'T' : 'F'; }

void dump_cell(const hash_table_t *t, hash_cell *c) {
  trace("  cell 0x%016p: ", static_cast<void *>(c));
  if (t->key_type == HASH_KEY_INT)
    trace("key=%ld, ", static_cast<long>(c->key.value));
  trace("hval=%u, datap=0x%016p, next=0x%016p", c->hval, ksi_hash_data(c),
        static_cast<void *>(c->next));
  if (t->ordered) {
    const ksi_hash_order_links *links = ksi_hash_links(c);
    trace(", order=0x%016p, back=0x%016p\n", static_cast<void *>(links->order),
          static_cast<void *>(links->back));
  } else {
    trace("\n");
  }
  if (t->key_type == HASH_KEY_STR)
    trace("    key=\"%s\"\n", static_cast<const char *>(c->key.ptr));
}

}  // namespace

extern "C" {

KS_API void hash_dump(hash_table_t *table) {
  const hash_table_t *t = table;
  trace(
      "-------------------------- Hash Table Dump "
      "------------------------------------\n");
  trace("(hash) ht 0x%016p: bkts=0x%016p, #bkts=%lu, #cells=%lu, dbytes=%lu,\n",
        static_cast<const void *>(t), static_cast<void *>(t->buckets),
        ul(t->nbuckets), ul(t->ncells), ul(t->data_bytes));
  trace("       area=0x%016p, keytype=%s, copyk=%c",
        static_cast<void *>(t->area), type_name(t->key_type),
        flag(t->copy_keys));
  if (t->key_type == HASH_KEY_FLEN) trace(", key_bytes=%lu", ul(t->key_bytes));
  trace("\n");
  if (t->limit != 0 || t->ordered) {
    trace(
        "       limit=%lu, climit=%lu, order=%c, 1cell=0x%016p, "
        "lcell=0x%016p\n",
        ul(t->limit), ul(t->cell_limit), flag(t->ordered),
        static_cast<void *>(t->first_in_order),
        static_cast<void *>(t->last_in_order));
  }
  for (uint32_t b = 0; b < t->nbuckets; ++b) {
    if (t->buckets[b] == nullptr) continue;
    trace("bucket %lu:\n", ul(b));
    for (hash_cell *c = t->buckets[b]; c != nullptr; c = c->next)
      dump_cell(t, c);
  }
}

KS_API void hash_dump_stats(hash_table_t *table) {
  const hash_table_t *t = table;
  int histogram[kHistogramLengths] = {};
  trace(
      "-------------------------- Hash Table Statistics "
      "------------------------------\n");
  for (uint32_t b = 0; b < t->nbuckets; ++b) {
    int length = 0;
    for (hash_cell *c = t->buckets[b]; c != nullptr; c = c->next) ++length;
    if (length > 0) trace("bucket %lu: %d\n", ul(b), length);
    if (length < kHistogramLengths) ++histogram[length];
  }
  int free_cells = 0;
  for (hash_cell *c = t->free_list; c != nullptr; c = c->next) ++free_cells;
  if (free_cells > 0) trace("Number of entries on free list: %d\n", free_cells);
  trace("\n");
  trace("number of buckets: %lu\n", ul(t->nbuckets));
  trace("number of cells: %lu\n", ul(t->ncells));
  for (int length = 0; length < kHistogramLengths; ++length) {
    if (histogram[length] > 0)
      trace("#buckets with %d entries: %d\n", length, histogram[length]);
  }
}

}  // extern "C"
