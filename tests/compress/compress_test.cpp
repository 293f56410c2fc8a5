// Compression: blocks worked out by hand from the format, round trips read
// back by our decoder and by a second decoder written here from the format
// description alone, every kind of damaged block, calls from several
// threads at once, and exhausted memory.
#include <gtest/gtest.h>

#include <orvexks/compress.h>
#include <orvexks/stg.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "internal/nt_alloc_fault.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes pack(const bytes &in) {
  uint64_t len = 0;
  void *block = compress_compress(in.size(), in.data(), &len);
  EXPECT_NE(block, nullptr);
  if (block == nullptr) return {};
  EXPECT_LE(len, in.size() + in.size() / 4 + 32);
  bytes out(static_cast<unsigned char *>(block),
            static_cast<unsigned char *>(block) + len);
  stg_free(block);
  return out;
}

// The result of compress_uncompress, or nothing for null; *report gets
// what it printed.
std::optional<bytes> unpack(const bytes &block, std::string *report) {
  testing::internal::CaptureStderr();
  uint64_t len = 0;
  void *data = compress_uncompress(block.size(), block.data(), &len);
  *report = testing::internal::GetCapturedStderr();
  if (data == nullptr) return std::nullopt;
  bytes out(static_cast<unsigned char *>(data),
            static_cast<unsigned char *>(data) + len);
  stg_free(data);
  return out;
}

// A decoder from the format description, bit by bit; nothing on damage.
std::optional<bytes> reference_decode(const bytes &block) {
  if (block.size() < 5 || block[0] != 1) return std::nullopt;
  const uint32_t size = uint32_t{block[1]} << 24 | uint32_t{block[2]} << 16 |
                        uint32_t{block[3]} << 8 | block[4];
  size_t bit = 40;
  bool short_stream = false;
  auto take = [&](int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit) {
      if (bit / 8 >= block.size()) short_stream = true;
      const int b = short_stream ? 0 : block[bit / 8] >> (7 - bit % 8) & 1;
      v = v << 1 | static_cast<uint32_t>(b);
    }
    return v;
  };
  bytes out;
  while (out.size() < size) {
    if (take(1) == 0) {
      out.push_back(static_cast<unsigned char>(take(7)));
    } else if (take(1) == 1) {
      out.push_back(static_cast<unsigned char>(0x80 | take(7)));
    } else {
      const size_t distance = take(12) + 1, len = take(5) + 3;
      if (short_stream || distance > out.size() || out.size() + len > size)
        return std::nullopt;
      for (size_t i = 0; i < len; ++i)
        out.push_back(out[out.size() - distance]);
    }
    if (short_stream) return std::nullopt;
  }
  return out;
}

bytes text(size_t n) {
  static const char kLines[] =
      "static int compare(const void *a, const void *b) {\n"
      "  return *(const int *)a - *(const int *)b;  /* ascending */\n"
      "}\n"
      "for (size_t i = 0; i < count; ++i) total += weights[i] * 3;\n";
  bytes out;
  for (size_t i = 0; out.size() < n; ++i) {
    out.push_back(static_cast<unsigned char>(kLines[i % (sizeof kLines - 1)]));
    if (i % 97 == 0) out.push_back(static_cast<unsigned char>('0' + i % 10));
  }
  out.resize(n);
  return out;
}

bytes random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  bytes out(n);
  for (auto &b : out) b = static_cast<unsigned char>(gen());
  return out;
}

