// Display width and tab expansion of texts laid out in columns.
//
// A character occupies as many columns as it has bytes, so that in a
// single-byte code page every character is one column wide. Character
// boundaries come from strutl_mblen, which makes an invalid byte a
// character of its own; cuts therefore never split a valid character.

#include <orvexks/imsg.h>
#include <orvexks/strutl.h>
#include <orvexnt/nt_env.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kDefaultTabSize = 8;

// Byte length of the character at s; 0 at the terminator.
size_t char_len(const char *s) {
  return static_cast<size_t>(strutl_mblen(s, strnlen(s, MB_CUR_MAX)));
}

// 0x01 0x01, '0' or '1', then 'B', 'I' or 'U'. The tests stop at the first
// byte that differs, so they never read past the text's terminator.
bool is_style_marker(const char *s) {
  return s[0] == '\x01' && s[1] == '\x01' && (s[2] == '0' || s[2] == '1') &&
         (s[3] == 'B' || s[3] == 'I' || s[3] == 'U');
}

// $QUILLMERE_TAB_SIZE, read once; 8 when it is unset or not a positive
// number. The function-local static is initialised under its own lock.
int process_tab_size() {
  static const int size = [] {
    const char *value = nt_getenv_safe("QUILLMERE_TAB_SIZE");
    const int n = value != nullptr ? std::atoi(value) : 0;
    return n > 0 ? n : kDefaultTabSize;
  }();
  return size;
}

// The part of a text that make_width keeps, and its width.
struct Span {
  const char *start;
  size_t bytes;
  int width;
};

// The leading characters of str that fit in max_width columns.
Span leading_fit(const char *str, int max_width) {
  Span span{str, 0, 0};
  for (const char *p = str; *p != '\0';) {
    const size_t len = char_len(p);
    const int w = imsg_disp_width(p, static_cast<int>(len));
    if (span.width + w > max_width) break;
    span.width += w;
    span.bytes += len;
    p += len;
  }
  return span;
}

// The trailing characters of str that fit in max_width columns: characters
// are dropped from the front until the rest fits.
Span trailing_fit(const char *str, int max_width) {
  Span span{str, std::strlen(str), imsg_strwidth(str)};
  while (span.width > max_width) {
    const size_t len = char_len(span.start);
    span.width -= imsg_disp_width(span.start, static_cast<int>(len));
    span.bytes -= len;
    span.start += len;
  }
  return span;
}

}  // namespace

extern "C" {

KS_API void imsg_strip_style_chars(char *dst, const char *src) {
  while (*src != '\0') {
    if (is_style_marker(src)) {
      src += 4;
    } else {
      *dst++ = *src++;
    }
  }
  *dst = '\0';
}

KS_API int imsg_truncate(char *str, size_t max_bytes) {
  if (str == nullptr || std::strlen(str) <= max_bytes) return 0;
  size_t cut = 0;
  while (true) {
    const size_t len = char_len(str + cut);
    if (cut + len > max_bytes) break;
    cut += len;
  }
  str[cut] = '\0';
  return 1;
}

KS_API int imsg_charcount(const char *str) {
  if (str == nullptr) return 0;
  return static_cast<int>(strutl_mb_strlen(str));
}

KS_API int imsg_disp_width(const char *ch, int nbytes) {
  if (nbytes <= 0 || ch == nullptr || *ch == '\0') return 0;
  return nbytes;
}

// Every character is as wide as it is long, so a text is too.
KS_API int imsg_strwidth(const char *str) {
  if (str == nullptr) return 0;
  return static_cast<int>(std::strlen(str));
}

KS_API int imsg_make_width(const char *str, int width, int max_width,
                           int keep_tail, int right_align, size_t dst_size,
                           char *dst, int *out_width) {
  if (str == nullptr) str = "";
  Span span{str, std::strlen(str), imsg_strwidth(str)};
  if (max_width >= 0 && span.width > max_width) {
    span =
        keep_tail ? trailing_fit(str, max_width) : leading_fit(str, max_width);
  }
  const size_t pad =
      width > span.width ? static_cast<size_t>(width - span.width) : 0;
  if (dst_size <= span.bytes + pad) return 0;

  char *out = dst;
  if (right_align) {
    std::memset(out, ' ', pad);
    out += pad;
  }
  std::memcpy(out, span.start, span.bytes);
  out += span.bytes;
  if (!right_align) {
    std::memset(out, ' ', pad);
    out += pad;
  }
  *out = '\0';
  if (out_width != nullptr) *out_width = span.width + static_cast<int>(pad);
  return 1;
}

KS_API int imsg_detabify_general(int tab_size, int start_column,
                                 const char *src, int max_width,
                                 size_t dst_size, char *dst, int *out_width,
                                 size_t *out_bytes) {
  const int tab = tab_size > 0 ? tab_size : process_tab_size();
  int width = 0;
  size_t bytes = 0;
  int whole = 0;

  // Room for n more bytes and the terminator, and for w more columns.
  auto fits = [&](size_t n, int w) {
    return bytes + n < dst_size && (max_width < 0 || width + w <= max_width);
  };

  for (const char *p = src != nullptr ? src : ""; dst_size > 0;) {
    if (*p == '\0' || *p == '\r') {
      whole = 1;
      break;
    }
    if (*p == '\n') {
      if (fits(1, 0)) {
        dst[bytes++] = '\n';
        whole = 1;
      }
      break;
    }
    if (*p == '\t') {
      const int column = ((start_column + width) % tab + tab) % tab;
      const int blanks = tab - column;
      if (!fits(static_cast<size_t>(blanks), blanks)) break;
      std::memset(dst + bytes, ' ', static_cast<size_t>(blanks));
      bytes += static_cast<size_t>(blanks);
      width += blanks;
      ++p;
      continue;
    }
    const size_t len = char_len(p);
    const int w = imsg_disp_width(p, static_cast<int>(len));
    if (!fits(len, w)) break;
    std::memcpy(dst + bytes, p, len);
    bytes += len;
    width += w;
    p += len;
  }

  if (dst_size > 0) dst[bytes] = '\0';
  if (out_width != nullptr) *out_width = width;
  if (out_bytes != nullptr) *out_bytes = bytes;
  return whole;
}

KS_API int imsg_detabify(const char *src, int max_width, size_t dst_size,
                         char *dst, int *out_width, size_t *out_bytes) {
  return imsg_detabify_general(0, 0, src, max_width, dst_size, dst, out_width,
                               out_bytes);
}

}  // extern "C"
