// Hash tables against a model, their exact hash functions and bucket
// order, growth, recycling of cells, dumps, and allocation failure.
#include <gtest/gtest.h>

#include <orvexks/hash.h>
#include <orvexks/imsg.h>
#include <orvexks/list.h>
#include <orvexks/stg.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "hash/hash_internal.h"
#include "internal/nt_alloc_fault.h"

namespace {

// The three key kinds over one pool of keys, addressed by index.
struct IntKeys {
  static constexpr auto kEnter = hash_int_enter, kLookup = hash_int_lookup,
                        kFree = hash_int_free;
  std::vector<int32_t> keys;
  explicit IntKeys(int n) {
    for (int i = 0; i < n; ++i) keys.push_back(i * 37 - n * 9);  // negatives
  }
  hash_table_t *create() { return hash_int_create(3, 8); }
  uint32_t hval(int i) { return static_cast<uint32_t>(keys[i] >> 2); }
  int call(decltype(hash_int_enter) fn, hash_table_t *t, int i, void **data) {
    int32_t *k = nullptr;
    int r = fn(t, keys[i], &k, data);
    if (r) {
      EXPECT_EQ(*k, keys[i]);
    }
    return r;
  }
  int next(hash_table_t *t, hash_cursor_t **c, bool ordered, int *i) {
    int32_t *k = nullptr;
    void *d = nullptr;
    int r = ordered ? hash_int_next_in_order(t, c, &k, &d)
                    : hash_int_next(t, c, &k, &d);
    if (r)
      *i = static_cast<int>(std::find(keys.begin(), keys.end(), *k) -
                            keys.begin());
    return r;
  }
};

struct StrKeys {
  static constexpr auto kEnter = hash_str_enter, kLookup = hash_str_lookup,
                        kFree = hash_str_free;
  std::vector<std::string> keys;  // the table keeps pointers into these
  explicit StrKeys(int n) {
    for (int i = 0; i < n; ++i) keys.push_back("key\xE9" + std::to_string(i));
  }
  hash_table_t *create() { return hash_str_create(3, 8, 0); }
  uint32_t hval(int i) { return ksi_hash_str(keys[i].c_str()); }
  int call(decltype(hash_str_enter) fn, hash_table_t *t, int i, void **data) {
    char *k = nullptr;
    int r = fn(t, keys[i].c_str(), &k, data);
    if (r) {
      EXPECT_EQ(k, keys[i].c_str());
    }
    return r;
  }
  int next(hash_table_t *t, hash_cursor_t **c, bool ordered, int *i) {
    char *k = nullptr;
    void *d = nullptr;
    int r = ordered ? hash_str_next_in_order(t, c, &k, &d)
                    : hash_str_next(t, c, &k, &d);
    if (r) *i = std::stoi(std::string(k).substr(4));
    return r;
  }
};

// Copied 12-byte keys: recycled cells reuse their key buffers.
struct FlenKeys {
  static constexpr auto kEnter = hash_flen_enter, kLookup = hash_flen_lookup,
                        kFree = hash_flen_free;
  static constexpr uint32_t kBytes = 12;
  std::vector<std::string> keys;
  explicit FlenKeys(int n) {
    for (int i = 0; i < n; ++i) {
      std::string k(kBytes, '\0');
      std::memcpy(&k[0], &i, sizeof i);
      k[11] = static_cast<char>(0x80 + i % 7);
      keys.push_back(k);
    }
  }
  hash_table_t *create() { return hash_flen_create(3, 8, 1, kBytes); }
  uint32_t hval(int i) {
    uint32_t h = 0;
    for (unsigned char b : keys[i]) h = h + (b ^ (h << 7));
    return h;
  }
  int call(decltype(hash_flen_enter) fn, hash_table_t *t, int i, void **data) {
    std::string probe = keys[i];  // the table must not keep the probe
    void *k = nullptr;
    int r = fn(t, probe.data(), &k, data);
    if (r) {
      EXPECT_EQ(std::memcmp(k, keys[i].data(), kBytes), 0);
    }
    return r;
  }
  int next(hash_table_t *t, hash_cursor_t **c, bool ordered, int *i) {
    void *k = nullptr;
    void *d = nullptr;
    int r = ordered ? hash_flen_next_in_order(t, c, &k, &d)
                    : hash_flen_next(t, c, &k, &d);
    if (r) std::memcpy(i, k, sizeof *i);
    return r;
  }
};

// Both iterations against the model: insertion order exactly, and bucket
// order (ascending bucket of hval mod nbuckets) over the same set.
template <typename Keys>
void check_iteration(Keys &k, hash_table_t *t, const std::vector<int> &order) {
  std::vector<int> seen;
  hash_cursor_t *c = nullptr;
  int i = -1;
  while (k.next(t, &c, true, &i)) seen.push_back(i);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(seen, order);

  seen.clear();
  uint32_t last_bucket = 0;
  while (k.next(t, &c, false, &i)) {
    uint32_t bucket = k.hval(i) % t->nbuckets;
    EXPECT_GE(bucket, last_bucket);
    last_bucket = bucket;
    seen.push_back(i);
  }
  std::vector<int> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, sorted);
}

