// Benchmarks whose peer runs as a separate program (a foreign library that
// must never share a process with ours). The peer prints "ROW NS_PER_OP"
// lines; the library's benchmarks carry the same names (the row, without
// the suffixes such as "/process_time" that options add), and after the
// usual table this prints library time / peer time for every row both
// sides have.
//
// With --benchmark_repetitions=N the library's rows and the peer program
// take turns N times, and each side's time is the median of its N runs.
// Taking turns puts both sides in the same stretch of time: on a small
// machine the scheduler's placement of client and server drifts over
// seconds, and a median of runs taken one side after the other measures
// that drift as much as the code.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

class PeerRatioReporter : public benchmark::ConsoleReporter {
 public:
  using Times = std::map<std::string, std::vector<double>>;

  // The context (machine, caches, load) once, not once per turn.
  bool ReportContext(const Context &context) override {
    if (context_printed_) return true;
    context_printed_ = true;
    return ConsoleReporter::ReportContext(context);
  }

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        ns_[run.run_name.function_name].push_back(
            run.GetAdjustedCPUTime() *
            benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
            benchmark::GetTimeUnitMultiplier(run.time_unit));
  }

  // Runs the peer program once and keeps its rows.
  void RunPeer(const char *peer_path) {
    if (FILE *pipe = popen(peer_path, "r")) {
      char row[128];
      double ns;
      while (std::fscanf(pipe, "%127s %lf", row, &ns) == 2)
        peer_[row].push_back(ns);
      pclose(pipe);
    }
  }

  // One ratio of medians per row both sides have.
  void PrintRatios(const char *peer_path) const {
    if (peer_.empty()) {
      std::printf("\npeer %s gave no timings\n", peer_path);
      return;
    }
    std::printf("\n%-32s %14s %14s %8s\n", "row", "library ns", "peer ns",
                "ratio");
    for (const auto &[row, times] : peer_) {
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

  bool context_printed_ = false;
  Times ns_;
  Times peer_;
};

// Takes --benchmark_repetitions=N out of the arguments: the turns below
// repeat the runs instead. 1 when it is absent.
inline int take_repetitions(int *argc, char **argv) {
  static const char kFlag[] = "--benchmark_repetitions=";
  int turns = 1;
  int kept = 0;
  for (int i = 0; i < *argc; ++i) {
    if (std::strncmp(argv[i], kFlag, sizeof kFlag - 1) == 0)
      turns = std::max(1, std::atoi(argv[i] + sizeof kFlag - 1));
    else
      argv[kept++] = argv[i];
  }
  *argc = kept;
  return turns;
}

// Runs the registered benchmarks and the peer in turns, then prints the
// ratios.
inline int run_against_peer(int argc, char **argv, const char *peer_path) {
  int turns = take_repetitions(&argc, argv);
  benchmark::Initialize(&argc, argv);
  PeerRatioReporter reporter;
  for (int turn = 0; turn < turns; ++turn) {
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (peer_path != nullptr) reporter.RunPeer(peer_path);
  }
  if (peer_path != nullptr) reporter.PrintRatios(peer_path);
  benchmark::Shutdown();
  return 0;
}
