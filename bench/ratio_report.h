// A console reporter that, after the usual table, prints the ratio of each
// (library, peer) pair of benchmark runs: library time / peer time.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  using Pairs = std::vector<std::pair<const char *, const char *>>;

  explicit RatioReporter(Pairs pairs) : pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        cpu_[pair_name(run)].push_back(run.GetAdjustedCPUTime());
  }

  void PrintRatios() const {
    std::printf(
        "\nratio = library time / peer time (below 1: library faster)\n");
    for (const auto &[ours, peer] : pairs_) {
      auto a = cpu_.find(ours), b = cpu_.find(peer);
      if (a == cpu_.end() || b == cpu_.end()) continue;
      double theirs = median(b->second);
      if (theirs <= 0) continue;
      std::printf("ratio %-26s / %-24s = %.2f\n", ours, peer,
                  median(a->second) / theirs);
    }
  }

 private:
  // With --benchmark_repetitions (best with
  // --benchmark_enable_random_interleaving) the ratio is that of the
  // medians, which a busy machine disturbs far less than a single run.
  static double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    return n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  }

  // The name pairs use: the function, and "/" and the arguments when the
  // benchmark has some ("BM_Qsort/1000").
  static std::string pair_name(const Run &run) {
    const auto &name = run.run_name;
    return name.args.empty() ? name.function_name
                             : name.function_name + "/" + name.args;
  }

  Pairs pairs_;
  std::map<std::string, std::vector<double>> cpu_;
};

// Runs the registered benchmarks and prints the ratios of `pairs`.
inline int run_with_ratios(int argc, char **argv, RatioReporter::Pairs pairs) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(std::move(pairs));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
