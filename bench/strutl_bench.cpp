// The library's 32-bit text hash against FNV-1a and a plain byte sum over
// the same texts, in bytes per second. After the usual table, a summary
// prints each ratio (library time / peer time).
#include <benchmark/benchmark.h>

#include "ratio_report.h"

#include <orvexks/strutl.h>

#include <cstdio>
#include <random>
#include <string>

namespace {

// A printable text of the given length, the same for every run.
const std::string &text_of(size_t length) {
  static std::map<size_t, std::string> texts;
  std::string &t = texts[length];
  if (t.size() != length) {
    std::mt19937 rng(3);
    t.resize(length);
    for (char &c : t) c = static_cast<char>('!' + rng() % 94);
  }
  return t;
}

uint32_t fnv1a(const char *s) {
  uint32_t h = 2166136261u;
  for (; *s != '\0'; ++s) h = (h ^ static_cast<unsigned char>(*s)) * 16777619u;
  return h;
}

uint32_t byte_sum(const char *s) {
  uint32_t h = 0;
  for (; *s != '\0'; ++s) h += static_cast<unsigned char>(*s);
  return h;
}

template <uint32_t (*kHash)(const char *)>
void run(benchmark::State &state) {
  const std::string &t = text_of(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    const char *p = t.c_str();
    benchmark::DoNotOptimize(p);
    benchmark::DoNotOptimize(kHash(p));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

uint32_t library_hash(const char *s) { return strutl_str_to_hash32(0, s); }

void BM_StrToHash32(benchmark::State &s) { run<library_hash>(s); }
void BM_Fnv1a(benchmark::State &s) { run<fnv1a>(s); }
void BM_ByteSum(benchmark::State &s) { run<byte_sum>(s); }

BENCHMARK(BM_StrToHash32)->Arg(16)->Arg(4096);
BENCHMARK(BM_Fnv1a)->Arg(16)->Arg(4096);
BENCHMARK(BM_ByteSum)->Arg(16)->Arg(4096);

}  // namespace

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {
                             {"BM_StrToHash32/16", "BM_Fnv1a/16"},
                             {"BM_StrToHash32/4096", "BM_Fnv1a/4096"},
                             {"BM_StrToHash32/16", "BM_ByteSum/16"},
                             {"BM_StrToHash32/4096", "BM_ByteSum/4096"},
                         });
}
