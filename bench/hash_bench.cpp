// Hash tables against GLib's GHashTable, on the same keys in the same run:
// lookups that hit and miss with integer and string keys in tables of 100k
// entries, and filling such a table from empty. After the usual table, a
// summary prints each ratio (library time / peer time).
#include <benchmark/benchmark.h>
#include <glib.h>

#include "ratio_report.h"

#include <orvexks/hash.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

constexpr uint32_t kEntries = 100000;

// Distinct random integer keys: the first kEntries are entered, the rest
// are misses.
const std::vector<int32_t> &int_keys() {
  static const std::vector<int32_t> keys = [] {
    std::mt19937 rng(7);
    std::unordered_set<int32_t> seen;
    std::vector<int32_t> v;
    while (v.size() < 2 * kEntries) {
      auto k = static_cast<int32_t>(rng());
      if (seen.insert(k).second) v.push_back(k);
    }
    return v;
  }();
  return keys;
}

// Path-like string keys, as a version-control tool hashes them; the second
// half are misses.
const std::vector<std::string> &str_keys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> v;
    char buf[64];
    for (uint32_t i = 0; i < 2 * kEntries; ++i) {
      std::snprintf(buf, sizeof buf, "src/module%u/sub%u/file_%u.c", i % 97,
                    i % 13, i);
      v.push_back(buf);
    }
    std::shuffle(v.begin(), v.end(), std::mt19937(3));
    return v;
  }();
  return keys;
}

// The probes of one pass: the entered keys (hit) or the others (miss), in
// a shuffled order.
template <typename T>
std::vector<T> probes(const std::vector<T> &keys, bool hit) {
  std::vector<T> v(keys.begin() + (hit ? 0 : kEntries),
                   keys.begin() + (hit ? kEntries : 2 * kEntries));
  std::shuffle(v.begin(), v.end(), std::mt19937(11));
  return v;
}

// The lookup tables get 262147 buckets, as many slots as GHashTable has
// for 100k entries (2^18).
hash_table_t *ks_int_table() {
  hash_table_t *t = hash_int_create(2 * kEntries, sizeof(void *));
  for (uint32_t i = 0; i < kEntries; ++i)
    hash_int_enter(t, int_keys()[i], nullptr, nullptr);
  return t;
}

GHashTable *glib_int_table() {
  GHashTable *t = g_hash_table_new(g_direct_hash, g_direct_equal);
  for (uint32_t i = 0; i < kEntries; ++i)
    g_hash_table_insert(t, GINT_TO_POINTER(int_keys()[i]), t);
  return t;
}

hash_table_t *ks_str_table() {
  hash_table_t *t = hash_str_create(2 * kEntries, sizeof(void *), 0);
  for (uint32_t i = 0; i < kEntries; ++i)
    hash_str_enter(t, str_keys()[i].c_str(), nullptr, nullptr);
  return t;
}

GHashTable *glib_str_table() {
  GHashTable *t = g_hash_table_new(g_str_hash, g_str_equal);
  for (uint32_t i = 0; i < kEntries; ++i)
    g_hash_table_insert(t, const_cast<char *>(str_keys()[i].c_str()), t);
  return t;
}

void BM_HashIntLookup(benchmark::State &state) {
  hash_table_t *t = ks_int_table();
  const auto keys = probes(int_keys(), state.range(0) != 0);
  for (auto _ : state) {
    int found = 0;
    void *data;
    for (int32_t k : keys) found += hash_int_lookup(t, k, nullptr, &data);
    benchmark::DoNotOptimize(found);
  }
  hash_delete_ht(&t);
  state.SetItemsProcessed(state.iterations() * keys.size());
}

void BM_GlibIntLookup(benchmark::State &state) {
  GHashTable *t = glib_int_table();
  const auto keys = probes(int_keys(), state.range(0) != 0);
  for (auto _ : state) {
    int found = 0;
    for (int32_t k : keys)
      found += g_hash_table_lookup(t, GINT_TO_POINTER(k)) != nullptr;
    benchmark::DoNotOptimize(found);
  }
  g_hash_table_destroy(t);
  state.SetItemsProcessed(state.iterations() * keys.size());
}

