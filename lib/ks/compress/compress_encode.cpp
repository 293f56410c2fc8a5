// The encoder. Other programs of the product compare and store compressed
// blocks, so every choice below is part of the format: the three-byte hash
// and its 8091 chains, the 11-node walk, the newest node winning among
// equal lengths, and only a copy's first position entering the chains.
//
// A chain is kept as zlib-style arrays rather than linked nodes: heads[h]
// holds the newest position of chain h and older[pos % 8192] the position
// entered before pos on its chain. A walk stops at the first position more
// than the window behind, and every slot of `older` it can reach was written
// less than 8192 positions ago, so no slot is read after being reused.
// Positions are stored plus ksi_compress_window + 1, which makes an empty
// slot (0) always lie outside the window.
#include <orvexks/compress.h>
#include <orvexks/pfm.h>
#include <orvexks/stg.h>

#include <bit>
#include <csetjmp>
#include <cstdint>
#include <cstring>

#include "compress/compress_format.h"

namespace {

constexpr uint32_t kChains = 8091;
constexpr int kMaxWalk = 11;
constexpr uint32_t kOlderSlots = 8192;
constexpr uint64_t kBias = ksi_compress_window + 1;
// The chain storage area's chunk size.
constexpr uint64_t kAreaIncrement = 32000;
// Bytes compared a word at a time: whole words up to the longest copy.
constexpr uint32_t kCompareSpan = (ksi_compress_max_copy + 7) / 8 * 8;

inline uint32_t chain_of(const unsigned char *p) {
  const uint32_t b0 = p[0], b1 = p[1], b2 = p[2];
  return ((b1 + 8 * b2) * 8 + b0) * b0 % kChains;
}

inline uint64_t load64(const unsigned char *p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// How many leading bytes (in memory order) two words share, given their
// non-zero exclusive or.
inline uint32_t equal_prefix(uint64_t difference) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<uint32_t>(std::countr_zero(difference)) / 8;
  } else {
    return static_cast<uint32_t>(std::countl_zero(difference)) / 8;
  }
}

