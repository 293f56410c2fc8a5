// Formatting of numbered messages into a caller's buffer: plain printf,
// numbered inserts, the tagged form, capturing, kind prefixes and the
// growing formatter.
#include <orvexks/imsg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <orvexks/strutl.h>

#include "internal/report_line.h"
#include "msg/imsg_msgs.h"
#include "msg/msg_lookup.h"
#include "msg/msg_out.h"
#include "msg/msg_plain_format.h"
#include "msg/msg_state.h"
#include "strings/printf_fmt.h"

namespace {

const ks_msg_table_t *as_table(const void *table) {
  return static_cast<const ks_msg_table_t *>(table);
}

bool taggable_mode(int mode) {
  return mode == IMSG_TAG_ENABLED || mode == IMSG_TAG_ALWAYS;
}

// Marks a capturing (and possibly taggable) call for its duration; the
// marks are process-wide, as a harness watching the output expects.
struct call_marks {
  bool marked = false;
  bool set_taggable = false;
  bool set_tagging = false;
};

call_marks begin_call(int mode) {
  call_marks marks;
  // The marks matter only to tagging and to the capture log; without
  // either, a call leaves the shared flags alone and stays cheap.
  marks.marked = mode == IMSG_TAG_ALWAYS ||
                 ksi_msg_tagging.load(std::memory_order_relaxed) ||
                 ksi_msg_capture_active.load(std::memory_order_relaxed);
  if (!marks.marked) return marks;
  if (taggable_mode(mode))
    marks.set_taggable = !ksi_msg_taggable.exchange(true);
  if (mode == IMSG_TAG_ALWAYS)
    marks.set_tagging = !ksi_msg_tagging.exchange(true);
  ksi_msg_capturing.store(true);
  return marks;
}

void end_call(call_marks marks) {
  if (!marks.marked) return;
  ksi_msg_capturing.store(false);
  if (marks.set_tagging) ksi_msg_tagging.store(false);
  if (marks.set_taggable) ksi_msg_taggable.store(false);
}

}  // namespace

extern "C" {

int imsg_vsnprintf(char *buf, size_t size, const void *table, int index,
                   va_list args) {
  ksi_msg_init();
  const ks_msg_table_t *tbl = nullptr;
  const char *text;
  if (index == -1) {
    text = static_cast<const char *>(table);
    if (text == nullptr) {
      imsg_print(IMSG_ERROR, &ksi_imsg_msgs, KSI_IMSG_NULL_MESSAGE,
                 "vsprintf/NOMSG");
      return -1;
    }
  } else {
    tbl = as_table(table);
    if (tbl == nullptr || index < 0 || index >= tbl->count) {
      imsg_print(IMSG_ERROR, &ksi_imsg_msgs, KSI_IMSG_BAD_TABLE_INDEX,
                 "vsprintf",
                 static_cast<long>(reinterpret_cast<intptr_t>(table)), index);
      return -1;
    }
    text = ksi_msg_lookup(tbl, index);
  }
  if (ksi_msg_tagging.load(std::memory_order_relaxed) &&
      ksi_msg_taggable.load(std::memory_order_relaxed))
    return ksi_msg_tagged(buf, size, tbl, index, text, args);
  if (tbl != nullptr && ksi_msg_capturing.load(std::memory_order_relaxed))
    ksi_msg_capture(tbl, index);
  if (size != 0) {
    int plain = ksi_msg_plain_format(buf, size, text, args);
    if (plain != -2) return plain;
  }
  if (std::strstr(text, "%1!") != nullptr)
    return ksi_msg_inserts(buf, size, text, args);
  return size != 0 ? strutl_vsnprintf(buf, size, text, args)
                   : ksi_vformat(buf, 0, false, text, args);
}

int imsg_vsprintf(char *buf, const void *table, int index, va_list args) {
  return imsg_vsnprintf(buf, 0, table, index, args);
}

int imsg_sprintf(char *buf, const void *table, int index, ...) {
  va_list args;
  va_start(args, index);
  int result = imsg_vsnprintf(buf, 0, table, index, args);
  va_end(args);
  return result;
}

int imsg_vsnprintf_taggable(int mode, char *buf, size_t size, const void *table,
                            int index, va_list args) {
  ksi_msg_init();
  call_marks marks = begin_call(mode);
  int result = imsg_vsnprintf(buf, size, table, index, args);
  end_call(marks);
  return result;
}

int imsg_snprintf_taggable(int mode, char *buf, size_t size, const void *table,
                           int index, ...) {
  va_list args;
  va_start(args, index);
  int result = imsg_vsnprintf_taggable(mode, buf, size, table, index, args);
  va_end(args);
  return result;
}

int imsg_snprintf(char *buf, size_t size, const void *table, int index, ...) {
  va_list args;
  va_start(args, index);
  int result =
      imsg_vsnprintf_taggable(IMSG_TAG_ENABLED, buf, size, table, index, args);
  va_end(args);
  return result;
}

int imsg_snprintf_type(char *buf, size_t size, int kind, const void *table,
                       int index, ...) {
  char prefix[512];
  ksi_msg_prefix(prefix, sizeof prefix, kind, nullptr);
  if (strutl_cpy_buf(buf, prefix, size) != 0) {
    imsg_print(IMSG_ERROR, &ksi_imsg_msgs, KSI_IMSG_STRING_BUFFER_TOO_SMALL);
    return -1;
  }
  size_t used = std::strlen(prefix);
  va_list args;
  va_start(args, index);
  int result = imsg_vsnprintf(buf + used, size - used, table, index, args);
  va_end(args);
  return result;
}

int imsg_dynamic_len_snprintf(char **result, int start_size, int max_size,
                              const void *table, int index, ...) {
  if (start_size < 1 || max_size < start_size) {
    if (ksi_trace_on("ks/imsg", 1))
      ksi_report(
          "ERROR im imsg_dynamic_len_vsnprintf(): passed max_size argument is "
          "greater than passed start_size argument, or start_size argument is "
          "less or equal to 0.\nmax_size = %d,\tstart_size = %d\n",
          max_size, start_size);
    return -1;
  }
  ksi_msg_init();
  ksi_msg_taggable.store(true);
  ksi_msg_capturing.store(true);
  const double step = (max_size - start_size) / 5.0;
  double size = start_size;
  int length = -1;
  *result = nullptr;
  while (size <= max_size) {
    int n = static_cast<int>(size);
    char *buf = static_cast<char *>(std::malloc(static_cast<size_t>(n)));
    if (buf == nullptr) {
      if (ksi_trace_on("ks/imsg", 1))
        ksi_report(
            "ERROR in imsg_dynamic_len_vsnprintf(): cannot allocate a string "
            "of "
            "size %d\n",
            n);
      break;
    }
    va_list args;
    va_start(args, index);
    length = imsg_vsnprintf(buf, static_cast<size_t>(n), table, index, args);
    va_end(args);
    if (length >= 0 && length < n) {
      *result = buf;
      break;
    }
    std::free(buf);
    if (length >= n) {
      size = length + 1.0;
    } else if (step > 0) {
      size += step;
    } else {
      size = max_size + 1.0;  // no room to grow: give up now
    }
    length = -1;
  }
  if (*result == nullptr && size > max_size && ksi_trace_on("ks/imsg", 1))
    ksi_report(
        "Error, max buffer size %d passed to imsg_dynamic_len_vsnprintf() is "
        "not "
        "sufficient to hold the string.\n",
        max_size);
  ksi_msg_capturing.store(false);
  ksi_msg_taggable.store(false);
  return *result != nullptr ? length : -1;
}

}  // extern "C"
