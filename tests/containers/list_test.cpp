// Lists, circular lists, stacks and ks_qsort.
#include <gtest/gtest.h>

#include <orvexks/list.h>
#include <orvexks/llist.h>
#include <orvexks/stack.h>
#include <orvexks/stg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

void *tag(intptr_t v) { return reinterpret_cast<void *>(v); }
intptr_t untag(void *p) { return reinterpret_cast<intptr_t>(p); }

// The list's data in order, checked against list_final and list_length.
std::vector<intptr_t> contents(list_t *list) {
  std::vector<intptr_t> out;
  void *data;
  list_elem_t *last = nullptr;
  for (list_elem_t *e = list_next(list, nullptr, &data); e != nullptr;
       e = list_next(list, e, &data)) {
    out.push_back(untag(data));
    last = e;
  }
  void *final_data;
  EXPECT_EQ(list_final(list, &final_data), last);
  EXPECT_EQ(untag(final_data), out.empty() ? 0 : out.back());
  EXPECT_EQ(list_length(list), static_cast<int>(out.size()));
  EXPECT_EQ(list_is_empty(list) != 0, out.empty());
  return out;
}

using V = std::vector<intptr_t>;

// Both an area-backed and a heap-backed list (ASan checks the frees).
class ListTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    area_ = GetParam() ? STG_AREA_HEAP : stg_create_area(1024);
  }
  void TearDown() override {
    if (area_ != STG_AREA_HEAP) stg_delete_area(&area_);
  }
  stg_area_t area_;
};

TEST_P(ListTest, LinksStayConsistentThroughInsertAndRemove) {
  list_t *l = list_create(area_, 0);
  void *d = tag(99);
  EXPECT_EQ(list_next(l, nullptr, &d), nullptr);
  EXPECT_EQ(d, nullptr);
  EXPECT_TRUE(contents(l).empty());

  list_elem_t *two = list_append(l, tag(2));
  list_insert(l, nullptr, tag(1));                  // head
  list_elem_t *four = list_insert(l, two, tag(4));  // after the last: new last
  list_elem_t *three = list_insert(l, two, tag(3));
  EXPECT_EQ(contents(l), (V{1, 2, 3, 4}));

  list_remove(l, four);  // last: predecessor becomes last
  EXPECT_EQ(contents(l), (V{1, 2, 3}));
  list_elem_t *first = list_next(l, nullptr, &d);
  list_remove(l, first);
  list_remove(l, three);
  EXPECT_EQ(contents(l), (V{2}));
  list_set_data(l, two, tag(7));
  EXPECT_EQ(untag(list_get_data(l, two)), 7);
  list_remove(l, two);  // the only element
  EXPECT_TRUE(contents(l).empty());
  list_append(l, tag(5));
  EXPECT_EQ(contents(l), (V{5}));
  list_destroy(l);
}

TEST_P(ListTest, AttributesAndConcatenation) {
  list_t *wide = list_create(area_, 8);
  list_t *narrow = list_create(area_, 4);
  list_elem_t *e = list_append(wide, tag(1));
  list_set_attrs(wide, e, 8, "ABCDEFGH");  // exactly the attribute size
  uint32_t size = 0;
  EXPECT_EQ(std::memcmp(list_get_attrs(wide, e, &size), "ABCDEFGH", 8), 0);
  EXPECT_EQ(size, 8u);
  list_set_attrs(wide, list_append(wide, tag(2)), 3, "xyz");

  list_append(narrow, tag(0));
  list_concat(narrow, wide);  // copies data and the first 4 attribute bytes
  EXPECT_EQ(contents(narrow), (V{0, 1, 2}));
  list_elem_t *copy =
      list_next(narrow, list_next(narrow, nullptr, nullptr), nullptr);
  EXPECT_EQ(std::memcmp(list_get_attrs(narrow, copy, &size), "ABCD", 4), 0);
  EXPECT_EQ(size, 4u);

  // Into a wider list: the bytes the source does not have stay zero.
  list_t *wider = list_create(area_, 32);
  list_concat(wider, narrow);
  for (list_elem_t *w = list_next(wider, nullptr, nullptr); w != nullptr;
       w = list_next(wider, w, nullptr)) {
    const auto *bytes =
        static_cast<const unsigned char *>(list_get_attrs(wider, w, &size));
    EXPECT_EQ(std::count(bytes + 4, bytes + 32, 0), 28);
  }
  list_destroy(wider);

  list_concat(wide, wide);  // onto itself: doubled once
  EXPECT_EQ(contents(wide), (V{1, 2, 1, 2}));
  list_destroy(wide);
  list_destroy(narrow);
}

