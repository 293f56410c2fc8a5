// Fault management: protected regions, raises, posting, the notification
// channel, the abort, exits and signals.
#include <gtest/gtest.h>

#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>

#include "fault/pfm_state.h"

#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// The test program's main thread is the attached thread.
class Pfm : public testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    pfm_init();
  }
};

// Raises `status` from a frame below the protected region.
void raise_from_below(uint32_t status) { pfm_raise(status); }

TEST_F(Pfm, NestedRegionsPassTheStatusOutward) {
  pfm_cleanup_rec outer, inner;
  volatile int steps = 0;
  uint32_t entry = pfm_inhibit_count();
  outer.status = setjmp(outer.jmpbuf);
  if (pfm_cleanup_start(&outer, 0) == 0) {
    inner.status = setjmp(inner.jmpbuf);
    if (pfm_cleanup_start(&inner, 0) == 0) {
      steps = steps + 1;
      raise_from_below(17);
      ADD_FAILURE() << "raise returned";
    } else {
      EXPECT_EQ(inner.status, 17);
      EXPECT_EQ(inner.magic, MAGIC_TRIPPED);
      EXPECT_EQ(ksi_pfm_state()->cl_rec_root, &outer);
      EXPECT_EQ(ksi_pfm_state()->pfm_inh_count, entry + 1);
      steps = steps + 10;
      pfm_raise(static_cast<uint32_t>(inner.status));
    }
  } else {
    EXPECT_EQ(outer.status, 17);
    EXPECT_EQ(ksi_pfm_state()->cl_rec_root, nullptr);
    steps = steps + 100;
    pfm_enable();
  }
  EXPECT_EQ(steps, 111);
  EXPECT_EQ(pfm_inhibit_count(), entry);
}

TEST_F(Pfm, HandlerResumesInsideTheRegionWithReset) {
  pfm_cleanup_rec rec;
  volatile int raises = 0;
  qmthread_mutex_t m = QMTHREAD_MUTEX_INITIALIZER;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) != 0) {
    // The raise abandoned the mutex's frame: its inhibit is dropped.
    EXPECT_EQ(pfm_inhibit_count(), 1u);
    raises = raises + 1;
    pfm_cleanup_reset(&rec);
    EXPECT_EQ(pfm_inhibit_count(), 0u);
    EXPECT_EQ(ksi_pfm_state()->cl_rec_root, &rec);
  }
  if (raises < 2) {
    qmthread_mutex_lock(&m);
    qmthread_mutex_unlock(&m);
    qmthread_mutex_lock(&m);
    raise_from_below(3);
  }
  qmthread_mutex_unlock(&m);
  EXPECT_EQ(pfm_cleanup_rls(&rec), 0);
  EXPECT_EQ(raises, 2);
  EXPECT_EQ(ksi_pfm_state()->cl_rec_root, nullptr);
}

TEST_F(Pfm, PostedStatusWaitsWhileARaiseModeMutexIsHeld) {
  qmthread_mutex_t m = QMTHREAD_MUTEX_INITIALIZER;
  pfm_cleanup_rec rec;
  volatile int phase = 0;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    qmthread_mutex_lock(&m);
    pfm_notify_qm_thread(9);
    pfm_test_raise(nullptr);
    phase = 1;
    qmthread_mutex_unlock(&m);  // no delivery check here
    phase = 2;
    pfm_test_raise(nullptr);
    phase = 3;
  } else {
    EXPECT_EQ(rec.status, 9);
    pfm_enable();
  }
  EXPECT_EQ(phase, 2);
  // Taken once: the pending status was cleared by the raise.
  pfm_test_raise(nullptr);
}

