// Identity at its limits: 32 groups, the longest name key of the account
// caches, and the caches' lock released after every operation.
#include <gtest/gtest.h>

#include <orvexks/credutl.h>
#include <orvexks/stg.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "identity/credutl_cache.h"

namespace {

TEST(CredutlEdges, WholeCredentialsOfExactly32GroupsNeedNoTruncation) {
  for (int n : {32, 33}) {
    std::vector<credutl_sid_t> groups(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
      credutl_unix_gid_to_sid(static_cast<credutl_gid_t>(100 + i), &groups[i]);
    credutl_whole_credentials_t w;
    std::memset(&w, 0, sizeof w);
    credutl_unix_uid_to_sid(7, &w.user);
    credutl_unix_gid_to_sid(8, &w.group);
    w.ngroups = n;
    w.groups = groups.data();
    credutl_sid_credentials_t s;
    EXPECT_EQ(credutl_whole_credentials_to_sid(&w, 0, &s), n <= 32 ? 0 : 1)
        << n;
    if (n == 32) {
      EXPECT_EQ(s.ngroups, 32);
      EXPECT_TRUE(credutl_sid_eq(&s.groups[31], &groups[31]));
    }
    EXPECT_EQ(credutl_whole_credentials_to_sid(&w, 1, &s), 0);
    EXPECT_EQ(s.ngroups, 32);
  }
}

// Runs op on another thread and waits for it at most a few seconds: an
// operation that left a cache's lock held blocks every other thread, and
// the test says so instead of hanging.
bool finishes_elsewhere(const std::function<void()> &op) {
  struct Done {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  // Shared with the thread, which may outlive the wait when it is stuck.
  auto state = std::make_shared<Done>();
  std::thread([state, op]() {
    op();
    std::lock_guard<std::mutex> g(state->m);
    state->done = true;
    state->cv.notify_one();
  }).detach();
  std::unique_lock<std::mutex> g(state->m);
  return state->cv.wait_for(g, std::chrono::seconds(10),
                            [&] { return state->done; });
}

TEST(CredutlEdges, NameKeysOfAtMost256CharactersAndTheLockIsReleased) {
  ksi_cred_table *t = ksi_cred_table_get(KSI_CRED_NAME_GROUP);
  ASSERT_NE(t, nullptr);
  std::vector<unsigned char> value(KSI_CRED_GROUP_SIZE, 0x5A),
      out(KSI_CRED_GROUP_SIZE);
  std::string fits(256, 'g'), too_long(257, 'g');
  auto probe = [t] {
    ksi_cred_table_lock(t);
    ksi_cred_table_unlock(t);
  };
  struct Step {
    const char *what;
    std::function<void()> op;
  } steps[] = {
      {"an entry",
       [&] {
         EXPECT_EQ(ksi_cred_table_enter(t, fits.c_str(), value.data()), 0);
       }},
      {"a replacement",
       [&] {
         EXPECT_EQ(ksi_cred_table_enter(t, fits.c_str(), value.data()), 0);
       }},
      {"a hit",
       [&] {
         EXPECT_TRUE(ksi_cred_table_lookup(t, fits.c_str(), out.data()));
       }},
      {"a miss",
       [&] {
         EXPECT_FALSE(ksi_cred_table_lookup(t, "nobody here", out.data()));
       }},
      {"a name too long",
       [&] {
         EXPECT_EQ(ksi_cred_table_enter(t, too_long.c_str(), value.data()),
                   ENAMETOOLONG);
         EXPECT_FALSE(ksi_cred_table_lookup(t, too_long.c_str(), out.data()))
             << "a 257-character name must not be cached";
       }},
      {"a walk",
       [&] {
         ksi_cred_table_lock(t);
         void *cursor = nullptr;
         const void *k, *v;
         while (ksi_cred_table_next(t, &cursor, &k, &v)) {
         }
         ksi_cred_table_unlock(t);
       }},
      {"a delete",
       [&] { EXPECT_EQ(ksi_cred_table_delete(t, fits.c_str()), 0); }},
      {"a delete miss",
       [&] { EXPECT_EQ(ksi_cred_table_delete(t, fits.c_str()), ENOENT); }},
  };
  for (const Step &s : steps) {
    s.op();
    ASSERT_TRUE(finishes_elsewhere(probe))
        << "the cache's lock stayed held after " << s.what;
  }
}

}  // namespace

// A cached record keeps each name with a terminating NUL inside its field: a
// name that fills the whole field is not cached, one byte less is.
TEST(CredutlEdges, FlattenedNamesLeaveRoomForTheirTerminator) {
  std::vector<unsigned char> flat(KSI_CRED_PASSWD_SIZE);
  std::string name(CREDUTL_CACHE_NAME_SIZE - 1, 'u'), group = "g", gecos = "",
                                                      home = "/";
  ksi_account a{name.data(), 7,  {},           group.data(),
                8,           {}, gecos.data(), home.data()};
  EXPECT_TRUE(ksi_account_flatten(a, flat.data()));
  name.push_back('u');
  a.name = name.data();
  EXPECT_FALSE(ksi_account_flatten(a, flat.data()));
  ksi_group g{name.data(), 8, {}};
  EXPECT_FALSE(ksi_group_flatten(g, flat.data()));
}
