// Out-of-memory paths, reached by failing the n-th allocation for n = 1, 2,
// ... until the operation no longer meets a failure: each failure must be
// reported, must leave nothing half-changed, and must leak nothing (the
// ASan configuration's leak check covers the last point).
#include <gtest/gtest.h>

#include <orvexks/msgcat.h>
#include <orvexks/rpc/rpc_msg.h>
#include <orvexks/rpc/xdr.h>
#include <orvexks/stg.h>
#include <orvexnt/nt_registry.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "identity/credutl_cache.h"
#include "internal/nt_alloc_fault.h"
#include "msg/catalog.h"
#include "msg/catalog_format.h"
#include "scratch_dir.h"

#ifdef ORVEX_ALLOC_FAULTS
// The companion library's C++ containers allocate through operator new; in
// this program it fails where the hook says so. (GCC cannot see that these
// replacements pair malloc with free.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void *operator new(size_t size) {
  if (NT_ALLOC_FAILS()) throw std::bad_alloc();
  void *p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
#endif

namespace {

#ifdef ORVEX_ALLOC_FAULTS

// Runs fn with the n-th allocation of this thread failing; *fired says
// whether an allocation failed.
template <typename Fn>
auto with_failure(unsigned n, bool *fired, Fn fn) {
  nt_alloc_fault_arm(n);
  auto result = fn();
  *fired = nt_alloc_fault_fired();
  nt_alloc_fault_arm(0);
  return result;
}

// Calls step(n, fired) for n = 1, 2, ... until a run meets no failure;
// returns how many allocations the operation makes.
template <typename Step>
unsigned each_failure(Step step) {
  for (unsigned n = 1; n < 100000; ++n) {
    bool fired = false;
    step(n, &fired);
    if (!fired) return n - 1;
  }
  ADD_FAILURE() << "the operation never ran without a failure";
  return 0;
}

TEST(AllocFailure, StorageAreasAndTheGuardedHeap) {
  unsigned count = each_failure([](unsigned n, bool *fired) {
    testing::internal::CaptureStderr();
    errno = 0;
    stg_area_t area =
        with_failure(n, fired, [] { return stg_create_area(64); });
    std::string err = testing::internal::GetCapturedStderr();
    if (area == STG_AREA_NULL) {
      EXPECT_TRUE(*fired);
      EXPECT_EQ(errno, ENOMEM);
      EXPECT_NE(err.find("No more memory available."), std::string::npos)
          << err;
      return;
    }
    // A second chunk: its failure leaves the first chunk's data alone.
    auto *first = static_cast<char *>(stg_alloc(area, 40));
    ASSERT_NE(first, nullptr);
    std::memcpy(first, "kept", 5);
    if (!*fired) {
      testing::internal::CaptureStderr();
      void *big = with_failure(n, fired, [&] { return stg_alloc(area, 1000); });
      err = testing::internal::GetCapturedStderr();
      if (big == nullptr) {
        EXPECT_TRUE(*fired);
        EXPECT_NE(err.find("No more memory available."), std::string::npos)
            << err;
      }
      EXPECT_STREQ(first, "kept");
      EXPECT_NE(stg_alloc(area, 1000), nullptr) << "the area still serves";
    }
    stg_delete_area(&area);
  });
  EXPECT_GE(count, 1u);

  // stg_realloc keeps the block when the larger one cannot be had.
  each_failure([](unsigned n, bool *fired) {
    char *block = stg_strdup("twelve bytes");
    ASSERT_NE(block, nullptr);
    testing::internal::CaptureStderr();
    void *grown =
        with_failure(n, fired, [&] { return stg_realloc(block, 4096); });
    testing::internal::GetCapturedStderr();
    if (grown == nullptr) {
      EXPECT_STREQ(block, "twelve bytes");
      stg_free(block);
    } else {
      EXPECT_STREQ(static_cast<char *>(grown), "twelve bytes");
      stg_free(grown);
    }
  });
}

std::vector<char> wire_of(const std::vector<uint32_t> &words) {
  std::vector<char> out(words.size() * 4);
  for (size_t i = 0; i < words.size(); ++i) {
    uint32_t be = htonl(words[i]);
    std::memcpy(out.data() + 4 * i, &be, 4);
  }
  return out;
}

TEST(AllocFailure, XdrDecoding) {
  // A call with a 12-byte credential and an 8-byte verifier, both of which
  // the decoder allocates, then a counted array of strings.
  std::vector<char> call = wire_of(
      {5, CALL, 2, 100, 1, 0, AUTH_UNIX, 12, 1, 2, 3, AUTH_NONE, 8, 4, 5});
  unsigned count = each_failure([&](unsigned n, bool *fired) {
    XDR xdrs;
    xdrmem_create(&xdrs, call.data(), static_cast<uint32_t>(call.size()),
                  XDR_DECODE);
    struct rpc_msg msg;
    std::memset(&msg, 0, sizeof msg);
    testing::internal::CaptureStderr();
    bool_t ok =
        with_failure(n, fired, [&] { return xdr_ks_callmsg(&xdrs, &msg); });
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok != 0, !*fired) << "allocation " << n;
    if (ok) {
      EXPECT_EQ(msg.rm_call.cb_verf.oa_length, 8u);
    }
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_callmsg), &msg);
  });
  EXPECT_EQ(count, 2u);

  std::vector<char> strings =
      wire_of({3, 1, 0x61000000, 2, 0x62620000, 3, 0x63636300});
  count = each_failure([&](unsigned n, bool *fired) {
    XDR xdrs;
    xdrmem_create(&xdrs, strings.data(), static_cast<uint32_t>(strings.size()),
                  XDR_DECODE);
    char **array = nullptr;
    uint32_t len = 0;
    testing::internal::CaptureStderr();
    bool_t ok = with_failure(n, fired, [&] {
      return xdr_array(&xdrs, reinterpret_cast<char **>(&array), &len, 10,
                       sizeof(char *),
                       reinterpret_cast<xdrproc_t>(xdr_wrapstring));
    });
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok != 0, !*fired);
    if (*fired) {
      EXPECT_NE(err.find("out of memory"), std::string::npos) << err;
    } else {
      EXPECT_STREQ(array[2], "ccc");
    }
    xdrs.x_op = XDR_FREE;
    xdr_array(&xdrs, reinterpret_cast<char **>(&array), &len, 10,
              sizeof(char *), reinterpret_cast<xdrproc_t>(xdr_wrapstring));
    EXPECT_EQ(array, nullptr);
  });
  EXPECT_EQ(count, 4u);
}

