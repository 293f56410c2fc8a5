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

#define LLIST_D_HEAD_INITIALIZER \
  { NULL, NULL, NULL }

/* The nodes live in the caller's records: the list owns nothing and takes
 * no lock (callers serialise access), and no call is a delivery point.
 * A head may start zeroed or as LLIST_D_HEAD_INITIALIZER: the first
 * insertion makes it circular; an empty list is then head.next == &head. */

/* Links node (its data set to data) at the position: LLIST_D_TAIL,
 * LLIST_D_FRONT, or before the first node for which position(data, node
 * data) <= 0 (at the tail when none), so a new node goes before the nodes
 * that compare equal to it. */
KS_API void llist_d_insert(llist_d_t *head, void *data, llist_d_t *node,
                           llist_d_cmp_t position);
/* Links node (its data set to data) just before existing, a node of the
 * list or the head itself (then at the tail). */
KS_API void llist_d_insert_before(llist_d_t *head, void *data, llist_d_t *node,
                                  llist_d_t *existing);
/* Unlinks node, clears its links and data, and returns the old data. A node
 * that is not linked is a fault: assertion failure (pfm_assert_fail). */
KS_API void *llist_d_remove(llist_d_t *node);
/* Unlinks every node of the list, as llist_d_remove does one by one. */
KS_API void llist_d_remove_list(llist_d_t *head);

KS_END_DECLS

#endif
