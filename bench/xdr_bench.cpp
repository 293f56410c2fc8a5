// XDR filters on memory streams against the system's ONC RPC library, which
// runs as a separate program in the same run: arrays of 100,000 u_int and
// of 10,000 short strings, encoded and decoded.
#include <orvexks/rpc/xdr.h>

#include <cstdlib>

#include "peer_ratio.h"
#include "peers/xdr_bench_rows.h"

namespace {

alignas(8) char buffer[XDR_BENCH_BUFFER_SIZE];
unsigned int words[XDR_BENCH_WORDS];
char names[XDR_BENCH_STRINGS][16];
char *strings[XDR_BENCH_STRINGS];

bool_t word_array(XDR *xdrs, unsigned int **elements, uint32_t *count) {
  return xdr_array(xdrs, reinterpret_cast<char **>(elements), count, UINT32_MAX,
                   sizeof(unsigned int),
                   reinterpret_cast<xdrproc_t>(xdr_u_int));
}

bool_t string_array(XDR *xdrs, char ***elements, uint32_t *count) {
  return xdr_array(xdrs, reinterpret_cast<char **>(elements), count, UINT32_MAX,
                   sizeof(char *), reinterpret_cast<xdrproc_t>(xdr_wrapstring));
}

void prepare() {
  for (uint32_t i = 0; i < XDR_BENCH_WORDS; ++i) words[i] = i * 2654435761u;
  for (int i = 0; i < XDR_BENCH_STRINGS; ++i) {
    xdr_bench_string(names[i], sizeof names[i], i);
    strings[i] = names[i];
  }
}

void encode_words(benchmark::State &state) {
  for (auto _ : state) {
    XDR xdrs;
    unsigned int *elements = words;
    uint32_t count = XDR_BENCH_WORDS;
    xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
    if (!word_array(&xdrs, &elements, &count)) std::abort();
    benchmark::ClobberMemory();
  }
}

void decode_words(benchmark::State &state) {
  for (auto _ : state) {
    XDR xdrs;
    unsigned int *elements = words;
    uint32_t count = 0;
    xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_DECODE);
    if (!word_array(&xdrs, &elements, &count)) std::abort();
    benchmark::ClobberMemory();
  }
}

void encode_strings(benchmark::State &state) {
  for (auto _ : state) {
    XDR xdrs;
    char **elements = strings;
    uint32_t count = XDR_BENCH_STRINGS;
    xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
    if (!string_array(&xdrs, &elements, &count)) std::abort();
    benchmark::ClobberMemory();
  }
}

// Decoding allocates every string; freeing them is part of the row.
void decode_strings(benchmark::State &state) {
  XDR fill;
  char **elements = strings;
  uint32_t count = XDR_BENCH_STRINGS;
  xdrmem_create(&fill, buffer, sizeof buffer, XDR_ENCODE);
  if (!string_array(&fill, &elements, &count)) std::abort();
  for (auto _ : state) {
    XDR xdrs;
    char **decoded = nullptr;
    uint32_t n = 0;
    xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_DECODE);
    if (!string_array(&xdrs, &decoded, &n)) std::abort();
    XDR freeing;
    freeing.x_op = XDR_FREE;
    string_array(&freeing, &decoded, &n);
  }
}

}  // namespace

BENCHMARK(encode_words)->Name(XDR_BENCH_ROW_ENCODE_WORDS);
BENCHMARK(decode_words)->Name(XDR_BENCH_ROW_DECODE_WORDS);
BENCHMARK(encode_strings)->Name(XDR_BENCH_ROW_ENCODE_STRINGS);
BENCHMARK(decode_strings)->Name(XDR_BENCH_ROW_DECODE_STRINGS);

int main(int argc, char **argv) {
  prepare();
#ifdef TIRPC_BENCH_PATH
  return run_against_peer(argc, argv, TIRPC_BENCH_PATH);
#else
  return run_against_peer(argc, argv, nullptr);
#endif
}