// A catalog of one set holding message 1 "Hallo".
std::string small_catalog() {
  namespace fmt = ksi_catfmt;
  const std::string text("Hallo", 6);
  std::string d(fmt::kHeaderSize + fmt::kSetSize + fmt::kMessageSize, '\0');
  d += text;
  auto *p = reinterpret_cast<unsigned char *>(d.data());
  std::memcpy(p, fmt::kMagic, sizeof fmt::kMagic);
  fmt::put32(p + fmt::kHeaderMajor, fmt::kMajorVersion);
  fmt::put32(p + fmt::kHeaderSetCount, 1);
  fmt::put64(p + fmt::kHeaderFirstSet, fmt::kHeaderSize);
  unsigned char *set = p + fmt::kHeaderSize;
  fmt::put32(set + fmt::kSetNumber, 1);
  fmt::put64(set + fmt::kSetMessages, fmt::kHeaderSize + fmt::kSetSize);
  fmt::put64(set + fmt::kSetText,
             fmt::kHeaderSize + fmt::kSetSize + fmt::kMessageSize);
  fmt::put32(set + fmt::kSetTextLength, static_cast<uint32_t>(text.size()));
  fmt::put32(set + fmt::kSetMessageCount, 1);
  unsigned char *message = set + fmt::kSetSize;
  fmt::put32(message + fmt::kMessageNumber, 1);
  return d;
}

