// Multibyte characters: lengths, counts, single-character conversions,
// case conversion, case-blind collation and character classes. Character
// boundaries come from the C library's restartable multibyte functions,
// each call with its own conversion state, so every routine is reentrant.
#include "strings/strutl_internal.h"

#include <orvexks/strutl.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include <strings.h>

bool ksi_mb_single_byte() { return MB_CUR_MAX == 1; }

int ksi_mb_decode(const char *s, size_t n, wchar_t *wc) {
  if (n == 0 || *s == '\0') {
    *wc = 0;
    return 0;
  }
  std::mbstate_t state{};
  const size_t r = std::mbrtowc(wc, s, n, &state);
  if (r != static_cast<size_t>(-1) && r != static_cast<size_t>(-2))
    return static_cast<int>(r);
  if (ksi_mb_single_byte()) {
    *wc = static_cast<unsigned char>(*s);
    return 1;
  }
  *wc = static_cast<unsigned char>(*s);
  return -1;
}

bool ksi_mb_char_in_set(const char *ch, int len, const char *set) {
  if (set == nullptr) return false;
  const size_t want = static_cast<size_t>(len);
  while (*set != '\0') {
    const int step = ksi_mb_step(set);
    if (static_cast<size_t>(step) == want && std::memcmp(set, ch, want) == 0)
      return true;
    set += step;
  }
  return false;
}

namespace {

// Case conversion of one decoded character; invalid sequences and
// single-byte code pages use the byte tables.
wint_t convert_case(wint_t wc, int upper) {
  return upper ? std::towupper(wc) : std::towlower(wc);
}

// Lower-cases `s` into wide characters for collation. Uses `local` when it
// is large enough, else the heap (`*owned` set); null when memory ran out.
wchar_t *fold_for_collation(const char *s, wchar_t *local, size_t local_len,
                            wchar_t **owned) {
  const size_t len = std::strlen(s);
  wchar_t *out = local;
  *owned = nullptr;
  if (len + 1 > local_len) {
    out = static_cast<wchar_t *>(std::malloc((len + 1) * sizeof(wchar_t)));
    if (out == nullptr) return nullptr;
    *owned = out;
  }
  size_t w = 0;
  while (*s != '\0') {
    wchar_t wc;
    const int r = ksi_mb_decode(s, MB_LEN_MAX, &wc);
    if (r < 0 || ksi_mb_single_byte()) {
      // The byte tables know the single-byte code page's cases; the
      // lowered byte is then mapped to the locale's wide value.
      const char lowered =
          static_cast<char>(std::tolower(static_cast<unsigned char>(*s)));
      if (ksi_mb_decode(&lowered, 1, &wc) != 1)
        wc = static_cast<unsigned char>(lowered);
      out[w++] = wc;
      s += 1;
      continue;
    }
    out[w++] = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(wc)));
    s += r;
  }
  out[w] = 0;
  return out;
}

}  // namespace

