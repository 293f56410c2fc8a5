// Storage areas and the guarded heap.
#include <gtest/gtest.h>

#include <orvexks/imsg.h>
#include <orvexks/stg.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "stg_chunks.h"

// Exhaustion tests ask the heap for impossible sizes; the sanitizers'
// allocators must answer null like the C library does.
extern "C" const char *__asan_default_options() {
  return "allocator_may_return_null=1";
}
extern "C" const char *__tsan_default_options() {
  return "allocator_may_return_null=1";
}

namespace {

std::vector<uint64_t> sizes_oldest_first(stg_area_t area) {
  std::vector<uint64_t> sizes;
  for (const Chunk &c : chunks_of(area)) sizes.insert(sizes.begin(), c.size);
  return sizes;
}

bool inside(const Chunk &c, const void *p) {
  auto a = reinterpret_cast<uintptr_t>(p);
  return a >= c.data && a < c.data + c.size;
}

// Switches storage tracing to `level` for the test's duration.
class StgTrace : public testing::Test {
 protected:
  void trace(int level) {
    imsg_set_trace_subsys("ks/stg");
    imsg_set_trace_verbosity(level);
  }
  void TearDown() override { imsg_set_trace_verbosity(0); }
};

TEST(StgArea, ChunkSizingFollowsBaseAndSeventyPercentRule) {
  stg_area_t area = stg_create_area(100);
  ASSERT_NE(area, STG_AREA_NULL);
  EXPECT_TRUE(chunks_of(area).empty()) << "no chunk before the first alloc";

  void *p = stg_alloc(area, 80);  // 80 > 70 % of 100: rides on the base
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
  EXPECT_EQ(sizes_oldest_first(area), std::vector<uint64_t>{184});

  // Zero-byte requests advance nothing.
  void *z1 = stg_alloc(area, 0);
  void *z2 = stg_alloc(area, 0);
  EXPECT_NE(z1, nullptr);
  EXPECT_EQ(z1, z2);
  EXPECT_EQ(chunks_of(area)[0].used, 80u);
  stg_alloc(area, 3);  // rounded to 8
  EXPECT_EQ(chunks_of(area)[0].used, 88u);

  EXPECT_EQ(stg_area_strdup(area, nullptr), nullptr);
  EXPECT_STREQ(stg_area_strdup(area, "chunky"), "chunky");
  stg_delete_area(&area);
  EXPECT_EQ(area, STG_AREA_NULL);
}

// Fills the area with 8-byte requests until it holds `count` chunks.
void grow_to(stg_area_t area, size_t count) {
  while (chunks_of(area).size() < count) {
    const Chunk newest = chunks_of(area).empty() ? Chunk{} : chunks_of(area)[0];
    for (uint64_t used = newest.used; used < newest.size; used += 8) {
      stg_alloc(area, 8);
    }
    stg_alloc(area, 8);  // opens the next chunk
  }
}

// Chunk sizes after the first: the increment, grown by the factor (factors
// up to 1.0 are ignored) and capped at 100 KiB; an explicit increment
// replaces only the second chunk's size.
TEST(StgArea, ChunkGrowth) {
  const struct {
    uint64_t base, incr;
    double factor;
    size_t count;
    std::vector<uint64_t> sizes;
  } rows[] = {
      {1000,
       0,
       2.0,
       9,
       {1000, 2000, 4000, 8000, 16000, 32000, 64000, 102400, 102400}},
      {1000, 500, 2.0, 3, {1000, 504, 1008}},
      {64, 0, 0.5, 3, {64, 64, 64}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.base);
    stg_area_t area = stg_create_area(row.base);
    stg_set_growth(area, row.factor);
    if (row.incr != 0) stg_set_incr(area, row.incr);
    grow_to(area, row.count);
    EXPECT_EQ(sizes_oldest_first(area), row.sizes);
    stg_delete_area(&area);
  }
}

TEST(StgArea, FillBytesAndClearing) {
  stg_area_t area = stg_create_area(64);
  auto *p = static_cast<unsigned char *>(stg_alloc(area, 16));
  for (int i = 0; i < 16; ++i) ASSERT_EQ(p[i], 0xFF);
  std::memset(p, 0x11, 16);
  grow_to(area, 3);

  stg_free_area(area, 1);
  std::vector<Chunk> left = chunks_of(area);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].used, 0u);
  EXPECT_TRUE(inside(left[0], p)) << "the oldest chunk is the one kept";
  for (int i = 0; i < 16; ++i) ASSERT_EQ(p[i], 0xFF) << "refilled";

  stg_set_zero(area);
  stg_free_area(area, 1);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(p[i], 0x00) << "refilled with zero";
  stg_free_area(area, 0);
  EXPECT_TRUE(chunks_of(area).empty());
  auto *q = static_cast<unsigned char *>(stg_alloc(area, 8));
  ASSERT_NE(q, nullptr) << "a cleared area stays usable";
  EXPECT_EQ(q[0], 0x00);
  stg_delete_area(&area);
}

