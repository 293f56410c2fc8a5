// The product's file checksum against zlib's crc32, the checksum a user
// would otherwise reach for, over the same buffers. zlib's is a speed
// reference only: the two give different values. The product's checksum
// is defined byte by byte (a zero table index takes a running counter), so
// it cannot use zlib's multi-byte tables.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include "ratio_report.h"

#include <orvexks/fileutl.h>

#include <random>
#include <vector>

namespace {

std::vector<unsigned char> random_buffer(size_t size) {
  std::mt19937 gen(42);
  std::vector<unsigned char> buf(size);
  for (unsigned char &c : buf) c = static_cast<unsigned char>(gen());
  return buf;
}

void bm_fileutl_crc(benchmark::State &state) {
  const auto buf = random_buffer(static_cast<size_t>(state.range(0)));
  uint32_t crc = 0;
  for (auto _ : state) {
    fileutl_crc_buffer(buf.data(), buf.size(), &crc);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void bm_zlib_crc32(benchmark::State &state) {
  const auto buf = random_buffer(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    uLong crc = crc32(0L, buf.data(), static_cast<uInt>(buf.size()));
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(bm_fileutl_crc)->Arg(4096)->Arg(1 << 20);
BENCHMARK(bm_zlib_crc32)->Arg(4096)->Arg(1 << 20);

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {{"bm_fileutl_crc/4096", "bm_zlib_crc32/4096"},
                          {"bm_fileutl_crc/1048576", "bm_zlib_crc32/1048576"}});
}
