// Environment objects: edits, hand-out to a real child, installation as the
// process environment while other threads read it, and allocation failures.
#include <gtest/gtest.h>

#include <orvexks/evutl.h>
#include <orvexks/stg.h>
#include <orvexnt/nt_env.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "env/evutl_internal.h"
#include "internal/nt_alloc_fault.h"
#include "scratch_dir.h"

extern char **environ;

namespace {

using Strings = std::vector<std::string>;

Strings entries(char *const *vector) {
  Strings out;
  for (; vector != nullptr && *vector != nullptr; ++vector)
    out.emplace_back(*vector);
  return out;
}

// The object's entries; hands its vector out, which freezes the object.
Strings entries(evutl_env_t *env) { return entries(evutl_env2environ(env)); }

uint32_t capacity(evutl_env_t *env) {
  return ksi_env_vector_capacity(env->vector);
}

// Every object is tried in a storage area and on the heap (ASan checks
// that replaced texts and vectors are freed there).
class EvutlTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    area_ = GetParam() ? STG_AREA_HEAP : stg_create_area(512);
  }
  void TearDown() override {
    if (area_ != STG_AREA_HEAP) stg_delete_area(&area_);
  }
  evutl_env_t *make(std::initializer_list<const char *> texts) {
    std::vector<char *> vector;
    for (const char *t : texts) vector.push_back(const_cast<char *>(t));
    vector.push_back(nullptr);
    evutl_env_t *env = nullptr;
    EXPECT_EQ(evutl_copy_environ(area_, vector.data(), &env), 0);
    return env;
  }
  stg_area_t area_ = STG_AREA_NULL;
};

TEST_P(EvutlTest, SetReplacesByExactNameAndUnsetCloses) {
  evutl_env_t *env = make({"AB=x", "A=1", "a=low", "B", "C=3"});
  EXPECT_STREQ(evutl_getenv(env, "A"), "1");
  EXPECT_STREQ(evutl_getenv(env, "a"), "low");
  EXPECT_EQ(evutl_getenv(env, "B"), nullptr);  // an entry without '='
  EXPECT_EQ(evutl_setenv(env, "NOEQUALS"), 1);

  EXPECT_EQ(evutl_setenv(env, "A=2"), 0);
  EXPECT_STREQ(evutl_getenv(env, "A"), "2");
  char *value = evutl_getenv(env, "A");
  EXPECT_EQ(evutl_setenv2(env, "A", "2"), 0);  // equal: left in place
  EXPECT_EQ(evutl_getenv(env, "A"), value);
  EXPECT_EQ(evutl_setenv2(env, "D", nullptr), 0);
  EXPECT_EQ(evutl_setenv(env, "E=x=y"), 0);
  EXPECT_STREQ(evutl_getenv(env, "E"), "x=y");
  EXPECT_STREQ(evutl_getenv(env, "E=x"), "y");  // a name holding '='

  EXPECT_EQ(evutl_unsetenv(env, "AB"), 0);
  EXPECT_EQ(evutl_unsetenv(env, "MISSING"), 0);
  EXPECT_EQ(entries(env), (Strings{"A=2", "a=low", "B", "C=3", "D=", "E=x=y"}));
  evutl_free(env);
}

TEST_P(EvutlTest, GrowsAtTheThirtySecondEntryAndKeepsOrder) {
  evutl_env_t *env = nullptr;
  ASSERT_EQ(evutl_alloc(area_, &env), 0);
  Strings expected;
  for (int i = 0; i < 100; ++i) {
    expected.push_back("V" + std::to_string(i) + "=" + std::to_string(i * 7));
    ASSERT_EQ(evutl_setenv(env, expected.back().c_str()), 0);
    // 31 entries and the null fill the first vector; the 32nd doubles it.
    EXPECT_EQ(capacity(env), i < 31 ? 32u : i < 63 ? 64u : 128u) << i;
  }
  EXPECT_STREQ(evutl_getenv(env, "V31"), "217");
  EXPECT_EQ(entries(env), expected);
  evutl_free(env);
}

