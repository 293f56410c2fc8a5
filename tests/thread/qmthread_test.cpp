// Threads layer: recursive mutexes, inhibit bookkeeping, rwlocks, condition
// waits, the library lock, threads, the registry, keys and per-thread
// blocks.
#include <gtest/gtest.h>

#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>
#include <orvexks/stg.h>
#include <orvexnt/nt_thread.h>

#include "containers/ilist.h"
#include "fault/pfm_state.h"
#include "thread/qmthread_internal.h"
#include "thread/tls_impl.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <thread>

namespace {

// Runs `body` on a thread made with qmthread_create and waits for it.
void on_thread(std::function<void()> body) {
  qmthread_t tid;
  auto trampoline = [](void *arg) -> void * {
    (*static_cast<std::function<void()> *>(arg))();
    return nullptr;
  };
  ASSERT_EQ(qmthread_create(&tid, nullptr, trampoline, &body), 0);
  ASSERT_EQ(qmthread_join(tid, nullptr), 0);
}

uint32_t inhibits() { return ksi_pfm_state()->pfm_inh_count; }

class QmthreadDeath : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST(QmthreadMutex, RecursiveForOwnerOnly) {
  qmthread_mutex_t m;
  ASSERT_EQ(qmthread_mutex_init(&m), 0);
  uint32_t self = nt_get_current_thread_id();
  ASSERT_EQ(qmthread_mutex_lock(&m), 0);
  ASSERT_EQ(qmthread_mutex_lock(&m), 0);
  ASSERT_EQ(qmthread_mutex_trylock(&m), 0);
  EXPECT_EQ(m.recursion_count, 3);
  EXPECT_EQ(m.owner, self);
  EXPECT_EQ(m.lock_count, 1u);

  on_thread([&] {
    EXPECT_EQ(qmthread_mutex_unlock(&m), 1);
    EXPECT_EQ(qmthread_mutex_trylock(&m), EBUSY);
  });
  EXPECT_EQ(m.recursion_count, 3);

  EXPECT_EQ(qmthread_mutex_unlock(&m), 0);
  EXPECT_EQ(qmthread_mutex_unlock(&m), 0);
  EXPECT_EQ(m.owner, self);
  EXPECT_EQ(qmthread_mutex_unlock(&m), 0);
  EXPECT_EQ(m.owner, 0u);
  EXPECT_EQ(qmthread_mutex_unlock(&m), 1);