bytes cat(bytes a, const bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bytes of(const std::string &s) { return bytes(s.begin(), s.end()); }

TEST(Compress, HandWorkedBlocks) {
  // Literals only: 8 bits below 128, a 1 bit and the byte from 128 on.
  EXPECT_EQ(pack({}), (bytes{1, 0, 0, 0, 0}));
  EXPECT_EQ(pack(of("abc")), (bytes{1, 0, 0, 0, 3, 0x61, 0x62, 0x63}));
  EXPECT_EQ(pack({0xFF}), (bytes{1, 0, 0, 0, 1, 0xFF, 0x80}));
  // 01000001 110000000 01000010, padded.
  EXPECT_EQ(pack({0x41, 0x80, 0x42}),
            (bytes{1, 0, 0, 0, 3, 0x41, 0xC0, 0x21, 0x00}));
  // One repeat: 10 000000000010 00000 (distance 3, length 3).
  EXPECT_EQ(pack(of("abcabc")),
            (bytes{1, 0, 0, 0, 6, 0x61, 0x62, 0x63, 0x80, 0x08, 0x00}));
  // The longest copy, distance 1 length 34 (10 000000000000 11111), then
  // a last byte too close to the end to start a copy.
  EXPECT_EQ(pack(bytes(35, 'a')),
            (bytes{1, 0, 0, 0, 35, 0x61, 0x80, 0x03, 0xE0}));
  EXPECT_EQ(pack(bytes(36, 'a')),
            (bytes{1, 0, 0, 0, 36, 0x61, 0x80, 0x03, 0xEC, 0x20}));
}

// Bytes below 128 in which no three consecutive bytes repeat: each pair is
// a distinct (low, high) with low in 1..63 and high in 64..127, so the
// encoder finds no copy and writes every byte as itself.
bytes no_repeats(size_t n) {
  bytes out;
  for (uint32_t j = 0; out.size() < n; ++j) {
    out.push_back(static_cast<unsigned char>(1 + j / 64 % 63));
    out.push_back(static_cast<unsigned char>(64 + j % 64));
  }
  out.resize(n);
  return out;
}

TEST(Compress, WindowEdge) {
  // "XYZ" again 4096 bytes later: a copy from the farthest distance,
  // 10 111111111111 00000.
  const bytes near = cat(cat(of("XYZ"), no_repeats(4093)), of("XYZ"));
  const bytes expect_near =
      cat(cat({1, 0, 0, 0x10, 0x03}, bytes(near.begin(), near.end() - 3)),
          {0xBF, 0xFC, 0x00});
  EXPECT_EQ(pack(near), expect_near);
  // One byte farther: out of reach, so literals.
  const bytes far = cat(cat(of("XYZ"), no_repeats(4094)), of("XYZ"));
  EXPECT_EQ(pack(far), cat({1, 0, 0, 0x10, 0x04}, far));
}

TEST(Compress, RoundTrips) {
  std::vector<std::pair<const char *, bytes>> inputs;
  for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{4095},
                   size_t{4096}, size_t{4097}, size_t{300000}}) {
    inputs.emplace_back("text", text(n));
    inputs.emplace_back("random", random_bytes(n, static_cast<unsigned>(n)));
    inputs.emplace_back("zeros", bytes(n, 0));
  }
  // Few symbols: many equal-length candidates on each chain.
  bytes few = random_bytes(100000, 7);
  for (auto &b : few) b = b & 0x81;
  inputs.emplace_back("few symbols", few);
  for (const auto &[kind, in] : inputs) {
    SCOPED_TRACE(std::string(kind) + " of " + std::to_string(in.size()));
    const bytes block = pack(in);
    std::string report;
    EXPECT_EQ(unpack(block, &report), in);
    EXPECT_EQ(reference_decode(block), in);
    EXPECT_EQ(report, "");
  }
  // Incompressible bytes cost nine bits at most.
  bytes high = random_bytes(10000, 3);
  for (auto &b : high) b |= 0x80;
  EXPECT_LE(pack(high).size(), 5u + 11250);
  EXPECT_LT(pack(text(100000)).size(), 100000u / 3);
}

void expect_damaged(const bytes &block) {
  std::string report;
  EXPECT_EQ(unpack(block, &report), std::nullopt);
  EXPECT_NE(report.find("Bad format number for \"compressed data\""),
            std::string::npos)
      << report;
}

TEST(Compress, DamagedBlocks) {
  expect_damaged({1, 0, 0, 0});           // shorter than the header
  expect_damaged({2, 0, 0, 0, 0});        // another format
  expect_damaged({1, 0, 0, 0, 3, 0x61});  // the stream ends early
  // A copy before anything was produced: 10 000000000000 00000.
  expect_damaged({1, 0, 0, 0, 3, 0x80, 0x00, 0x00});
  // After "a", a copy from two bytes back, in a block long enough for the
  // decoder's fast loop: 10 000000000001 00000, then zero literals.
  expect_damaged(cat({1, 0, 0, 0, 200, 0x61, 0x80, 0x04}, bytes(197, 0)));
  // After "a", a copy of 4 bytes where 3 remain.
  expect_damaged({1, 0, 0, 0, 4, 0x61, 0x80, 0x00, 0x20});
  // A length no stream of this size could produce: refused before the
  // 4 GiB allocation.
  expect_damaged({1, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x1F});

  // Every cut of a real block loses bits of its last code.
  const bytes in = cat(text(3000), random_bytes(3000, 9));
  const bytes block = pack(in);
  for (size_t cut = 5; cut < block.size(); ++cut) {
    SCOPED_TRACE(cut);
    std::string report;
    EXPECT_EQ(unpack(bytes(block.begin(), block.begin() + cut), &report),
              std::nullopt);
  }
  // Bytes after the last code are never read.
  std::string report;
  EXPECT_EQ(unpack(cat(block, {0xFF, 0x80, 0x00}), &report), in);
  EXPECT_EQ(unpack({1, 0, 0, 0, 0, 0xAB}, &report), bytes{});
}

