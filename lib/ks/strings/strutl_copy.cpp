// Bounded copies and concatenations. Every routine terminates its
// destination whenever it has room for the terminator.
#include "strings/strutl_internal.h"

#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <cstdarg>
#include <cstring>

namespace {

size_t text_len(const char *s) { return std::strlen(s); }
size_t text_len(const strutl_wchar_t *s) { return strutl_wide_strlen(s); }

// Copies `n` units of `src` to `dst` + `at` within a `size`-unit buffer, cut
// to the room left before the terminator; returns the units copied.
template <typename Ch>
size_t put_bounded(Ch *dst, size_t size, size_t at, const Ch *src, size_t n) {
  const size_t room = at + 1 < size ? size - 1 - at : 0;
  const size_t k = n < room ? n : room;
  std::memmove(dst + at, src, k * sizeof(Ch));
  return k;
}

// Texts of a concatenation, taken from the variable arguments.
template <typename Ch>
struct pieces {
  static constexpr int kMax = 64;
  const Ch *text[kMax];
  size_t len[kMax];
  int count;
  size_t total;
};

// Collects `count` texts (null as empty); false when there are more than
// the record holds.
template <typename Ch>
bool collect(pieces<Ch> *p, int count, va_list args) {
  static const Ch kEmpty[1] = {0};
  if (count < 0 || count > pieces<Ch>::kMax) return false;
  p->count = count;
  p->total = 0;
  for (int i = 0; i < count; ++i) {
    const Ch *s = va_arg(args, const Ch *);
    p->text[i] = s != nullptr ? s : kEmpty;
    p->len[i] = text_len(p->text[i]);
    p->total += p->len[i];
  }
  return true;
}

// Writes the pieces into `dst` (`size` units): 0, or 1 when cut. A piece
// that is `dst` itself is moved to its final place first, before anything
// overwrites it; the other pieces then fill the gaps around it.
template <typename Ch>
int assemble(Ch *dst, size_t size, const pieces<Ch> *p) {
  if (size == 0) return 1;
  size_t offset = 0;
  int own = -1;
  for (int i = 0; i < p->count && own < 0; ++i) {
    if (p->text[i] == dst) {
      own = i;
      put_bounded(dst, size, offset, dst, p->len[i]);
    }
    offset += p->len[i];
  }
  offset = 0;
  for (int i = 0; i < p->count; ++i) {
    if (i != own) put_bounded(dst, size, offset, p->text[i], p->len[i]);
    offset += p->len[i];
  }
  dst[p->total < size ? p->total : size - 1] = 0;
  return p->total < size ? 0 : 1;
}

template <typename Ch>
int concat_into(Ch *dst, size_t size, int count, va_list args) {
  pieces<Ch> p;
  if (!collect(&p, count, args)) {
    if (size > 0) dst[0] = 0;
    return 1;
  }
  return assemble(dst, size, &p);
}

char *concat_new(stg_area_t area, int count, va_list args) {
  pieces<char> p;
  if (!collect(&p, count, args)) return nullptr;
  auto *text =
      static_cast<char *>(area == STG_AREA_HEAP ? stg_malloc(p.total + 1)
                                                : stg_alloc(area, p.total + 1));
  if (text == nullptr) return nullptr;
  assemble(text, p.total + 1, &p);
  return text;
}

}  // namespace

extern "C" {

KS_API int strutl_ncpy_buf(char *dst, const char *src, size_t n, size_t size) {
  if (size == 0) return 1;
  const size_t len = strnlen(src, n);
  const size_t k = put_bounded(dst, size, 0, src, len);
  dst[k] = '\0';
  return n < size ? 0 : 1;
}

KS_API int strutl_ccpy_buf(char *dst, const char *src, size_t size,
                           const char *stop_chars, const char **end) {
  const char *p = src;
  int cut = 0;
  size_t w = 0;
  if (size == 0) {
    cut = 1;
  } else {
    while (*p != '\0') {
      const int len = ksi_mb_step(p);
      if (ksi_mb_char_in_set(p, len, stop_chars)) break;
      if (w + static_cast<size_t>(len) >= size) {
        cut = 1;
        break;
      }
      std::memcpy(dst + w, p, static_cast<size_t>(len));
      w += static_cast<size_t>(len);
      p += len;
    }
    dst[w] = '\0';
  }
  if (end != nullptr) *end = p;
  return cut;
}

KS_API char *strutl_ncpy(char *dst, const char *src, size_t size) {
  if (size == 0) return dst;
  const size_t k = put_bounded(dst, size, 0, src, std::strlen(src));
  dst[k] = '\0';
  return dst;
}

KS_API size_t strutl_prepend(char *buf, size_t size, const char *text) {
  if (size == 0) return 0;
  size_t len = std::strlen(text);
  if (len > size - 1) len = size - 1;
  const size_t start = size - 1 - len;
  std::memmove(buf + start, text, len);
  buf[size - 1] = '\0';
  return start;
}

KS_API void strutl_cpy_and_advance(char **p, const char *src, size_t n) {
  std::memcpy(*p, src, n);
  *p += n;
  **p = '\0';
}

KS_API int strutl_wide_cpy_buf(strutl_wchar_t *dst, const strutl_wchar_t *src,
                               size_t size) {
  if (size == 0) return 1;
  const size_t len = text_len(src);
  dst[put_bounded(dst, size, 0, src, len)] = 0;
  return len < size ? 0 : 1;
}

KS_API int strutl_concat(char *dst, size_t size, int count, ...) {
  va_list args;
  va_start(args, count);
  const int result = concat_into(dst, size, count, args);
  va_end(args);
  return result;
}

KS_API char *strutl_concat_heap(int count, ...) {
  va_list args;
  va_start(args, count);
  char *text = concat_new(STG_AREA_HEAP, count, args);
  va_end(args);
  return text;
}

KS_API char *strutl_concat_area(stg_area_t area, int count, ...) {
  if (area == STG_AREA_NULL) return nullptr;
  va_list args;
  va_start(args, count);
  char *text = concat_new(area, count, args);
  va_end(args);
  return text;
}

KS_API int strutl_wide_concat(strutl_wchar_t *dst, size_t size, int count,
                              ...) {
  va_list args;
  va_start(args, count);
  const int result = concat_into(dst, size, count, args);
  va_end(args);
  return result;
}

}  // extern "C"