template <typename Keys>
void run_model(uint32_t seed) {
  constexpr int kKeys = 300;
  Keys k(kKeys);
  hash_table_t *t = k.create();
  ASSERT_NE(t, nullptr);
  hash_set_order(t);
  hash_set_dynamic(t, 2);
  std::map<int, uint64_t> model;  // key index -> the cell's data
  std::vector<int> order;
  std::mt19937 rng(seed);
  uint64_t stamp = 0;
  for (int step = 0; step < 6000; ++step) {
    const int i = static_cast<int>(rng() % kKeys);
    const bool present = model.count(i) != 0;
    void *d = nullptr;
    switch (rng() % 4) {
      case 0:
      case 1:  // enter: existing data is left alone, a new cell is ours
        ASSERT_EQ(k.call(Keys::kEnter, t, i, &d), present ? 1 : 0);
        if (present) {
          EXPECT_EQ(*static_cast<uint64_t *>(d), model[i]);
        } else {
          std::memcpy(d, &++stamp, sizeof stamp);
          model[i] = stamp;
          order.push_back(i);
        }
        break;
      case 2:
        ASSERT_EQ(k.call(Keys::kLookup, t, i, &d), present ? 1 : 0);
        if (present)
          EXPECT_EQ(*static_cast<uint64_t *>(d), model[i]);
        else
          EXPECT_EQ(d, nullptr);
        break;
      default:  // free: the removed cell's data stays readable
        ASSERT_EQ(k.call(Keys::kFree, t, i, &d), present ? 1 : 0);
        if (present) {
          EXPECT_EQ(*static_cast<uint64_t *>(d), model[i]);
          model.erase(i);
          order.erase(std::find(order.begin(), order.end(), i));
        }
        break;
    }
    ASSERT_EQ(t->ncells, model.size());
    if (step % 1000 == 999) check_iteration(k, t, order);
  }
  EXPECT_GT(t->nbuckets, 61u) << "the table grew";
  EXPECT_EQ(t->cell_limit, t->nbuckets * 2);
  check_iteration(k, t, order);
  hash_delete_ht(&t);
  EXPECT_EQ(t, nullptr);
}

TEST(HashModel, IntegerKeys) { run_model<IntKeys>(1); }
TEST(HashModel, StringKeys) { run_model<StrKeys>(2); }
TEST(HashModel, CopiedFixedLengthKeys) { run_model<FlenKeys>(3); }

TEST(Hash, BucketCountsGrowthAndHashValues) {
  hash_table_t *t = hash_str_create(10, 8, 1);
  EXPECT_EQ(t->nbuckets, 17u);
  hash_set_dynamic(t, 2);
  std::vector<std::string> keys;
  for (int i = 0; i < 35; ++i) keys.push_back("k" + std::to_string(i));
  for (int i = 0; i < 34; ++i)
    hash_str_enter(t, keys[i].c_str(), nullptr, nullptr);
  EXPECT_EQ(t->nbuckets, 17u);
  hash_str_enter(t, keys[34].c_str(), nullptr, nullptr);
  EXPECT_EQ(t->nbuckets, 31u);
  EXPECT_EQ(t->cell_limit, 62u);
  hash_delete_ht(&t);

  t = hash_create_ht(0, 0, HASH_KEY_INT, 0, 0, nullptr, nullptr);
  EXPECT_EQ(t->nbuckets, 1u);
  hash_delete_ht(&t);
  t = hash_int_create(UINT32_MAX, 0);  // the largest prime, capped
  EXPECT_EQ(t->nbuckets, 1048573u);
  hash_resize(t);
  EXPECT_EQ(t->nbuckets, 1048573u);
  hash_delete_ht(&t);

  int32_t minus = -7;
  EXPECT_EQ(ksi_hash_int(&minus), static_cast<uint32_t>(-2));
  EXPECT_EQ(ksi_hash_str_blind(" A\tB\n"), ksi_hash_str("AB"));
}

