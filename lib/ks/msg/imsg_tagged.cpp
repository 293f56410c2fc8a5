// The tagged form of a message for automated test harnesses: its identity,
// its raw format and each argument value on its own.
#include <cstdlib>
#include <cstring>

#include <orvexks/pfm.h>
#include <orvexks/strutl.h>

#include "msg/msg_state.h"

namespace {

// Copies pieces into a bounded buffer, counting the length of the whole.
class tagged_writer {
 public:
  tagged_writer(char *buf, size_t size) : buf_(buf), size_(size) {}

  void put(const char *text, size_t n) {
    if (len_ + 1 < size_) {
      size_t room = size_ - 1 - len_;
      std::memcpy(buf_ + len_, text, n < room ? n : room);
    }
    len_ += n;
  }
  void put(const char *text) { put(text, std::strlen(text)); }
  void put_number(long value) {
    char digits[24];
    put(digits, static_cast<size_t>(
                    strutl_snprintf(digits, sizeof digits, "%ld", value)));
  }
  // Writes text with form feed, newline, carriage return, tab and vertical
  // tab as two-character escapes.
  void put_escaped(const char *text) {
    static const char controls[] = "\f\n\r\t\v";
    static const char letters[] = "fnrtv";
    for (const char *p = text; *p != '\0';) {
      size_t run = std::strcspn(p, controls);
      put(p, run);
      p += run;
      if (*p == '\0') break;
      char escape[2] = {'\\', letters[std::strchr(controls, *p) - controls]};
      put(escape, 2);
      ++p;
    }
  }
  int finish() {
    buf_[len_ < size_ ? len_ : size_ - 1] = '\0';
    return static_cast<int>(len_);
  }

 private:
  char *buf_;
  size_t size_;
  size_t len_ = 0;
};

// Formats one value with its own directive (and the star arguments before
// it) and hands the text to `emit`; a long text goes through the heap.
template <typename T>
int format_value(char *out, size_t size, const char *dir, int stars,
                 const int *star, T value) {
  switch (stars) {
    case 0:
      return strutl_snprintf(out, size, dir, value);
    case 1:
      return strutl_snprintf(out, size, dir, star[0], value);
    default:
      return strutl_snprintf(out, size, dir, star[0], star[1], value);
  }
}

template <typename T>
void put_value(tagged_writer &w, const char *dir, int stars, const int *star,
               T value, bool escaped) {
  char local[256];
  int n = format_value(local, sizeof local, dir, stars, star, value);
  if (n < 0) return;
  char *text = local;
  if (static_cast<size_t>(n) >= sizeof local) {
    text = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
    if (text == nullptr) return;
    format_value(text, static_cast<size_t>(n) + 1, dir, stars, star, value);
  }
  if (escaped) {
    w.put_escaped(text);
  } else {
    w.put(text);
  }
  if (text != local) std::free(text);
}

// Consumes the argument of one directive of kind `kind` from args.
void put_argument(tagged_writer &w, const char *dir, int kind, int stars,
                  const int *star, va_list &args) {
  switch (kind) {
    case strutl_printf_kind_pointer:
      put_value(w, dir, stars, star, va_arg(args, void *), false);
      break;
    case strutl_printf_kind_string: {
      const char *s = va_arg(args, const char *);
      if (s == nullptr) {
        w.put("<<<NULL STRING>>>");
      } else {
        put_value(w, dir, stars, star, s, true);
      }
      break;
    }
    case strutl_printf_kind_double:
      put_value(w, dir, stars, star, va_arg(args, double), false);
      break;
    case strutl_printf_kind_int:
      put_value(w, dir, stars, star, va_arg(args, int), false);
      break;
    case strutl_printf_kind_uint:
      put_value(w, dir, stars, star, va_arg(args, unsigned int), false);
      break;
    case strutl_printf_kind_long:
      put_value(w, dir, stars, star, va_arg(args, long), false);
      break;
    case strutl_printf_kind_ulong:
      put_value(w, dir, stars, star, va_arg(args, unsigned long), false);
      break;
    case strutl_printf_kind_int64:
      put_value(w, dir, stars, star, va_arg(args, long long), false);
      break;
    default:  // strutl_printf_kind_uint64
      put_value(w, dir, stars, star, va_arg(args, unsigned long long), false);
      break;
  }
}

}  // namespace

int ksi_msg_tagged(char *buf, size_t size, const ks_msg_table_t *table,
                   int index, const char *text, va_list args) {
  if (size == 0) return 0;
  tagged_writer w(buf, size);
  w.put("\nTAG_ID:");
  w.put(table != nullptr && table->subsys != nullptr ? table->subsys
                                                     : "no subsys");
  w.put("!!");
  w.put_number(table != nullptr ? index : -1);
  w.put("!!");
  w.put_number(table != nullptr ? table->ids[index] : -1);
  w.put(":END_ID\nTAG_RAW:");
  w.put_escaped(text);
  w.put(":END_RAW\nTAG_VALUES:");

  va_list rest;
  va_copy(rest, args);
  char dir[64];
  size_t pos = 0;
  bool first = true;
  for (;;) {
    size_t next = 0;
    int kind = 0, star_width = 0, star_precision = 0;
    if (!strutl_find_printf_directive(text, pos, sizeof dir, dir, &next, &kind,
                                      &star_width, &star_precision))
      break;
    pos = next;
    PFM_ASSERT(kind > strutl_printf_kind_null &&
               kind < strutl_printf_kind_end_marker);
    if (kind == strutl_printf_kind_percent) continue;
    int star[2];
    int stars = 0;
    if (star_width) star[stars++] = va_arg(rest, int);
    if (star_precision) star[stars++] = va_arg(rest, int);
    if (!first) w.put("!!");
    first = false;
    put_argument(w, dir, kind, stars, star, rest);
  }
  va_end(rest);
  w.put(":END_VALUES\n");
  return w.finish();
}
