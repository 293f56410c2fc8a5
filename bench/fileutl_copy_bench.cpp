// Copying a 256 MiB file: fileutl_cp against the system's
// `cp --reflink=never`, run as a child process in the same run, between
// the same two paths of one file system. Times are wall-clock (the peer's
// work is in another process), and the ratio is library / cp. The target
// is removed before each copy, untimed, so both create a new file.
#include <benchmark/benchmark.h>

#include <orvexks/fileutl.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

extern char **environ;

namespace {

constexpr size_t kFileSize = size_t{256} << 20;

struct Files {
  std::string dir, src, dst;
};

// The source file, made once per run in a temporary directory.
const Files &files() {
  static const Files made = [] {
    char tmpl[] = "/tmp/fileutl_copy_bench_XXXXXX";
    Files f;
    f.dir = mkdtemp(tmpl);
    f.src = f.dir + "/src";
    f.dst = f.dir + "/dst";
    std::vector<char> block(1 << 20);
    std::mt19937 gen(1);
    std::ofstream out(f.src, std::ios::binary);
    for (size_t done = 0; done < kFileSize; done += block.size()) {
      for (char &c : block) c = static_cast<char>(gen());
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return f;
  }();
  return made;
}

void bm_fileutl_cp(benchmark::State &state) {
  const Files &f = files();
  for (auto _ : state) {
    state.PauseTiming();
    unlink(f.dst.c_str());
    state.ResumeTiming();
    if (fileutl_cp(f.src.c_str(), f.dst.c_str(), 0) != 0)
      state.SkipWithError("fileutl_cp failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}

void bm_cp_reflink_never(benchmark::State &state) {
  const Files &f = files();
  const char *argv[] = {"cp", "--reflink=never", f.src.c_str(), f.dst.c_str(),
                        nullptr};
  for (auto _ : state) {
    state.PauseTiming();
    unlink(f.dst.c_str());
    state.ResumeTiming();
    pid_t pid;
    int status = 0;
    if (posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char **>(argv),
                     environ) != 0 ||
        waitpid(pid, &status, 0) != pid || status != 0)
      state.SkipWithError("cp failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}

// Prints library / cp from the wall-clock times after the usual table.
class WallRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        real_[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
  }
  void PrintRatio(const char *ours, const char *peer) {
    if (real_[ours].empty() || real_[peer].empty()) return;
    std::printf(
        "\nratio = library time / peer time (below 1: library "
        "faster)\nratio %s / %s = %.2f\n",
        ours, peer, median(real_[ours]) / median(real_[peer]));
  }

 private:
  static double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    return n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  }
  std::map<std::string, std::vector<double>> real_;
};

}  // namespace

BENCHMARK(bm_fileutl_cp)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(bm_cp_reflink_never)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  WallRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio("bm_fileutl_cp", "bm_cp_reflink_never");
  benchmark::Shutdown();
  const std::string cleanup = "rm -rf '" + files().dir + "'";
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
