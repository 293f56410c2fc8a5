/* Storage areas (arena allocation) and the guarded heap. */
#ifndef ORVEXKS_STG_H
#define ORVEXKS_STG_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>

KS_BEGIN_DECLS

typedef struct stg_area *stg_area_t;
#define STG_AREA_NULL ((stg_area_t)0)
/* Allocating from this handle is plain heap allocation (release with stg_free). */
#define STG_AREA_HEAP ((stg_area_t)1)

KS_API stg_area_t stg_create_area(uint64_t first_size);
KS_API void *stg_alloc(stg_area_t area, uint64_t size);
KS_API char *stg_area_strdup(stg_area_t area, const char *s);
KS_API void stg_set_incr(stg_area_t area, uint64_t incr);
KS_API void stg_set_growth(stg_area_t area, double factor);
KS_API void stg_set_zero(stg_area_t area);
KS_API void stg_free_area(stg_area_t area, int keep_first);
KS_API void stg_delete_area(stg_area_t *area);
KS_API void stg_dump_area(stg_area_t area);
KS_API void stg_dump(void);

/* Variants that print no traces and skip the corruption and guard checks;
 * the thread-local storage of the message machinery uses them. */
KS_API stg_area_t stg_create_area_quiet(uint64_t first_size);
KS_API void *stg_alloc_quiet(stg_area_t area, uint64_t size);
KS_API void stg_delete_area_quiet(stg_area_t *area);

KS_API void *stg_malloc(size_t size);
KS_API void *stg_realloc(void *block, size_t size);
KS_API void stg_free(void *block);
KS_API char *stg_strdup(const char *s);

KS_API const ks_msg_table_t *stg_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_stg_ks_msg_table_adr(void);

KS_END_DECLS

#endif
