// The chunks of a storage area as stg_dump_area reports them, for tests
// that check where allocations land, and addresses as storage reports
// print them.
#pragma once

#include <gtest/gtest.h>

#include <orvexks/stg.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct Chunk {
  uint64_t size, used;
  uintptr_t data;
};

// The area's chunks, newest first.
inline std::vector<Chunk> chunks_of(stg_area_t area) {
  testing::internal::CaptureStdout();
  stg_dump_area(area);
  std::string out = testing::internal::GetCapturedStdout();
  std::vector<Chunk> chunks;
  for (size_t pos = out.find("chunk 0x"); pos != std::string::npos;
       pos = out.find("chunk 0x", pos + 1)) {
    Chunk c{};
    unsigned long addr;
    EXPECT_EQ(4, std::sscanf(out.c_str() + pos,
                             "chunk 0x%lX: size=%" SCNu64 " avail=%" SCNu64
                             " data=0x%" SCNxPTR,
                             &addr, &c.size, &c.used, &c.data));
    chunks.push_back(c);
  }
  return chunks;
}

inline std::string hex(const void *p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08lX", reinterpret_cast<unsigned long>(p));
  return buf;
}
