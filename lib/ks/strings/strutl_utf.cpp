// Conversions between UTF-16 and UTF-8, and between the locale's multibyte
// texts and 16-bit wide texts.
#include "msg/msg_out.h"
#include "strings/strutl_internal.h"
#include "strings/strutl_msgs.h"

#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <climits>
#include <cstring>
#include <cwchar>

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

int utf8_length_of(uint32_t cp) {
  if (cp < 0x80) return 1;
  if (cp < 0x800) return 2;
  if (cp < 0x10000) return 3;
  return 4;
}

void put_utf8(char *dst, uint32_t cp, int len) {
  static const unsigned char kLead[] = {0, 0x00, 0xC0, 0xE0, 0xF0};
  for (int i = len - 1; i > 0; --i) {
    dst[i] = static_cast<char>(0x80 | (cp & 0x3F));
    cp >>= 6;
  }
  dst[0] = static_cast<char>(kLead[len] | cp);
}

// Sequence length announced by a UTF-8 lead byte, with the lead byte's
// value bits. A stray continuation byte and 0xFE/0xFF stand alone and are
// reported with no value bits (decoded as U+FFFD).
int utf8_sequence(unsigned char b, uint32_t *bits, bool *valid) {
  *valid = true;
  if (b < 0x80) return *bits = b, 1;
  if (b < 0xC0 || b >= 0xFE) return *valid = false, *bits = 0, 1;
  int len = 2;
  for (unsigned mask = 0x20; (b & mask) != 0; mask >>= 1) ++len;
  *bits = b & ((1u << (7 - len)) - 1);
  return len;
}

// Number of 16-bit units `text` converts to, writing them to `out` when
// not null (at most `room` units). -1 when a character cannot be converted.
long to_wide_units(const char *text, strutl_wchar_t *out, size_t room) {
  size_t units = 0;
  while (*text != '\0') {
    wchar_t wc;
    const int r = ksi_mb_decode(text, MB_LEN_MAX, &wc);
    if (r < 0) return -1;
    const uint32_t cp = static_cast<uint32_t>(wc);
    const size_t need = cp > 0xFFFF ? 2 : 1;
    if (out != nullptr && units + need <= room) {
      if (need == 2) {
        out[units] =
            static_cast<strutl_wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        out[units + 1] = static_cast<strutl_wchar_t>(0xDC00 + (cp & 0x3FF));
      } else {
        out[units] = static_cast<strutl_wchar_t>(cp);
      }
    }
    units += need;
    text += r;
  }
  return static_cast<long>(units);
}

// Converts one code point to the locale's multibyte form in `buf`;
// returns its length or -1.
int from_wide_char(uint32_t cp, char *buf) {
  if (ksi_mb_single_byte() && cp <= 0xFF) {
    // The byte the C library maps to this value, or the byte of that value
    // when the C library has no mapping for it.
    std::mbstate_t state{};
    const size_t n = std::wcrtomb(buf, static_cast<wchar_t>(cp), &state);
    if (n == 1) return 1;
    buf[0] = static_cast<char>(cp);
    return 1;
  }
  if (is_high_surrogate(cp) || is_low_surrogate(cp)) return -1;
  std::mbstate_t state{};
  const size_t n = std::wcrtomb(buf, static_cast<wchar_t>(cp), &state);
  return n == static_cast<size_t>(-1) ? -1 : static_cast<int>(n);
}

// Bytes the whole wide text converts to, copying them into `out` when not
// null; -1 when a unit cannot be converted.
long to_multibyte(const strutl_wchar_t *wide, char *out) {
  size_t bytes = 0;
  for (size_t i = 0; wide[i] != 0; ++i) {
    uint32_t cp = wide[i];
    if (is_high_surrogate(cp) && is_low_surrogate(wide[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00u);
      ++i;
    }
    char buf[MB_LEN_MAX];
    const int n = from_wide_char(cp, buf);
    if (n < 0) return -1;
    if (out != nullptr) std::memcpy(out + bytes, buf, static_cast<size_t>(n));
    bytes += static_cast<size_t>(n);
  }
  return static_cast<long>(bytes);
}

}  // namespace

