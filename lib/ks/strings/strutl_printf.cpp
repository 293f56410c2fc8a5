// Bounded printf, bounded copy and the printf directive scanner.
#include <orvexks/strutl.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "strings/printf_fmt.h"

namespace {

// Byte length of the character at s: whole multibyte characters in a
// multibyte code page, 1 for an invalid sequence or a single-byte page.
size_t char_len(const char *s) {
  if (MB_CUR_MAX == 1) return 1;
  std::mbstate_t state{};
  size_t n = std::mbrlen(s, MB_CUR_MAX, &state);
  if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2))
    return 1;
  return n;
}

bool is_flag(char c) {
  return c == ' ' || c == '#' || c == '\'' || c == '+' || c == '-' || c == '0';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Kind of the conversion character c after the length modifier gave
// `modifier_kind` (null, long or int64); null when c is no conversion.
int conversion_kind(char c, int modifier_kind) {
  switch (c) {
    case '%':
      return strutl_printf_kind_percent;
    case 'p':
      return strutl_printf_kind_pointer;
    case 's':
      return strutl_printf_kind_string;
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
      return strutl_printf_kind_double;
    case 'd':
    case 'i':
      return modifier_kind == strutl_printf_kind_null ? strutl_printf_kind_int
                                                      : modifier_kind;
    case 'c':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      if (modifier_kind == strutl_printf_kind_null)
        return strutl_printf_kind_uint;
      return modifier_kind + 1;  // long -> ulong, int64 -> uint64
    default:
      return strutl_printf_kind_null;
  }
}

// Copies fmt with every "I64" length modifier of a directive replaced by
// "ll" into out (strlen(fmt) + 1 bytes suffice: the copy only shrinks).
void rewrite_i64(const char *fmt, char *out) {
  size_t pos = 0;
  char *w = out;
  for (;;) {
    size_t next = 0;
    int kind = 0, star_w = 0, star_p = 0;
    int found = strutl_find_printf_directive(fmt, pos, 0, nullptr, &next, &kind,
                                             &star_w, &star_p);
    if (!found && fmt[next] == '\0') {
      std::memcpy(w, fmt + pos, next - pos);
      w += next - pos;
      break;
    }
    if (!found) {  // a malformed directive: keep its '%' and go on after it
      std::memcpy(w, fmt + pos, next + 1 - pos);
      w += next + 1 - pos;
      pos = next + 1;
      continue;
    }
    const char *dir_end = fmt + next;
    const char *i64 = nullptr;
    if (kind == strutl_printf_kind_int64 || kind == strutl_printf_kind_uint64) {
      // The modifier sits just before the conversion character.
      i64 = dir_end - 4;
    }
    if (i64 == nullptr) {
      std::memcpy(w, fmt + pos, next - pos);
      w += next - pos;
    } else {
      size_t head = static_cast<size_t>(i64 - (fmt + pos));
      std::memcpy(w, fmt + pos, head);
      w += head;
      *w++ = 'l';
      *w++ = 'l';
      *w++ = dir_end[-1];
    }
    pos = next;
  }
  *w = '\0';
}

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
int ksi_vformat(char *buf, size_t size, bool bounded, const char *fmt,
                va_list args) {
  if (fmt == nullptr) return -1;
  char local[512];
  char *copy = nullptr;
  const char *use = fmt;
  if (std::strstr(fmt, "I64") != nullptr) {
    size_t len = std::strlen(fmt) + 1;
    copy = len <= sizeof local ? local : static_cast<char *>(std::malloc(len));
    if (copy == nullptr) {
      if (bounded && size > 0) buf[0] = '\0';
      return -1;
    }
    rewrite_i64(fmt, copy);
    use = copy;
  }
  int result = bounded ? std::vsnprintf(buf, size, use, args)
                       : std::vsprintf(buf, use, args);
  if (copy != local) std::free(copy);
  return result;
}
#pragma GCC diagnostic pop

extern "C" {

int strutl_vsnprintf(char *dst, size_t size, const char *fmt, va_list args) {
  int result = ksi_vformat(dst, size, true, fmt, args);
  if (result < 0 && size > 0) dst[0] = '\0';
  return result;
}

int strutl_snprintf(char *dst, size_t size, const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int result = strutl_vsnprintf(dst, size, fmt, args);
  va_end(args);
  return result;
}

int strutl_cpy_buf(char *dst, const char *src, size_t size) {
  if (size == 0) return 1;
  size_t len = std::strlen(src);
  if (len < size) {
    std::memcpy(dst, src, len + 1);
    return 0;
  }
  std::memcpy(dst, src, size - 1);
  dst[size - 1] = '\0';
  return 1;
}

int strutl_find_printf_directive(const char *format, size_t start,
                                 size_t dir_size, char *dir_out, size_t *next,
                                 int *kind, int *star_width,
                                 int *star_precision) {
  *star_width = 0;
  *star_precision = 0;
  *kind = strutl_printf_kind_null;
  size_t pos = start;
  while (format[pos] != '\0' && format[pos] != '%')
    pos += char_len(format + pos);
  *next = pos;
  if (format[pos] == '\0') return 0;

  const size_t percent = pos;
  const char *p = format + pos + 1;
  if (is_flag(*p)) ++p;
  if (*p == '*') {
    *star_width = 1;
    ++p;
  } else {
    while (is_digit(*p)) ++p;
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      *star_precision = 1;
      ++p;
    } else if (is_digit(*p)) {
      while (is_digit(*p)) ++p;
    } else {
      return 0;
    }
  }
  int modifier = strutl_printf_kind_null;
  if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
    modifier = strutl_printf_kind_int64;
    p += 3;
  } else if (*p == 'h') {
    ++p;
  } else if (*p == 'l') {
    modifier = strutl_printf_kind_long;
    ++p;
  }
  int conv =
      *p == '\0' ? strutl_printf_kind_null : conversion_kind(*p, modifier);
  if (conv == strutl_printf_kind_null) return 0;

  *kind = conv;
  *next = static_cast<size_t>(p + 1 - format);
  if (dir_out != nullptr && dir_size > 0) {
    size_t len = *next - percent;
    if (len > dir_size - 1) len = dir_size - 1;
    std::memcpy(dir_out, format + percent, len);
    dir_out[len] = '\0';
  }
  return 1;
}

}  // extern "C"