TEST_P(ListTest, RemovingAForeignElementChangesNothing) {
  list_t *a = list_create(area_, 0);
  list_t *b = list_create(area_, 0);
  list_append(a, tag(1));
  list_elem_t *foreign = list_append(b, tag(2));
  testing::internal::CaptureStderr();
  list_remove(a, foreign);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("is not in list"),
            std::string::npos);
  EXPECT_EQ(contents(a), (V{1}));
  EXPECT_EQ(contents(b), (V{2}));
  list_destroy(a);
  list_destroy(b);
}

INSTANTIATE_TEST_SUITE_P(AreaAndHeap, ListTest, testing::Bool());

class ListDeathTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ListDeathTest, OversizedAttributesAndExhaustionEndTheProcess) {
  list_t *l = list_create(STG_AREA_HEAP, 8);
  list_elem_t *e = list_append(l, nullptr);
  EXPECT_EXIT(list_set_attrs(l, e, 9, "123456789"),
              testing::KilledBySignal(SIGABRT),
              "Attempt to store 9 attribute bytes in list providing 8 "
              "bytes\\.");
  // An area that yields nothing: the null handle.
  EXPECT_EXIT(list_create(STG_AREA_NULL, 0), testing::KilledBySignal(SIGABRT),
              "Unable to allocate storage");
  list_destroy(l);
}

// ---- Circular lists.

struct Item {
  llist_d_t node;
  int key;
  int serial;
};

int by_key(void *a, void *b) {
  return static_cast<Item *>(a)->key - static_cast<Item *>(b)->key;
}

std::vector<int> serials(llist_d_t *head) {
  std::vector<int> out;
  for (llist_d_t *n = head->next; n != head; n = n->next) {
    EXPECT_EQ(n->next->prev, n);
    out.push_back(static_cast<Item *>(n->data)->serial);
  }
  return out;
}

TEST(LlistD, OrderedInsertPutsEqualsBeforeExistingOnes) {
  llist_d_t head = LLIST_D_HEAD_INITIALIZER;
  Item items[] = {{{}, 5, 0}, {{}, 1, 1}, {{}, 9, 2}, {{}, 5, 3}, {{}, 0, 4}};
  for (Item &it : items) llist_d_insert(&head, &it, &it.node, by_key);
  EXPECT_EQ(serials(&head), (std::vector<int>{4, 1, 3, 0, 2}));

  Item front{{}, 0, 10}, tail{{}, 0, 11}, mid{{}, 0, 12};
  llist_d_insert(&head, &front, &front.node, LLIST_D_FRONT);
  llist_d_insert(&head, &tail, &tail.node, LLIST_D_TAIL);
  llist_d_insert_before(&head, &mid, &mid.node, &items[2].node);
  EXPECT_EQ(serials(&head), (std::vector<int>{10, 4, 1, 3, 0, 12, 2, 11}));

  EXPECT_EQ(llist_d_remove(&items[3].node), &items[3]);
  EXPECT_EQ(items[3].node.next, nullptr);
  EXPECT_EQ(items[3].node.prev, nullptr);
  EXPECT_EQ(items[3].node.data, nullptr);
  EXPECT_EQ(serials(&head), (std::vector<int>{10, 4, 1, 0, 12, 2, 11}));

  llist_d_remove_list(&head);
  EXPECT_EQ(head.next, &head);
  EXPECT_EQ(head.prev, &head);
  EXPECT_EQ(items[0].node.next, nullptr);
}

TEST(LlistDDeathTest, RemovingAnUnlinkedNodeAsserts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  llist_d_t head = LLIST_D_HEAD_INITIALIZER;
  Item it{{}, 1, 1};
  llist_d_insert(&head, &it, &it.node, LLIST_D_TAIL);
  llist_d_remove(&it.node);
  EXPECT_EXIT(llist_d_remove(&it.node), testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(elem->next != NULL && elem->prev != NULL\\) "
              "failed: '.*llist\\.cpp':[0-9]+");
}

// ---- Stacks.

