// Host texts cut to the caller's buffer, and not one byte further.
#include <gtest/gtest.h>

#include <orvexks/sysutl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>

namespace {

TEST(SysutlEdges, NumericHostCutAtTheBufferLeavesTheNextByteAlone) {
  struct sockaddr_in sin;
  std::memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_port = htons(111);
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto *sa = reinterpret_cast<const struct sockaddr *>(&sin);

  char host[16];
  std::memset(host, 'Z', sizeof host);
  char serv[16];
  // "127.0.0.1" needs 10 bytes: in 5 the lookup fails and the fixed text
  // is cut to 4 characters and its terminator.
  EXPECT_EQ(sysutl_host_numeric(sa, 5, host, sizeof serv, serv), 1);
  EXPECT_STREQ(host, "<unr");
  EXPECT_EQ(host[5], 'Z');

  // The fixed text is 30 characters: a buffer of exactly 30 keeps 29.
  struct sockaddr_in6 sin6;
  std::memset(&sin6, 0, sizeof sin6);
  sin6.sin6_family = AF_INET6;
  std::memset(&sin6.sin6_addr, 0xFF, sizeof sin6.sin6_addr);
  char wide[40];
  std::memset(wide, 'Z', sizeof wide);
  EXPECT_EQ(
      sysutl_host_numeric(reinterpret_cast<const struct sockaddr *>(&sin6), 30,
                          wide, sizeof serv, serv),
      1);
  EXPECT_STREQ(
      wide,
      std::string("<unresolvable numeric address>").substr(0, 29).c_str());
  EXPECT_EQ(wide[30], 'Z');

  std::memset(host, 'Z', sizeof host);
  EXPECT_EQ(sysutl_host_numeric(sa, 10, host, sizeof serv, serv), 0);
  EXPECT_STREQ(host, "127.0.0.1");
  EXPECT_STREQ(serv, "111");
  EXPECT_EQ(host[10], 'Z');
}

// The first name in the context style reads its switch under the family
// lock; the lock must be free again for the next caller on another thread.
void context_style_then_host_id_elsewhere() {
  credutl_sid_t usid;
  sysutl_myusid(&usid);
  sysutl_usid_to_user(&usid, SYSUTL_NAME_CONTEXT, nullptr);
  std::promise<void> done;
  auto finished = done.get_future();
  std::thread other([&done] {
    sysutl_myhostid();
    done.set_value();
  });
  if (finished.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
    _exit(1);
  // Joined before leaving, so a thread checker sees no finished thread left
  // behind.
  other.join();
  _exit(0);
}

TEST(SysutlEdges, FirstContextStyleNameReleasesTheFamilyLock) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(context_style_then_host_id_elsewhere(),
              testing::ExitedWithCode(0), "");
}

}  // namespace
