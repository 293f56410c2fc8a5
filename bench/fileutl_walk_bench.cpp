// Walking a tree of 20,000 files against glibc's nftw, the walker a C
// program would otherwise use. Both see every entry with its status
// (following links) and count the files; the tree is made once per run in
// a temporary directory (100 directories of 200 files) and removed at the
// end.
#include <benchmark/benchmark.h>

#include "ratio_report.h"

#include <orvexks/fileutl.h>

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kDirs = 100;
constexpr int kFilesPerDir = 200;

std::string tree_root;

void make_tree() {
  char tmpl[] = "/tmp/fileutl_walk_bench_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) std::abort();
  tree_root = tmpl;
  for (int d = 0; d < kDirs; ++d) {
    const std::string dir = tree_root + "/dir" + std::to_string(d);
    mkdir(dir.c_str(), 0755);
    for (int f = 0; f < kFilesPerDir; ++f) {
      FILE *file = std::fopen((dir + "/file" + std::to_string(f)).c_str(), "w");
      if (file != nullptr) std::fclose(file);
    }
  }
}

int count_file(void *arg, const char *, const char *, const char *,
               const char *, const struct stat *st, int, int) {
  if (S_ISREG(st->st_mode)) ++*static_cast<long *>(arg);
  return 0;
}

void bm_fileutl_walk_tree(benchmark::State &state) {
  long files = 0;
  fileutl_visitor_t counter = {nullptr, FILEUTL_VISIT_BEFORE, count_file,
                               &files};
  for (auto _ : state) {
    files = 0;
    fileutl_walk_tree(tree_root.c_str(), &counter, FILEUTL_WALK_DESCEND);
    if (files != kDirs * kFilesPerDir) state.SkipWithError("files missed");
  }
  state.SetItemsProcessed(state.iterations() * kDirs * kFilesPerDir);
}

long nftw_files;

int nftw_count(const char *, const struct stat *st, int type, struct FTW *) {
  if (type == FTW_F && S_ISREG(st->st_mode)) ++nftw_files;
  return 0;
}

void bm_nftw(benchmark::State &state) {
  for (auto _ : state) {
    nftw_files = 0;
    nftw(tree_root.c_str(), nftw_count, 64, 0);
    if (nftw_files != kDirs * kFilesPerDir) state.SkipWithError("files missed");
  }
  state.SetItemsProcessed(state.iterations() * kDirs * kFilesPerDir);
}

}  // namespace

BENCHMARK(bm_fileutl_walk_tree)->Unit(benchmark::kMillisecond);
BENCHMARK(bm_nftw)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
  make_tree();
  const int rc =
      run_with_ratios(argc, argv, {{"bm_fileutl_walk_tree", "bm_nftw"}});
  std::system(("rm -rf '" + tree_root + "'").c_str());
  return rc;
}
