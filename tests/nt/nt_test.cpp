// Tests of the companion library: thread ids, error mappings, environment
// access, and NT security identifiers in binary and text form.
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <orvexnt/orvexnt.h>

#include "internal/nt_error_tables.h"
#include "nt_fixture.h"

extern char **environ;

namespace {

uint32_t KernelTid() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

// Runs body in a forked child that may not take longer than 5 seconds and
// returns whether the child exited with status 0. The child leaves by the
// raw system call: a sanitizer's exit checks would report the parent's
// threads, which the child does not have, as leaked.
template <typename Body>
bool RunInChild(Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    alarm(5);
    syscall(SYS_exit_group, body() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---- thread ids -------------------------------------------------------

TEST(NtThread, IdIsTheKernelIdOfEachThread) {
  EXPECT_EQ(nt_get_current_thread_id(), KernelTid());
  EXPECT_EQ(nt_get_current_thread_id(), nt_get_current_thread_id());
  uint32_t other = 0, other_kernel = 0;
  std::thread([&] {
    other = nt_get_current_thread_id();
    other_kernel = KernelTid();
  }).join();
  EXPECT_EQ(other, other_kernel);
  EXPECT_NE(other, nt_get_current_thread_id());
}

TEST(NtThread, ForkedChildSeesItsOwnId) {
  ASSERT_NE(nt_get_current_thread_id(), 0u);  // cached in the parent
  EXPECT_TRUE(RunInChild([] {
    return nt_get_current_thread_id() == KernelTid() &&
           nt_get_current_thread_id() == static_cast<uint32_t>(getpid());
  }));
}

// ---- error mappings ---------------------------------------------------

struct CodePair {
  uint32_t code;
  int err;
};

TEST(NtError, Win32CodesMapToTheirErrnoTwins) {
  // The codes callers rely on most, written out independently of the table.
  const CodePair expected[] = {
      {2, ENOENT},         {3, ENOENT},    {5, EACCES},      {6, EBADF},
      {8, ENOMEM},         {32, EACCES},   {80, EEXIST},     {87, EINVAL},
      {109, EPIPE},        {112, ENOSPC},  {145, ENOTEMPTY}, {183, EEXIST},
      {206, ENAMETOOLONG}, {267, ENOTDIR}, {1336, EINVAL},   {1314, EPERM},
  };
  for (const CodePair &p : expected)
    EXPECT_EQ(nt_win32error2errno(p.code), p.err) << "code " << p.code;

  uint32_t previous = 0;
  for (size_t i = 0; i < nti_win32_error_count; i++) {
    const nti_error_row &row = nti_win32_errors[i];
    EXPECT_GT(row.code, previous) << row.name << " out of order";
    EXPECT_LT(row.code, 10000u) << row.name;
    EXPECT_EQ(nt_win32error2errno(row.code), row.err) << row.name;
    previous = row.code;
  }
}

TEST(NtError, Win32EdgeCodes) {
  EXPECT_EQ(nt_win32error2errno(0), 0);
  EXPECT_EQ(nt_win32error2errno(123456), EINVAL);
  EXPECT_EQ(nt_win32error2errno(0xFFFFFFFFu), EINVAL);
  // Socket codes reach their errno twins through the same call.
  EXPECT_EQ(nt_win32error2errno(10054), ECONNRESET);
  EXPECT_EQ(nt_win32error2errno(11001), EINVAL);  // no twin
}

TEST(NtError, SocketCodesMapBothWays) {
  // The mapping the library's socket code depends on, written out here.
  const CodePair expected[] = {
      {10004, EINTR},        {10009, EBADF},       {10022, EINVAL},
      {10035, EAGAIN},       {10035, EWOULDBLOCK}, {10036, EINPROGRESS},
      {10047, EAFNOSUPPORT}, {10048, EADDRINUSE},  {10054, ECONNRESET},
      {10057, ENOTCONN},     {10060, ETIMEDOUT},   {10061, ECONNREFUSED},
      {10065, EHOSTUNREACH}, {10045, EOPNOTSUPP},  {10071, EREMOTE},
  };
  for (const CodePair &p : expected) {
    EXPECT_EQ(nt_errno2wsa(p.err), static_cast<int>(p.code)) << p.err;
    EXPECT_EQ(nt_wsa2errno(static_cast<int>(p.code)), p.err) << p.code;
  }
}

TEST(NtError, SocketMappingRoundTripsEveryErrno) {
  for (int e = 0; e < 256; e++) {
    const int wsa = nt_errno2wsa(e);
    EXPECT_TRUE(wsa == e || wsa >= 10000) << e;
    EXPECT_EQ(nt_wsa2errno(wsa), e) << e;
  }
  // Codes without a twin come back unchanged.
  for (int code : {10067, 10091, 10092, 10093, 10101, 11001, 11004})
    EXPECT_EQ(nt_wsa2errno(code), code);
}

TEST(NtError, ResolverFailuresMapToSocketCodes) {
  // A numeric-only lookup of a name fails without asking any resolver.
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo *res = nullptr;
  const int rc = getaddrinfo("not-numeric", nullptr, &hints, &res);
  ASSERT_EQ(rc, EAI_NONAME);
  EXPECT_EQ(nt_eai2wsa(rc), 11001);
  errno = ECONNREFUSED;
  EXPECT_EQ(nt_eai2wsa(EAI_SYSTEM), 10061);
  EXPECT_EQ(nt_eai2wsa(0), 0);
}

TEST(NtError, ErrorStrings) {
  char buf[NT_ERROR_STRING_MAX];
  EXPECT_STREQ(nt_get_error_string(5, buf, sizeof buf), strerror(EACCES));
  EXPECT_STREQ(nt_get_error_string(10061, buf, sizeof buf),
               strerror(ECONNREFUSED));
  EXPECT_STREQ(nt_get_error_string(123456, buf, sizeof buf),
               "Unknown error 123456");

  char small[6];
  EXPECT_EQ(nt_get_error_string(123456, small, sizeof small), small);
  EXPECT_STREQ(small, "Unkno");
  EXPECT_EQ(nt_get_error_string(2, buf, 0), nullptr);

  // Without a buffer each thread gets its own.
  const char *mine = nt_get_error_string(2, nullptr, 0);
  const char *theirs = nullptr;
  std::thread([&] { theirs = nt_get_error_string(5, nullptr, 0); }).join();
  EXPECT_NE(mine, theirs);
  EXPECT_STREQ(mine, strerror(ENOENT));
}

// ---- environment ------------------------------------------------------

TEST(NtEnv, PutGetAndRemove) {
  std::string assignment = "NT_TEST_VAR=a=b";
  ASSERT_EQ(nt_putenv_safe(assignment.c_str()), 0);
  assignment.assign(assignment.size(), 'x');  // the library kept a copy
  const char *value = nt_getenv_safe("NT_TEST_VAR");
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "a=b");

  // An earlier result survives later changes and removal.
  ASSERT_EQ(nt_putenv_safe("NT_TEST_VAR=second"), 0);
  EXPECT_STREQ(nt_getenv_safe("NT_TEST_VAR"), "second");
  ASSERT_EQ(nt_putenv_safe("NT_TEST_VAR="), 0);
  EXPECT_EQ(nt_getenv_safe("NT_TEST_VAR"), nullptr);
  EXPECT_EQ(getenv("NT_TEST_VAR"), nullptr);
  EXPECT_STREQ(value, "a=b");

  EXPECT_EQ(nt_getenv_safe(""), nullptr);
  EXPECT_EQ(nt_getenv_safe(nullptr), nullptr);
}

TEST(NtEnv, MalformedAssignmentsFail) {
  for (const char *bad : {"NOEQUALS", "=value", ""}) {
    errno = 0;
    EXPECT_EQ(nt_putenv_safe(bad), -1) << bad;
    EXPECT_EQ(errno, EINVAL) << bad;
  }
  errno = 0;
  EXPECT_EQ(nt_putenv_safe(nullptr), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST(NtEnv, LockIsRecursiveAndCoversScans) {
  nt_environment_lock();
  nt_environment_lock();
  EXPECT_EQ(nt_putenv_safe("NT_TEST_LOCKED=1"), 0);
  bool seen = false;
  for (char **e = environ; *e; e++) seen |= strcmp(*e, "NT_TEST_LOCKED=1") == 0;
  EXPECT_TRUE(seen);
  nt_environment_unlock();
  nt_environment_unlock();
  EXPECT_EQ(nt_putenv_safe("NT_TEST_LOCKED="), 0);
}

TEST(NtEnv, FourThreadsHammerTheEnvironment) {
  constexpr int kThreads = 4, kRounds = 2000;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([t, &wrong] {
      const std::string name = "NT_HAMMER_" + std::to_string(t);
      const std::string other =
          "NT_HAMMER_" + std::to_string((t + 1) % kThreads);
      for (int i = 0; i < kRounds; i++) {
        const std::string value = std::to_string(i % 50);
        if (nt_putenv_safe((name + "=" + value).c_str()) != 0) wrong++;
        const char *got = nt_getenv_safe(name.c_str());
        if (got == nullptr || value != got) wrong++;
        nt_getenv_safe(other.c_str());
        if (i % 100 == 0) {
          nt_environment_lock();
          size_t n = 0;
          for (char **e = environ; *e; e++) n += strlen(*e);
          nt_environment_unlock();
          if (n == 0) wrong++;
        }
      }
      nt_putenv_safe((name + "=").c_str());
    });
  }
  for (auto &th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(NtEnv, ChildOfAForkWhileLockedCanUseTheEnvironment) {
  ASSERT_EQ(nt_init(), 0);
  std::atomic<bool> locked{false};
  std::thread holder([&] {
    nt_environment_lock();
    locked = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    nt_environment_unlock();
  });
  while (!locked) std::this_thread::yield();
  // The fork waits for the holder; the child then owns a usable lock.
  EXPECT_TRUE(RunInChild([] {
    if (nt_putenv_safe("NT_TEST_CHILD=yes") != 0) return false;
    const char *v = nt_getenv_safe("NT_TEST_CHILD");
    return v != nullptr && strcmp(v, "yes") == 0;
  }));
  holder.join();
}

// ---- security identifiers ---------------------------------------------

struct SidDeleter {
  void operator()(nt_sid_t *sid) const { nt_sid_free(sid); }
};
using SidPtr = std::unique_ptr<nt_sid_t, SidDeleter>;

TEST(NtSid, AdministratorsHasTheWindowsByteLayout) {
  const uint8_t expected[] = {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05,
                              0x20, 0x00, 0x00, 0x00, 0x20, 0x02, 0x00, 0x00};
  SidPtr parsed(nt_str_to_sid("S-1-5-32-544"));
  SidPtr built(nt_sid_alloc(5, 2, 32u, 544u));
  ASSERT_TRUE(parsed && built);
  ASSERT_EQ(nt_sid_length(parsed.get()), sizeof expected);
  EXPECT_EQ(memcmp(parsed.get(), expected, sizeof expected), 0);
  EXPECT_TRUE(nt_sid_equal(parsed.get(), built.get()));

  const nt_sid_t *raw = reinterpret_cast<const nt_sid_t *>(expected);
  EXPECT_EQ(nt_sid_get_authority(raw), 5u);
  EXPECT_EQ(nt_sid_sub_authority_count(raw), 2u);
  EXPECT_EQ(nt_sid_get_sub_authority(raw, 1), 544u);
  EXPECT_EQ(nt_sid_get_sub_authority(raw, 2), 0u);
  EXPECT_EQ(sid_text(raw), "S-1-5-32-544");
}

TEST(NtSid, MultiByteFieldsKeepTheirByteOrder) {
  SidPtr sid(nt_sid_alloc(0x0102030405A6ull, 1, 0x11223344u));
  ASSERT_TRUE(sid);
  const uint8_t expected[] = {1,    1,    0x01, 0x02, 0x03, 0x04,
                              0x05, 0xA6, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(memcmp(sid.get(), expected, sizeof expected), 0);
  EXPECT_EQ(nt_sid_get_authority(sid.get()), 0x0102030405A6ull);
  EXPECT_EQ(sid_text(sid.get()), "S-1-0x0102030405A6-287454020");
}

TEST(NtSid, TextRoundTrips) {
  for (const char *text : {"S-1-1-0", "S-1-3-0", "S-1-5", "S-1-5-2", "S-1-0-0",
                           "S-1-5-21-1-2-3-1000", "S-1-4294967295-4294967295",
                           "S-1-0x000100000000-7", "S-1-0xFFFFFFFFFFFF-1",
                           "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"}) {
    SidPtr sid(nt_str_to_sid(text));
    ASSERT_TRUE(sid) << text;
    EXPECT_EQ(sid_text(sid.get()), text);
    SidPtr copy(nt_sid_copy(sid.get()));
    EXPECT_TRUE(nt_sid_equal(sid.get(), copy.get())) << text;
  }
}

TEST(NtSid, AcceptedSpellingsPrintCanonically) {
  const std::pair<const char *, const char *> cases[] = {
      {"s-1-5-32-544", "S-1-5-32-544"},
      {"S-1-0x5-32", "S-1-5-32"},
      {"S-1-0Xff-1", "S-1-255-1"},
      {"S-1-4294967296", "S-1-0x000100000000"},
      {"S-1-5-0007", "S-1-5-7"},
  };
  for (const auto &[in, out] : cases) {
    SidPtr sid(nt_str_to_sid(in));
    ASSERT_TRUE(sid) << in;
    EXPECT_EQ(sid_text(sid.get()), out) << in;
  }
}

TEST(NtSid, MalformedTextsAreRejected) {
  for (const char *bad : {"",
                          "S-1",
                          "S-1-",
                          "S-1-5-",
                          "S--1-5",
                          "X-1-5-32",
                          " S-1-5",
                          "S-1-5-32-544x",
                          "S-2-5-32",
                          "S-256-5",
                          "S-1-5-+32",
                          "S-1-5-4294967296",
                          "S-1-5-99999999999999999999",
                          "S-1-281474976710656",
                          "S-1-0x1000000000000",
                          "S-1-0x",
                          "S-1-0xG",
                          "S-1-5-0x20",
                          "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16",
                          "S-1-5.32",
                          "S-1-5-3 2"}) {
    nt_sid_t *sid = nt_str_to_sid(bad);
    EXPECT_EQ(sid, nullptr) << '"' << bad << '"' << " gave " << sid_text(sid);
    nt_sid_free(sid);
  }
  EXPECT_EQ(nt_str_to_sid(nullptr), nullptr);
}

TEST(NtSid, LimitsOfConstruction) {
  uint32_t subs[16] = {};
  EXPECT_TRUE(SidPtr(nt_sid_alloc_from(NT_SID_MAX_AUTHORITY, 15, subs)));
  EXPECT_FALSE(SidPtr(nt_sid_alloc_from(5, 16, subs)));
  EXPECT_FALSE(SidPtr(nt_sid_alloc_from(NT_SID_MAX_AUTHORITY + 1, 1, subs)));
  EXPECT_FALSE(SidPtr(nt_sid_alloc_from(5, 1, nullptr)));

  uint8_t buf[NT_SID_MAX_LENGTH];
  EXPECT_EQ(nt_sid_build(buf, sizeof buf, 5, 15, subs), NT_SID_MAX_LENGTH);
  EXPECT_EQ(nt_sid_build(buf, 15, 5, 2, subs), 0u);  // needs 16
  EXPECT_EQ(nt_sid_build(buf, 16, 5, 2, subs), 16u);

  // The longest text fits the advertised size.
  memset(subs, 0xFF, sizeof subs);
  SidPtr longest(nt_sid_alloc_from(NT_SID_MAX_AUTHORITY, 15, subs));
  char text[NT_SID_STRING_MAX];
  ASSERT_NE(nt_sid_to_str(longest.get(), text, sizeof text), nullptr);
  const size_t need = strlen(text) + 1;
  EXPECT_EQ(nt_sid_to_str(longest.get(), text, need - 1), nullptr);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(nt_sid_to_str(longest.get(), text, need), text);
}

TEST(NtSid, InvalidSidsAreRefused) {
  uint8_t bad_revision[8] = {2, 0, 0, 0, 0, 0, 0, 5};
  uint8_t too_many[8 + 4 * 16] = {1, 16, 0, 0, 0, 0, 0, 5};
  for (const uint8_t *bytes : {bad_revision, too_many}) {
    const nt_sid_t *sid = reinterpret_cast<const nt_sid_t *>(bytes);
    EXPECT_FALSE(nt_sid_is_valid(sid));
    EXPECT_EQ(nt_sid_length(sid), 0u);
    EXPECT_FALSE(nt_sid_equal(sid, sid));
    EXPECT_EQ(nt_sid_copy(sid), nullptr);
    EXPECT_EQ(nt_sid_to_str(sid, nullptr, 0), nullptr);
  }
  EXPECT_FALSE(nt_sid_is_valid(nullptr));

  SidPtr a(nt_str_to_sid("S-1-5-21-1-2-3"));
  SidPtr prefix(nt_str_to_sid("S-1-5-21-1-2"));
  SidPtr other_auth(nt_str_to_sid("S-1-3-21-1-2-3"));
  EXPECT_FALSE(nt_sid_equal(a.get(), prefix.get()));
  EXPECT_FALSE(nt_sid_equal(a.get(), other_auth.get()));
}

}  // namespace
