// Circular doubly linked lists with intrusive nodes: the interface over
// the library's one internal list (containers/ilist.h, which states the
// empty-list convention). Nodes live in the caller's records, so linking
// and unlinking never allocate.
#include "containers/ilist.h"

#include <orvexks/llist.h>
#include <orvexks/pfm.h>

extern "C" {

void llist_d_insert(llist_d_t *head, void *data, llist_d_t *node,
                    llist_d_cmp_t position) {
  llist_d_t *at = head;
  if (position == LLIST_D_FRONT) {
    at = ksi_ilist_empty(head) ? head : head->next;
  } else if (position != LLIST_D_TAIL) {
    // Before the first node the new one does not sort after, so nodes that
    // compare equal end up behind it.
    at = ksi_ilist_first(head);
    while (at != nullptr && position(data, at->data) > 0)
      at = ksi_ilist_next(head, at);
    if (at == nullptr) at = head;
  }
  ksi_ilist_link_before(head, node, data, at);
}

void llist_d_insert_before(llist_d_t *head, void *data, llist_d_t *node,
                           llist_d_t *existing) {
  ksi_ilist_link_before(head, node, data, existing);
}

void *llist_d_remove(llist_d_t *elem) {
  // An unlinked node has null links; removing it twice is a caller bug that
  // would otherwise corrupt its former neighbours.
  if (!(elem->next != nullptr && elem->prev != nullptr)) {
    pfm_assert_fail("elem->next != NULL && elem->prev != NULL", __FILE__,
                    __LINE__);
  }
  ksi_ilist_unlink(elem);
  void *data = elem->data;
  elem->data = nullptr;
  return data;
}

void llist_d_remove_list(llist_d_t *head) {
  while (!ksi_ilist_empty(head)) llist_d_remove(head->next);
}

}  // extern "C"