size_t open_descriptors() {
  size_t n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

TEST(AllocFailure, CatalogsLoadedWhole) {
  char path[] = "/tmp/alloc_failure_cat_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string data = small_catalog();
  ASSERT_EQ(write(fd, data.data(), data.size()),
            static_cast<ssize_t>(data.size()));
  close(fd);
  size_t fds = open_descriptors();
  unsigned count = each_failure([&](unsigned n, bool *fired) {
    testing::internal::CaptureStderr();
    msgcat_t *cat =
        with_failure(n, fired, [&] { return msgcat_open(path, 1); });
    std::string err = testing::internal::GetCapturedStderr();
    if (*fired) {
      EXPECT_EQ(cat, MSGCAT_NONE) << "allocation " << n;
      EXPECT_FALSE(err.empty()) << "the failure is reported; allocation " << n;
    } else {
      ASSERT_TRUE(ksi_catalog_is_open(cat)) << err;
      EXPECT_STREQ(msgcat_get(cat, 1, 1, "default"), "Hallo");
    }
    msgcat_close(cat);
    EXPECT_EQ(open_descriptors(), fds) << "allocation " << n;
  });
  EXPECT_GE(count, 3u);
  unlink(path);
}

TEST(AllocFailure, SettingsAreWrittenWholeOrNotAtAll) {
  ScratchDir dir("alloc_failure_reg");
  const std::string file = dir.path("registry.ini");
  setenv("ORVEX_REGISTRY", file.c_str(), 1);
  const std::string before = "[params]\n8=eight\n\n[other]\nx=1\n";
  unsigned count = each_failure([&](unsigned n, bool *fired) {
    spit(file, before);
    int rc = with_failure(
        n, fired, [] { return nt_settings_set("params", "9", "nine"); });
    if (rc != NTREGY_OK) {
      EXPECT_EQ(rc, NTREGY_NO_MEMORY);
      EXPECT_EQ(slurp(file), before) << "allocation " << n;
    } else {
      char buf[16];
      EXPECT_EQ(nt_settings_get("params", "9", buf, sizeof buf), NTREGY_OK);
      EXPECT_STREQ(buf, "nine");
    }
    char buf[16];
    rc = with_failure(n, fired, [&] {
      return nt_settings_get("other", "x", buf, sizeof buf);
    });
    EXPECT_TRUE(rc == NTREGY_OK || (*fired && rc == NTREGY_NO_MEMORY)) << rc;
  });
  EXPECT_GE(count, 1u);
  unsetenv("ORVEX_REGISTRY");
}

TEST(AllocFailure, AccountCacheEntries) {
  ksi_cred_table *t = ksi_cred_table_get(KSI_CRED_NAME_GROUP);
  ASSERT_NE(t, nullptr);
  std::vector<unsigned char> value(KSI_CRED_GROUP_SIZE, 0x11),
      out(KSI_CRED_GROUP_SIZE);
  unsigned count = each_failure([&](unsigned n, bool *fired) {
    int rc = with_failure(n, fired, [&] {
      return ksi_cred_table_enter(t, "fresh group", value.data());
    });
    if (*fired) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_FALSE(ksi_cred_table_lookup(t, "fresh group", out.data()))
          << "no half entry";
    } else {
      EXPECT_EQ(rc, 0);
      EXPECT_TRUE(ksi_cred_table_lookup(t, "fresh group", out.data()));
      EXPECT_EQ(out, value);
      EXPECT_EQ(ksi_cred_table_delete(t, "fresh group"), 0);
    }
  });
  EXPECT_EQ(count, 1u);

  // A lookup through the caches: when memory runs out it finds nothing or
  // the right account, never a broken one.
  each_failure([](unsigned n, bool *fired) {
    credutl_passwd_sid_t *pw =
        with_failure(n, fired, [] { return credutl_getpwuid(0); });
    if (pw != nullptr) {
      EXPECT_EQ(pw->user.uid, 0u);
    } else {
      EXPECT_TRUE(*fired) << "only a failure may lose the account";
    }
  });
}

#else

TEST(AllocFailure, NeedsTheHook) {
  GTEST_SKIP() << "configured without ORVEX_ALLOC_FAULTS";
}

#endif

}  // namespace