  on_thread([&] {
    EXPECT_EQ(qmthread_mutex_trylock(&m), 0);
    EXPECT_EQ(qmthread_mutex_unlock(&m), 0);
  });
  EXPECT_EQ(qmthread_mutex_destroy(&m), 0);
  EXPECT_EQ(qmthread_mutex_set_noraise(nullptr), EINVAL);
}

TEST(QmthreadMutex, RaiseModeHoldsOneInhibitWhateverTheDepth) {
  qmthread_mutex_t raising = QMTHREAD_MUTEX_INITIALIZER;
  qmthread_mutex_t quiet = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
  on_thread([&] {
    uint32_t base = inhibits();
    qmthread_mutex_lock(&raising);
    qmthread_mutex_lock(&raising);
    EXPECT_EQ(inhibits(), base + 1);
    qmthread_mutex_lock(&quiet);
    EXPECT_EQ(inhibits(), base + 1);
    qmthread_mutex_unlock(&quiet);
    qmthread_mutex_unlock(&raising);
    EXPECT_EQ(inhibits(), base + 1);
    qmthread_mutex_unlock(&raising);
    EXPECT_EQ(inhibits(), base);
  });
  // A failed trylock leaves the count as it was.
  qmthread_mutex_lock(&raising);
  on_thread([&] {
    uint32_t base = inhibits();
    EXPECT_EQ(qmthread_mutex_trylock(&raising), EBUSY);
    EXPECT_EQ(inhibits(), base);
  });
  qmthread_mutex_unlock(&raising);
}

// Lock order itself is checked in qmthread_order_test; here grouped
// mutexes released out of order leave the held list empty, and statistics
// count locks and the time held.
TEST(QmthreadMutex, StatisticsAndTheHeldList) {
  qmthread_mutex_group_t group{
      [](qmthread_mutex_t *, qmthread_mutex_t *, qmthread_mutex_group_t *) {
        ADD_FAILURE() << "no order was broken";
      }};
  qmthread_mutex_t m, higher;
  ASSERT_EQ(qmthread_mutex_init_full(&m, 0, 1, QMTHREAD_MUTEX_STATS, &group),
            0);
  ASSERT_EQ(qmthread_mutex_init_full(&higher, 0, 2, 0, &group), 0);
  qmthread_mutex_lock(&m);
  qmthread_mutex_unlock(&m);
  qmthread_mutex_lock(&m);
  qmthread_mutex_lock(&higher);
  qmthread_sleep(20);
  qmthread_mutex_unlock(&m);
  qmthread_mutex_unlock(&higher);
  EXPECT_TRUE(ksi_ilist_empty(&ksi_pfm_state()->held));
  EXPECT_FALSE(ksi_pfm_state_in_use(ksi_pfm_state()));
  EXPECT_EQ(m.lock_count, 2u);
  EXPECT_GE(m.held_time.sec * 1000000 + m.held_time.usec, 15000);
  EXPECT_LT(m.held_time.usec, 1000000);
}

TEST(QmthreadRwlock, WriterAskingAgainGetsAnErrorAndInhibitsFollowType) {
  qmthread_rwlock_t rw;
  ASSERT_EQ(qmthread_rwlock_init(&rw, QMTHREAD_RAISE_MODE), 0);
  on_thread([&] {
    uint32_t base = inhibits();
    ASSERT_EQ(qmthread_rwlock_wrlock(&rw), 0);
    EXPECT_EQ(rw.writer, nt_get_current_thread_id());
    EXPECT_EQ(inhibits(), base + 1);
    EXPECT_NE(qmthread_rwlock_rdlock(&rw), 0);
    EXPECT_NE(qmthread_rwlock_wrlock(&rw), 0);
    EXPECT_EQ(inhibits(), base + 1);
    EXPECT_EQ(qmthread_rwlock_unlock(&rw), 0);
    EXPECT_EQ(rw.writer, 0u);
    EXPECT_EQ(inhibits(), base);
  });
  // Readers share; a writer cannot get in meanwhile.
  ASSERT_EQ(qmthread_rwlock_rdlock(&rw), 0);
  on_thread([&] {
    EXPECT_EQ(qmthread_rwlock_rdlock_trylock(&rw), 0);
    EXPECT_EQ(qmthread_rwlock_wrlock_trylock(&rw), EBUSY);
    EXPECT_EQ(qmthread_rwlock_unlock(&rw), 0);
  });
  EXPECT_EQ(qmthread_rwlock_unlock(&rw), 0);
  EXPECT_EQ(qmthread_rwlock_destroy(&rw), 0);

  qmthread_rwlock_t quiet;
  ASSERT_EQ(qmthread_rwlock_init(&quiet, 0), 0);
  on_thread([&] {
    uint32_t base = inhibits();
    qmthread_rwlock_rdlock(&quiet);
    EXPECT_EQ(inhibits(), base);
    qmthread_rwlock_unlock(&quiet);
  });
  qmthread_rwlock_destroy(&quiet);
}

TEST(QmthreadCond, TimedWaitInThePastAndSignalledWait) {
  qmthread_mutex_t m = QMTHREAD_MUTEX_INITIALIZER;
  qmthread_cond_t cond = PTHREAD_COND_INITIALIZER;
  on_thread([&] {
    uint32_t base = inhibits();
    qmthread_mutex_lock(&m);
    timespec past{0, 0};
    EXPECT_EQ(qmthread_cond_timedwait(&cond, &m, &past), ETIMEDOUT);
    EXPECT_EQ(m.owner, nt_get_current_thread_id());
    EXPECT_EQ(m.recursion_count, 1);
    EXPECT_EQ(inhibits(), base + 1);
    qmthread_mutex_unlock(&m);
  });

  // The wait releases the mutex: another thread can take it meanwhile.
  bool ready = false;
  qmthread_mutex_lock(&m);
  std::thread other([&] {
    qmthread_mutex_lock(&m);
    ready = true;
    qmthread_mutex_unlock(&m);
  });
  while (!ready) {
    timespec soon;
    clock_gettime(CLOCK_REALTIME, &soon);
    soon.tv_nsec = (soon.tv_nsec + 1000000) % 1000000000;  // a wrap is past
    int err = qmthread_cond_timedwait(&cond, &m, &soon);
    EXPECT_TRUE(err == 0 || err == ETIMEDOUT);
  }
  qmthread_mutex_unlock(&m);
  other.join();
}

void wait_holding_twice() {
  static qmthread_mutex_t m = QMTHREAD_MUTEX_INITIALIZER;
  static qmthread_cond_t cond = PTHREAD_COND_INITIALIZER;
  qmthread_mutex_lock(&m);
  qmthread_mutex_lock(&m);
  qmthread_cond_wait(&cond, &m);
}

TEST_F(QmthreadDeath, ConditionWaitNeedsTheMutexHeldOnlyOnce) {
  EXPECT_EXIT(
      wait_holding_twice(), testing::KilledBySignal(SIGABRT),
      "qmthread assertion fail: \\[[0-9]+\\] mutex->recursion_count == 1 "
      "at 'qmthread':[0-9]+\n");
}

TEST(QmthreadLibLock, AttachedUntilTheOutermostLeave) {
  on_thread([] {
    qmthread_t attached;
    for (int i = 0; i < 3; ++i) qmthread_enter_critical_section();
    for (int i = 0; i < 2; ++i) {
      qmthread_leave_critical_section();
      qmthread_attached_tid(&attached);
      EXPECT_TRUE(qmthread_equal(attached, qmthread_self()));
    }
    on_thread([] {
      EXPECT_EQ(qmthread_try_enter_critical_section(), 0);
      EXPECT_EQ(qmthread_try_attach_lib(), 1);
    });
    qmthread_leave_critical_section();
    qmthread_attached_tid(&attached);
    EXPECT_TRUE(qmthread_is_null(attached));
    EXPECT_EQ(ksi_lib_lock.owner, 0u);

    EXPECT_EQ(qmthread_try_enter_critical_section(), 1);
    qmthread_leave_critical_section();
  });
}

TEST_F(QmthreadDeath, LeavingTheLibraryLockUnattachedStopsTheProcess) {
  EXPECT_EXIT(
      qmthread_leave_critical_section(), testing::KilledBySignal(SIGABRT),
      "qmthread assertion fail: \\[[0-9]+\\] "
      "qmthread_equal\\(qmthread_lib_attached_tid, qmthread_self\\(\\)\\)");
}

void lock_twice_and_exit() {
  static qmthread_mutex_t m = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
  qmthread_init();
  qmthread_mutex_lock(&m);
  qmthread_mutex_lock(&m);
  exit(0);
}

TEST_F(QmthreadDeath, TracingWritesPrefixedLinesToStandardError) {
  // The child starts afresh and reads the variable when the layer starts.
  setenv("TRACE_QMTHREAD", "true", 1);
  EXPECT_EXIT(
      lock_twice_and_exit(), testing::ExitedWithCode(0),
      ">>> [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9][0-9] \\(qmthread\\): "
      "\\[P[0-9]+\\]\\[T[0-9]+\\]Mutex 0x[0-9a-f]+ is locked for 2 times\n");
  unsetenv("TRACE_QMTHREAD");
}

TEST(QmthreadThreads, SmallStacksAreRaisedToOneMebibyte) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 64 * 1024);
  qmthread_t tid;
  auto probe = [](void *) -> void * {
    pthread_attr_t self;
    size_t size = 0;
    pthread_getattr_np(pthread_self(), &self);
    pthread_attr_getstacksize(&self, &size);
    pthread_attr_destroy(&self);
    return reinterpret_cast<void *>(size);
  };
  ASSERT_EQ(qmthread_create(&tid, &attr, probe, nullptr), 0);
  void *size = nullptr;
  ASSERT_EQ(qmthread_join(tid, &size), 0);
  EXPECT_GE(reinterpret_cast<size_t>(size), size_t{0x100000});
  size_t asked = 0;
  pthread_attr_getstacksize(&attr, &asked);
  EXPECT_EQ(asked, size_t{0x100000});
  pthread_attr_destroy(&attr);
}

