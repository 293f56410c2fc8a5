// wild_match against the C library's fnmatch, the matcher a user would
// otherwise call, over the same mix of patterns and names: file names
// without path-name mode, and path names with it (FNM_PATHNAME). Our
// patterns are compiled once, as callers that match many names do; the
// "compile" pair also compiles on every call.
#include <benchmark/benchmark.h>
#include <fnmatch.h>

#include "ratio_report.h"

#include <orvexks/wild.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kPatterns = {
    "*.c",     "*.[ch]", "*_test.cpp", "Makefile", "lib*",  "?ain.c",
    "*bench*", "*a*b*",  "x*",         "[a-m]*.h", "*.txt", "README*.md",
};

const std::vector<std::string> kNames = {
    "main.c",      "util.h",         "wild_test.cpp",
    "Makefile",    "libfoo.so",      "README.md",
    "notes.txt",   "wild_bench.cpp", "fileutl_search.c",
    "abcabcabcab", "CMakeLists.txt", "x",
    "config.h.in", "a_b.c",          "very_long_generated_file_name.c",
    "zz.h",
};

const std::vector<std::string> kPathPatterns = {
    "src/*.c", "*/lib/*.h", "tests/*/*_test.cpp",
    "*/*/*",   "docs/*.md", "lib/ks/*/wild_*.cpp",
};

const std::vector<std::string> kPaths = {
    "src/main.c",
    "src/lib/util.h",
    "tests/wild/wild_test.cpp",
    "docs/architecture.md",
    "lib/ks/wild/wild_match.cpp",
    "a/b/c",
    "include/orvexks/wild.h",
    "src/sub/deep.c",
};

std::vector<std::string> compiled(const std::vector<std::string> &patterns) {
  std::vector<std::string> out;
  for (const auto &p : patterns) {
    char buf[256];
    const int n = wild_compile_pattern(p.c_str(), sizeof buf, buf, nullptr);
    out.emplace_back(buf, n > 0 ? n - 1 : 0);
  }
  return out;
}

void run_wild(benchmark::State &state, const std::vector<std::string> &pats,
              const std::vector<std::string> &names, int path) {
  const auto compiled_pats = compiled(pats);
  for (auto _ : state) {
    int hits = 0;
    for (const auto &p : compiled_pats)
      for (const auto &n : names)
        hits += wild_match(p.c_str(), n.c_str(), path);
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(pats.size() * names.size()));
}

void run_fnmatch(benchmark::State &state, const std::vector<std::string> &pats,
                 const std::vector<std::string> &names, int flags) {
  for (auto _ : state) {
    int hits = 0;
    for (const auto &p : pats)
      for (const auto &n : names)
        hits += fnmatch(p.c_str(), n.c_str(), flags) == 0;
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(pats.size() * names.size()));
}

void bm_wild_names(benchmark::State &state) {
  run_wild(state, kPatterns, kNames, 0);
}
void bm_fnmatch_names(benchmark::State &state) {
  run_fnmatch(state, kPatterns, kNames, 0);
}
void bm_wild_paths(benchmark::State &state) {
  run_wild(state, kPathPatterns, kPaths, 1);
}
void bm_fnmatch_paths(benchmark::State &state) {
  run_fnmatch(state, kPathPatterns, kPaths, FNM_PATHNAME);
}

// Compiling on every call, as a caller with one name per pattern would.
void bm_wild_compile_names(benchmark::State &state) {
  for (auto _ : state) {
    int hits = 0;
    for (const auto &p : kPatterns) {
      char buf[256];
      wild_compile_pattern(p.c_str(), sizeof buf, buf, nullptr);
      for (const auto &n : kNames) hits += wild_match(buf, n.c_str(), 0);
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(
      state.iterations() *
      static_cast<int64_t>(kPatterns.size() * kNames.size()));
}

}  // namespace

BENCHMARK(bm_wild_names);
BENCHMARK(bm_fnmatch_names);
BENCHMARK(bm_wild_compile_names);
BENCHMARK(bm_wild_paths);
BENCHMARK(bm_fnmatch_paths);

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {{"bm_wild_names", "bm_fnmatch_names"},
                          {"bm_wild_compile_names", "bm_fnmatch_names"},
                          {"bm_wild_paths", "bm_fnmatch_paths"}});
}
