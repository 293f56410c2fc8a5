// Formatted texts with caller-defined conversions. The walker owns the
// syntax (widths, precisions, modifiers, bracketed arguments, escapes and
// column moves); the caller's convert procedure owns the meaning of each
// conversion character.
#include "msg/msg_lookup.h"
#include "msg/msg_out.h"
#include "strings/strutl_internal.h"
#include "strings/strutl_msgs.h"

#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/strfmt.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kMaxArgument = 1023;
constexpr size_t kMaxModifiers = 63;
constexpr int kNone = INT_MAX;

// The text being built: dst[len] is always the terminator, len < size.
struct Output {
  char *dst;
  size_t size;
  size_t len;
};

bool put(Output *out, const char *bytes, size_t n) {
  if (n >= out->size - out->len) return false;
  std::memcpy(out->dst + out->len, bytes, n);
  out->len += n;
  out->dst[out->len] = '\0';
  return true;
}

bool put_repeated(Output *out, char c, long count) {
  for (long i = 0; i < count; ++i)
    if (!put(out, &c, 1)) return false;
  return true;
}

// One parsed directive.
struct Directive {
  int width;
  int precision;
  char conversion[2];
  char modifiers[kMaxModifiers + 1];
  char argument[kMaxArgument + 1];
  const char *arg;   // null, or argument before its first ':'
  const char *arg2;  // null, or argument after its first ':'
};

// [-]digits at *p; kNone when there are no digits. Large values stop at
// INT_MAX.
int parse_number(const char **p) {
  bool negative = **p == '-';
  if (negative) ++*p;
  if (**p < '0' || **p > '9') return kNone;
  long value = 0;
  for (; **p >= '0' && **p <= '9'; ++*p)
    if (value < INT_MAX) value = value * 10 + (**p - '0');
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(negative ? -value : value);
}

// Parses the directive after its '%' up to and including the conversion
// character; false when it is malformed.
bool parse_directive(const char **cursor, const char *conversions,
                     Directive *d) {
  const char *p = *cursor;
  d->width = parse_number(&p);
  d->precision = kNone;
  if (*p == '.') {
    ++p;
    d->precision = parse_number(&p);
  }
  size_t mods = 0;
  d->modifiers[0] = '\0';
  d->arg = d->arg2 = nullptr;
  for (;;) {
    if (*p == '\0') return false;
    if (*p == '[') {
      const char *close = p + 1;
      while (*close != '\0' && *close != ']') close += ksi_mb_step(close);
      size_t n = static_cast<size_t>(close - (p + 1));
      if (*close != ']' || n > kMaxArgument) return false;
      std::memcpy(d->argument, p + 1, n);
      d->argument[n] = '\0';
      d->arg = d->argument;
      char *colon = std::strchr(d->argument, ':');
      d->arg2 = nullptr;
      if (colon != nullptr) {
        *colon = '\0';
        d->arg2 = colon + 1;
      }
      p = close + 1;
      continue;
    }
    if (conversions != nullptr && std::strchr(conversions, *p) != nullptr) {
      d->conversion[0] = *p;
      d->conversion[1] = '\0';
      *cursor = p + 1;
      return true;
    }
    size_t step = static_cast<size_t>(ksi_mb_step(p));
    if (*p != ' ' && *p != '\t') {
      if (mods + step > kMaxModifiers) return false;
      std::memcpy(d->modifiers + mods, p, step);
      mods += step;
      d->modifiers[mods] = '\0';
    }
    p += step;
  }
}

// Display width of the text after the last newline of out, tabs expanded;
// -1 when memory for the expansion runs out.
int current_line_width(const Output *out) {
  const char *line = out->dst;
  for (size_t i = 0; i < out->len; ++i)
    if (out->dst[i] == '\n') line = out->dst + i + 1;
  char local[1024];
  char *buf = local;
  size_t size = sizeof local;
  for (;;) {
    int width = 0;
    size_t bytes = 0;
    int whole = imsg_detabify(line, -1, size, buf, &width, &bytes);
    if (buf != local) stg_free(buf);
    if (whole) return width;
    size *= 2;
    buf = static_cast<char *>(stg_malloc(size));
    if (buf == nullptr) return -1;
  }
}