// The hashes run eight bytes per step when no byte has its high bit set;
// every length and a high byte at every position must still give the
// byte-at-a-time value.
TEST(Hash, WordStepsGiveTheByteStepValues) {
  std::mt19937 rng(5);
  for (size_t len = 0; len <= 40; ++len) {
    for (int high_at = -1; high_at < static_cast<int>(len); ++high_at) {
      std::string s;
      for (size_t i = 0; i < len; ++i) s += static_cast<char>(1 + rng() % 127);
      if (high_at >= 0) s[high_at] = static_cast<char>(0x80 + rng() % 128);
      uint32_t str = 0, bytes = 0;
      for (unsigned char c : s) {
        str += (str << 7) ^ static_cast<uint32_t>(static_cast<signed char>(c));
        bytes += c ^ (bytes << 7);
      }
      EXPECT_EQ(ksi_hash_str(s.c_str()), str) << s;

      if (len == 0) continue;
      hash_table_t *t = hash_flen_create(7, 0, 0, static_cast<uint32_t>(len));
      hash_flen_enter(t, s.data(), nullptr, nullptr);
      hash_cursor_t *c = nullptr;
      hash_cell_t *cell = nullptr;
      ASSERT_EQ(hash_next(t, &c, &cell), 1);
      EXPECT_EQ(cell->hval, bytes) << s;
      hash_term_scan(&c);
      hash_delete_ht(&t);
    }
  }
}

// One bucket holding "a", with the freed cell of "b" on the free list.
hash_table_t *one_bucket_with_a_free_cell() {
  hash_table_t *t = hash_str_create(1, 0, 0);
  hash_str_enter(t, "a", nullptr, nullptr);
  hash_str_enter(t, "b", nullptr, nullptr);
  EXPECT_EQ(hash_str_free(t, "b", nullptr, nullptr), 1);
  return t;
}

// A recycled cell made by the low-level call gets its key from the caller
// afterwards: neither growth nor a lookup along the chain may use the key
// the cell had before, wherever later entries and removals put it.
TEST(Hash, LowLevelCellIsFoundByTheKeyItsCallerStores) {
  hash_table_t *t = one_bucket_with_a_free_cell();
  hash_set_dynamic(t, 1);
  hash_cell_t *cell = hash_create_cell(t, ksi_hash_str("d"));
  ASSERT_EQ(t->nbuckets, 2u) << "the new cell grew the table";
  cell->key.ptr = "d";
  char *key = nullptr;
  EXPECT_EQ(hash_str_lookup(t, "d", &key, nullptr), 1);
  EXPECT_STREQ(key, "d");
  EXPECT_EQ(hash_str_lookup(t, "b", nullptr, nullptr), 0);
  EXPECT_EQ(hash_str_lookup(t, "a", nullptr, nullptr), 1);
  hash_delete_ht(&t);

  t = one_bucket_with_a_free_cell();
  cell = hash_create_cell(t, ksi_hash_str("d"));
  hash_str_enter(t, "e", nullptr, nullptr);
  cell->key.ptr = "d";
  EXPECT_EQ(hash_str_lookup(t, "d", nullptr, nullptr), 1) << "second";
  hash_str_enter(t, "f", nullptr, nullptr);
  EXPECT_EQ(hash_str_lookup(t, "d", nullptr, nullptr), 1) << "third";
  ASSERT_EQ(hash_str_free(t, "f", nullptr, nullptr), 1);
  EXPECT_EQ(hash_str_lookup(t, "d", nullptr, nullptr), 1) << "second again";
  ASSERT_EQ(hash_str_free(t, "e", nullptr, nullptr), 1);
  for (const char *k : {"d", "a"})
    EXPECT_EQ(hash_str_lookup(t, k, nullptr, nullptr), 1) << k;
  for (const char *k : {"b", "e", "f"})
    EXPECT_EQ(hash_str_lookup(t, k, nullptr, nullptr), 0) << k;
  hash_delete_ht(&t);
}