TEST(QmthreadThreads, RegistryFollowsThreadLifetimes) {
  qmthread_t tid;
  qmthread_mutex_t gate = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
  qmthread_mutex_lock(&gate);
  auto wait_gate = [](void *arg) -> void * {
    auto *g = static_cast<qmthread_mutex_t *>(arg);
    qmthread_mutex_lock(g);
    qmthread_mutex_unlock(g);
    return nullptr;
  };
  ASSERT_EQ(qmthread_create(&tid, nullptr, wait_gate, &gate), 0);
  // Registered by the creator; adding again gives the same entry and keeps
  // its pending status.
  ksi_thread_entry *entry = ksi_registry_add(tid);
  ksi_registry_post_all(77);
  EXPECT_EQ(ksi_registry_add(tid), entry);
  EXPECT_EQ(ksi_entry_pending(entry), 77u);
  ksi_registry_post_all(0);
  qmthread_mutex_unlock(&gate);
  qmthread_join(tid, nullptr);
  // The ended thread left the registry: adding it now makes a new entry.
  ksi_thread_entry *fresh = ksi_registry_add(tid);
  EXPECT_EQ(ksi_entry_pending(fresh), 0u);
  ksi_registry_remove(tid);
}

void fill_key_table_and_exit() {
  qmthread_init();
  int made = 0;
  qmthread_key_t key;
  int err;
  while ((err = qmthread_key_create(&key, nullptr)) == 0) ++made;
  // The threads layer records keys of its own; the table is full at 99.
  if (err != ENOMEM || made <= 90 || made >= 99) exit(1);
  // A refused key is given back: refusing more times than the system has
  // keys still leaves the system's keys to others.
  for (int i = 0; i < PTHREAD_KEYS_MAX + 10; ++i)
    if (qmthread_key_create(&key, nullptr) != ENOMEM) exit(2);
  pthread_key_t plain;
  exit(pthread_key_create(&plain, nullptr) == 0 ? 0 : 3);
}

