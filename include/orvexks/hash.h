/* Chained hash tables with integer, string and fixed-length keys. */
#ifndef ORVEXKS_HASH_H
#define ORVEXKS_HASH_H

#include <orvexks/ks_base.h>
#include <orvexks/list.h>
#include <orvexks/stg.h>

KS_BEGIN_DECLS

typedef enum hash_key_type {
  HASH_KEY_INT = 0,
  HASH_KEY_STR = 1,
  HASH_KEY_FLEN = 2
} hash_key_type;

/* A key's hash value. For string and fixed-length tables `key` is the key's
 * address (a caller's function knows its own key length); for integer
 * tables it is the address of the 32-bit key. */
typedef uint32_t (*hash_fn_t)(const void *key);
/* Non-zero when the stored key equals the probe key. */
typedef int (*hash_compare_fn_t)(const void *stored_key, const void *probe_key);

/* A cell handle: it points at the cell's bucket link. */
typedef struct hash_cell hash_cell_t;
/* An iteration cursor (a 16-byte heap block); start with a null cursor. */
typedef struct hash_cursor hash_cursor_t;

/* The table record, in the table's own area. Read it, never change it: the
 * calls below keep its members consistent. */
typedef struct hash_table {
  hash_cell_t **buckets;       /* heap block of nbuckets heads */
  stg_area_t area;             /* the record, the cells and copied keys */
  uint32_t ncells;             /* cells in the table */
  hash_cell_t *first_in_order; /* oldest cell (order mode) */
  hash_cell_t *last_in_order;  /* newest cell (order mode) */
  hash_cell_t *free_list;      /* removed cells, through their next link */
  uint32_t data_bytes;         /* caller data per cell */
  uint32_t key_bytes;          /* key length of HASH_KEY_FLEN tables */
  uint32_t nbuckets;
  uint32_t limit;      /* growth factor; 0: the table never grows */
  uint32_t cell_limit; /* nbuckets * limit: more cells grow the table */
  uint32_t key_type;   /* a hash_key_type */
  int32_t copy_keys;   /* keys are copied into the area */
  int32_t ordered;     /* insertion order is kept */
  hash_fn_t hash_fn;
  hash_compare_fn_t compare_fn;
} hash_table_t;

/* A table has no lock: one thread uses it at a time, or callers serialise.
 * Cells, copied keys and the record live in the table's area until
 * hash_delete_ht; a removed cell is recycled by the next new cell. Key and
 * data outputs point into the cell and are always written (null when the
 * call found nothing). The calls print only on failure (kind 6, or kind 4
 * for hash_str_free on copied keys) or in the dumps, and printing is a
 * delivery check (pfm.h); none raises itself. */

/* A table of at least nbuckets buckets (the next of a fixed list of primes,
 * never more than 1048573) whose cells carry data_bytes of zero-filled data.
 * Null hash or compare functions take the key type's own. Null (after "Out
 * of memory") when memory is exhausted. */
KS_API hash_table_t *hash_create_ht(uint32_t nbuckets, uint32_t data_bytes,
                                    hash_key_type key_type, int copy_keys,
                                    uint32_t key_bytes, hash_fn_t hash_fn,
                                    hash_compare_fn_t compare_fn);
KS_API hash_table_t *hash_int_create(uint32_t nbuckets, uint32_t data_bytes);
/* With copy_keys each entered key is copied into the table's area;
 * otherwise the caller's key must live as long as its cell. */
KS_API hash_table_t *hash_str_create(uint32_t nbuckets, uint32_t data_bytes,
                                     int copy_keys);
KS_API hash_table_t *hash_flen_create(uint32_t nbuckets, uint32_t data_bytes,
                                      int copy_keys, uint32_t key_bytes);
KS_API hash_table_t *hash_flen_create_with_fns(
    uint32_t nbuckets, uint32_t data_bytes, int copy_keys, uint32_t key_bytes,
    hash_fn_t hash_fn, hash_compare_fn_t compare_fn);
/* Frees the bucket array, deletes the area and stores null in *table. */
KS_API void hash_delete_ht(hash_table_t **table);

/* Before the first cell is entered: string keys that differ only in white
 * space are the same key (white space is left out of the hash, and runs of
 * it compare as one blank). */
KS_API void hash_str_ignore_spaces(hash_table_t *table);
/* The table grows (hash_resize) whenever it holds more than factor cells
 * per bucket; 0 turns growth off. */