TEST(Hash, FreshCellsAreZeroedAndARecycledCellKeepsItsData) {
  hash_table_t *t = hash_int_create(7, 4);
  hash_set_order(t);
  void *d[3];
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(hash_int_enter(t, i, nullptr, &d[i]), 0);
    EXPECT_EQ(*static_cast<uint32_t *>(d[i]), 0u) << "fresh cells are zeroed";
    *static_cast<uint32_t *>(d[i]) = 100 + i;
  }
  void *gone = nullptr;
  ASSERT_EQ(hash_int_free(t, 1, nullptr, &gone), 1);
  EXPECT_EQ(gone, d[1]);
  void *again = nullptr;
  ASSERT_EQ(hash_int_enter(t, 9, nullptr, &again), 0);
  EXPECT_EQ(again, d[1]);
  EXPECT_EQ(*static_cast<uint32_t *>(again), 101u) << "recycled, not cleared";
  hash_delete_ht(&t);
}

TEST(Hash, WhitespaceBlindKeysListsAndReportedMisuse) {
  hash_table_t *t = hash_str_create(5, 0, 1);
  hash_str_ignore_spaces(t);
  ASSERT_EQ(hash_str_enter(t, "a  b", nullptr, nullptr), 0);
  EXPECT_EQ(hash_str_lookup(t, "a\tb", nullptr, nullptr), 1);
  EXPECT_EQ(hash_str_lookup(t, "ab", nullptr, nullptr), 0) << "a blank remains";

  list_t *l = list_create(STG_AREA_HEAP, 0);
  EXPECT_EQ(hash_str_enter_list(t, l), 1) << "an empty list";
  list_append(l, const_cast<char *>("a b"));
  EXPECT_EQ(hash_str_enter_list(t, l), 1);
  list_append(l, const_cast<char *>("c"));
  EXPECT_EQ(hash_str_enter_list(t, l), 0);
  EXPECT_EQ(hash_str_enter_list(t, l), 1);
  list_destroy(l);

  imsg_suppress_prefix(1);
  testing::internal::CaptureStderr();
  char *k = const_cast<char *>("stale");
  EXPECT_EQ(hash_str_lookup(t, nullptr, &k, nullptr), 0);
  EXPECT_EQ(k, nullptr);
  EXPECT_EQ(hash_str_free(t, "c", nullptr, nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unexpected error in hash package.\n"
            "hash_str_free on a hash table with copied keys. Memory leak.\n");
  imsg_suppress_prefix(0);
  hash_delete_ht(&t);
}

// Callers' functions: keys equal by their first byte, all in one bucket.
uint32_t same_hash(const void *) { return 7; }
int first_byte_equal(const void *stored, const void *probe) {
  return *static_cast<const char *>(stored) ==
         *static_cast<const char *>(probe);
}
uint32_t int_by_tens(const void *key) {
  return static_cast<uint32_t>(*static_cast<const int32_t *>(key) / 10);
}

TEST(Hash, CallersHashAndCompareFunctions) {
  hash_table_t *t =
      hash_flen_create_with_fns(5, 0, 0, 2, same_hash, first_byte_equal);
  EXPECT_EQ(hash_get_key_bytes(t), 2u);
  void *k = nullptr;
  ASSERT_EQ(hash_flen_enter(t, "ab", &k, nullptr), 0);
  EXPECT_EQ(hash_flen_enter(t, "ax", nullptr, nullptr), 1);
  EXPECT_EQ(hash_flen_enter(t, "bx", nullptr, nullptr), 0);
  EXPECT_EQ(hash_flen_lookup(t, "az", &k, nullptr), 1);
  EXPECT_EQ(std::memcmp(k, "ab", 2), 0);
  hash_delete_ht(&t);

  // Integer keys are compared directly whatever the hash.
  t = hash_create_ht(3, 0, HASH_KEY_INT, 0, 0, int_by_tens, nullptr);
  EXPECT_EQ(hash_int_enter(t, 41, nullptr, nullptr), 0);
  EXPECT_EQ(hash_int_enter(t, 42, nullptr, nullptr), 0);
  EXPECT_EQ(hash_int_lookup(t, 41, nullptr, nullptr), 1);
  EXPECT_EQ(hash_int_lookup(t, 43, nullptr, nullptr), 0);
  EXPECT_EQ(t->ncells, 2u);
  hash_delete_ht(&t);
}

std::string format(const char *f, ...) {
  char buf[256];
  va_list args;
  va_start(args, f);
  std::vsnprintf(buf, sizeof buf, f, args);
  va_end(args);
  return buf;
}

TEST(Hash, DumpAndStatisticsTexts) {
  hash_table_t *t = hash_int_create(2, 4);  // 2 buckets
  hash_set_order(t);
  void *d[3];
  for (int32_t key : {0, 4, 8}) hash_int_enter(t, key, nullptr, &d[key / 4]);
  hash_int_free(t, 8, nullptr, nullptr);  // keys 0 and 4: hval 0 and 1
  hash_cell_t *c0 = t->first_in_order, *c1 = t->last_in_order;
  const void *nil = nullptr;

  std::string want =
      "-------------------------- Hash Table Dump "
      "------------------------------------\n" +
      format(
          "(hash) ht 0x%016p: bkts=0x%016p, #bkts=%lu, #cells=%lu, "
          "dbytes=%lu,\n",
          t, t->buckets, 2ul, 2ul, 4ul) +
      format("       area=0x%016p, keytype=%s, copyk=%c\n", t->area,
             "HASH_KEY_INT", 'F') +
      format(
          "       limit=%lu, climit=%lu, order=%c, 1cell=0x%016p, "
          "lcell=0x%016p\n",
          0ul, 0ul, 'T', c0, c1) +
      "bucket 0:\n" +
      format(
          "  cell 0x%016p: key=%ld, hval=%u, datap=0x%016p, next=0x%016p, "
          "order=0x%016p, back=0x%016p\n",
          c0, 0l, 0u, d[0], nil, c1, nil) +
      "bucket 1:\n" +
      format(
          "  cell 0x%016p: key=%ld, hval=%u, datap=0x%016p, next=0x%016p, "
          "order=0x%016p, back=0x%016p\n",
          c1, 4l, 1u, d[1], nil, nil, c0);
  imsg_suppress_prefix(1);
  testing::internal::CaptureStderr();
  hash_dump(t);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), want);

  testing::internal::CaptureStderr();
  hash_dump_stats(t);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "-------------------------- Hash Table Statistics "
            "------------------------------\n"
            "bucket 0: 1\nbucket 1: 1\n"
            "Number of entries on free list: 1\n\n"
            "number of buckets: 2\nnumber of cells: 2\n"
            "#buckets with 1 entries: 2\n");
  hash_delete_ht(&t);

  t = hash_flen_create(3, 0, 1, 6);
  hash_flen_enter(t, "abcdef", nullptr, nullptr);
  hash_flen_enter(t, "ghijkl", nullptr, nullptr);
  testing::internal::CaptureStderr();
  hash_dump(t);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("keytype=HASH_KEY_FLEN, copyk=T, key_bytes=6\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("limit="), std::string::npos);
  testing::internal::CaptureStderr();
  hash_dump_stats(t);
  out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out.substr(out.find("number of buckets")),
            "number of buckets: 3\nnumber of cells: 2\n"
            "#buckets with 0 entries: 1\n#buckets with 1 entries: 2\n");
  imsg_suppress_prefix(0);
  hash_delete_ht(&t);
}