TEST_F(QmthreadDeath, KeyTableHoldsNinetyNineKeys) {
  EXPECT_EXIT(fill_key_table_and_exit(), testing::ExitedWithCode(0), "");
}

std::atomic<int> destructor_runs{0};

TEST(QmthreadKeys, DestructorRunsOncePerThread) {
  qmthread_key_t key;
  ASSERT_EQ(qmthread_key_create(&key, [](void *) { ++destructor_runs; }), 0);
  destructor_runs = 0;
  static int value;
  // Both the outermost leave and the thread's end: one run.
  on_thread([&] {
    qmthread_enter_critical_section();
    qmthread_set_tls(key, &value);
    qmthread_leave_critical_section();
    EXPECT_EQ(destructor_runs.load(), 1);
    EXPECT_EQ(qmthread_get_tls(key), nullptr);
  });
  EXPECT_EQ(destructor_runs.load(), 1);
  // The thread's end alone.
  on_thread([&] { qmthread_set_tls(key, &value); });
  EXPECT_EQ(destructor_runs.load(), 2);
  // A thread the library did not create, known only through its fault state.
  pthread_t raw;
  pthread_create(
      &raw, nullptr,
      [](void *k) -> void * {
        pfm_inhibit_suspend_count();
        qmthread_set_tls(*static_cast<qmthread_key_t *>(k), &value);
        return nullptr;
      },
      &key);
  pthread_join(raw, nullptr);
  EXPECT_EQ(destructor_runs.load(), 3);
  qmthread_key_delete(key);
}