bool all_digits(const char *s) {
  if (s == nullptr || *s == '\0') return false;
  for (; *s != '\0'; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

enum class Step { kDone, kBadFormat, kTooSmall, kNoMemory };

// The column move of the 't' conversion.
Step move_to_column(Output *out, const Directive &d) {
  if (!all_digits(d.arg) || std::strlen(d.arg) > 9) return Step::kBadFormat;
  long column = std::strtol(d.arg, nullptr, 10);
  int width = current_line_width(out);
  if (width < 0) return Step::kNoMemory;
  bool has_n = std::strchr(d.modifiers, 'N') != nullptr;
  bool has_s = std::strchr(d.modifiers, 'S') != nullptr;
  bool has_t = std::strchr(d.modifiers, 'T') != nullptr;
  long reach = width + ((has_n || has_s || has_t) ? 1 : 0);
  bool ok = true;
  if (column > reach) {
    ok = put_repeated(out, ' ', column - 1 - width);
  } else if (has_n) {
    ok = put(out, "\n", 1) && put_repeated(out, ' ', column - 1);
  } else if (has_s) {
    ok = put(out, " ", 1);
  } else if (has_t) {
    ok = put(out, "\t", 1);
  }
  return ok ? Step::kDone : Step::kTooSmall;
}

Step convert_directive(Output *out, const Directive &d, void *data,
                       strfmt_convert_t convert) {
  if (convert == nullptr) return Step::kBadFormat;
  size_t room = out->size - out->len;
  char *at = out->dst + out->len;
  if (convert(data, at, room, d.width, d.precision, d.arg, d.arg2, d.modifiers,
              d.conversion) != 0) {
    *at = '\0';
    return Step::kBadFormat;
  }
  size_t n = strnlen(at, room);
  if (n == room) {
    // The procedure filled the room without a terminator.
    out->dst[out->size - 1] = '\0';
    out->len = out->size - 1;
    return Step::kTooSmall;
  }
  out->len += n;
  return Step::kDone;
}

// A backslash sequence at p (p[0] is the backslash); advances p.
Step escape(Output *out, const char **cursor) {
  const char *p = *cursor + 1;
  char byte;
  size_t n = 1;
  const char *bytes = &byte;
  if (*p == '\0') {
    byte = '\\';
  } else if (*p == 'n' || *p == 'r' || *p == 't') {
    byte = *p == 'n' ? '\n' : *p == 'r' ? '\r' : '\t';
    ++p;
  } else if (*p >= '0' && *p <= '7') {
    unsigned value = 0;
    for (int i = 0; i < 3 && *p >= '0' && *p <= '7'; ++i, ++p)
      value = value * 8 + static_cast<unsigned>(*p - '0');
    byte = static_cast<char>(value & 0xFF);
  } else {
    n = static_cast<size_t>(ksi_mb_step(p));
    bytes = p;
    p += n;
  }
  *cursor = p;
  return put(out, bytes, n) ? Step::kDone : Step::kTooSmall;
}

int report(Step step, const char *near) {
  switch (step) {
    case Step::kDone:
      return 0;
    case Step::kBadFormat:
      imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_BAD_FORMAT, near);
      break;
    case Step::kTooSmall:
      imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_BUFFER_TOO_SMALL);
      break;
    case Step::kNoMemory:
      imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_NO_MEMORY);
      break;
  }
  return 1;
}

}  // namespace

extern "C" {

KS_API int strfmt_gsprintf(char *dst, size_t size, const char *conversions,
                           const char *format, void *data,
                           strfmt_convert_t convert) {
  if (dst == nullptr || size == 0 || format == nullptr) return 0;
  Output out{dst, size, 0};
  dst[0] = '\0';
  Directive d;
  const char *p = format;
  while (*p != '\0') {
    const char *here = p;
    Step step = Step::kDone;
    if (p[0] == '%' && p[1] == '%') {
      step = put(&out, "%", 1) ? Step::kDone : Step::kTooSmall;
      p += 2;
    } else if (*p == '%') {
      ++p;
      if (!parse_directive(&p, conversions, &d)) {
        step = Step::kBadFormat;
      } else if (d.conversion[0] == 't') {
        step = move_to_column(&out, d);
      } else {
        step = convert_directive(&out, d, data, convert);
      }
    } else if (*p == '\\') {
      step = escape(&out, &p);
    } else {
      size_t n = static_cast<size_t>(ksi_mb_step(p));
      step = put(&out, p, n) ? Step::kDone : Step::kTooSmall;
      p += n;
    }
    if (step != Step::kDone) return report(step, here);
  }
  return 0;
}

KS_API int strfmt_gsprintf_fmt(char *dst, size_t size, const char *conversions,
                               const void *table, int index, void *data,
                               strfmt_convert_t convert) {
  const char *text;
  if (index == -1) {
    text = static_cast<const char *>(table);
  } else {
    const auto *t = static_cast<const ks_msg_table_t *>(table);
    PFM_ASSERT(t != NULL && index >= 0 && index < t->count);
    text = ksi_msg_lookup(t, index);
  }
  if (text == nullptr)
    return strfmt_gsprintf(dst, size, conversions, nullptr, data, convert);
  // A looked-up translation lives only until the thread's next lookup,
  // which convert may well make: work from a heap copy, released also when
  // a raise leaves convert.
  char *volatile copy = stg_strdup(text);
  if (copy == nullptr) return report(Step::kNoMemory, nullptr);
  int rc = 0;
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    rc = strfmt_gsprintf(dst, size, conversions, copy, data, convert);
    pfm_cleanup_rls(&rec);
  } else {
    stg_free(copy);
    pfm_raise(static_cast<uint32_t>(rec.status));
  }
  stg_free(copy);
  return rc;
}

}  // extern "C"
