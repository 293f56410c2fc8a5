// Benchmarks whose peer runs as a separate program (a foreign library that
// must never share a process with ours). The peer prints "ROW NS_PER_OP"
// lines; the library's benchmarks carry the same row names, and after the
// usual table this prints library time / peer time for every row both
// sides have.
//
// With --benchmark_repetitions=N the library's time is the median of its N
// runs, and the peer program runs N times too, its time the median of
// those: a busy machine disturbs a median far less than a single run, and
// both sides are then measured over the same stretch of time.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

class PeerRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        ns_[run.run_name.str()].push_back(
            run.GetAdjustedCPUTime() *
            benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
            benchmark::GetTimeUnitMultiplier(run.time_unit));
  }

  // Runs the peer program as often as the library's rows ran and prints
  // one ratio of medians per shared row.
  void PrintRatios(const char *peer_path) const {
    size_t runs = 1;
    for (const auto &entry : ns_) runs = std::max(runs, entry.second.size());
    std::map<std::string, std::vector<double>> peer;
    for (size_t i = 0; i < runs; ++i) {
      if (FILE *pipe = popen(peer_path, "r")) {
        char row[128];
        double ns;
        while (std::fscanf(pipe, "%127s %lf", row, &ns) == 2)
          peer[row].push_back(ns);
        pclose(pipe);
      }
    }
    if (peer.empty()) {
      std::printf("\npeer %s gave no timings\n", peer_path);
      return;
    }
    std::printf("\n%-32s %14s %14s %8s\n", "row", "library ns", "peer ns",
                "ratio");
    for (const auto &[row, times] : peer) {
      auto ours = ns_.find(row);
      double theirs = median(times);
      if (ours == ns_.end() || theirs <= 0) continue;
      double mine = median(ours->second);
      std::printf("%-32s %14.0f %14.0f %8.2f\n", row.c_str(), mine, theirs,
                  mine / theirs);
    }
    std::printf("ratio = library time / peer time (below 1: library faster)\n");
  }

 private:
  static double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    return n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  }

  std::map<std::string, std::vector<double>> ns_;
};

// Runs the registered benchmarks, then the peer, and prints the ratios.
inline int run_against_peer(int argc, char **argv, const char *peer_path) {
  benchmark::Initialize(&argc, argv);
  PeerRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (peer_path != nullptr) reporter.PrintRatios(peer_path);
  benchmark::Shutdown();
  return 0;
}