std::atomic<int> new_key_runs{0};

// A deleted key stays in the key table; a later key that gets the same
// number from the system has its own destructor run, not the old one.
TEST(QmthreadKeys, AReusedKeyNumberRunsItsNewDestructor) {
  qmthread_key_t old_key, new_key;
  ASSERT_EQ(qmthread_key_create(
                &old_key, [](void *) { ADD_FAILURE() << "old destructor"; }),
            0);
  qmthread_key_delete(old_key);
  ASSERT_EQ(qmthread_key_create(&new_key, [](void *) { ++new_key_runs; }), 0);
  if (new_key != old_key)
    GTEST_SKIP() << "the system did not reuse the key number";
  static int value;
  on_thread([&] {
    qmthread_enter_critical_section();
    qmthread_set_tls(new_key, &value);
    qmthread_leave_critical_section();
  });
  EXPECT_EQ(new_key_runs.load(), 1);
  qmthread_key_delete(new_key);
}

TEST(QmthreadKeys, PerThreadBlocksCarryTheirArea) {
  struct block {
    stg_area_t area;
    char data[200];
  };
  auto *b = static_cast<block *>(qmthread_alloc_tls(sizeof(block)));
  ASSERT_NE(b, nullptr);
  EXPECT_NE(b->area, STG_AREA_NULL);
  for (char c : b->data) EXPECT_EQ(c, 0);
  EXPECT_NE(stg_alloc(b->area, 5000), nullptr);
  qmthread_free_tls(b);

  stg_area_t nothing = STG_AREA_NULL;
  qmthread_free_tls(&nothing);

  ksi_tls_t *mine = ksi_tls_block();
  EXPECT_EQ(ksi_tls_block(), mine);
  ASSERT_NE(mine->area, STG_AREA_NULL);
  on_thread([&] {
    ksi_tls_t *theirs = ksi_tls_block();
    EXPECT_NE(theirs, mine);
    EXPECT_NE(theirs->area, mine->area);
  });
}

// ---- Per-thread slots.

struct counted_record {
  int value;
  char bytes[300];
};
std::atomic<int> cleanups{0};
ksi_tls_slot_t counted_slot =
    KSI_TLS_SLOT_INIT(counted_record, [](void *record) {
      cleanups.fetch_add(static_cast<counted_record *>(record)->value);
    });
ksi_tls_slot_t plain_slot = KSI_TLS_SLOT_INIT(int, nullptr);

// A slot's record is per thread, zero-filled and made once; its cleanup
// runs once when the block goes (outermost leave of the library lock or
// the thread's end), and a slot without cleanup needs none.
TEST(QmthreadSlots, RecordsArePerThreadAndCleanedUpWithTheBlock) {
  on_thread([] {
    qmthread_enter_critical_section();
    auto *mine = ksi_tls_record<counted_record>(&counted_slot);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(mine->value, 0);
    for (char c : mine->bytes) EXPECT_EQ(c, 0);
    EXPECT_EQ(ksi_tls_record<counted_record>(&counted_slot), mine);
    EXPECT_GE(counted_slot.index.load(), 0);
    EXPECT_NE(ksi_tls_needed<int>(&plain_slot), nullptr);
    EXPECT_NE(plain_slot.index.load(), counted_slot.index.load());
    mine->value = 1;
    on_thread([&] {
      auto *theirs = ksi_tls_record<counted_record>(&counted_slot);
      EXPECT_NE(theirs, mine);
      EXPECT_EQ(theirs->value, 0);
      theirs->value = 10;  // cleaned up when this thread ends
    });
    EXPECT_EQ(cleanups.load(), 10);
    qmthread_leave_critical_section();
    EXPECT_EQ(cleanups.load(), 11);
    // A fresh record after the block went.
    EXPECT_EQ(ksi_tls_record<counted_record>(&counted_slot)->value, 0);
  });
  EXPECT_EQ(cleanups.load(), 11);
}

}  // namespace
