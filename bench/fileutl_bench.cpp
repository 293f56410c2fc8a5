// Textual path normalisation (no file-system access) against the peer a
// C++ user would otherwise pick, std::filesystem::path::lexically_normal
// from libstdc++; glibc has no realpath-free normaliser. Both normalise
// the same '/'-separated paths with "." and ".." components.
#include <benchmark/benchmark.h>

#include "ratio_report.h"

#include <orvexks/fileutl.h>

#include <filesystem>
#include <string>

namespace {

std::string make_path(int components) {
  std::string p;
  for (int i = 0; i < components; ++i) {
    p += "/dir" + std::to_string(i);
    if (i % 3 == 1) p += "/.";
    if (i % 4 == 2) p += "/sub/..";
  }
  return p + "/file.txt";
}

void bm_remove_embedded_dots(benchmark::State &state) {
  const std::string path = make_path(static_cast<int>(state.range(0)));
  char out[4096];
  for (auto _ : state)
    benchmark::DoNotOptimize(
        fileutl_remove_embedded_dots(path.c_str(), out, sizeof out));
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(path.size()));
}

void bm_lexically_normal(benchmark::State &state) {
  const std::string path = make_path(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::filesystem::path normal =
        std::filesystem::path(path).lexically_normal();
    benchmark::DoNotOptimize(normal.native().data());
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(path.size()));
}

}  // namespace

BENCHMARK(bm_remove_embedded_dots)->Arg(4)->Arg(32);
BENCHMARK(bm_lexically_normal)->Arg(4)->Arg(32);

int main(int argc, char **argv) {
  return run_with_ratios(
      argc, argv,
      {{"bm_remove_embedded_dots/4", "bm_lexically_normal/4"},
       {"bm_remove_embedded_dots/32", "bm_lexically_normal/32"}});
}
