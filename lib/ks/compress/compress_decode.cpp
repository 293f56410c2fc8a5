// The decoder. The announced length is checked against what the block's
// bits could produce before anything is allocated, and every copy against
// the bytes already produced and the bytes still missing, so damaged input
// is refused without reading outside the block or writing outside the
// result.
//
// The main loop reads eight bytes at a time (57 usable bits, enough for
// three codes of any kind) and copies in whole words, which may write past
// a copy's end; it runs while the result has room for that and the block
// for the load. The rest is decoded code by code with exact bounds.
#include <orvexks/compress.h>
#include <orvexks/imsg.h>
#include <orvexks/stg.h>

#include <cstdint>
#include <cstring>

#include "compress/compress_format.h"
#include "startup/ks_msgs.h"

namespace {

// Bytes a copy may write beyond its end in the main loop.
constexpr uint64_t kCopySlack = 16;
constexpr uint64_t kFastRoom = ksi_compress_max_copy + kCopySlack;

void report_damage() {
  imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_BAD_FORMAT_NUMBER,
             "compressed data");
}

// The most bytes that codes in `bytes` bytes of stream can produce: every
// 19 bits a 34-byte copy, plus what fits in the rest.
uint64_t most_output(uint64_t bytes) {
  // Beyond this the bound exceeds any 32-bit length anyway.
  constexpr uint64_t kEnough = uint64_t{1} << 32;
  const uint64_t bits = (bytes < kEnough ? bytes : kEnough) * 8;
  return (bits / ksi_compress_copy_bits + 1) * ksi_compress_max_copy;
}

// The next 64 bits of the stream from bit `at`, zero past its end.
uint64_t peek_tail(const unsigned char *src, uint64_t len, uint64_t at) {
  uint64_t w = 0;
  for (uint64_t i = at / 8; i < at / 8 + 8; ++i)
    w = (w << 8) | (i < len ? src[i] : 0);
  return w << (at % 8);
}

// Copies len bytes from distance back, as a byte-by-byte copy would
// (overlap repeats the last distance bytes), writing up to kCopySlack bytes
// past the end.
inline void copy_fast(unsigned char *o, uint32_t distance, uint32_t len) {
  const unsigned char *from = o - distance;
  if (distance >= 16) {
    // Each 16 bytes read were written before this copy or by an earlier
    // step of it.
    for (uint32_t i = 0; i < len; i += 16) std::memcpy(o + i, from + i, 16);
  } else if (distance >= 8) {
    for (uint32_t i = 0; i < len; i += 8) std::memcpy(o + i, from + i, 8);
  } else if (distance == 1) {
    std::memset(o, *from, ksi_compress_max_copy);
  } else {
    for (uint32_t i = 0; i < len; ++i) o[i] = from[i];
  }
}

// One code at the top of w: the literal or the copy, and its size in bits.
struct code {
  unsigned bits;
  uint32_t distance;  // 0 for a literal
  uint32_t len;
  unsigned char literal;
};

inline code read_code(uint64_t w) {
  if ((w >> 63) == 0) {
    return {ksi_compress_low_literal_bits, 0, 1,
            static_cast<unsigned char>(w >> 56)};
  }
  if ((w >> 62) == 3) {
    return {ksi_compress_high_literal_bits, 0, 1,
            static_cast<unsigned char>(w >> 55)};
  }
  return {ksi_compress_copy_bits, static_cast<uint32_t>((w >> 50) & 0xFFF) + 1,
          static_cast<uint32_t>((w >> 45) & 0x1F) + ksi_compress_min_copy, 0};
}

// Decodes the stream src[0, len) into dst[0, size); false when it is
// damaged.
bool expand(const unsigned char *src, uint64_t len, unsigned char *dst,
            uint64_t size) {
  unsigned char *o = dst;
  unsigned char *const end = dst + size;
  uint64_t at = 0;  // bit position in src
  // The main loop runs while eight bytes can be loaded at `at` and the
  // result has room for three copies and their slack.
  const uint64_t load_end = len >= 8 ? (len - 7) * 8 : 0;
  while (at < load_end && static_cast<uint64_t>(end - o) >= 3 * kFastRoom) {
    uint64_t w = ksi_load_be64(src + at / 8) << (at % 8);
    // 57 bits are valid in w: room for three codes of any size.
    for (int k = 0; k < 3; ++k) {
      const auto top = static_cast<unsigned>(w >> 62);
      if (top != 2) {
        // A literal: "0" and seven bits, or "1" and the byte ("11...").
        const unsigned high = top >> 1;
        *o++ = static_cast<unsigned char>(w >> (56 - high));
        w <<= ksi_compress_low_literal_bits + high;
        at += ksi_compress_low_literal_bits + high;
        continue;
      }
      const auto distance = static_cast<uint32_t>((w >> 50) & 0xFFF) + 1;
      const auto n =
          static_cast<uint32_t>((w >> 45) & 0x1F) + ksi_compress_min_copy;
      w <<= ksi_compress_copy_bits;
      at += ksi_compress_copy_bits;
      if (distance > static_cast<uint64_t>(o - dst)) return false;
      copy_fast(o, distance, n);
      o += n;
    }
  }
  const uint64_t total_bits = len * 8;
  while (o < end) {
    const code c = read_code(peek_tail(src, len, at));
    if (total_bits - at < c.bits) return false;
    at += c.bits;
    if (c.distance == 0) {
      *o++ = c.literal;
      continue;
    }
    if (c.distance > static_cast<uint64_t>(o - dst) ||
        c.len > static_cast<uint64_t>(end - o))
      return false;
    for (uint32_t i = 0; i < c.len; ++i, ++o) *o = *(o - c.distance);
  }
  return true;
}

}  // namespace

extern "C" {

void *compress_uncompress(uint64_t in_len, const void *in, uint64_t *out_len) {
  const auto *block = static_cast<const unsigned char *>(in);
  if (in_len < ksi_compress_header_bytes || block[0] != COMPRESS_FORMAT) {
    report_damage();
    return nullptr;
  }
  const uint64_t size = uint64_t{block[1]} << 24 | uint64_t{block[2]} << 16 |
                        uint64_t{block[3]} << 8 | block[4];
  const uint64_t stream = in_len - ksi_compress_header_bytes;
  if (size > most_output(stream)) {
    report_damage();
    return nullptr;
  }
  auto *out = static_cast<unsigned char *>(stg_malloc(size));
  if (out == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_NO_STORAGE);
    return nullptr;
  }
  if (!expand(block + ksi_compress_header_bytes, stream, out, size)) {
    stg_free(out);
    report_damage();
    return nullptr;
  }
  *out_len = size;
  return out;
}

}  // extern "C"
