// Formatting a table message with imsg_snprintf against snprintf of the
// same text and arguments, in the same run; the summary prints the ratio.
#include <benchmark/benchmark.h>

#include <orvexks/imsg.h>
#include <orvexks/stg.h>

#include <cstdio>

#include "ratio_report.h"

namespace {

// "Unable to allocate %I64u bytes of storage." style: a table text with a
// number and a string, as family error messages look.
const char *const kTexts[] = {"Unable to open file \"%s\": error %d\n"};
const int16_t kIds[] = {1};
const ks_msg_table_t kTable = {"ks_lib", "bench", 6, 1, kTexts, kIds};

void BM_ImsgSnprintf(benchmark::State &state) {
  char buf[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(imsg_snprintf(buf, sizeof buf, &kTable, 0,
                                           "/var/tmp/some/file.txt", 13));
    benchmark::ClobberMemory();
  }
}

void BM_Snprintf(benchmark::State &state) {
  char buf[256];
  const char *volatile format =
      kTexts[0];  // not a constant the compiler can fold
  for (auto _ : state) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    benchmark::DoNotOptimize(
        std::snprintf(buf, sizeof buf, format, "/var/tmp/some/file.txt", 13));
#pragma GCC diagnostic pop
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_ImsgSnprintf);
BENCHMARK(BM_Snprintf);

}  // namespace

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv, {{"BM_ImsgSnprintf", "BM_Snprintf"}});
}
