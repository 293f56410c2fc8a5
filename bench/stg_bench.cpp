// Storage areas against malloc/free, and ks_qsort against the C library's
// qsort, on the same inputs in the same run. After the usual table, a
// summary prints each ratio (library time / peer time).
#include <benchmark/benchmark.h>

#include "ratio_report.h"

#include <orvexks/list.h>
#include <orvexks/stg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kSmallAllocs = 10000;

// Mixed request sizes between 8 and 256 bytes, the same for both sides.
const std::vector<size_t> &request_sizes() {
  static const std::vector<size_t> sizes = [] {
    std::mt19937 rng(1);
    std::vector<size_t> v(kSmallAllocs);
    for (size_t &s : v) s = 8 + rng() % 249;
    return v;
  }();
  return sizes;
}

void BM_StgAllocThenFreeArea(benchmark::State &state) {
  const auto &sizes = request_sizes();
  stg_area_t area = stg_create_area(8192);
  for (auto _ : state) {
    for (size_t n : sizes) benchmark::DoNotOptimize(stg_alloc(area, n));
    stg_free_area(area, 0);
  }
  stg_delete_area(&area);
  state.SetItemsProcessed(state.iterations() * kSmallAllocs);
}

void BM_MallocThenFree(benchmark::State &state) {
  const auto &sizes = request_sizes();
  std::vector<void *> blocks(sizes.size());
  for (auto _ : state) {
    for (size_t i = 0; i < sizes.size(); ++i) {
      blocks[i] = std::malloc(sizes[i]);
      benchmark::DoNotOptimize(blocks[i]);
    }
    for (void *p : blocks) std::free(p);
  }
  state.SetItemsProcessed(state.iterations() * kSmallAllocs);
}

// ---- Sorting.

struct Record32 {
  uint32_t key;
  unsigned char payload[28];
};

int ks_cmp_int(const void *a, const void *b, void *) {
  int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
  return (x > y) - (x < y);
}
int libc_cmp_int(const void *a, const void *b) {
  return ks_cmp_int(a, b, nullptr);
}

int ks_cmp_rec(const void *a, const void *b, void *) {
  uint32_t x = static_cast<const Record32 *>(a)->key;
  uint32_t y = static_cast<const Record32 *>(b)->key;
  return (x > y) - (x < y);
}
int libc_cmp_rec(const void *a, const void *b) {
  return ks_cmp_rec(a, b, nullptr);
}

template <typename T>
std::vector<T> random_array(size_t n) {
  std::mt19937 rng(2);
  std::vector<T> v(n);
  for (T &x : v) {
    std::memset(&x, 0, sizeof x);
    uint32_t key = rng();
    std::memcpy(&x, &key, sizeof key < sizeof x ? sizeof key : sizeof x);
  }
  return v;
}

template <typename T, bool kOurs>
void BM_Sort(benchmark::State &state) {
  const std::vector<T> input =
      random_array<T>(static_cast<size_t>(state.range(0)));
  std::vector<T> work(input.size());
  for (auto _ : state) {
    state.PauseTiming();
    work = input;
    state.ResumeTiming();
    if constexpr (kOurs) {
      ks_qsort(work.data(), work.size(), sizeof(T),
               sizeof(T) == sizeof(int) ? ks_cmp_int : ks_cmp_rec, nullptr);
    } else {
      std::qsort(work.data(), work.size(), sizeof(T),
                 sizeof(T) == sizeof(int) ? libc_cmp_int : libc_cmp_rec);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_KsQsortInt(benchmark::State &s) { BM_Sort<int, true>(s); }
void BM_QsortInt(benchmark::State &s) { BM_Sort<int, false>(s); }
void BM_KsQsortRecord32(benchmark::State &s) { BM_Sort<Record32, true>(s); }
void BM_QsortRecord32(benchmark::State &s) { BM_Sort<Record32, false>(s); }

BENCHMARK(BM_StgAllocThenFreeArea);
BENCHMARK(BM_MallocThenFree);
BENCHMARK(BM_KsQsortInt)->Arg(1000)->Arg(100000);
BENCHMARK(BM_QsortInt)->Arg(1000)->Arg(100000);
BENCHMARK(BM_KsQsortRecord32)->Arg(1000)->Arg(100000);
BENCHMARK(BM_QsortRecord32)->Arg(1000)->Arg(100000);

}  // namespace

int main(int argc, char **argv) {
  return run_with_ratios(
      argc, argv,
      {
          {"BM_StgAllocThenFreeArea", "BM_MallocThenFree"},
          {"BM_KsQsortInt/1000", "BM_QsortInt/1000"},
          {"BM_KsQsortInt/100000", "BM_QsortInt/100000"},
          {"BM_KsQsortRecord32/1000", "BM_QsortRecord32/1000"},
          {"BM_KsQsortRecord32/100000", "BM_QsortRecord32/100000"},
      });
}