void BM_HashStrLookup(benchmark::State &state) {
  hash_table_t *t = ks_str_table();
  const auto keys = probes(str_keys(), state.range(0) != 0);
  for (auto _ : state) {
    int found = 0;
    void *data;
    for (const std::string &k : keys)
      found += hash_str_lookup(t, k.c_str(), nullptr, &data);
    benchmark::DoNotOptimize(found);
  }
  hash_delete_ht(&t);
  state.SetItemsProcessed(state.iterations() * keys.size());
}

void BM_GlibStrLookup(benchmark::State &state) {
  GHashTable *t = glib_str_table();
  const auto keys = probes(str_keys(), state.range(0) != 0);
  for (auto _ : state) {
    int found = 0;
    for (const std::string &k : keys)
      found += g_hash_table_lookup(t, k.c_str()) != nullptr;
    benchmark::DoNotOptimize(found);
  }
  g_hash_table_destroy(t);
  state.SetItemsProcessed(state.iterations() * keys.size());
}

// Filling a table of 100k entries from empty. The library's table is sized
// for them (range 1) or starts at 17 buckets and grows at two cells per
// bucket (range 0); GHashTable takes no size and always grows.
void BM_HashIntInsert(benchmark::State &state) {
  const bool sized = state.range(0) != 0;
  for (auto _ : state) {
    hash_table_t *t = hash_int_create(sized ? kEntries : 17, sizeof(void *));
    if (!sized) hash_set_dynamic(t, 2);
    for (uint32_t i = 0; i < kEntries; ++i)
      hash_int_enter(t, int_keys()[i], nullptr, nullptr);
    hash_delete_ht(&t);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_GlibIntInsert(benchmark::State &state) {
  for (auto _ : state) g_hash_table_destroy(glib_int_table());
  state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_HashStrInsert(benchmark::State &state) {
  const bool sized = state.range(0) != 0;
  for (auto _ : state) {
    hash_table_t *t = hash_str_create(sized ? kEntries : 17, sizeof(void *), 0);
    if (!sized) hash_set_dynamic(t, 2);
    for (uint32_t i = 0; i < kEntries; ++i)
      hash_str_enter(t, str_keys()[i].c_str(), nullptr, nullptr);
    hash_delete_ht(&t);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_GlibStrInsert(benchmark::State &state) {
  for (auto _ : state) g_hash_table_destroy(glib_str_table());
  state.SetItemsProcessed(state.iterations() * kEntries);
}

// Argument 1: hit / sized; 0: miss / growing.
BENCHMARK(BM_HashIntLookup)->Arg(1)->Arg(0);
BENCHMARK(BM_GlibIntLookup)->Arg(1)->Arg(0);
BENCHMARK(BM_HashStrLookup)->Arg(1)->Arg(0);
BENCHMARK(BM_GlibStrLookup)->Arg(1)->Arg(0);
BENCHMARK(BM_HashIntInsert)->Arg(1)->Arg(0);
BENCHMARK(BM_GlibIntInsert);
BENCHMARK(BM_HashStrInsert)->Arg(1)->Arg(0);
BENCHMARK(BM_GlibStrInsert);

}  // namespace

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {{"BM_HashIntLookup/1", "BM_GlibIntLookup/1"},
                          {"BM_HashIntLookup/0", "BM_GlibIntLookup/0"},
                          {"BM_HashStrLookup/1", "BM_GlibStrLookup/1"},
                          {"BM_HashStrLookup/0", "BM_GlibStrLookup/0"},
                          {"BM_HashIntInsert/1", "BM_GlibIntInsert"},
                          {"BM_HashIntInsert/0", "BM_GlibIntInsert"},
                          {"BM_HashStrInsert/1", "BM_GlibStrInsert"},
                          {"BM_HashStrInsert/0", "BM_GlibStrInsert"}});
}
