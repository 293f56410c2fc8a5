/* Circular doubly linked lists with intrusive nodes. */
#ifndef ORVEXKS_LLIST_H
#define ORVEXKS_LLIST_H

#include <orvexks/ks_base.h>

KS_BEGIN_DECLS

/* The same record serves as list head (next = first, prev = last) and as
 * node embedded in the caller's record (data normally points at it). */
typedef struct llist_d {
  struct llist_d *next;
  struct llist_d *prev;
  void *data;
} llist_d_t;

/* Insertion position: at the tail, at the front, or before the first node
 * for which cmp(new data, node data) <= 0. */
typedef int (*llist_d_cmp_t)(void *new_data, void *node_data);
#define LLIST_D_TAIL ((llist_d_cmp_t)0)
#define LLIST_D_FRONT ((llist_d_cmp_t)1)

#define LLIST_D_HEAD_INITIALIZER {NULL, NULL, NULL}

KS_API void llist_d_insert(llist_d_t *head, void *data, llist_d_t *node,
                           llist_d_cmp_t position);
KS_API void llist_d_insert_before(llist_d_t *head, void *data, llist_d_t *node,
                                  llist_d_t *existing);
KS_API void *llist_d_remove(llist_d_t *node);
KS_API void llist_d_remove_list(llist_d_t *head);

KS_END_DECLS

#endif
