// The library's one intrusive doubly linked list over llist_d_t, used by
// the public llist_d functions, the thread registry and the held-mutex
// lists.
//
// A list is circular through its head (head.next = first, head.prev =
// last, and an empty list is a head pointing at itself). A head still
// holding LLIST_D_HEAD_INITIALIZER's null links is an empty list that was
// never used; the first insertion makes it circular. An unlinked node has
// null links. Nothing here allocates or takes a lock.
#pragma once

#include <orvexks/llist.h>

inline bool ksi_ilist_empty(const llist_d_t *head) {
  return head->next == nullptr || head->next == head;
}

// Links `node` (carrying `data`) in front of `at`, which is a node of the
// list or its head (then at the tail).
inline void ksi_ilist_link_before(llist_d_t *head, llist_d_t *node, void *data,
                                  llist_d_t *at) {
  if (head->next == nullptr) head->next = head->prev = head;
  node->data = data;
  node->next = at;
  node->prev = at->prev;
  at->prev->next = node;
  at->prev = node;
}

inline void ksi_ilist_append(llist_d_t *head, llist_d_t *node, void *data) {
  ksi_ilist_link_before(head, node, data, head);
}

// Unlinks a linked node; its links become null, its data stays.
inline void ksi_ilist_unlink(llist_d_t *node) {
  node->prev->next = node->next;
  node->next->prev = node->prev;
  node->next = node->prev = nullptr;
}

// The first node, or null when the list is empty; the node after `node`,
// or null at the end.
inline llist_d_t *ksi_ilist_first(llist_d_t *head) {
  return ksi_ilist_empty(head) ? nullptr : head->next;
}
inline llist_d_t *ksi_ilist_next(llist_d_t *head, llist_d_t *node) {
  return node->next == head ? nullptr : node->next;
}
