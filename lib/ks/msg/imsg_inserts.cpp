// Numbered inserts: "%n!conv!" takes argument n and formats it with the
// printf conversion conv ("%n" alone means "%n!s!"); "%%" is a percent sign.
//
// Message texts count a 64-bit ("I64") insert as two argument positions, as
// the product's translations were written for 32-bit argument slots. A text
// with such an insert is renumbered in text order: every insert after an
// "I64" one moves up by one position, and a position reaches 10 at most.
// Reading the arguments follows the same slots, so the insert that follows
// a 64-bit one still gets the argument that follows it in the call.
#include <cerrno>
#include <cstring>

#include <orvexks/strutl.h>

#include "msg/msg_out.h"
#include "msg/msg_state.h"

namespace {

constexpr int kMaxInserts = 64;
constexpr int kMaxPosition = 99;
constexpr size_t kUnboundedLimit = 153600;
constexpr size_t kOutputLimit = 65535;

struct insert {
  size_t start;  // the '%'
  size_t end;    // just after the insert
  int position;
  int kind;
  char dir[32];  // "%" + the conversion
};

union argument {
  long long i;
  unsigned long long u;
  double d;
  const void *p;
};

enum { kSlotUnused = 0, kSlotSecondHalf = -1 };

void report_failure(int code) {
  imsg_print(
      IMSG_ERROR,
      reinterpret_cast<const ks_msg_table_t *>("IMSG Internal Error(FM): %d\n"),
      -1, code);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Parses the insert at text[at] (a '%' followed by a digit). False when it
// is malformed.
bool parse_insert(const char *text, size_t at, insert &ins) {
  size_t p = at + 1;
  int number = 0;
  while (is_digit(text[p]) && number <= kMaxPosition)
    number = number * 10 + (text[p++] - '0');
  if (number < 1 || number > kMaxPosition) return false;
  ins.start = at;
  ins.position = number;
  size_t conv_len = 1;
  const char *conv = "s";
  if (text[p] == '!') {
    const char *close = std::strchr(text + p + 1, '!');
    if (close == nullptr) return false;
    conv = text + p + 1;
    conv_len = static_cast<size_t>(close - conv);
    p = static_cast<size_t>(close - text) + 1;
  }
  if (conv_len == 0 || conv_len + 2 > sizeof ins.dir) return false;
  ins.dir[0] = '%';
  std::memcpy(ins.dir + 1, conv, conv_len);
  ins.dir[conv_len + 1] = '\0';
  ins.end = p;
  size_t next = 0;
  int star_w = 0, star_p = 0;
  if (!strutl_find_printf_directive(ins.dir, 0, 0, nullptr, &next, &ins.kind,
                                    &star_w, &star_p))
    return false;
  return next == conv_len + 1 && !star_w && !star_p &&
         ins.kind != strutl_printf_kind_percent;
}

bool is_64bit(int kind) {
  return kind == strutl_printf_kind_int64 || kind == strutl_printf_kind_uint64;
}

argument read_argument(int kind, va_list &args) {
  argument a{};
  switch (kind) {
    case strutl_printf_kind_pointer:
    case strutl_printf_kind_string:
      a.p = va_arg(args, const void *);
      break;
    case strutl_printf_kind_double:
      a.d = va_arg(args, double);
      break;
    case strutl_printf_kind_long:
      a.i = va_arg(args, long);
      break;
    case strutl_printf_kind_ulong:
      a.u = va_arg(args, unsigned long);
      break;
    case strutl_printf_kind_int64:
      a.i = va_arg(args, long long);
      break;
    case strutl_printf_kind_uint64:
      a.u = va_arg(args, unsigned long long);
      break;
    case strutl_printf_kind_uint:
      a.u = va_arg(args, unsigned int);
      break;
    default:  // int, and a position no insert names
      a.i = va_arg(args, int);
      break;
  }
  return a;
}

int format_argument(char *out, size_t size, const insert &ins,
                    const argument &a) {
  switch (ins.kind) {
    case strutl_printf_kind_pointer:
    case strutl_printf_kind_string:
      return strutl_snprintf(out, size, ins.dir, a.p);
    case strutl_printf_kind_double:
      return strutl_snprintf(out, size, ins.dir, a.d);
    case strutl_printf_kind_long:
      return strutl_snprintf(out, size, ins.dir, static_cast<long>(a.i));
    case strutl_printf_kind_ulong:
      return strutl_snprintf(out, size, ins.dir,
                             static_cast<unsigned long>(a.u));
    case strutl_printf_kind_int64:
      return strutl_snprintf(out, size, ins.dir, a.i);
    case strutl_printf_kind_uint64:
      return strutl_snprintf(out, size, ins.dir, a.u);
    case strutl_printf_kind_uint:
      return strutl_snprintf(out, size, ins.dir,
                             static_cast<unsigned int>(a.u));
    default:
      return strutl_snprintf(out, size, ins.dir, static_cast<int>(a.i));
  }
}

// Collects the inserts of text; -1 when one is malformed or there are too
// many.
int collect_inserts(const char *text, insert *inserts) {
  int count = 0;
  for (size_t at = 0; text[at] != '\0'; ++at) {
    if (text[at] != '%') continue;
    if (text[at + 1] == '%') {
      ++at;
      continue;
    }
    if (!is_digit(text[at + 1])) continue;
    if (count == kMaxInserts || !parse_insert(text, at, inserts[count]))
      return -1;
    at = inserts[count].end - 1;
    ++count;
  }
  return count;
}

// Moves every insert after a 64-bit one up by one position; false when a
// position reaches 10.
bool renumber(insert *inserts, int count) {
  bool any_64bit = false;
  for (int i = 0; i < count; ++i)
    any_64bit = any_64bit || is_64bit(inserts[i].kind);
  if (!any_64bit) return true;
  int shift = 0;
  for (int i = 0; i < count; ++i) {
    inserts[i].position += shift;
    if (inserts[i].position >= 10) return false;
    if (is_64bit(inserts[i].kind)) ++shift;
  }
  return true;
}

}  // namespace

int ksi_msg_inserts(char *buf, size_t size, const char *text, va_list args) {
  insert inserts[kMaxInserts];
  int count = collect_inserts(text, inserts);
  if (count < 0) {
    if (size > 0) buf[0] = '\0';
    report_failure(EINVAL);
    return 0;
  }
  if (!renumber(inserts, count)) {
    if (size > 0) buf[0] = '\0';
    imsg_print(IMSG_ERROR,
               reinterpret_cast<const ks_msg_table_t *>(
                   "Internal Error, too many directives.\n"),
               -1);
    return 0;
  }

  // Each argument slot gets the kind of the first insert naming it; a 64-bit
  // insert also owns the slot after it.
  int slot_kind[kMaxPosition + 2] = {};
  int last = 0;
  for (int i = 0; i < count; ++i) {
    int p = inserts[i].position;
    if (slot_kind[p] == kSlotUnused) slot_kind[p] = inserts[i].kind;
    if (is_64bit(inserts[i].kind) && p + 1 <= kMaxPosition)
      slot_kind[p + 1] = kSlotSecondHalf;
    if (p > last) last = p;
  }
  argument values[kMaxPosition + 2] = {};
  va_list rest;
  va_copy(rest, args);
  for (int p = 1; p <= last; ++p)
    if (slot_kind[p] != kSlotSecondHalf)
      values[p] = read_argument(slot_kind[p], rest);
  va_end(rest);

  size_t limit = size != 0 ? size : kUnboundedLimit;
  if (limit > kOutputLimit) limit = kOutputLimit;
  size_t len = 0;
  auto put = [&](const char *piece, size_t n) {
    if (len + 1 < limit)
      std::memcpy(buf + len, piece, n < limit - 1 - len ? n : limit - 1 - len);
    len += n;
  };
  size_t at = 0;
  for (int i = 0; i <= count; ++i) {
    size_t stop = i < count ? inserts[i].start : std::strlen(text);
    // Literal text, with "%%" written as one '%'.
    while (at < stop) {
      const char *pct =
          static_cast<const char *>(std::memchr(text + at, '%', stop - at));
      size_t run =
          pct != nullptr ? static_cast<size_t>(pct - text) - at : stop - at;
      put(text + at, run);
      at += run;
      if (at < stop) {
        put("%", 1);
        at += text[at + 1] == '%' ? 2 : 1;
      }
    }
    if (i == count) break;
    char local[256];
    int n = format_argument(local, sizeof local, inserts[i],
                            values[inserts[i].position]);
    if (n < 0) n = 0;
    if (static_cast<size_t>(n) < sizeof local) {
      put(local, static_cast<size_t>(n));
    } else if (len + 1 < limit) {
      // A long value is formatted straight into the room that is left.
      size_t room = limit - len;
      format_argument(buf + len, room, inserts[i], values[inserts[i].position]);
      len += static_cast<size_t>(n);
    } else {
      len += static_cast<size_t>(n);
    }
    at = inserts[i].end;
  }
  buf[len < limit ? len : limit - 1] = '\0';
  if (len + 1 > kOutputLimit) {
    report_failure(ERANGE);
    return 0;
  }
  return static_cast<int>(len);
}
