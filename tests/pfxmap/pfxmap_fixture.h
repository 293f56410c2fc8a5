// What the drive prefix map tests share: a shared-memory object and a
// settings file of their own, named before the library first reads them
// and removed at the end, so parallel test processes never share a map;
// child processes started by a test inherit both. Also entry helpers that
// write the map directly.
#pragma once

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "pfxmap/ntpfxmap_internal.h"

namespace pfxmap_test {

// Names the map object and the settings file after this process, unless a
// parent already named them.
inline void name_resources() {
  const std::string pid = std::to_string(getpid());
  setenv("ORVEX_NTPFXMAP_SHM", ("/orvex-ntpfxmap-test-" + pid).c_str(), 0);
  setenv("ORVEX_REGISTRY", ("/tmp/orvex-pfxmap-test-" + pid + ".ini").c_str(),
         0);
}

// The host-data directory beside the settings file.
inline std::string host_data() {
  return std::string(getenv("ORVEX_REGISTRY")) + ".hostdata";
}

// Removes them when this process named them.
class Resources : public ::testing::Environment {
 public:
  Resources() : owner_(getenv("ORVEX_NTPFXMAP_SHM") == nullptr) {
    name_resources();
  }
  void SetUp() override {
    if (!owner_) return;
    for (const char *dir : {"", "/var", "/var/config"})
      mkdir((host_data() + dir).c_str(), 0755);
  }
  void TearDown() override {
    if (!owner_) return;
    shm_unlink(getenv("ORVEX_NTPFXMAP_SHM"));
    std::remove(getenv("ORVEX_REGISTRY"));
    for (const char *dir : {"/var/config", "/var", ""})
      rmdir((host_data() + dir).c_str());
  }

 private:
  bool owner_;
};

// Writes the settings file whole: text after a host-data directory (which
// the host-name checks of path names need).
inline void write_settings(const std::string &text) {
  FILE *f = std::fopen(getenv("ORVEX_REGISTRY"), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "[params]\n16=%s\n", host_data().c_str());
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

// Enters drive -> prefix in the map, as registering does.
inline void add_entry(const char *drive, const char *prefix, int8_t flag = 0) {
  ASSERT_EQ(ksi_pfxmap_init(), 0);
  ASSERT_TRUE(ksi_pfxmap_lock());
  const bool added = ksi_pfxmap_add(ksi_pfxmap_area(), drive, prefix, flag);
  ksi_pfxmap_unlock();
  ASSERT_TRUE(added);
}

inline std::string converted(const char *path, size_t size = 1024) {
  std::string buf(path);
  buf.resize(size > buf.size() ? size : buf.size() + 1);
  if (ntpfxmap_convert(buf.data(), size) != 0) return "<failed>";
  return buf.c_str();
}

}  // namespace pfxmap_test
