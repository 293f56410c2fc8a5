/* Storage areas (arena allocation) and the guarded heap. */
#ifndef ORVEXKS_STG_H
#define ORVEXKS_STG_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>

KS_BEGIN_DECLS

typedef struct stg_area *stg_area_t;
#define STG_AREA_NULL ((stg_area_t)0)
/* Allocating from this handle is plain heap allocation (release with stg_free).
 */
#define STG_AREA_HEAP ((stg_area_t)1)

/* Every function of this family may print (exhaustion, corruption, traces
 * of the "ks/stg" class); printing is a delivery check (pfm.h) unless the
 * function is a quiet variant. None raises itself. Each area has its own
 * mutex: one area may be shared by threads, and no caller holds anything.
 * Memory from an area lives until the area is cleared or deleted. */

/* A new, empty area whose first chunk (made by the first stg_alloc) has
 * first_size bytes; later chunks use the increment (initially first_size)
 * or the growth factor. STG_AREA_NULL when memory is exhausted. */
KS_API stg_area_t stg_create_area(uint64_t first_size);
/* size bytes, 8-aligned, from the area: valid until the area is cleared or
 * deleted, never freed alone. From STG_AREA_HEAP: a heap block to release
 * with stg_free. Null when memory is exhausted (after the message) or for
 * STG_AREA_NULL. A size of 0 gives a valid pointer and uses nothing. */
KS_API void *stg_alloc(stg_area_t area, uint64_t size);
/* A copy of s in the area, living as stg_alloc memory; null for a null s
 * (without a message) or when memory is exhausted. */
KS_API char *stg_area_strdup(stg_area_t area, const char *s);
/* Base size of chunks made from now on (capped at 102400 bytes). */
KS_API void stg_set_incr(stg_area_t area, uint64_t incr);
/* From now on each chunk's base is the newest chunk's size times factor;
 * a factor of 1.0 or less is ignored. */
KS_API void stg_set_growth(stg_area_t area, double factor);
/* Chunks made or reset from now on are filled with 0x00 instead of 0xFF. */
KS_API void stg_set_zero(stg_area_t area);
/* Releases every chunk, or every chunk but the oldest (emptied and refilled)
 * when keep_first is non-zero: all memory taken from the area is gone. The
 * area and its settings stay usable. */
KS_API void stg_free_area(stg_area_t area, int keep_first);
/* Releases the area and everything taken from it, and stores STG_AREA_NULL
 * in *area. Nothing else may use the area meanwhile. */
KS_API void stg_delete_area(stg_area_t *area);
/* Prints (kind 0) the area's statistics and its chunks, under its mutex. */
KS_API void stg_dump_area(stg_area_t area);
/* Prints every live area as stg_dump_area does, with asynchronous raises
 * held off for the whole walk. */
KS_API void stg_dump(void);

/* Variants that print no traces and skip the corruption and guard checks;
 * only exhaustion is still reported. The thread-local storage of the
 * message machinery uses them, so they never recurse into tracing. */
KS_API stg_area_t stg_create_area_quiet(uint64_t first_size);
KS_API void *stg_alloc_quiet(stg_area_t area, uint64_t size);
KS_API void stg_delete_area_quiet(stg_area_t *area);

/* The guarded heap: malloc, realloc, free and strdup that report
 * exhaustion ("No more memory available.", errno ENOMEM, null result).
 * While "ks/stg" tracing is at level 1 or more, each block carries a size
 * header and a guard tail that stg_free and stg_realloc check and report.
 * A block lives until stg_free or stg_realloc; it is not tied to an area.
 * A size of 0 is taken as 1. No lock is taken. */
KS_API void *stg_malloc(size_t size);
KS_API void *stg_realloc(void *block, size_t size);
/* A null block is ignored. */
KS_API void stg_free(void *block);
/* s must not be null; the copy is released with stg_free. */
KS_API char *stg_strdup(const char *s);

/* The "ks/stg" message table. */
KS_API const ks_msg_table_t *stg_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_stg_ks_msg_table_adr(void);

KS_END_DECLS

#endif
