// Benchmarks whose peer runs as a separate program (a foreign library that
// must never share a process with ours). The peer prints "ROW NS_PER_OP"
// lines; the library's benchmarks carry the same row names, and after the
// usual table this prints library time / peer time for every row both
// sides have.
#pragma once

#include <benchmark/benchmark.h>

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
        ns_[run.benchmark_name()] =
            run.GetAdjustedCPUTime() *
            benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
            benchmark::GetTimeUnitMultiplier(run.time_unit);
  }

  // Runs the peer program and prints one ratio per shared row.
  void PrintRatios(const char *peer_path) const {
    std::map<std::string, double> peer;
    std::string command = std::string(peer_path);
    if (FILE *pipe = popen(command.c_str(), "r")) {
      char row[128];
      double ns;
      while (std::fscanf(pipe, "%127s %lf", row, &ns) == 2) peer[row] = ns;
      pclose(pipe);
    }
    if (peer.empty()) {
      std::printf("\npeer %s gave no timings\n", peer_path);
      return;
    }
    std::printf("\n%-32s %14s %14s %8s\n", "row", "library ns", "peer ns",
                "ratio");
    for (const auto &[row, theirs] : peer) {
      auto ours = ns_.find(row);
      if (ours == ns_.end() || theirs <= 0) continue;
      std::printf("%-32s %14.0f %14.0f %8.2f\n", row.c_str(), ours->second,
                  theirs, ours->second / theirs);
    }
    std::printf("ratio = library time / peer time (below 1: library faster)\n");
  }

 private:
  std::map<std::string, double> ns_;
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
