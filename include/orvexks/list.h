/* Singly linked lists with per-element attribute bytes, and ks_qsort. */
#ifndef ORVEXKS_LIST_H
#define ORVEXKS_LIST_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>
#include <orvexks/stg.h>

KS_BEGIN_DECLS

typedef struct list list_t;
typedef struct list_elem list_elem_t;

/* No list has a lock: callers serialise access to a list themselves. The
 * calls that link or unlink hold asynchronous raises off while they change
 * the links (pfm_inhibit ... pfm_enable), so they are delivery points, and
 * a raise never leaves a list half-linked. Lists, elements and their
 * attributes live in the list's area: until the area is cleared or
 * deleted, or, with STG_AREA_HEAP, until list_remove or list_destroy.
 * An allocation failure prints "Unable to allocate storage" and ends the
 * process (pfm_panic); these calls never return null for lack of memory. */

/* A new empty list in area whose elements carry attr_size bytes of
 * attributes each. */
KS_API list_t *list_create(stg_area_t area, uint32_t attr_size);
/* With STG_AREA_HEAP frees every element and the list; otherwise does
 * nothing (the area owns the memory). */
KS_API void list_destroy(list_t *list);
/* A new element holding data at the tail; returns it. */
KS_API list_elem_t *list_append(list_t *list, void *data);
/* A new element holding data after `after`, or at the head for null. */
KS_API list_elem_t *list_insert(list_t *list, list_elem_t *after, void *data);
/* Unlinks elem, which must belong to list (and frees it with
 * STG_AREA_HEAP). Walks from the head to find its predecessor. */
KS_API void list_remove(list_t *list, list_elem_t *elem);
/* Appends to dest a copy of every element of src, in order (the common
 * part of the attributes is copied). */
KS_API void list_concat(list_t *dest, list_t *src);
/* The element after elem (the first for null) and its data in *data (when
 * data is not null); null and *data = null at the end. */
KS_API list_elem_t *list_next(list_t *list, list_elem_t *elem, void **data);
/* The last element and its data; null and *data = null when empty. */
KS_API list_elem_t *list_final(list_t *list, void **data);
/* Non-zero for a null or empty list. */
KS_API int list_is_empty(list_t *list);
/* Number of elements (0 for a null list); walks the list. */
KS_API int list_length(list_t *list);
KS_API void *list_get_data(list_t *list, list_elem_t *elem);
KS_API void list_set_data(list_t *list, list_elem_t *elem, void *data);
/* The element's attribute bytes (living as the element does), and their
 * number in *size. */
KS_API void *list_get_attrs(list_t *list, list_elem_t *elem, uint32_t *size);
/* Copies count bytes from src into the attributes. More bytes than the
 * list's attribute size is a fault: message and pfm_panic. */
KS_API void list_set_attrs(list_t *list, list_elem_t *elem, uint32_t count,
                           const void *src);

/* The "ks/list" message table. */
KS_API const ks_msg_table_t *list_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_list_ks_msg_table_adr(void);

/* In-place sort of count elements of element_size bytes; compare(a, b,
 * context) answers < 0, 0 or > 0 and gets the caller's context. Not stable.
 * Takes no lock and has no delivery point of its own (compare may). */
typedef int (*ks_qsort_cmp_t)(const void *a, const void *b, void *context);
KS_API void ks_qsort(void *base, size_t count, size_t element_size,
                     ks_qsort_cmp_t compare, void *context);

KS_END_DECLS

#endif
