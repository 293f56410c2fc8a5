// Delivering a table message with imsg_print into a log file against
// fprintf of the same text to a file, in the same run; the summary prints
// the ratio.
#include <benchmark/benchmark.h>

#include <orvexks/imsg.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "ratio_report.h"

namespace {

const char *const kTexts[] = {"Unable to open file \"%s\": error %d\n"};
const int16_t kIds[] = {1};
const ks_msg_table_t kTable = {"ks_lib", "bench", 6, 1, kTexts, kIds};

std::string bench_file(const char *name) {
  return "/tmp/imsg_print_bench_" + std::string(name) + "_" +
         std::to_string(getpid());
}

void BM_ImsgPrintToLogFile(benchmark::State &state) {
  std::string path = bench_file("log");
  imsg_start_log_file(path.c_str());
  for (auto _ : state)
    imsg_print(IMSG_OUTPUT, &kTable, 0, "/var/tmp/some/file.txt", 13);
  imsg_end_log_file();
  unlink(path.c_str());
}

// The same text written and flushed per message, as delivery does.
void BM_FprintfToFile(benchmark::State &state) {
  std::string path = bench_file("stdio");
  FILE *file = std::fopen(path.c_str(), "w+");
  const char *volatile format =
      kTexts[0];  // not a constant the compiler can fold
  for (auto _ : state) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::fprintf(file, format, "/var/tmp/some/file.txt", 13);
#pragma GCC diagnostic pop
    std::fflush(file);
  }
  std::fclose(file);
  unlink(path.c_str());
}

BENCHMARK(BM_ImsgPrintToLogFile);
BENCHMARK(BM_FprintfToFile);

}  // namespace

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {{"BM_ImsgPrintToLogFile", "BM_FprintfToFile"}});
}
