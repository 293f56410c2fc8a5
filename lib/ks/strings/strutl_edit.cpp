// Searching and editing texts, reversible scrambling, tokenising, name
// checks, path separators and escapes. Every scan steps over whole
// multibyte characters, so a trail byte that happens to equal an ASCII
// character never matches it.
#include "msg/msg_out.h"
#include "strings/strutl_internal.h"
#include "strings/strutl_msgs.h"
#include "thread/tls_impl.h"

#include <orvexks/list.h>
#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>

namespace {

// True when the character at `p` is the single byte `ch`.
bool is_byte(const char *p, int len, int ch) {
  return len == 1 &&
         static_cast<unsigned char>(*p) == static_cast<unsigned char>(ch);
}

// True when the character at `p` is a single byte found in `set`.
bool byte_in(const char *p, int len, const char *set) {
  return len == 1 && set != nullptr && std::strchr(set, *p) != nullptr;
}

// Whether one character may appear in a name (before the extra list).
bool name_char_ok(const char *p, int len) {
  if (ksi_mb_single_byte()) {
    const int c = static_cast<unsigned char>(*p);
    return std::isprint(c) && !std::iscntrl(c) && !std::isspace(c) &&
           !(c < 128 && std::ispunct(c));
  }
  wchar_t wc;
  if (ksi_mb_decode(p, static_cast<size_t>(len), &wc) <= 0) return false;
  // Japanese sound marks and the prolonged sound mark are name characters
  // even where the wide classes call them punctuation.
  if (wc == 0xFF9E || wc == 0xFF9F || wc == 0xFF70 || wc == 0x30FC) return true;
  const auto w = static_cast<wint_t>(wc);
  return std::iswprint(w) && !std::iswcntrl(w) && !std::iswspace(w) &&
         !std::iswpunct(w);
}

// Decodes the escape after a backslash at `*p` (before `end`) into `*out`;
// false for an unknown or incomplete escape.
bool decode_escape(const char **p, const char *end, char *out) {
  if (*p >= end) return false;
  const char e = *(*p)++;
  switch (e) {
    case '"':
      *out = '"';
      return true;
    case '\'':
      *out = '\'';
      return true;
    case '0':
      *out = '\0';
      return true;
    case '?':
      *out = '?';
      return true;
    case '\\':
      *out = '\\';
      return true;
    case 'a':
      *out = '\a';
      return true;
    case 'b':
      *out = '\b';
      return true;
    case 'f':
      *out = '\f';
      return true;
    case 'n':
      *out = '\n';
      return true;
    case 'r':
      *out = '\r';
      return true;
    case 't':
      *out = '\t';
      return true;
    case 'v':
      *out = '\v';
      return true;
    case 'x':
      break;
    default:
      return false;
  }
  unsigned value = 0;
  int digits = 0;
  while (*p < end && std::isxdigit(static_cast<unsigned char>(**p))) {
    const int c = std::tolower(static_cast<unsigned char>(*(*p)++));
    value =
        value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
    if (value > 0xFF) return false;
    ++digits;
  }
  *out = static_cast<char>(value);
  return digits > 0;
}

// Scrambling. A group of three input bytes gives four 6-bit symbols: the
// low bits of each byte (by place in the group) join the high bits left
// over from the byte before, and the last byte's high bits make the fourth
// symbol. Each symbol is XORed with the next value of the key stream, which
// starts at a position taken from the clock; a final symbol carries that
// position XOR all symbols written, so the reader recovers it by XORing
// every symbol.
constexpr char kAlphabet[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@";
constexpr unsigned char kKey[64] = {
    1,  52, 2,  2,  50, 56, 23, 13, 9,  33, 18, 3,  51, 55, 50, 53,
    42, 29, 43, 12, 5,  24, 35, 41, 24, 48, 11, 61, 55, 11, 1,  41,
    58, 31, 8,  6,  45, 62, 52, 7,  25, 17, 14, 12, 47, 26, 24, 55,
    34, 57, 28, 30, 59, 17, 60, 24, 12, 20, 28, 42, 52, 26, 1,  0};
constexpr unsigned kLowMask[3] = {63, 15, 3};
constexpr unsigned kLowShift[3] = {0, 2, 4};
constexpr unsigned kHighMask[3] = {192, 240, 252};
constexpr unsigned kHighShift[3] = {6, 4, 2};

struct symbol_writer {
  char *out;
  size_t size;
  size_t w;
  unsigned key_pos;
  unsigned check;

  // Writes one alphabet character, keeping room for the terminator.
  bool put_raw(unsigned symbol) {
    if (w + 1 >= size) return false;
    out[w++] = kAlphabet[symbol & 63];
    return true;
  }
  bool put(unsigned value) {
    const unsigned symbol = (value ^ kKey[key_pos]) & 63;
    key_pos = (key_pos + 1) % 64;
    check ^= symbol;
    return put_raw(symbol);
  }
};

int alphabet_value(unsigned char c) {
  if (c > 127) return -1;
  const char *at = std::strchr(kAlphabet, c);
  return (c == '\0' || at == nullptr) ? -1 : static_cast<int>(at - kAlphabet);
}

}  // namespace

static ksi_tls_slot_t strutl_slot = KSI_TLS_SLOT_INIT(ksi_strutl_tls, nullptr);

ksi_strutl_tls *ksi_strutl_tls_get() {
  return ksi_tls_needed<ksi_strutl_tls>(&strutl_slot);
}

extern "C" {

// ---- Searching.

KS_API int strutl_find_char(const char *s, size_t start, int ch, size_t *pos) {
  if (start > std::strlen(s)) return 0;
  for (const char *p = s + start; *p != '\0';) {
    const int len = ksi_mb_step(p);
    if (is_byte(p, len, ch)) {
      *pos = static_cast<size_t>(p - s);
      return 1;
    }
    p += len;
  }
  return 0;
}

KS_API int strutl_find_char_from(const char *s, size_t start, const char *set,
                                 size_t *pos, int *len) {
  if (start > std::strlen(s)) return 0;
  for (const char *p = s + start; *p != '\0';) {
    const int n = ksi_mb_step(p);
    if (ksi_mb_char_in_set(p, n, set)) {
      *pos = static_cast<size_t>(p - s);
      if (len != nullptr) *len = n;
      return 1;
    }
    p += n;
  }
  return 0;
}

KS_API int strutl_find_last_char(const char *s, size_t start, int ch,
                                 size_t *pos) {
  if (start > std::strlen(s)) return 0;
  int found = 0;
  for (const char *p = s + start; *p != '\0';) {
    const int len = ksi_mb_step(p);
    if (is_byte(p, len, ch)) {
      *pos = static_cast<size_t>(p - s);
      found = 1;
    }
    p += len;
  }
  return found;
}

KS_API int strutl_right_char(const char *s, size_t *pos) {
  if (*s == '\0') return 0;
  const char *last = s;
  for (const char *p = s; *p != '\0'; p += ksi_mb_step(p)) last = p;
  *pos = static_cast<size_t>(last - s);
  return 1;
}

KS_API int strutl_match_last_char(const char *s, int ch, size_t *pos) {
  size_t at;
  if (!strutl_right_char(s, &at) || !is_byte(s + at, ksi_mb_step(s + at), ch))
    return 0;
  if (pos != nullptr) *pos = at;
  return 1;
}

KS_API int strutl_find_str_range(const char *s, size_t start, size_t end,
                                 const char *needle, size_t *pos) {
  const size_t len = std::strlen(s);
  const size_t needle_len = std::strlen(needle);
  size_t i = start < len ? start : len;
  for (;;) {
    if ((end != 0 && i >= end) || needle_len > len - i) break;
    if (std::memcmp(s + i, needle, needle_len) == 0) {
      *pos = i;
      return 1;
    }
    if (s[i] == '\0') break;
    i += static_cast<size_t>(ksi_mb_step(s + i));
  }
  *pos = i;
  return 0;
}

KS_API int strutl_find_str(const char *s, size_t start, const char *needle,
                           size_t *pos) {
  return strutl_find_str_range(s, start, 0, needle, pos);
}

KS_API int strutl_find_end_delim(const char *s, size_t start, int open,
                                 int close, size_t *pos) {
  if (start > std::strlen(s)) return 0;
  int depth = 1;
  for (const char *p = s + start; *p != '\0';) {
    const int len = ksi_mb_step(p);
    if (is_byte(p, len, close) && --depth == 0) {
      *pos = static_cast<size_t>(p - s);
      return 1;
    }
    if (is_byte(p, len, open)) ++depth;
    p += len;
  }
  return 0;
}

KS_API char *strutl_strrpbrk(const char *s, const char *set) {
  const char *last = nullptr;
  for (const char *p = s; *p != '\0';) {
    const int len = ksi_mb_step(p);
    if (ksi_mb_char_in_set(p, len, set)) last = p;
    p += len;
  }
  return const_cast<char *>(last);
}

// ---- Editing in place.

KS_API void strutl_slide_tail(char *s, size_t pos, ptrdiff_t shift) {
  PFM_ASSERT(shift >= 0 || static_cast<size_t>(-shift) <= pos);
  const size_t tail = std::strlen(s + pos) + 1;
  std::memmove(s + pos + shift, s + pos, tail);
}

KS_API int strutl_replace_substr(char *s, size_t pos, size_t size,
                                 size_t old_len, const char *new_text) {
  const size_t len = std::strlen(s);
  if (pos > len) pos = len;
  if (old_len > len - pos) old_len = len - pos;
  const size_t new_len = std::strlen(new_text);
  if (new_len > old_len && len - old_len + new_len + 1 > size) {
    imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_BUFFER_TOO_SMALL);
    return 1;
  }
  strutl_slide_tail(
      s, pos + old_len,
      static_cast<ptrdiff_t>(new_len) - static_cast<ptrdiff_t>(old_len));
  std::memcpy(s + pos, new_text, new_len);
  return 0;
}

KS_API int strutl_find_replace_substr(char *s, size_t start, size_t size,
                                      const char *old_text,
                                      const char *new_text, size_t *next) {
  size_t pos;
  const size_t old_len = std::strlen(old_text);
  if (old_len == 0 || !strutl_find_str(s, start, old_text, &pos)) return 1;
  if (strutl_replace_substr(s, pos, size, old_len, new_text) != 0) return 1;
  if (next != nullptr) *next = pos + std::strlen(new_text);
  return 0;
}

KS_API void strutl_strip_whitespace(char *s, int leading, int trailing) {
  size_t len = std::strlen(s);
  if (trailing) {
    while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\t')) --len;
    s[len] = '\0';
  }
  if (leading) {
    const size_t skip = std::strspn(s, " \t");
    std::memmove(s, s + skip, len - skip + 1);
  }
}

KS_API int strutl_cmp_ignore_whitespace(const char *a, const char *b) {
  // Takes the next character of `*p`, a run of white space as one blank.
  auto next = [](const char **p) -> int {
    const auto c = static_cast<unsigned char>(**p);
    if (!std::isspace(c)) {
      if (c != '\0') ++*p;
      return c;
    }
    while (std::isspace(static_cast<unsigned char>(**p))) ++*p;
    return ' ';
  };
  for (;;) {
    const int ca = next(&a);
    const int cb = next(&b);
    if (ca != cb) return ca - cb;
    if (ca == '\0') return 0;
  }
}

KS_API int strutl_match_prefix(const char *s, const char *other, size_t *pos) {
  size_t i = 0;
  for (;;) {
    const int la = ksi_mb_step(s + i);
    const int lb = ksi_mb_step(other + i);
    if (la == 0 || lb == 0 || la != lb ||
        std::memcmp(s + i, other + i, static_cast<size_t>(la)) != 0) {
      if (pos != nullptr) *pos = i;
      return (la == 0 && lb == 0) ? 0 : 1;
    }
    i += static_cast<size_t>(la);
  }
}

KS_API int strutl_str_in_list(list_t *list, const char *s) {
  if (list == nullptr || s == nullptr) return 0;
  void *data;
  for (list_elem_t *e = list_next(list, nullptr, &data); e != nullptr;
       e = list_next(list, e, &data)) {
    if (data != nullptr && std::strcmp(static_cast<const char *>(data), s) == 0)
      return 1;
  }
  return 0;
}

KS_API int strutl_match_numeric_string(const char *s) {
  if (s == nullptr || *s == '\0') return 1;
  for (; *s != '\0'; ++s)
    if (*s < '0' || *s > '9') return 1;
  return 0;
}

// ---- Scrambling.

KS_API int strutl_extract_head(const char *text, char *out, size_t out_size) {
  if (out_size == 0) return 1;
  out[0] = '\0';
  if (*text == '\0') return 0;
  const auto now = static_cast<unsigned long>(std::time(nullptr));
  const unsigned start = static_cast<unsigned>(now % 64);
  symbol_writer writer{out, out_size, 0, start, 0};
  unsigned carry = 0;
  unsigned place = 0;
  bool ok = true;
  for (const char *p = text; ok && *p != '\0'; ++p) {
    const unsigned b = static_cast<unsigned char>(*p);
    ok = writer.put(((b & kLowMask[place]) << kLowShift[place]) | carry);
    carry = (b & kHighMask[place]) >> kHighShift[place];
    if (++place == 3) {
      ok = ok && writer.put(carry);
      carry = 0;
      place = 0;
    }
  }
  // A short last group is completed with clock bits in place of the
  // missing byte's low bits; the reader drops them.
  if (ok && place != 0) {
    const unsigned filler = static_cast<unsigned>(now) & kLowMask[place];
    ok = writer.put((filler << kLowShift[place]) | carry);
  }
  ok = ok && writer.put_raw(start ^ writer.check);
  out[writer.w] = '\0';
  return ok ? 0 : 1;
}

KS_API int strutl_extract_tail(const char *text, char *out, size_t out_size) {
  if (out_size == 0) return 1;
  out[0] = '\0';
  const size_t n = std::strlen(text);
  if (n == 0) return 0;
  unsigned start = 0;
  for (size_t i = 0; i < n; ++i) {
    const int v = alphabet_value(static_cast<unsigned char>(text[i]));
    if (v < 0) return 1;
    start ^= static_cast<unsigned>(v);
  }
  const size_t symbols = n - 1;
  if (symbols % 4 == 1) return 1;
  unsigned key_pos = start;
  size_t w = 0;
  for (size_t i = 0; i < symbols; i += 4) {
    // The symbols of one group, unscrambled; a short group has 2 or 3.
    unsigned s[4] = {0, 0, 0, 0};
    const size_t count = symbols - i < 4 ? symbols - i : 4;
    for (size_t k = 0; k < count; ++k) {
      s[k] = (static_cast<unsigned>(
                  alphabet_value(static_cast<unsigned char>(text[i + k]))) ^
              kKey[key_pos]) &
             63;
      key_pos = (key_pos + 1) % 64;
    }
    const unsigned bytes[3] = {s[0] | ((s[1] & 3) << 6),
                               (s[1] >> 2) | ((s[2] & 15) << 4),
                               (s[2] >> 4) | (s[3] << 2)};
    for (size_t k = 0; k + 1 < count; ++k) {
      if (w + 1 >= out_size) {
        out[w] = '\0';
        return 1;
      }
      out[w++] = static_cast<char>(bytes[k] & 0xFF);
    }
  }
  out[w] = '\0';
  return 0;
}

// ---- Tokenising.

KS_API char *strutl_tokenize(char *text, const char *delims) {
  ksi_strutl_tls *tls = ksi_strutl_tls_get();
  char *p = text != nullptr ? text : tls->token_cursor;
  if (p == nullptr) return nullptr;
  while (*p != '\0' && byte_in(p, ksi_mb_step(p), delims)) ++p;
  if (*p == '\0') {
    tls->token_cursor = nullptr;
    return nullptr;
  }
  char *token = p;
  while (*p != '\0') {
    const int len = ksi_mb_step(p);
    if (byte_in(p, len, delims)) {
      *p = '\0';
      tls->token_cursor = p + 1;
      return token;
    }
    p += len;
  }
  tls->token_cursor = p;
  return token;
}

// ---- Names.

KS_API int strutl_is_ok_name(const char *name, const char *bad_first,
                             const char *extra_ok) {
  if (name == nullptr || *name == '\0') return 0;
  if (ksi_mb_char_in_set(name, ksi_mb_step(name), bad_first)) return 0;
  for (const char *p = name; *p != '\0';) {
    const int len = ksi_mb_step(p);
    if (!ksi_mb_char_in_set(p, len, extra_ok) && !name_char_ok(p, len))
      return 0;
    p += len;
  }
  return 1;
}

// ---- Path separators.

KS_API int strutl_xlate_pname_sep(char *src, const char *seps, int new_sep,
                                  char *dst, size_t dst_size, int *changed) {
  if (changed != nullptr) *changed = 0;
  const char sep = static_cast<char>(new_sep);
  // Written in place, or in `dst` once the first change has copied `src`
  // there; until then `dst` is left alone.
  char *out = (dst == nullptr || dst == src) ? src : nullptr;
  for (char *p = src; *p != '\0';) {
    const int len = ksi_mb_step(p);
    if (byte_in(p, len, seps) && *p != sep) {
      if (out == nullptr) {
        const size_t n = std::strlen(src) + 1;
        if (n > dst_size) return 1;
        std::memcpy(dst, src, n);
        out = dst;
      }
      out[p - src] = sep;
      if (changed != nullptr) *changed = 1;
    }
    p += len;
  }
  return 0;
}

// ---- Escapes.

KS_API size_t strutl_xlate_chars_to_strings(char *dst, const char *src,
                                            const char *chars,
                                            const char *const *strings) {
  size_t w = 0;
  for (const char *p = src; *p != '\0';) {
    const int len = ksi_mb_step(p);
    if (byte_in(p, len, chars)) {
      const char *with = strings[std::strchr(chars, *p) - chars];
      const size_t n = std::strlen(with);
      std::memcpy(dst + w, with, n);
      w += n;
    } else {
      std::memcpy(dst + w, p, static_cast<size_t>(len));
      w += static_cast<size_t>(len);
    }
    p += len;
  }
  dst[w] = '\0';
  return w;
}

KS_API int strutl_cstr_to_str(const char *text, int quoted, char **result) {
  *result = nullptr;
  if (text == nullptr) return 1;
  const char *begin = text;
  const char *end = text + std::strlen(text);
  if (quoted) {
    if (end - begin < 2 || *begin != '"' || end[-1] != '"') return 1;
    ++begin;
    --end;
  }
  auto *out =
      static_cast<char *>(stg_malloc(static_cast<size_t>(end - begin) + 1));
  if (out == nullptr) return 1;
  size_t w = 0;
  for (const char *p = begin; p < end;) {
    const int len = ksi_mb_step(p);
    const bool ok = len > 1 ? p + len <= end : !(quoted && *p == '"');
    if (!ok) {
      stg_free(out);
      return 1;
    }
    if (len > 1 || *p != '\\') {
      std::memcpy(out + w, p, static_cast<size_t>(len));
      w += static_cast<size_t>(len);
      p += len;
      continue;
    }
    ++p;
    if (!decode_escape(&p, end, out + w)) {
      stg_free(out);
      return 1;
    }
    ++w;
  }
  out[w] = '\0';
  *result = out;
  return 0;
}

}  // extern "C"
