// Cached account lookups against the C library's uncached NSS lookups.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <orvexks/credutl.h>

#include "ratio_report.h"

namespace {

void BM_credutl_getpwuid(benchmark::State &state) {
  const credutl_uid_t uid = getuid();
  for (auto _ : state) benchmark::DoNotOptimize(credutl_getpwuid(uid));
}
BENCHMARK(BM_credutl_getpwuid);

void BM_getpwuid_r(benchmark::State &state) {
  const uid_t uid = getuid();
  struct passwd pw, *result;
  char buf[4096];
  for (auto _ : state) {
    getpwuid_r(uid, &pw, buf, sizeof buf, &result);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_getpwuid_r);

void BM_credutl_getgrsid(benchmark::State &state) {
  credutl_sid_t sid;
  credutl_gid_to_sid(&sid, getgid());
  for (auto _ : state) benchmark::DoNotOptimize(credutl_getgrsid(&sid));
}
BENCHMARK(BM_credutl_getgrsid);

void BM_getgrgid_r(benchmark::State &state) {
  const gid_t gid = getgid();
  struct group gr, *result;
  char buf[4096];
  for (auto _ : state) {
    getgrgid_r(gid, &gr, buf, sizeof buf, &result);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_getgrgid_r);

}  // namespace

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {{"BM_credutl_getpwuid", "BM_getpwuid_r"},
                          {"BM_credutl_getgrsid", "BM_getgrgid_r"}});
}