KS_API void hash_set_dynamic(hash_table_t *table, uint32_t factor);
/* Before the first cell is entered: keep insertion order for the
 * *_next_in_order calls. */
KS_API void hash_set_order(hash_table_t *table);
KS_API uint32_t hash_get_key_bytes(hash_table_t *table);

/* enter: 1 when the key was present, 0 when a cell was made for it; the
 * outputs point at the cell's key and data either way (both null when no
 * cell could be made). lookup: 1 when found, else 0 and null outputs.
 * free: 1 when found and removed, the outputs pointing into the removed
 * cell (readable until the next cell is made); else 0 and null outputs.
 * A null string or fixed-length key is reported and gives 0. */
KS_API int hash_int_enter(hash_table_t *table, int32_t key, int32_t **key_out,
                          void **data_out);
KS_API int hash_int_lookup(hash_table_t *table, int32_t key, int32_t **key_out,
                           void **data_out);
KS_API int hash_int_free(hash_table_t *table, int32_t key, int32_t **key_out,
                         void **data_out);
KS_API int hash_str_enter(hash_table_t *table, const char *key, char **key_out,
                          void **data_out);
KS_API int hash_str_lookup(hash_table_t *table, const char *key, char **key_out,
                           void **data_out);
/* On a table with copied keys the key copy stays in the area (a warning
 * says so). */
KS_API int hash_str_free(hash_table_t *table, const char *key, char **key_out,
                         void **data_out);
KS_API int hash_flen_enter(hash_table_t *table, const void *key, void **key_out,
                           void **data_out);
KS_API int hash_flen_lookup(hash_table_t *table, const void *key,
                            void **key_out, void **data_out);
KS_API int hash_flen_free(hash_table_t *table, const void *key, void **key_out,
                          void **data_out);
/* Enters every string of list (elements' data); 1 when every one was
 * present already (also for an empty list), else 0. */
KS_API int hash_str_enter_list(hash_table_t *table, list_t *list);

/* Iteration: 1 and the next cell; at the end 0, the cursor freed and set to
 * null, and a null output. hash_next goes bucket by bucket; the in-order
 * calls go from oldest to newest (order mode only). The cell a cursor
 * stands on must not be removed before the cursor moves on; cells entered
 * meanwhile may or may not be visited. */
KS_API int hash_next(hash_table_t *table, hash_cursor_t **cursor,
                     hash_cell_t **cell_out);
KS_API int hash_next_in_order(hash_table_t *table, hash_cursor_t **cursor,
                              hash_cell_t **cell_out);
KS_API int hash_int_next(hash_table_t *table, hash_cursor_t **cursor,
                         int32_t **key_out, void **data_out);
KS_API int hash_str_next(hash_table_t *table, hash_cursor_t **cursor,
                         char **key_out, void **data_out);
KS_API int hash_flen_next(hash_table_t *table, hash_cursor_t **cursor,
                          void **key_out, void **data_out);
KS_API int hash_int_next_in_order(hash_table_t *table, hash_cursor_t **cursor,
                                  int32_t **key_out, void **data_out);
KS_API int hash_str_next_in_order(hash_table_t *table, hash_cursor_t **cursor,
                                  char **key_out, void **data_out);
KS_API int hash_flen_next_in_order(hash_table_t *table, hash_cursor_t **cursor,
                                   void **key_out, void **data_out);
/* Ends an unfinished iteration: frees the cursor and stores null. */
KS_API void hash_term_scan(hash_cursor_t **cursor);

/* Low level. A new cell (from the free list, else zero-filled from the
 * area) with hash value hval, at the head of its bucket and, in order mode,
 * newest; the table grows when its limit is passed. Null when memory is
 * exhausted. */
KS_API hash_cell_t *hash_create_cell(hash_table_t *table, uint32_t hval);
/* Unlinks cell (prev: its predecessor in the bucket, or null when the cell
 * heads it) and puts it on the free list. */
KS_API void hash_free_cell(hash_table_t *table, hash_cell_t *cell,
                           hash_cell_t *prev);
/* Moves every cell to a larger bucket array (the next prime, at most
 * 1048573 buckets); on exhaustion the table stays as it was. */
KS_API void hash_resize(hash_table_t *table);

/* Trace output (kind 8): the table and every cell, or the bucket lengths. */
KS_API void hash_dump(hash_table_t *table);
KS_API void hash_dump_stats(hash_table_t *table);

KS_END_DECLS

#endif
