// The library's one low-level reporter: a line on standard error for code
// that cannot use message output, because it sits below it (the threads
// and fault layers), runs while message output may be broken or locked
// (aborts, the catalog reader under the message lock), or is told by its
// interface to write to standard error directly (low-level RPC failures).
//
// The line is formatted on the stack and written with one write(2), so it
// takes no lock, allocates nothing, and lines of different threads never
// mix. A line longer than kKsiReportMax bytes is cut; a final newline is
// added when the text has none.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include <orvexks/ks_base.h>

inline constexpr size_t kKsiReportMax = 4096;

// errno is left as it was.
inline void ksi_vreport(const char *format, va_list args) {
  int saved = errno;
  char line[kKsiReportMax];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = std::vsnprintf(line, sizeof line - 1, format, args);
#pragma GCC diagnostic pop
  if (n < 0) {
    errno = saved;
    return;
  }
  size_t len = static_cast<size_t>(n) < sizeof line - 2 ? static_cast<size_t>(n)
                                                        : sizeof line - 2;
  if (len == 0 || line[len - 1] != '\n') line[len++] = '\n';
  while (write(STDERR_FILENO, line, len) < 0 && errno == EINTR) {
  }
  errno = saved;
}

KS_PRINTF(1, 2) inline void ksi_report(const char *format, ...) {
  va_list args;
  va_start(args, format);
  ksi_vreport(format, args);
  va_end(args);
}