extern "C" {

KS_API int strutl_mblen(const char *s, size_t n) {
  if (s == nullptr || n == 0 || *s == '\0') return 0;
  if (ksi_mb_single_byte()) return 1;
  std::mbstate_t state{};
  const size_t r = std::mbrlen(s, n, &state);
  if (r == static_cast<size_t>(-1) || r == static_cast<size_t>(-2) || r == 0)
    return 1;
  return static_cast<int>(r);
}

KS_API size_t strutl_mb_strlen(const char *s) {
  if (s == nullptr) return 0;
  if (ksi_mb_single_byte()) return std::strlen(s);
  size_t count = 0;
  while (*s != '\0') {
    s += ksi_mb_step(s);
    ++count;
  }
  return count;
}

KS_API int strutl_mb_char_from_str(const char *s, char *dst, size_t dst_size) {
  if (dst_size == 0) return 0;
  dst[0] = '\0';
  if (s == nullptr) return 0;
  const int len = ksi_mb_step(s);
  if (len == 0 || static_cast<size_t>(len) >= dst_size) return 0;
  std::memcpy(dst, s, static_cast<size_t>(len));
  dst[len] = '\0';
  return len;
}

KS_API int strutl_wide_char_from_str(const char *s, strutl_wchar_t *wc) {
  *wc = 0;
  if (s == nullptr) return 0;
  wchar_t value;
  const int r = ksi_mb_decode(s, MB_LEN_MAX, &value);
  if (r <= 0) return r;
  if (static_cast<unsigned long>(value) > 0xFFFF) return -1;
  *wc = static_cast<strutl_wchar_t>(value);
  return r;
}

KS_API size_t strutl_wide_strlen(const strutl_wchar_t *ws) {
  if (ws == nullptr) return 0;
  size_t n = 0;
  while (ws[n] != 0) ++n;
  return n;
}

KS_API int strutl_cvt_case_char(const char *ch, size_t n, int upper,
                                char *dst) {
  if (ch == nullptr) return 0;
  wchar_t wc;
  const int r = ksi_mb_decode(ch, n, &wc);
  if (r == 0) return 0;
  if (r < 0 || ksi_mb_single_byte()) {
    const int c = static_cast<unsigned char>(*ch);
    dst[0] = static_cast<char>(upper ? std::toupper(c) : std::tolower(c));
    return 1;
  }
  char converted[MB_LEN_MAX];
  std::mbstate_t state{};
  const size_t len = std::wcrtomb(
      converted,
      static_cast<wchar_t>(convert_case(static_cast<wint_t>(wc), upper)),
      &state);
  if (len == static_cast<size_t>(-1)) {
    std::memcpy(dst, ch, static_cast<size_t>(r));
    return r;
  }
  std::memcpy(dst, converted, len);
  return static_cast<int>(len);
}

KS_API int strutl_cvt_case_string(const char *src, int upper, size_t dst_size,
                                  char *dst) {
  if (dst_size == 0) return 0;
  if (src == nullptr) {
    dst[0] = '\0';
    return 1;
  }
  // A converted character may be longer than the original, so converting
  // in place works from a copy of the source.
  const size_t src_len = std::strlen(src);
  char *copy = nullptr;
  if (dst < src + src_len + 1 && src < dst + dst_size) {
    copy = static_cast<char *>(std::malloc(src_len + 1));
    if (copy == nullptr) return 0;
    std::memcpy(copy, src, src_len + 1);
    src = copy;
  }
  size_t w = 0;
  int fitted = 1;
  while (*src != '\0') {
    char converted[MB_LEN_MAX];
    const int step = ksi_mb_step(src);
    const int len =
        strutl_cvt_case_char(src, static_cast<size_t>(step), upper, converted);
    if (w + static_cast<size_t>(len) >= dst_size) {
      fitted = 0;
      break;
    }
    std::memcpy(dst + w, converted, static_cast<size_t>(len));
    w += static_cast<size_t>(len);
    src += step;
  }
  dst[w] = '\0';
  std::free(copy);
  return fitted;
}

KS_API int strutl_stricoll(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  wchar_t local_a[128], local_b[128];
  wchar_t *owned_a, *owned_b;
  const wchar_t *wa = fold_for_collation(a, local_a, 128, &owned_a);
  const wchar_t *wb = fold_for_collation(b, local_b, 128, &owned_b);
  const int result = (wa != nullptr && wb != nullptr) ? std::wcscoll(wa, wb)
                                                      : strcasecmp(a, b);
  std::free(owned_a);
  std::free(owned_b);
  return result;
}

KS_API int strutl_get_sys_char_type(void) {
  return ksi_mb_single_byte() ? 1 : 0;
}

KS_API void strutl_cvt_sjis_to_euc(unsigned char hi, unsigned char lo,
                                   unsigned char *hi2, unsigned char *lo2) {
  // Shift-JIS packs two JIS X 0208 rows into each lead byte: rows come in
  // pairs, and the trail byte tells the odd row (0x40-0x9E) from the even
  // one (0x9F-0xFC). EUC-JP is the JIS pair with the high bits set.
  unsigned row = hi >= 0xE0 ? hi - 0x40u : hi;
  row = (row - 0x81u) * 2u + 0x21u;
  unsigned cell = lo;
  if (cell >= 0x9F) {
    ++row;
    cell -= 0x7E;
  } else {
    if (cell >= 0x80) --cell;
    cell -= 0x1F;
  }
  *hi2 = static_cast<unsigned char>((row | 0x80u) & 0xFFu);
  *lo2 = static_cast<unsigned char>((cell | 0x80u) & 0xFFu);
}

KS_API int strutl_test_char(const char *ch, size_t n, uint32_t classes,
                            int *len) {
  wchar_t wc = 0;
  int r = ch != nullptr ? ksi_mb_decode(ch, n, &wc) : 0;
  if (len != nullptr) *len = r < 0 ? 1 : r;
  if (r == 0) return classes == 0;
  bool in[10];
  if (r < 0 || ksi_mb_single_byte()) {
    const int c = static_cast<unsigned char>(*ch);
    in[0] = std::isalpha(c);
    in[1] = std::isupper(c);
    in[2] = std::islower(c);
    in[3] = std::isdigit(c);
    in[4] = std::isxdigit(c);
    in[5] = std::isalnum(c);
    in[6] = std::isspace(c);
    in[7] = std::ispunct(c);
    in[8] = std::isprint(c);
    in[9] = std::isgraph(c);
  } else {
    const wint_t w = static_cast<wint_t>(wc);
    in[0] = std::iswalpha(w);
    in[1] = std::iswupper(w);
    in[2] = std::iswlower(w);
    in[3] = std::iswdigit(w);
    in[4] = std::iswxdigit(w);
    in[5] = std::iswalnum(w);
    in[6] = std::iswspace(w);
    in[7] = std::iswpunct(w);
    in[8] = std::iswprint(w);
    in[9] = std::iswgraph(w);
  }
  for (int bit = 0; bit < 10; ++bit)
    if ((classes & (1u << bit)) != 0 && !in[bit]) return 0;
  return 1;
}

}  // extern "C"