TEST_F(Pfm, BrokenInvariantsAbort) {
  EXPECT_EXIT(pfm_enable(), testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(inh_count >=0\\) failed: '.*pfm\\.cpp':[0-9]+\n");
  EXPECT_EXIT(pfm_proc_asignals(2), testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT");
  EXPECT_EQ(pfm_proc_asignals(SIG_BLOCK), 0);
  EXPECT_EQ(pfm_proc_asignals(SIG_UNBLOCK), 0);
}

void release_outer_record() {
  pfm_cleanup_rec outer, inner;
  outer.status = setjmp(outer.jmpbuf);
  pfm_cleanup_start(&outer, 0);
  inner.status = setjmp(inner.jmpbuf);
  pfm_cleanup_start(&inner, 0);
  pfm_cleanup_rls(&outer);
}

TEST_F(Pfm, ReleasingARecordThatIsNotInnermostAborts) {
  EXPECT_EXIT(release_outer_record(), testing::KilledBySignal(SIGABRT),
              "cl_rec == cl_rec_root && cl_rec->magic == MAGIC_SET");
}

void report_abort(uint32_t code, const char *text) {
  fprintf(stderr, "hook %X [%s] same=%d\n", code, text,
          text == pfm_abort_buffer);
}

void panic_with_hook() {
  pfm_set_abort_hook(report_abort);
  pfm_panic("x", 7);
}

TEST_F(Pfm, PanicPrintsStoresAndCallsTheHook) {
  EXPECT_EXIT(panic_with_hook(), testing::KilledBySignal(SIGABRT),
              "\\*\\*\\*ABORT\\*\\*\\*  'x':7\n"
              ".*PFM_ASSERT:\\(\\*\\*\\* Panic \\*\\*\\*\\) failed: 'x':7\n"
              "hook C5C5DEAD \\[pfm_abort: \\*\\*\\* Panic \\*\\*\\* at "
              "'x':7\\] same=1\n");
  EXPECT_EXIT(
      PFM_ASSERT(1 + 1 == 3), testing::KilledBySignal(SIGABRT),
      "PFM_ASSERT:\\(1 \\+ 1 == 3\\) failed: '.*pfm_test\\.cpp':[0-9]+\n");
}

// Each abort path runs inside a protected region with a status posted:
// the abort's own message output must not take it.
void abort_with_status_pending(int path) {
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    pfm_notify_qm_thread(PFM_STATUS_INTERRUPT);
    if (path == 0) pfm_panic("x", 7);
    if (path == 1) pfm_assert_fail("cond", "y", 8);
    pfm_enable();  // an internal check: the count is already 0
  }
  fprintf(stderr, "carried on with %d\n", rec.status);
  exit(0);
}

TEST_F(Pfm, AnAbortEndsTheProcessWhateverIsPending) {
  for (int path = 0; path < 3; ++path)
    EXPECT_EXIT(abort_with_status_pending(path),
                testing::KilledBySignal(SIGABRT), "PFM_ASSERT")
        << "abort path " << path;
}

// ---- A status posted while the thread takes another one.

constexpr int kPostRounds = 3000;
std::atomic<int> round_armed{0};
std::atomic<bool> stop_posting{false};

// Posts 1 and at once 2 in every round the main thread armed.
void *post_one_then_two(void *) {
  for (int round = 1; round <= kPostRounds; ++round) {
    while (round_armed.load() != round) {
      if (stop_posting.load()) return nullptr;
      sched_yield();
    }
    pfm_notify_qm_thread(1);
    pfm_notify_qm_thread(2);
  }
  return nullptr;
}

// Takes statuses until it has taken 2; false when 2 never came.
bool take_until_two() {
  pfm_cleanup_rec rec;
  volatile int round = round_armed.load() + 1;
  rec.status = setjmp(rec.jmpbuf);
  int status = pfm_cleanup_start(&rec, 0);
  if (status == 2) {
    pfm_enable();
    return true;
  }
  if (status == 1) pfm_cleanup_reset(&rec);  // armed again for the 2
  round_armed.store(round);
  timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  do {
    pfm_test_raise(nullptr);
    clock_gettime(CLOCK_MONOTONIC, &now);
  } while (now.tv_sec - start.tv_sec < 10);
  pfm_cleanup_rls(&rec);
  return false;
}

// The status is taken and cleared in one step: a post that lands between
// the two would otherwise be wiped without ever being taken.
TEST_F(Pfm, AStatusPostedWhileAnotherIsTakenIsNeverLost) {
  round_armed.store(0);
  stop_posting.store(false);
  qmthread_t poster;
  ASSERT_EQ(qmthread_create(&poster, nullptr, post_one_then_two, nullptr), 0);
  int lost = 0;
  for (int round = 1; round <= kPostRounds && lost == 0; ++round)
    if (!take_until_two()) lost = round;
  EXPECT_EQ(lost, 0) << "status 2 of round " << lost << " was never taken";
  stop_posting.store(true);
  qmthread_join(poster, nullptr);
}

TEST_F(Pfm, NotificationInterruptsSelectOnTheAttachedThread) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  qmthread_t poster;
  ASSERT_EQ(qmthread_create(
                &poster, nullptr,
                [](void *) -> void * {
                  qmthread_sleep(50);
                  pfm_notify_qm_thread(21);
                  return nullptr;
                },
                nullptr),
            0);
  pfm_cleanup_rec rec;
  volatile int result = 0;
  volatile int err = 0;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    pfm_inhibit();
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(pair[0], &readable);
    timeval timeout{10, 0};
    result = pfm_select_inhibited(pair[0] + 1, &readable, nullptr, nullptr,
                                  &timeout);
    err = errno;
    pfm_enable();  // takes the posted status
    ADD_FAILURE() << "no raise after select";
    pfm_cleanup_rls(&rec);
  } else {
    EXPECT_EQ(rec.status, 21);
    pfm_enable();
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, EINTR);
  qmthread_join(poster, nullptr);
  uint32_t left;
  EXPECT_LT(recv(pfm_get_notify_channel(), &left, sizeof left, MSG_DONTWAIT),
            1);
  close(pair[0]);
  close(pair[1]);
}

void raise_without_records() {
  pfm_init();
  pfm_raise(5);
}

TEST_F(Pfm, RaiseWithoutRecordsExits) {
  EXPECT_EXIT(raise_without_records(), testing::ExitedWithCode(5), "");
  // Elsewhere it ends only the raising thread.
  qmthread_t tid;
  ASSERT_EQ(qmthread_create(
                &tid, nullptr,
                [](void *) -> void * {
                  pfm_raise(5);
                  return nullptr;
                },
                nullptr),
            0);
  void *value = nullptr;
  ASSERT_EQ(qmthread_join(tid, &value), 0);
  EXPECT_EQ(value, reinterpret_cast<void *>(5));
}

TEST_F(Pfm, IgnoredSignalGoesStraightToTheRuntime) {
  pfm_signal_t old =
      pfm_signal(SIGINT, reinterpret_cast<pfm_signal_t>(
                             reinterpret_cast<void (*)(void)>(SIG_IGN)));
  struct sigaction now;
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  EXPECT_EQ(pfm_signal(SIGINT, old),
            reinterpret_cast<pfm_signal_t>(
                reinterpret_cast<void (*)(void)>(SIG_IGN)));
  EXPECT_EQ(pfm_proc(), PFM_PROCESS_DEFAULT);
  EXPECT_EQ(pfm_in_safe_mode(), 0);
}

}  // namespace