TEST_P(EvutlTest, HandedOutVectorIsFrozen) {
  evutl_env_t *empty = nullptr;
  ASSERT_EQ(evutl_alloc(area_, &empty), 0);
  char **none = evutl_env2environ(empty);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none[0], nullptr);
  EXPECT_EQ(evutl_setenv(empty, "A=1"), 1);
  evutl_free(empty);

  evutl_env_t *env = make({"A=1"});
  char **vector = evutl_env2environ(env);
  EXPECT_EQ(evutl_setenv(env, "A=2"), 1);
  EXPECT_EQ(evutl_setenv2(env, "B", "2"), 1);
  EXPECT_EQ(evutl_unsetenv(env, "A"), 1);
  EXPECT_EQ(entries(vector), Strings{"A=1"});
  EXPECT_STREQ(evutl_getenv(env, "A"), "1");
  evutl_free(env);
}

// The child sees exactly the object's entries, in order.
TEST_P(EvutlTest, ChildRunsWithTheVector) {
  evutl_env_t *env = nullptr;
  ASSERT_EQ(evutl_copy_default_environ(area_, &env), 0);
  ASSERT_EQ(evutl_setenv2(env, "EVUTL_CHILD", "seen by env"), 0);
  ASSERT_EQ(evutl_unsetenv(env, "HOME"), 0);
  char **vector = evutl_env2environ(env);

  const std::string listing = "/tmp/evutl_child_" + std::to_string(getpid());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, listing.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  char *argv[] = {const_cast<char *>("env"), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, "/usr/bin/env", &actions, nullptr, argv, vector),
            0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(status, 0);
  const std::string text = slurp(listing);
  unlink(listing.c_str());

  std::string expected;
  for (const std::string &e : entries(vector)) expected += e + "\n";
  EXPECT_EQ(text, expected);
  EXPECT_NE(text.find("EVUTL_CHILD=seen by env\n"), std::string::npos);
  EXPECT_EQ(text.find("\nHOME="), std::string::npos);
  evutl_free(env);
}

TEST_P(EvutlTest, OverrideAndRestoreTheProcessEnvironment) {
  ASSERT_EQ(nt_putenv_safe("EVUTL_OUTER=outer"), 0);
  ASSERT_EQ(nt_putenv_safe("EVUTL_GONE=1"), 0);
  char **before = environ;
  evutl_env_t *env = make({"EVUTL_OUTER=inner", "EVUTL_DROP=1"});
  evutl_env_t *other = make({"EVUTL_OUTER=other"});

  EXPECT_EQ(evutl_override_default_environ(env), 0);
  EXPECT_EQ(evutl_override_default_environ(other), 0);  // one at a time
  EXPECT_STREQ(getenv("EVUTL_OUTER"), "inner");
  EXPECT_EQ(getenv("EVUTL_GONE"), nullptr);
  EXPECT_EQ(evutl_setenv(env, "EVUTL_NEW=1"), 1);
  EXPECT_EQ(evutl_unsetenv_default_environ("EVUTL_DROP"), 0);
  EXPECT_EQ(getenv("EVUTL_DROP"), nullptr);
  EXPECT_EQ(evutl_restore_default_environ(), 0);

  EXPECT_EQ(environ, before);
  EXPECT_STREQ(getenv("EVUTL_OUTER"), "outer");
  EXPECT_EQ(evutl_setenv(env, "EVUTL_NEW=1"), 0);  // editable again
  EXPECT_EQ(entries(env), (Strings{"EVUTL_OUTER=inner", "EVUTL_NEW=1"}));

  // Freeing an installed object puts the process environment back.
  EXPECT_EQ(evutl_override_default_environ(other), 0);
  evutl_free(other);
  EXPECT_EQ(environ, before);

  EXPECT_EQ(evutl_unsetenv_default_environ("EVUTL_GONE"), 0);
  EXPECT_EQ(getenv("EVUTL_GONE"), nullptr);
  EXPECT_STREQ(getenv("EVUTL_OUTER"), "outer");
  evutl_free(env);
}