extern "C" {

KS_API int strutl_utf16to8(char *dst, const strutl_wchar_t *src,
                           size_t src_units, size_t dst_size) {
  if (dst_size == 0) return 3;
  size_t w = 0;
  for (size_t i = 0; i < src_units && src[i] != 0; ++i) {
    uint32_t cp = src[i];
    size_t taken = 1;
    if (is_high_surrogate(cp) && i + 1 < src_units &&
        is_low_surrogate(src[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (src[i + 1] - 0xDC00u);
      taken = 2;
    }
    const int len = utf8_length_of(cp);
    if (w + static_cast<size_t>(len) + 1 > dst_size) {
      dst[w] = '\0';
      return 3;
    }
    put_utf8(dst + w, cp, len);
    w += static_cast<size_t>(len);
    i += taken - 1;
  }
  dst[w] = '\0';
  return 0;
}

KS_API int strutl_utf8to16(strutl_wchar_t *dst, const char *src,
                           size_t src_bytes, size_t dst_units,
                           size_t *consumed) {
  size_t i = 0;
  size_t w = 0;
  int result = 0;
  if (dst_units == 0) {
    if (consumed != nullptr) *consumed = 0;
    return 3;
  }
  while (i < src_bytes && src[i] != '\0') {
    uint32_t cp;
    bool valid;
    const size_t len = static_cast<size_t>(
        utf8_sequence(static_cast<unsigned char>(src[i]), &cp, &valid));
    // The input ends inside the character: at the byte count, or at a
    // terminator among its continuation bytes.
    if (len > src_bytes - i ||
        std::memchr(src + i + 1, '\0', len - 1) != nullptr) {
      result = 1;
      break;
    }
    for (size_t k = 1; k < len; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(src[i + k]) & 0x3Fu);
    if (!valid || cp > kMaxCodePoint) cp = kReplacement;
    const size_t need = cp > 0xFFFF ? 2 : 1;
    if (w + need + 1 > dst_units) {
      result = 3;
      break;
    }
    if (need == 2) {
      dst[w++] = static_cast<strutl_wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
      dst[w++] = static_cast<strutl_wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      dst[w++] = static_cast<strutl_wchar_t>(cp);
    }
    i += len;
  }
  dst[w] = 0;
  if (consumed != nullptr) *consumed = i;
  return result;
}

KS_API strutl_wchar_t *strutl_cvt_str_to_wide_str(const char *text,
                                                  stg_area_t area) {
  PFM_ASSERT(area != STG_AREA_NULL);
  if (text == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_NULL_STRING);
    return nullptr;
  }
  const size_t n = strutl_mb_strlen(text);
  auto *wide = static_cast<strutl_wchar_t *>(
      stg_alloc(area, (n + 1) * sizeof(strutl_wchar_t)));
  if (wide == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_NO_MEMORY);
    return nullptr;
  }
  // A character the wide form cannot hold in one unit (an invalid
  // sequence, or one that needs a surrogate pair) makes the counts differ.
  const long units = to_wide_units(text, wide, n);
  if (units != static_cast<long>(n)) {
    imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_TO_WIDE_FAILED, text);
    wide[0] = 0;
    return wide;
  }
  wide[n] = 0;
  return wide;
}

KS_API char *strutl_cvt_wide_str_to_str(const strutl_wchar_t *wide,
                                        stg_area_t area) {
  PFM_ASSERT(area != STG_AREA_NULL);
  if (wide == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_NULL_STRING);
    return nullptr;
  }
  const long bytes = to_multibyte(wide, nullptr);
  const size_t room = bytes < 0 ? 1 : static_cast<size_t>(bytes) + 1;
  auto *text = static_cast<char *>(stg_alloc(area, room));
  if (text == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_NO_MEMORY);
    return nullptr;
  }
  if (bytes < 0) {
    imsg_print(IMSG_ERROR, &ksi_strutl_msgs, KSI_STRUTL_TO_MULTIBYTE_FAILED);
    text[0] = '\0';
    return text;
  }
  to_multibyte(wide, text);
  text[bytes] = '\0';
  return text;
}

}  // extern "C"
