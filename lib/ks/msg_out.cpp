// Message output of the foundation families until message delivery exists:
// the kind's prefix and the formatted text, written to the kind's stream
// with one write(2). No storage area, no lock and no raise is involved, so
// storage areas and fault management may print from anywhere.
#include "internal/msg_out.h"

#include "internal/msg_lock.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

constexpr const char *kAppName = "noname";

// Writes the prefix of `kind` into buf and returns its length.
int kind_prefix(int kind, char *buf, size_t size) {
  switch (kind) {
    case IMSG_WARNING:
      return std::snprintf(buf, size, "%s: Warning: ", kAppName);
    case IMSG_ERROR:
      return std::snprintf(buf, size, "%s: Error: ", kAppName);
    case IMSG_TRACE: {
      timeval tv;
      gettimeofday(&tv, nullptr);
      tm local;
      localtime_r(&tv.tv_sec, &local);
      char clock[16];
      std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
      return std::snprintf(buf, size, ">>> %s.%.3ld (%s): ", clock,
                           static_cast<long>(tv.tv_usec / 1000), kAppName);
    }
    default:
      return 0;
  }
}

}  // namespace

void ksi_msg_vprint(int kind, const char *, const ks_msg_table_t *table,
                    int index, va_list args) {
  const char *format;
  if (index == -1) {
    format = reinterpret_cast<const char *>(table);
  } else if (table != nullptr && index >= 0 && index < table->count) {
    format = table->texts[index];
  } else {
    format = nullptr;
  }
  if (format == nullptr) return;

  char line[4096];
  int used = kind_prefix(kind, line, sizeof line);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int text = std::vsnprintf(line + used, sizeof line - used, format, args);
#pragma GCC diagnostic pop
  if (text < 0) return;
  size_t total = static_cast<size_t>(used) + static_cast<size_t>(text);
  if (total >= sizeof line) total = sizeof line - 1;
  int fd = (kind >= IMSG_OK && kind <= IMSG_OUTPUT_ALT) ? 1 : 2;
  if (fd == 1) std::fflush(stdout);
  ssize_t rc = write(fd, line, total);
  (void)rc;
}

void ksi_msg_print(int kind, const ks_msg_table_t *table, int index, ...) {
  va_list args;
  va_start(args, index);
  ksi_msg_vprint(kind, nullptr, table, index, args);
  va_end(args);
}

void ksi_msg_print_shared(int kind, const char *subsys,
                          const ks_msg_table_t *table, int index, ...) {
  va_list args;
  va_start(args, index);
  ksi_msg_vprint(kind, subsys, table, index, args);
  va_end(args);
}

qmthread_mutex_t ksi_msg_lock = QMTHREAD_MUTEX_INITIALIZER;