#ifdef ORVEX_ALLOC_FAULTS
// Every allocation of creation, a new cell, a key copy, growth and a cursor
// failing in turn: a null table after "Out of memory", null outputs, or an
// unchanged table, and nothing leaked (the ASan build's leak check).
TEST(Hash, AllocationFailureLeavesTheTableUsable) {
  unsigned n = 1;
  for (;; ++n) {
    testing::internal::CaptureStderr();
    nt_alloc_fault_arm(n);
    hash_table_t *t = hash_str_create(2, 16, 1);
    hash_cursor_t *c = nullptr;
    hash_cell_t *cell = nullptr;
    int entered = 0;
    if (t != nullptr) {
      hash_set_dynamic(t, 1);
      for (int i = 0; i < 40; ++i) {
        std::string key(200, static_cast<char>('a' + i % 26));
        key += std::to_string(i);
        char *k = nullptr;
        if (hash_str_enter(t, key.c_str(), &k, nullptr) == 0 && k != nullptr)
          ++entered;
      }
      hash_next(t, &c, &cell);
    }
    const bool fired = nt_alloc_fault_fired();
    nt_alloc_fault_arm(0);
    std::string err = testing::internal::GetCapturedStderr();
    if (t == nullptr) {
      EXPECT_NE(err.find("Out of memory"), std::string::npos) << err;
    } else {
      EXPECT_EQ(t->ncells, static_cast<uint32_t>(entered));
      int seen = 0;
      for (hash_cursor_t *all = nullptr; hash_next(t, &all, &cell);) ++seen;
      EXPECT_EQ(seen, entered);
      hash_term_scan(&c);
      hash_delete_ht(&t);
    }
    if (!fired) break;
  }
  EXPECT_GT(n, 20u) << "every allocation of the run failed once";
}
#endif

}  // namespace
