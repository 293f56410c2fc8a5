// Message output of the foundation families until message delivery exists:
// the kind's prefix and the formatted message, written to the kind's stream
// with one write(2) under the message lock. Nothing here allocates from a
// storage area, so storage-area traces may print from anywhere.
#include "internal/msg_out.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal/msg_lock.h"
#include "internal/msg_state.h"
#include "internal/msg_tables.h"

namespace {

// Prefix and message into line (size bytes); returns the text's length, or
// -1 when the message could not be formatted. A message that does not fit
// is formatted again into *heap (malloc), which the caller frees.
int compose(char *line, size_t size, char **heap, int kind, const char *subsys,
            const ks_msg_table_t *table, int index, va_list args) {
  int used = ksi_msg_prefix(line, size, kind, subsys);
  if (used < 0) used = 0;
  if (static_cast<size_t>(used) >= size) used = static_cast<int>(size) - 1;
  va_list copy;
  va_copy(copy, args);
  int text = imsg_vsnprintf_taggable(IMSG_TAG_ENABLED, line + used, size - used, table,
                                     index, copy);
  va_end(copy);
  if (text < 0) return -1;
  if (static_cast<size_t>(text) < size - used) return used + text;
  size_t need = static_cast<size_t>(used) + static_cast<size_t>(text) + 1;
  *heap = static_cast<char *>(std::malloc(need));
  if (*heap == nullptr) return static_cast<int>(size) - 1;  // deliver the cut text
  std::memcpy(*heap, line, static_cast<size_t>(used));
  va_copy(copy, args);
  imsg_vsnprintf_taggable(IMSG_TAG_ENABLED, *heap + used, need - used, table, index, copy);
  va_end(copy);
  return static_cast<int>(need) - 1;
}

}  // namespace

void ksi_msg_vprint(int kind, const char *subsys, const ks_msg_table_t *table,
                    int index, va_list args) {
  if (index != -1 && table == nullptr) {
    ksi_msg_print(IMSG_ERROR, &ksi_imsg_msgs, KSI_IMSG_BAD_TABLE_INDEX, "print_sharedv", 0L,
                  index);
    return;
  }
  const char *shown = index == -1 ? "" : (subsys != nullptr ? subsys : table->subsys);
  char line[4096];
  char *heap = nullptr;
  qmthread_mutex_lock(&ksi_msg_lock);
  int len = compose(line, sizeof line, &heap, kind, shown, table, index, args);
  if (len > 0) {
    int fd = (kind >= IMSG_OK && kind <= IMSG_OUTPUT_ALT) ? 1 : 2;
    if (fd == 1) std::fflush(stdout);
    ssize_t rc = write(fd, heap != nullptr ? heap : line, static_cast<size_t>(len));
    (void)rc;
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
  std::free(heap);
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
