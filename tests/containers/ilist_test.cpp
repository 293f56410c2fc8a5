// The internal intrusive list behind llist_d, the thread registry and the
// held-mutex lists: one empty-list convention for a never-used head and a
// head emptied again, order of appends and links before a node, unlinked
// nodes left with null links.
#include <gtest/gtest.h>

#include "containers/ilist.h"

#include <vector>

namespace {

std::vector<int> contents(llist_d_t *head) {
  std::vector<int> out;
  for (llist_d_t *n = ksi_ilist_first(head); n != nullptr;
       n = ksi_ilist_next(head, n))
    out.push_back(*static_cast<int *>(n->data));
  return out;
}

TEST(Ilist, NeverUsedAndEmptiedHeadsAreBothEmpty) {
  llist_d_t head = LLIST_D_HEAD_INITIALIZER;
  EXPECT_TRUE(ksi_ilist_empty(&head));
  EXPECT_EQ(ksi_ilist_first(&head), nullptr);
  int one = 1;
  llist_d_t node = LLIST_D_HEAD_INITIALIZER;
  ksi_ilist_append(&head, &node, &one);
  EXPECT_FALSE(ksi_ilist_empty(&head));
  ksi_ilist_unlink(&node);
  EXPECT_TRUE(ksi_ilist_empty(&head));
  EXPECT_EQ(ksi_ilist_first(&head), nullptr);
  EXPECT_EQ(node.next, nullptr);
  EXPECT_EQ(node.prev, nullptr);
  EXPECT_EQ(node.data, &one);
}

TEST(Ilist, AppendLinkBeforeAndUnlinkKeepOrder) {
  llist_d_t head = LLIST_D_HEAD_INITIALIZER;
  int v[4] = {0, 1, 2, 3};
  llist_d_t n[4] = {};
  ksi_ilist_link_before(&head, &n[1], &v[1], &head);  // never-used head
  ksi_ilist_append(&head, &n[3], &v[3]);
  ksi_ilist_link_before(&head, &n[2], &v[2], &n[3]);
  ksi_ilist_link_before(&head, &n[0], &v[0], &n[1]);
  EXPECT_EQ(contents(&head), (std::vector<int>{0, 1, 2, 3}));
  ksi_ilist_unlink(&n[2]);
  ksi_ilist_unlink(&n[0]);
  EXPECT_EQ(contents(&head), (std::vector<int>{1, 3}));
  EXPECT_EQ(head.next, &n[1]);
  EXPECT_EQ(head.prev, &n[3]);
}

}  // namespace
