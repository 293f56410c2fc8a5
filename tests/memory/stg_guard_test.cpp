// The guarded heap's tail check, byte by byte at the block's end.
#include <gtest/gtest.h>

#include <orvexks/imsg.h>
#include <orvexks/stg.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "stg_chunks.h"

namespace {

TEST(StgGuard, ByteJustPastTheBlockIsReportedAndTheLastOwnByteIsNot) {
  imsg_set_trace_subsys("ks/stg");
  imsg_set_trace_verbosity(1);
  for (size_t size : {size_t{100}, size_t{104}, size_t{1}}) {
    auto *p = static_cast<unsigned char *>(stg_malloc(size));
    ASSERT_NE(p, nullptr);
    p[size - 1] = 0;  // the caller's own last byte
    p[size] = 0;      // the guard's first byte
    testing::internal::CaptureStderr();
    stg_free(p);
    std::string err = testing::internal::GetCapturedStderr();
    std::string report = "Heap block " + hex(p) + ": end overwritten at " +
                         hex(p + size) + ".\n";
    EXPECT_TRUE(err.ends_with(report)) << "size " << size << ": " << err;
    EXPECT_EQ(err.find("Heap block"), err.rfind("Heap block")) << "one report";

    p = static_cast<unsigned char *>(stg_malloc(size));
    ASSERT_NE(p, nullptr);
    p[size - 1] = 0;
    testing::internal::CaptureStderr();
    stg_free(p);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "size " << size;
  }
  imsg_set_trace_verbosity(0);
}

TEST(StgGuard, AskingWhetherABlockIsGuardedLeavesTheLockFree) {
  imsg_set_trace_subsys("ks/stg");
  imsg_set_trace_verbosity(1);
  void *guarded = stg_malloc(8);
  imsg_set_trace_verbosity(0);
  void *plain = stg_realloc(stg_malloc(8), 16);  // looks the block up
  ASSERT_NE(plain, nullptr);
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread([guarded, done] {
    stg_free(guarded);
    *done = true;
  }).detach();
  for (int i = 0; i < 500 && !*done; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(*done) << "another thread cannot take the guarded heap's lock";
  stg_free(plain);
}

}  // namespace
