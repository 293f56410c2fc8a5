// Block compression against zlib at level 1 (compress2 / uncompress), the
// fast setting a user would otherwise pick, on the same corpora in the same
// run: a source-like text and a binary file of structured records, both
// generated here from fixed seeds. Each run also reports the compressed
// size as a fraction of the input ("ratio" counter).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include "ratio_report.h"

#include <orvexks/compress.h>
#include <orvexks/stg.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;
constexpr size_t kCorpusBytes = 1 << 20;

// Lines of C-like statements over a vocabulary of identifiers, with
// varying numbers and indentation.
bytes text_corpus() {
  static const char *const kWords[] = {
      "count",  "buffer", "length", "result", "status", "handle", "offset",
      "area",   "index",  "table",  "entry",  "name",   "flags",  "value",
      "cursor", "node",   "next",   "prev",   "size",   "limit"};
  static const char *const kForms[] = {
      "%sif (%s_%s == NULL) return %d;\n",
      "%sfor (size_t %s = 0; %s < %d; ++i) {\n",
      "%s%s->%s = stg_alloc(area, %d);\n",
      "%s/* the %s of the %s, at most %d */\n",
      "%sreturn %s_%s(%d);\n",
      "%s}\n"};
  std::mt19937 gen(1);
  std::string out;
  char line[160];
  while (out.size() < kCorpusBytes) {
    const std::string indent(2 * (gen() % 4), ' ');
    snprintf(line, sizeof line, kForms[gen() % 6], indent.c_str(),
             kWords[gen() % 20], kWords[gen() % 20],
             static_cast<int>(gen() % 1000));
    out += line;
  }
  return bytes(out.begin(), out.begin() + kCorpusBytes);
}

// 32-byte records: a counter, a time stamp rising by small steps, two
// slowly varying floats, a type from a small set, a random key and zeros.
bytes binary_corpus() {
  std::mt19937 gen(2);
  bytes out;
  uint32_t stamp = 1700000000;
  for (uint32_t i = 0; out.size() < kCorpusBytes; ++i) {
    unsigned char rec[32] = {};
    stamp += gen() % 16;
    const float a = static_cast<float>(i % 360) * 0.5f;
    const float b = 100.0f + static_cast<float>(gen() % 8);
    const uint32_t type = 1u << (gen() % 4), key = gen();
    std::memcpy(rec, &i, 4);
    std::memcpy(rec + 4, &stamp, 4);
    std::memcpy(rec + 8, &a, 4);
    std::memcpy(rec + 12, &b, 4);
    std::memcpy(rec + 16, &type, 4);
    std::memcpy(rec + 20, &key, 4);
    out.insert(out.end(), rec, rec + 32);
  }
  out.resize(kCorpusBytes);
  return out;
}

const bytes &corpus(int which) {
  static const bytes text = text_corpus(), binary = binary_corpus();
  return which == 0 ? text : binary;
}

void finish(benchmark::State &state, size_t in, size_t packed) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in));
  state.counters["ratio"] =
      static_cast<double>(packed) / static_cast<double>(in);
}

void bm_compress(benchmark::State &state) {
  const bytes &in = corpus(static_cast<int>(state.range(0)));
  uint64_t len = 0;
  for (auto _ : state) {
    void *block = compress_compress(in.size(), in.data(), &len);
    benchmark::DoNotOptimize(block);
    stg_free(block);
  }
  finish(state, in.size(), len);
}

void bm_zlib_compress(benchmark::State &state) {
  const bytes &in = corpus(static_cast<int>(state.range(0)));
  bytes out(compressBound(in.size()));
  uLongf len = 0;
  for (auto _ : state) {
    len = out.size();
    compress2(out.data(), &len, in.data(), in.size(), 1);
    benchmark::DoNotOptimize(out.data());
  }
  finish(state, in.size(), len);
}

void bm_uncompress(benchmark::State &state) {
  const bytes &in = corpus(static_cast<int>(state.range(0)));
  uint64_t packed = 0, len = 0;
  void *block = compress_compress(in.size(), in.data(), &packed);
  for (auto _ : state) {
    void *data = compress_uncompress(packed, block, &len);
    benchmark::DoNotOptimize(data);
    stg_free(data);
  }
  stg_free(block);
  if (len != in.size()) state.SkipWithError("round trip lost bytes");
  finish(state, in.size(), packed);
}

void bm_zlib_uncompress(benchmark::State &state) {
  const bytes &in = corpus(static_cast<int>(state.range(0)));
  bytes packed(compressBound(in.size())), out(in.size());
  uLongf packed_len = packed.size();
  compress2(packed.data(), &packed_len, in.data(), in.size(), 1);
  for (auto _ : state) {
    uLongf len = out.size();
    uncompress(out.data(), &len, packed.data(), packed_len);
    benchmark::DoNotOptimize(out.data());
  }
  finish(state, in.size(), packed_len);
}

}  // namespace

// Argument 0: the text corpus; 1: the binary corpus.
BENCHMARK(bm_compress)->Arg(0)->Arg(1);
BENCHMARK(bm_zlib_compress)->Arg(0)->Arg(1);
BENCHMARK(bm_uncompress)->Arg(0)->Arg(1);
BENCHMARK(bm_zlib_uncompress)->Arg(0)->Arg(1);

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {{"bm_compress/0", "bm_zlib_compress/0"},
                          {"bm_compress/1", "bm_zlib_compress/1"},
                          {"bm_uncompress/0", "bm_zlib_uncompress/0"},
                          {"bm_uncompress/1", "bm_zlib_uncompress/1"}});
}
