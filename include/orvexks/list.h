/* Singly linked lists with per-element attribute bytes, and ks_qsort. */
#ifndef ORVEXKS_LIST_H
#define ORVEXKS_LIST_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>
#include <orvexks/stg.h>

KS_BEGIN_DECLS

typedef struct list list_t;
typedef struct list_elem list_elem_t;

KS_API list_t *list_create(stg_area_t area, uint32_t attr_size);
KS_API void list_destroy(list_t *list);
KS_API list_elem_t *list_append(list_t *list, void *data);
KS_API list_elem_t *list_insert(list_t *list, list_elem_t *after, void *data);
KS_API void list_remove(list_t *list, list_elem_t *elem);
KS_API void list_concat(list_t *dest, list_t *src);
KS_API list_elem_t *list_next(list_t *list, list_elem_t *elem, void **data);
KS_API list_elem_t *list_final(list_t *list, void **data);
KS_API int list_is_empty(list_t *list);
KS_API int list_length(list_t *list);
KS_API void *list_get_data(list_t *list, list_elem_t *elem);
KS_API void list_set_data(list_t *list, list_elem_t *elem, void *data);
KS_API void *list_get_attrs(list_t *list, list_elem_t *elem, uint32_t *size);
KS_API void list_set_attrs(list_t *list, list_elem_t *elem, uint32_t count,
                           const void *src);

KS_API const ks_msg_table_t *list_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_list_ks_msg_table_adr(void);

/* In-place sort; compare(a, b, context) answers < 0, 0 or > 0. */
typedef int (*ks_qsort_cmp_t)(const void *a, const void *b, void *context);
KS_API void ks_qsort(void *base, size_t count, size_t element_size,
                     ks_qsort_cmp_t compare, void *context);

KS_END_DECLS

#endif