TEST(Compress, RandomBlocksNeverOverrun) {
  // Arbitrary streams after a valid header: either damaged or exactly the
  // announced length, as the reference decoder says (ASan watches the
  // bounds).
  std::mt19937 gen(11);
  for (int i = 0; i < 3000; ++i) {
    bytes block = random_bytes(6 + gen() % 200, static_cast<unsigned>(i));
    block[0] = 1;
    block[1] = block[2] = 0;
    block[3] &= 1;
    if (i % 2 == 0) block[5] &= 0x7F;  // starts with a literal
    std::string report;
    EXPECT_EQ(unpack(block, &report), reference_decode(block));
  }
}

// Threads that compress and expand different inputs at the same time get
// the bytes a lone caller gets: no state is shared between calls.
TEST(Compress, ConcurrentCallsMatchSingleThreaded) {
  constexpr int kThreads = 4, kRounds = 40;
  struct job {
    bytes in, block;
    int mismatches = 0;
  };
  std::vector<job> jobs;
  for (int t = 0; t < kThreads; ++t) {
    const size_t n = 20000 + 7919 * static_cast<size_t>(t);
    bytes in = t % 2 == 0 ? cat(text(n), random_bytes(n / 4, t))
                          : cat(bytes(n / 8, 0), text(n));
    bytes block = pack(in);
    jobs.push_back({std::move(in), std::move(block)});
  }
  std::vector<std::thread> threads;
  std::atomic<int> started{0};
  for (job &j : jobs)
    threads.emplace_back([&j, &started] {
      // All threads start together, so that their calls overlap.
      for (++started; started < kThreads;) std::this_thread::yield();
      for (int r = 0; r < kRounds; ++r) {
        uint64_t len = 0;
        void *block = compress_compress(j.in.size(), j.in.data(), &len);
        if (block == nullptr || len != j.block.size() ||
            std::memcmp(block, j.block.data(), len) != 0)
          ++j.mismatches;
        stg_free(block);
        void *data = compress_uncompress(j.block.size(), j.block.data(), &len);
        if (data == nullptr || len != j.in.size() ||
            std::memcmp(data, j.in.data(), len) != 0)
          ++j.mismatches;
        stg_free(data);
      }
    });
  for (std::thread &t : threads) t.join();
  for (const job &j : jobs) EXPECT_EQ(j.mismatches, 0) << j.in.size();
}

#ifdef ORVEX_ALLOC_FAULTS
TEST(Compress, ExhaustedMemory) {
  const bytes in = text(50000);
  const bytes good = pack(in);
  for (unsigned n = 1;; ++n) {
    SCOPED_TRACE(n);
    testing::internal::CaptureStderr();
    nt_alloc_fault_arm(n);
    uint64_t len = 0;
    void *block = compress_compress(in.size(), in.data(), &len);
    const bool fired = nt_alloc_fault_fired();
    nt_alloc_fault_arm(0);
    const std::string report = testing::internal::GetCapturedStderr();
    if (!fired) {
      ASSERT_NE(block, nullptr);
      stg_free(block);
      break;
    }
    EXPECT_EQ(block, nullptr);
    EXPECT_NE(report.find("No more memory available."), std::string::npos);
  }
  testing::internal::CaptureStderr();
  nt_alloc_fault_arm(1);
  uint64_t len = 0;
  void *data = compress_uncompress(good.size(), good.data(), &len);
  nt_alloc_fault_arm(0);
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_EQ(data, nullptr);
  EXPECT_NE(report.find("Unable to allocate storage."), std::string::npos)
      << report;
}
#endif

}  // namespace