// Readers through the environment lock see one environment or the other,
// never a torn one, while another thread swaps them (run under TSan); and
// threads adding to one object at once, through its growth, lose nothing.
TEST_P(EvutlTest, ConcurrentReadersAndWriters) {
  ASSERT_EQ(nt_putenv_safe("EVUTL_PROBE=outer"), 0);
  evutl_env_t *env = make({"EVUTL_PROBE=inner"});
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        const char *v = nt_getenv_safe("EVUTL_PROBE");
        if (v == nullptr ||
            (std::string(v) != "outer" && std::string(v) != "inner"))
          torn.fetch_add(1);
        EXPECT_STREQ(evutl_getenv(env, "EVUTL_PROBE"), "inner");
      }
    });
  }
  for (int i = 0; i < 3000; ++i) {
    evutl_override_default_environ(env);
    evutl_restore_default_environ();
  }
  stop.store(true);
  for (std::thread &t : readers) t.join();
  EXPECT_EQ(torn.load(), 0);
  evutl_free(env);

  // Just before the vector's third growth it is handed out: later edits
  // fail, and the vector the caller holds stays the object's.
  evutl_env_t *shared = nullptr;
  ASSERT_EQ(evutl_alloc(area_, &shared), 0);
  std::atomic<size_t> added{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([shared, w, &added] {
      for (int i = 0; i < 50; ++i) {
        std::string a =
            "W" + std::to_string(w) + "_" + std::to_string(i) + "=1";
        if (evutl_setenv(shared, a.c_str()) == 0) added.fetch_add(1);
      }
    });
  }
  while (added.load() < 127) std::this_thread::yield();
  char **handed = evutl_env2environ(shared);
  for (std::thread &t : writers) t.join();
  EXPECT_EQ(evutl_env2environ(shared), handed);
  EXPECT_EQ(entries(handed).size(), added.load());
  evutl_free(shared);
}

INSTANTIATE_TEST_SUITE_P(HeapAndArea, EvutlTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) {
                           return info.param ? "Heap" : "Area";
                         });

#ifdef ORVEX_ALLOC_FAULTS
// Each allocation of a copy and of a growing edit fails in turn: the result
// is 1 and the object is as before (ASan's leak check covers the rest).
TEST(EvutlAllocFailure, FailuresLeaveObjectsUnchanged) {
  std::vector<std::string> texts;
  std::vector<char *> vector;
  for (int i = 0; i < 40; ++i) texts.push_back("N" + std::to_string(i) + "=v");
  for (std::string &t : texts) vector.push_back(t.data());
  vector.push_back(nullptr);

  bool fired = true;
  for (unsigned n = 1; fired; ++n) {
    testing::internal::CaptureStderr();
    evutl_env_t *env = nullptr;
    nt_alloc_fault_arm(n);
    const int copied = evutl_copy_environ(STG_AREA_HEAP, vector.data(), &env);
    const int set = copied == 0 ? evutl_setenv2(env, "NEW", "1") : 1;
    fired = nt_alloc_fault_fired();
    nt_alloc_fault_arm(0);
    testing::internal::GetCapturedStderr();
    if (copied != 0) {
      EXPECT_EQ(env, nullptr);
      continue;
    }
    EXPECT_EQ(set, fired ? 1 : 0);
    const char *added = evutl_getenv(env, "NEW");
    EXPECT_STREQ(added, fired ? nullptr : "1");
    EXPECT_STREQ(evutl_getenv(env, "N39"), "v");
    evutl_free(env);
  }
}
#endif

}  // namespace
