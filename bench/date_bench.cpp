// date_str_to_time against the C library's strptime (followed by the
// conversion to a time, as a caller would need) on the same ISO 8601 and
// classic texts, in the same run. After the usual table, a summary prints
// each ratio (library time / peer time).
#include <benchmark/benchmark.h>

#include <orvexks/date.h>

#include <cstdlib>
#include <ctime>

#include "ratio_report.h"

namespace {

constexpr const char *kIsoText = "2024-01-03T09:05:07Z";
constexpr const char *kIsoFormat = "%Y-%m-%dT%H:%M:%SZ";
constexpr const char *kClassicText = "03-Jan-24.09:05:07";
constexpr const char *kClassicFormat = "%d-%b-%y.%H:%M:%S";

void BM_DateStrToTimeIso(benchmark::State &state) {
  time_t t = 0;
  for (auto _ : state) {
    if (date_str_to_time(kIsoText, &t) != 0)
      state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(t);
  }
}

void BM_StrptimeIso(benchmark::State &state) {
  for (auto _ : state) {
    struct tm tm = {};
    if (strptime(kIsoText, kIsoFormat, &tm) == nullptr)
      state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(timegm(&tm));
  }
}

void BM_DateStrToTimeClassic(benchmark::State &state) {
  time_t t = 0;
  for (auto _ : state) {
    if (date_str_to_time(kClassicText, &t) != 0)
      state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(t);
  }
}

void BM_StrptimeClassic(benchmark::State &state) {
  for (auto _ : state) {
    struct tm tm = {};
    if (strptime(kClassicText, kClassicFormat, &tm) == nullptr)
      state.SkipWithError("parse failed");
    tm.tm_isdst = -1;
    benchmark::DoNotOptimize(mktime(&tm));
  }
}

BENCHMARK(BM_DateStrToTimeIso);
BENCHMARK(BM_StrptimeIso);
BENCHMARK(BM_DateStrToTimeClassic);
BENCHMARK(BM_StrptimeClassic);

}  // namespace

int main(int argc, char **argv) {
  // A fixed zone keeps local conversions comparable between runs.
  setenv("TZ", "UTC0", 1);
  tzset();
  return run_with_ratios(argc, argv,
                         {{"BM_DateStrToTimeIso", "BM_StrptimeIso"},
                          {"BM_DateStrToTimeClassic", "BM_StrptimeClassic"}});
}
