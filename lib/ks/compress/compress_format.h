// The compressed block's layout and codes, shared by the encoder and the
// decoder (the public header describes the format).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

// The format byte and the 32-bit big-endian length ahead of the codes.
constexpr uint64_t ksi_compress_header_bytes = 5;
// Copies reach at most this many bytes back.
constexpr uint32_t ksi_compress_window = 4096;
// Copy lengths run from 3 to 34 (five bits hold length - 3).
constexpr uint32_t ksi_compress_min_copy = 3;
constexpr uint32_t ksi_compress_max_copy = 34;
// Code sizes in bits: literals below 128, literals from 128 on, copies.
constexpr unsigned ksi_compress_low_literal_bits = 8;
constexpr unsigned ksi_compress_high_literal_bits = 9;
constexpr unsigned ksi_compress_copy_bits = 19;

inline uint64_t ksi_load_be64(const unsigned char *p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) {
    v = __builtin_bswap64(v);
  }
  return v;
}
