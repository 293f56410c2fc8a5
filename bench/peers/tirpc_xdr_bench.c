/* The foreign side of xdr_bench: the same rows coded by the system's ONC
 * RPC library on memory streams. */
#include <rpc/rpc.h>
#include <stdlib.h>
#include <string.h>

#include "tirpc_bench.h"
#include "xdr_bench_rows.h"

static char buffer[XDR_BENCH_BUFFER_SIZE] __attribute__((aligned(8)));
static u_int words[XDR_BENCH_WORDS];
static char *strings[XDR_BENCH_STRINGS];

static void encode_words(void *unused) {
  (void)unused;
  XDR xdrs;
  u_int *elements = words, count = XDR_BENCH_WORDS;
  xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
  if (!xdr_array(&xdrs, (char **)&elements, &count, ~0u, sizeof(u_int),
                 (xdrproc_t)xdr_u_int))
    abort();
}

static void decode_words(void *unused) {
  (void)unused;
  XDR xdrs;
  u_int *elements = words, count = 0;
  xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_DECODE);
  if (!xdr_array(&xdrs, (char **)&elements, &count, ~0u, sizeof(u_int),
                 (xdrproc_t)xdr_u_int))
    abort();
}

static void encode_strings(void *unused) {
  (void)unused;
  XDR xdrs;
  char **elements = strings;
  u_int count = XDR_BENCH_STRINGS;
  xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
  if (!xdr_array(&xdrs, (char **)&elements, &count, ~0u, sizeof(char *),
                 (xdrproc_t)xdr_wrapstring))
    abort();
}

static bool_t string_array(XDR *xdrs, char ***elements, u_int *count) {
  return xdr_array(xdrs, (char **)elements, count, ~0u, sizeof(char *),
                   (xdrproc_t)xdr_wrapstring);
}

static void decode_strings(void *unused) {
  (void)unused;
  XDR xdrs;
  char **elements = NULL;
  u_int count = 0;
  xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_DECODE);
  if (!string_array(&xdrs, &elements, &count)) abort();
  XDR freeing;
  freeing.x_op = XDR_FREE;
  string_array(&freeing, &elements, &count);
}

int main(void) {
  static char names[XDR_BENCH_STRINGS][16];
  for (u_int i = 0; i < XDR_BENCH_WORDS; ++i) words[i] = i * 2654435761u;
  for (int i = 0; i < XDR_BENCH_STRINGS; ++i) {
    xdr_bench_string(names[i], sizeof names[i], i);
    strings[i] = names[i];
  }
  tirpc_bench_row(XDR_BENCH_ROW_ENCODE_WORDS, encode_words, NULL);
  tirpc_bench_row(XDR_BENCH_ROW_DECODE_WORDS, decode_words, NULL);
  tirpc_bench_row(XDR_BENCH_ROW_ENCODE_STRINGS, encode_strings, NULL);
  encode_strings(NULL); /* the buffer holds strings for the decode row */
  tirpc_bench_row(XDR_BENCH_ROW_DECODE_STRINGS, decode_strings, NULL);
  return 0;
}
