// The string and byte hashes, eight characters per step.
//
// Both hashes fold each byte c into h as h + ((h << 7) ^ c). For c below
// 0x80 the shifted h has no bit in common with c, so the XOR is an
// addition and the step is h * 129 + c: eight such bytes add up to
// h * 129^8 + (a polynomial of the eight bytes), which a few independent
// multiplications compute while the byte-serial loop would wait for
// 3 cycles per byte. Bytes from 0x80 up (sign-extended in the string hash)
// do not fold linearly and take the one-byte step.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ksi_hash_poly {

// fold8 takes the first byte from the word's low end.
static_assert(std::endian::native == std::endian::little);

constexpr uint32_t kPow2 = 129u * 129u;
constexpr uint32_t kPow4 = kPow2 * kPow2;
constexpr uint32_t kPow8 = kPow4 * kPow4;  // modulo 2^32
constexpr uint64_t kHighBits = 0x8080808080808080u;
constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFu;
constexpr uint64_t kEvenPairs = 0x0000FFFF0000FFFFu;

// Sum of b[j] * 129^(7 - j) over the eight bytes of x (b[0] lowest), every
// byte below 0x80. The partial sums never exceed their lanes: a pair is at
// most 127 * 129 + 127 < 2^16, a quad at most 16510 * 129^2 + 16510 < 2^32.
inline uint32_t fold8(uint64_t x) {
  const uint64_t pairs = (x & kEvenBytes) * 129 + ((x >> 8) & kEvenBytes);
  const uint64_t quads =
      (pairs & kEvenPairs) * kPow2 + ((pairs >> 16) & kEvenPairs);
  return static_cast<uint32_t>(quads) * kPow4 +
         static_cast<uint32_t>(quads >> 32);
}

// One byte, c already widened as the hash takes it.
inline uint32_t step(uint32_t h, uint32_t c) { return h + ((h << 7) ^ c); }

// 129^n modulo 2^32 for n from 0 to 8.
constexpr uint32_t kPowers[9] = {
    1,     129u,         kPow2,        kPow2 * 129u,
    kPow4, kPow4 * 129u, kPow4 *kPow2, kPow4 *kPow2 * 129u,
    kPow8};

// The hash of n bytes at p continued from h; Widen turns a byte into the
// 32-bit value the hash folds in. A key of eight bytes or more ends with
// the word that ends at its last byte, the bytes already folded masked to
// zero: a zero byte adds nothing to the sum, so the last one to eight bytes
// fold in one step, and a key of 25 to 32 bytes always takes three words
// before it, without a byte loop whose length depends on the key.
template <typename Widen>
inline uint32_t hash(uint32_t h, const unsigned char *p, size_t n,
                     Widen widen) {
  if (n < 8) {
    for (; n > 0; ++p, --n) h = step(h, widen(*p));
    return h;
  }
  for (; n > 8; p += 8, n -= 8) {
    uint64_t x;
    std::memcpy(&x, p, 8);
    if ((x & kHighBits) == 0) {
      h = h * kPow8 + fold8(x);
    } else {
      for (int i = 0; i < 8; ++i) h = step(h, widen(p[i]));
    }
  }
  uint64_t x;  // the last n bytes (1 to 8) in its high end
  std::memcpy(&x, p + n - 8, 8);
  x &= ~uint64_t{0} << (8 * (8 - n));
  if ((x & kHighBits) == 0) return h * kPowers[n] + fold8(x);
  for (; n > 0; ++p, --n) h = step(h, widen(*p));
  return h;
}

// A character as a signed byte widened to 32 bits.
inline uint32_t widen_signed(unsigned char c) {
  return static_cast<uint32_t>(
      static_cast<int32_t>(static_cast<signed char>(c)));
}

inline uint32_t widen_unsigned(unsigned char c) { return c; }

}  // namespace ksi_hash_poly
