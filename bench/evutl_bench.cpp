// Environment objects against the C library's own environment: lookups
// and replacements over 100 variables, the same names and values on both
// sides, in the same run. After the usual table, a summary prints each
// ratio (library time / peer time).
#include <benchmark/benchmark.h>

#include "ratio_report.h"

#include <orvexks/evutl.h>
#include <orvexks/stg.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kVariables = 100;

// Names of typical shapes and lengths ("QUILL_VAR_17_PATH"), values of a
// few dozen bytes.
struct Corpus {
  std::vector<std::string> names;
  std::vector<std::string> values[2];
  Corpus() {
    for (int i = 0; i < kVariables; ++i) {
      names.push_back("QUILL_VAR_" + std::to_string(i) + "_PATH");
      values[0].push_back("/opt/quillmere/" + std::to_string(i) +
                          "/bin:/usr/bin");
      values[1].push_back("/srv/other/" + std::to_string(i * 31) + "/lib");
    }
  }
};

const Corpus &corpus() {
  static const Corpus c;
  return c;
}

evutl_env_t *filled_object() {
  evutl_env_t *env = nullptr;
  evutl_alloc(STG_AREA_HEAP, &env);
  for (int i = 0; i < kVariables; ++i)
    evutl_setenv2(env, corpus().names[i].c_str(),
                  corpus().values[0][i].c_str());
  return env;
}

// The process environment holds exactly the same 100 variables.
void fill_process_environment() {
  clearenv();
  for (int i = 0; i < kVariables; ++i)
    setenv(corpus().names[i].c_str(), corpus().values[0][i].c_str(), 1);
}

void BM_EvutlGetenv(benchmark::State &state) {
  evutl_env_t *env = filled_object();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(evutl_getenv(env, corpus().names[i].c_str()));
    i = i + 1 == kVariables ? 0 : i + 1;
  }
  evutl_free(env);
}

void BM_GlibcGetenv(benchmark::State &state) {
  fill_process_environment();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(getenv(corpus().names[i].c_str()));
    i = i + 1 == kVariables ? 0 : i + 1;
  }
}

// Every call replaces a value, alternating between two per variable.
void BM_EvutlSetenv(benchmark::State &state) {
  evutl_env_t *env = filled_object();
  int i = 0, round = 1;
  for (auto _ : state) {
    evutl_setenv2(env, corpus().names[i].c_str(),
                  corpus().values[round][i].c_str());
    if (++i == kVariables) i = 0, round ^= 1;
  }
  evutl_free(env);
}

void BM_GlibcSetenv(benchmark::State &state) {
  fill_process_environment();
  int i = 0, round = 1;
  for (auto _ : state) {
    setenv(corpus().names[i].c_str(), corpus().values[round][i].c_str(), 1);
    if (++i == kVariables) i = 0, round ^= 1;
  }
}

BENCHMARK(BM_EvutlGetenv);
BENCHMARK(BM_GlibcGetenv);
BENCHMARK(BM_EvutlSetenv);
BENCHMARK(BM_GlibcSetenv);

}  // namespace

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {
                             {"BM_EvutlGetenv", "BM_GlibcGetenv"},
                             {"BM_EvutlSetenv", "BM_GlibcSetenv"},
                         });
}
