/* Timing for the foreign peers of the benchmarks: programs linked only with
 * the system's ONC RPC library. Each prints one line per row,
 * "ROW NS_PER_OP", that the library's own benchmark program of the same
 * name reads to print its ratios. */
#pragma once

#include <stdio.h>
#include <time.h>

static inline double tirpc_bench_cpu_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e9 + ts.tv_nsec;
}

/* Runs op(arg) repeatedly for about half a second of CPU time after a
 * short warm-up, and prints the mean CPU time of one run. */
static inline void tirpc_bench_row(const char *row, void (*op)(void *),
                                   void *arg) {
  for (int i = 0; i < 3; ++i) op(arg);
  long runs = 0;
  double start = tirpc_bench_cpu_ns(), now = start;
  do {
    for (int i = 0; i < 8; ++i) op(arg);
    runs += 8;
    now = tirpc_bench_cpu_ns();
  } while (now - start < 5e8);
  printf("%s %.1f\n", row, (now - start) / (double)runs);
}