TEST(Stack, PopsInReverseAndDepthCountsPushes) {
  for (stg_area_t area : {stg_create_area(256), STG_AREA_HEAP}) {
    ks_stack_t *s = stack_create(area, 16);
    ASSERT_NE(s, nullptr);
    void *data = tag(1);
    uint32_t size = 1;
    EXPECT_EQ(stack_pop(s, &data, &size), 1);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);

    EXPECT_EQ(stack_push(s, tag(1)), 0);
    EXPECT_EQ(stack_varlen_push(s, tag(2), 40), 0);
    EXPECT_EQ(stack_push(s, tag(3)), 0);
    EXPECT_EQ(stack_pop(s, &data, &size), 0);
    EXPECT_EQ(untag(data), 3);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(stack_pop(s, &data, &size), 0);
    EXPECT_EQ(untag(data), 2);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(stack_depth(s), 3);
    EXPECT_EQ(stack_push(s, tag(4)), 0);
    EXPECT_EQ(stack_pop(s, &data, &size), 0);
    EXPECT_EQ(untag(data), 4);
    EXPECT_EQ(stack_pop(s, &data, &size), 0);
    EXPECT_EQ(untag(data), 1) << "the first frame was on top";
    EXPECT_EQ(stack_pop(s, &data, &size), 1);

    stack_push(s, tag(5));  // left pushed: destroy releases it
    stack_destroy(&s);
    EXPECT_EQ(s, nullptr);
    if (area != STG_AREA_HEAP) stg_delete_area(&area);
  }
}

// ---- ks_qsort.

template <size_t N>
struct Record {
  uint32_t key;
  unsigned char pad[N - sizeof(uint32_t)];
  bool operator<(const Record &o) const { return key < o.key; }
};

struct SortContext {
  int magic = 0x5eed;
  long calls = 0;
};

template <typename T>
int compare_keys(const void *a, const void *b, void *context) {
  auto *ctx = static_cast<SortContext *>(context);
  EXPECT_EQ(ctx->magic, 0x5eed);
  ++ctx->calls;
  const T &x = *static_cast<const T *>(a);
  const T &y = *static_cast<const T *>(b);
  return x < y ? -1 : (y < x ? 1 : 0);
}

template <typename T>
void expect_sorts(std::vector<T> v, const char *what) {
  std::vector<T> want = v;
  std::stable_sort(want.begin(), want.end());
  SortContext ctx;
  ks_qsort(v.data(), v.size(), sizeof(T), compare_keys<T>, &ctx);
  ASSERT_TRUE(
      std::equal(v.begin(), v.end(), want.begin(),
                 [](const T &a, const T &b) { return !(a < b) && !(b < a); }))
      << what << " n=" << v.size() << " size=" << sizeof(T);
  // Every shape stays n log n: a quicksort fooled by its input goes
  // quadratic long before it sorts wrongly.
  double n = static_cast<double>(v.size());
  EXPECT_LE(ctx.calls, 5 * n * std::log2(n + 1) + 10) << what << " n=" << n;
}

// Arrays of every shape that trips a quicksort: random, sorted, reversed,
// constant, few distinct keys, organ pipe.
template <typename T, typename Make>
void sort_shapes(Make make) {
  std::mt19937 rng(7);
  for (size_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 13, 64, 1000, 20000}) {
    std::vector<T> random(n), sorted(n), reversed(n), same(n), dups(n), pipe(n);
    for (size_t i = 0; i < n; ++i) {
      random[i] = make(rng());
      sorted[i] = make(static_cast<uint32_t>(i));
      reversed[i] = make(static_cast<uint32_t>(n - i));
      same[i] = make(42);
      dups[i] = make(rng() % 5);
      pipe[i] = make(static_cast<uint32_t>(i < n / 2 ? i : n - i));
    }
    expect_sorts(random, "random");
    expect_sorts(sorted, "sorted");
    expect_sorts(reversed, "reversed");
    expect_sorts(same, "all equal");
    expect_sorts(dups, "duplicates");
    expect_sorts(pipe, "organ pipe");
  }
}

TEST(KsQsort, MatchesStdSortForEveryShapeAndElementSize) {
  sort_shapes<int>([](uint32_t k) { return static_cast<int>(k) - 1000; });
  // An odd element size: three bytes compared as one big-endian number.
  sort_shapes<std::array<unsigned char, 3>>([](uint32_t k) {
    return std::array<unsigned char, 3>{static_cast<unsigned char>(k >> 16),
                                        static_cast<unsigned char>(k >> 8),
                                        static_cast<unsigned char>(k)};
  });
  sort_shapes<Record<32>>([](uint32_t k) {
    Record<32> r{k, {}};
    std::memset(r.pad, static_cast<int>(k & 0xFF), sizeof r.pad);
    return r;
  });
}

TEST(KsQsort, SortsEveryPermutationOfSmallArrays) {
  for (int n = 1; n <= 8; ++n) {
    std::vector<int> v(n);
    for (int i = 0; i < n; ++i) v[i] = i / 2;  // with duplicates
    do {
      std::vector<int> copy = v;
      SortContext ctx;
      ks_qsort(copy.data(), copy.size(), sizeof(int), compare_keys<int>, &ctx);
      ASSERT_TRUE(std::is_sorted(copy.begin(), copy.end()));
    } while (std::next_permutation(v.begin(), v.end()));
  }
}

}  // namespace
