// Which chunk an area allocation lands in, against the rule itself: the
// newest chunk when the request fits, else the oldest chunk that fits,
// else a new chunk. A random run checks every allocation against the
// chunks as stg_dump_area reports them just before it, through clearings
// with and without the first chunk kept, and up to a hundred chunks.
#include <gtest/gtest.h>

#include <orvexks/stg.h>

#include <cstdint>
#include <random>
#include <vector>

#include "stg_chunks.h"

namespace {

// Where the rule puts a request of `a` (rounded) bytes: the index of the
// chunk (newest first), or -1 for a new chunk.
int expected_chunk(const std::vector<Chunk> &chunks, uint64_t a) {
  if (chunks.empty()) return -1;
  if (chunks[0].used + a <= chunks[0].size) return 0;
  for (int i = static_cast<int>(chunks.size()) - 1; i > 0; --i)
    if (chunks[i].used + a <= chunks[i].size) return i;
  return -1;
}

TEST(StgChunkChoice, EveryAllocationFollowsTheOldestFitRule) {
  stg_area_t area = stg_create_area(512);
  std::mt19937 rng(7);
  size_t most_chunks = 0;
  for (int step = 0; step < 2400; ++step) {
    if (step % 800 == 799) {
      stg_free_area(area, step % 1600 == 799);
      continue;
    }
    // Mostly small requests, now and then one beyond a chunk's base.
    uint64_t n = rng() % 10 == 0 ? 300 + rng() % 600 : rng() % 120;
    uint64_t a = (n + 7) & ~uint64_t{7};
    std::vector<Chunk> before = chunks_of(area);
    most_chunks = std::max(most_chunks, before.size());
    int want = expected_chunk(before, a);
    auto *p = static_cast<char *>(stg_alloc(area, n));
    ASSERT_NE(p, nullptr);
    std::vector<Chunk> after = chunks_of(area);
    if (want < 0) {
      ASSERT_EQ(after.size(), before.size() + 1) << "step " << step;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p), after[0].data)
          << "step " << step;
    } else {
      ASSERT_EQ(after.size(), before.size()) << "step " << step;
      const Chunk &c = before[static_cast<size_t>(want)];
      ASSERT_EQ(reinterpret_cast<uintptr_t>(p), c.data + c.used)
          << "step " << step << ": request " << a << " belongs in chunk "
          << want << " of " << before.size();
      EXPECT_EQ(after[static_cast<size_t>(want)].used, c.used + a);
    }
  }
  EXPECT_GE(most_chunks, 100u) << "the run must reach a hundred chunks";
  stg_delete_area(&area);
}

}  // namespace
