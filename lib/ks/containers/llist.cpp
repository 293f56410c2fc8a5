// Circular doubly linked lists with intrusive nodes.
//
// A head whose links are still null (LLIST_D_HEAD_INITIALIZER) is made
// circular by the first insertion; from then on an empty list is a head
// that points at itself. Nodes live in the caller's records, so linking and
// unlinking never allocate.
#include <orvexks/llist.h>
#include <orvexks/pfm.h>

namespace {

void make_circular(llist_d_t *head) {
  if (head->next == nullptr || head->prev == nullptr) {
    head->next = head;
    head->prev = head;
  }
}

// Links `node` in front of `at` (which may be the head: then at the tail).
void link_before(llist_d_t *node, void *data, llist_d_t *at) {
  node->data = data;
  node->next = at;
  node->prev = at->prev;
  at->prev->next = node;
  at->prev = node;
}

}  // namespace

extern "C" {

void llist_d_insert(llist_d_t *head, void *data, llist_d_t *node,
                    llist_d_cmp_t position) {
  make_circular(head);
  llist_d_t *at;
  if (position == LLIST_D_TAIL) {
    at = head;
  } else if (position == LLIST_D_FRONT) {
    at = head->next;
  } else {
    // Before the first node the new one does not sort after, so nodes that
    // compare equal end up behind it.
    at = head->next;
    while (at != head && position(data, at->data) > 0) at = at->next;
  }
  link_before(node, data, at);
}

void llist_d_insert_before(llist_d_t *head, void *data, llist_d_t *node,
                           llist_d_t *existing) {
  make_circular(head);
  link_before(node, data, existing);
}

void *llist_d_remove(llist_d_t *elem) {
  // An unlinked node has null links; removing it twice is a caller bug that
  // would otherwise corrupt its former neighbours.
  if (!(elem->next != nullptr && elem->prev != nullptr)) {
    pfm_assert_fail("elem->next != NULL && elem->prev != NULL", __FILE__,
                    __LINE__);
  }
  elem->prev->next = elem->next;
  elem->next->prev = elem->prev;
  void *data = elem->data;
  elem->next = nullptr;
  elem->prev = nullptr;
  elem->data = nullptr;
  return data;
}

void llist_d_remove_list(llist_d_t *head) {
  if (head->next == nullptr) return;  // never used: nothing linked
  while (head->next != head) llist_d_remove(head->next);
}

}  // extern "C"