// Equal leading bytes of a and b, up to limit. wide: kCompareSpan bytes
// are readable at both.
inline uint32_t run_length(const unsigned char *a, const unsigned char *b,
                           uint32_t limit, bool wide) {
  if (wide) {
    for (uint32_t i = 0; i < kCompareSpan; i += 8) {
      const uint64_t x = load64(a + i) ^ load64(b + i);
      if (x != 0) {
        const uint32_t n = i + equal_prefix(x);
        return n < limit ? n : limit;
      }
    }
    return limit;
  }
  uint32_t n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Codes are gathered in a 64-bit accumulator and stored 32 bits at a time,
// most significant bit first.
struct bit_writer {
  unsigned char *out;
  uint64_t acc;
  unsigned pending;  // bits of acc not yet stored, below 32 between calls
};

inline void put_bits(bit_writer *w, uint32_t code, unsigned bits) {
  w->acc = (w->acc << bits) | code;
  w->pending += bits;
  if (w->pending >= 32) {
    w->pending -= 32;
    const auto word = static_cast<uint32_t>(w->acc >> w->pending);
    const unsigned char be[4] = {static_cast<unsigned char>(word >> 24),
                                 static_cast<unsigned char>(word >> 16),
                                 static_cast<unsigned char>(word >> 8),
                                 static_cast<unsigned char>(word)};
    std::memcpy(w->out, be, 4);
    w->out += 4;
  }
}

inline void put_literal(bit_writer *w, unsigned char byte) {
  if (byte < 0x80) {
    put_bits(w, byte, ksi_compress_low_literal_bits);
  } else {
    put_bits(w, 0x100u | byte, ksi_compress_high_literal_bits);
  }
}

// Pads the last byte with zero bits.
inline void flush_bits(bit_writer *w) {
  while (w->pending >= 8) {
    w->pending -= 8;
    *w->out++ = static_cast<unsigned char>(w->acc >> w->pending);
  }
  if (w->pending > 0)
    *w->out++ = static_cast<unsigned char>(w->acc << (8 - w->pending));
  w->pending = 0;
}

// The codes of in[0, n) into w. Pos holds a biased position: 32 bits
// unless the input is too long for them.
template <typename Pos>
void encode(const unsigned char *in, uint64_t n, Pos *heads, Pos *older,
            bit_writer *w) {
  uint64_t p = 0;
  while (n >= ksi_compress_min_copy && p <= n - ksi_compress_min_copy) {
    const unsigned char *here = in + p;
    const uint64_t left = n - p;
    const uint32_t limit = left < ksi_compress_max_copy
                               ? static_cast<uint32_t>(left)
                               : ksi_compress_max_copy;
    const bool wide = left >= kCompareSpan;
    const Pos biased = static_cast<Pos>(p + kBias);
    const uint32_t h = chain_of(here);

    uint32_t best = 0, best_distance = 0;
    Pos node = heads[h];
    for (int walked = 0; walked < kMaxWalk; ++walked) {
      const Pos distance = biased - node;
      if (distance > ksi_compress_window) break;
      const unsigned char *there = here - distance;
      if (there[best] == here[best]) {
        const uint32_t run = run_length(there, here, limit, wide);
        if (run > best) {
          best = run;
          best_distance = static_cast<uint32_t>(distance);
          if (best == limit) break;
        }
      }
      node = older[node % kOlderSlots];
    }
    // A head outside the window ends its chain: the walk stops there, so
    // linking it behind the new head is the same as starting afresh.
    older[biased % kOlderSlots] = heads[h];
    heads[h] = biased;

    if (best >= ksi_compress_min_copy) {
      // "10", twelve bits of distance - 1, five bits of length - 3.
      put_bits(w,
               ((0x2000u | (best_distance - 1)) << 5) |
                   (best - ksi_compress_min_copy),
               ksi_compress_copy_bits);
      p += best;
    } else {
      put_literal(w, *here);
      ++p;
    }
  }
  for (; p < n; ++p) put_literal(w, in[p]);
}

// Positions fit 32 bits with their bias for every input below 4 GiB less a
// window.
constexpr uint64_t kMax32BitInput = UINT32_MAX - 2 * kBias;

// Returns the chain tables' bytes for an input of n bytes.
uint64_t table_bytes(uint64_t n) {
  const uint64_t slot =
      n <= kMax32BitInput ? sizeof(uint32_t) : sizeof(uint64_t);
  return (kChains + kOlderSlots) * slot;
}

void write_header(unsigned char *out, uint64_t n) {
  out[0] = COMPRESS_FORMAT;
  out[1] = static_cast<unsigned char>(n >> 24);
  out[2] = static_cast<unsigned char>(n >> 16);
  out[3] = static_cast<unsigned char>(n >> 8);
  out[4] = static_cast<unsigned char>(n);
}

}  // namespace

extern "C" {

void *compress_compress(uint64_t in_len, const void *in, uint64_t *out_len) {
  // What the cleanup code releases when a raise passes through (a report
  // of exhaustion or a storage trace is a delivery point).
  stg_area_t volatile area = STG_AREA_NULL;
  unsigned char *volatile out = nullptr;
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) != 0) {
    stg_area_t doomed = area;
    stg_delete_area(&doomed);
    stg_free(out);
    pfm_raise(static_cast<uint32_t>(rec.status));
  }
  area = stg_create_area(kAreaIncrement);
  const uint64_t tables_size = table_bytes(in_len);
  void *tables = area == STG_AREA_NULL ? nullptr : stg_alloc(area, tables_size);
  // Nine bits per byte and the header at worst; the format's users size
  // the block as a quarter more than the input, plus 32.
  if (tables != nullptr)
    out = static_cast<unsigned char *>(stg_malloc(in_len + in_len / 4 + 32));
  unsigned char *const block = out;
  if (block != nullptr) {
    std::memset(tables, 0, tables_size);
    write_header(block, in_len);
    bit_writer w = {block + ksi_compress_header_bytes, 0, 0};
    const auto *bytes = static_cast<const unsigned char *>(in);
    if (in_len <= kMax32BitInput) {
      auto *heads = static_cast<uint32_t *>(tables);
      encode<uint32_t>(bytes, in_len, heads, heads + kChains, &w);
    } else {
      auto *heads = static_cast<uint64_t *>(tables);
      encode<uint64_t>(bytes, in_len, heads, heads + kChains, &w);
    }
    flush_bits(&w);
    *out_len = static_cast<uint64_t>(w.out - block);
  }
  // The block is the caller's from here on; the handler has nothing left
  // to release once the area is gone.
  out = nullptr;
  stg_area_t done = area;
  area = STG_AREA_NULL;
  stg_delete_area(&done);
  pfm_cleanup_rls(&rec);
  return block;
}

}  // extern "C"
