// The option scanner against glibc's getopt_long on the same argument
// vectors: every option and option argument of the vector is taken, then
// the operands. The scanner's time includes building and freeing its
// handle (the words are copied); getopt_long works on the caller's vector.
#include <benchmark/benchmark.h>

#include "ratio_report.h"

#include <orvexks/cl.h>

#include <getopt.h>

#include <string>
#include <vector>

namespace {

// A tool's vector: clustered letters, options with arguments, operands.
std::vector<std::string> make_words(int repeat) {
  std::vector<std::string> words = {"tool"};
  for (int i = 0; i < repeat; ++i) {
    for (const char *w : {"-a", "-bc", "-o", "out.txt", "-v", "-d", "dir"})
      words.emplace_back(w);
  }
  for (int i = 0; i < 4; ++i) words.push_back("operand" + std::to_string(i));
  return words;
}

void bm_cl_getopt(benchmark::State &state) {
  std::vector<std::string> words = make_words(static_cast<int>(state.range(0)));
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  for (auto _ : state) {
    int status = 0;
    cl_handle_t *h =
        cl_parse_argv(static_cast<int>(argv.size()), argv.data(), &status);
    long sum = 0;
    for (int c; (c = cl_getopt(h, "abcvod")) != 0;) {
      sum += c;
      if (c == 'o' || c == 'd') sum += cl_getarg(h)[0];
    }
    while (const char *operand = cl_getarg(h)) sum += operand[0];
    benchmark::DoNotOptimize(sum);
    cl_destroy(&h);
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(argv.size()));
}

void bm_getopt_long(benchmark::State &state) {
  std::vector<std::string> words = make_words(static_cast<int>(state.range(0)));
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  static const option kLong[] = {{"verbose", no_argument, nullptr, 'v'},
                                 {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (auto _ : state) {
    optind = 0;  // a full restart of the scan
    long sum = 0;
    for (int c; (c = getopt_long(static_cast<int>(argv.size()) - 1, argv.data(),
                                 "+abcvo:d:", kLong, nullptr)) != -1;) {
      sum += c;
      if (c == 'o' || c == 'd') sum += optarg[0];
    }
    for (int i = optind; i < static_cast<int>(argv.size()) - 1; ++i)
      sum += argv[i][0];
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(argv.size() - 1));
}

}  // namespace

BENCHMARK(bm_cl_getopt)->Arg(1)->Arg(8)->Arg(64);
BENCHMARK(bm_getopt_long)->Arg(1)->Arg(8)->Arg(64);

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {{"bm_cl_getopt/1", "bm_getopt_long/1"},
                          {"bm_cl_getopt/8", "bm_getopt_long/8"},
                          {"bm_cl_getopt/64", "bm_getopt_long/64"}});
}
