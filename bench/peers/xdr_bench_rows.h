/* The rows of xdr_bench, shared by the library's benchmark and its foreign
 * peer so that both code the same data. */
#pragma once

#include <stdio.h>

#define XDR_BENCH_WORDS 100000
#define XDR_BENCH_STRINGS 10000
#define XDR_BENCH_BUFFER_SIZE (4 * XDR_BENCH_WORDS + 64)

#define XDR_BENCH_ROW_ENCODE_WORDS "encode_u_int_array_100000"
#define XDR_BENCH_ROW_DECODE_WORDS "decode_u_int_array_100000"
#define XDR_BENCH_ROW_ENCODE_STRINGS "encode_strings_10000"
#define XDR_BENCH_ROW_DECODE_STRINGS "decode_strings_10000"

/* Short strings of 5 to 10 bytes. */
static inline void xdr_bench_string(char *dst, size_t size, int i) {
  snprintf(dst, size, "f%0*d", 4 + i % 6, i);
}
