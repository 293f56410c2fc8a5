#include "msg/msg_plain_format.h"

#include <climits>
#include <cstring>

namespace {

constexpr int kNotPlain = -2;

// Output cut to the buffer's size while the full length is counted.
struct sink {
  char *buf;
  size_t size;
  size_t len = 0;

  void put(char c) {
    if (len + 1 < size) buf[len] = c;
    ++len;
  }
  void put(const char *s, size_t n) {
    if (len + 1 < size) {
      size_t room = size - 1 - len;
      std::memcpy(buf + len, s, n < room ? n : room);
    }
    len += n;
  }
};

template <unsigned Base>
void put_unsigned(sink &out, unsigned long value, bool upper = false) {
  const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[3 * sizeof value];
  char *end = digits + sizeof digits;
  char *p = end;
  do {
    *--p = set[value % Base];
    value /= Base;
  } while (value != 0);
  out.put(p, static_cast<size_t>(end - p));
}

void put_signed(sink &out, long value) {
  if (value < 0) {
    out.put('-');
    put_unsigned<10>(out, 0UL - static_cast<unsigned long>(value));
  } else {
    put_unsigned<10>(out, static_cast<unsigned long>(value));
  }
}

// One directive after its '%': formats it and steps *p past it, or returns
// false when it is not plain.
bool put_directive(sink &out, const char **p, va_list *ap) {
  const char *q = *p;
  bool is_long = *q == 'l';
  if (is_long) ++q;
  switch (*q) {
    case '%':
      // "%%1!" holds the insert marker "%1!": such a text takes the insert
      // formatter, so a plain result always means the text has none.
      if (is_long || (q[1] == '1' && q[2] == '!')) return false;
      out.put('%');
      break;
    case 's': {
      if (is_long) return false;
      const char *s = va_arg(*ap, const char *);
      if (s == nullptr) s = "(null)";
      out.put(s, std::strlen(s));
      break;
    }
    case 'c':
      if (is_long) return false;
      out.put(static_cast<char>(va_arg(*ap, int)));
      break;
    case 'd':
    case 'i':
      put_signed(out, is_long ? va_arg(*ap, long) : va_arg(*ap, int));
      break;
    case 'u':
    case 'x':
    case 'X': {
      unsigned long value =
          is_long ? va_arg(*ap, unsigned long) : va_arg(*ap, unsigned);
      if (*q == 'u')
        put_unsigned<10>(out, value);
      else
        put_unsigned<16>(out, value, *q == 'X');
      break;
    }
    default:
      return false;
  }
  *p = q + 1;
  return true;
}

}  // namespace

int ksi_msg_plain_format(char *buf, size_t size, const char *fmt,
                         va_list args) {
  sink out{buf, size};
  va_list ap;
  va_copy(ap, args);
  bool plain = true;
  const char *p = fmt;
  while (plain) {
    const char *percent = std::strchr(p, '%');
    size_t run =
        percent != nullptr ? static_cast<size_t>(percent - p) : std::strlen(p);
    out.put(p, run);
    if (percent == nullptr) break;
    p = percent + 1;
    plain = put_directive(out, &p, &ap);
  }
  va_end(ap);
  if (!plain || out.len > INT_MAX) return kNotPlain;
  if (size > 0) buf[out.len < size ? out.len : size - 1] = '\0';
  return static_cast<int>(out.len);
}