TEST(StgArea, RegistryReusesTheLowestFreeSlot) {
  stg_area_t a = stg_create_area(8), b = stg_create_area(8),
             c = stg_create_area(8);
  stg_delete_area(&b);
  stg_area_t d = stg_create_area(8);

  // Hundreds of areas push the registry past its initial 512 slots.
  std::vector<stg_area_t> many(700);
  for (auto &m : many) m = stg_create_area(8);

  testing::internal::CaptureStdout();
  stg_dump();
  std::string out = testing::internal::GetCapturedStdout();
  size_t pa = out.find("area " + hex(a)), pd = out.find("area " + hex(d)),
         pc = out.find("area " + hex(c));
  ASSERT_NE(pa, std::string::npos);
  ASSERT_NE(pd, std::string::npos);
  ASSERT_NE(pc, std::string::npos);
  EXPECT_LT(pa, pd);
  EXPECT_LT(pd, pc) << "d took b's slot, between a and c";
  for (auto m : many) EXPECT_NE(out.find("area " + hex(m)), std::string::npos);

  for (auto &m : many) stg_delete_area(&m);
  stg_delete_area(&a);
  stg_delete_area(&c);
  stg_delete_area(&d);
}

TEST(StgArea, ThreadsShareOneArea) {
  stg_area_t area = stg_create_area(4096);
  constexpr int kThreads = 8, kAllocs = 5000;
  std::vector<std::vector<std::pair<unsigned char *, size_t>>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kAllocs; ++i) {
        size_t n = 1 + (i * 37 + t) % 200;
        auto *p = static_cast<unsigned char *>(stg_alloc(area, n));
        ASSERT_NE(p, nullptr);
        std::memset(p, t + 1, n);
        got[t].emplace_back(p, n);
      }
    });
  }
  for (auto &th : threads) th.join();
  uint64_t expected_used = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (auto [p, n] : got[t]) {
      for (size_t k = 0; k < n; ++k) ASSERT_EQ(p[k], t + 1) << "overlap";
      expected_used += (n + 7) / 8 * 8;
    }
  }
  uint64_t used = 0;
  for (const Chunk &c : chunks_of(area)) used += c.used;
  EXPECT_EQ(used, expected_used);
  stg_delete_area(&area);
}

// Failing allocations in general are in alloc_failure_test; here a size
// whose rounding would wrap around, and the plain heap's report.
TEST(StgArea, ExhaustionReportsAndLeavesTheAreaAlone) {
  stg_area_t area = stg_create_area(64);
  stg_alloc(area, 8);
  testing::internal::CaptureStderr();
  errno = 0;
  EXPECT_EQ(stg_alloc(area, UINT64_MAX), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "noname: Error: No more memory available.\n");
  EXPECT_EQ(chunks_of(area).size(), 1u);
  stg_delete_area(&area);

  testing::internal::CaptureStderr();
  errno = 0;
  EXPECT_EQ(stg_malloc(SIZE_MAX - 64), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  // The sanitizers' allocators add a warning of their own.
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "No more memory available.\n"),
            std::string::npos);
}

TEST_F(StgTrace, CorruptionCheckLooksAtTheNextBytesOrTheWholeRest) {
  trace(1);
  stg_area_t area = stg_create_area(256);
  auto *p = static_cast<unsigned char *>(stg_alloc(area, 8));
  p[8] = 0;    // overruns into the next request's bytes
  p[200] = 0;  // far out in the free space

  testing::internal::CaptureStderr();
  stg_alloc(area, 8);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Storage area " + hex(area) + ": corrupted at " +
                     hex(p + 8) + ".\n"),
            std::string::npos)
      << err;

  // Level 1 sees only the bytes handed out; level 2 the whole free rest.
  testing::internal::CaptureStderr();
  stg_alloc(area, 8);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  trace(2);
  testing::internal::CaptureStderr();
  stg_alloc(area, 8);
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("corrupted at " + hex(p + 200)), std::string::npos) << err;
  stg_delete_area(&area);
}

TEST_F(StgTrace, GuardModeChecksTheTailAndRemembersEachBlocksMode) {
  void *plain = stg_malloc(16);  // before guard mode
  trace(1);
  auto *g = static_cast<unsigned char *>(stg_malloc(5));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(g[i], 0xFF);
  std::memcpy(g, "abcde", 5);
  g = static_cast<unsigned char *>(stg_realloc(g, 100));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(std::memcmp(g, "abcde", 5), 0);

  testing::internal::CaptureStderr();
  g[111] = 0;  // the guard's last byte: 8 past the rounded size 104
  stg_free(g);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Heap block " + hex(g) + ": end overwritten at " +
                     hex(g + 111) + ".\n"),
            std::string::npos)
      << err;

  void *guarded = stg_malloc(24);
  testing::internal::CaptureStderr();
  stg_free(plain);  // allocated outside guard mode
  trace(0);
  stg_free(guarded);  // allocated in guard mode
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(StgTrace, TracesNameTheAreaAndQuietVariantsStaySilent) {
  trace(5);
  testing::internal::CaptureStderr();
  stg_area_t area = stg_create_area(64);
  void *p = stg_alloc(area, 10);
  stg_free_area(area, 0);
  stg_area_t copy = area;
  stg_delete_area(&area);
  std::string err = testing::internal::GetCapturedStderr();
  for (std::string line :
       {"(stg) Area " + hex(copy) + ": created area.\n",
        "(stg) Area " + hex(copy) + ": allocated " + hex(p) + " (size 16).\n",
        "(stg) Area " + hex(copy) + ": clearing area.\n",
        "(stg) Area " + hex(copy) + ": deleting area.\n"}) {
    EXPECT_NE(err.find(line), std::string::npos) << line << " in\n" << err;
  }
  EXPECT_NE(err.find(": created chunk "), std::string::npos);
  EXPECT_NE(err.find(": freeing chunk "), std::string::npos);

  testing::internal::CaptureStderr();
  area = stg_create_area_quiet(64);
  stg_alloc_quiet(area, 10);
  stg_delete_area_quiet(&area);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(area, STG_AREA_NULL);
}

}  // namespace
