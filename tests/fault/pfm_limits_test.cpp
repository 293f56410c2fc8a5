// Fault management at its edges: the inhibit flag of a protected region,
// the suspend count, a posted status taken exactly once, the signal-number
// bound, and a restart after an exit whose exit function returned.
#include <gtest/gtest.h>

#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>

#include "fault/pfm_state.h"

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

class PfmLimits : public testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    pfm_init();
  }
};

TEST_F(PfmLimits, InhibitFlagLeavesTheCountsAsTheyWereAtArming) {
  uint32_t entry = pfm_inhibit_count();
  pfm_cleanup_rec rec;
  volatile int tripped = 0;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 1) == 0) {
    EXPECT_EQ(pfm_inhibit_count(), entry)
        << "the flag must not leave the region inhibited";
    EXPECT_EQ(pfm_inhibit_suspend_count(), 0u);
    EXPECT_EQ(rec.inh, static_cast<int32_t>(entry));
    EXPECT_EQ(ksi_pfm_state()->cl_rec_root, &rec);
    pfm_raise(6);
  } else {
    tripped = 1;
    EXPECT_EQ(rec.status, 6);
    EXPECT_EQ(pfm_inhibit_count(), entry + 1);
    pfm_enable();
  }
  EXPECT_EQ(tripped, 1);
  EXPECT_EQ(pfm_inhibit_count(), entry);
  EXPECT_EQ(ksi_pfm_state()->cl_rec_root, nullptr);
}

TEST_F(PfmLimits, SuspendCountChangesOnlyThroughRecords) {
  pfm_thread_state *st = ksi_pfm_state();
  EXPECT_EQ(pfm_inhibit_suspend_count(), 0u);
  pfm_inhibit_suspend();
  pfm_inhibit_suspend();
  EXPECT_EQ(pfm_inhibit_suspend_count(), 0u)
      << "suspend is a delivery check only";
  pfm_enable_suspend();
  EXPECT_EQ(pfm_inhibit_suspend_count(), 0u);

  // A trip puts back the count saved when the record was armed.
  st->pfm_inh_susp = 2;
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    EXPECT_EQ(rec.inh_susp, 2);
    ksi_pfm_state()->pfm_inh_susp = 5;
    pfm_raise(8);
  } else {
    EXPECT_EQ(pfm_inhibit_suspend_count(), 2u);
    pfm_enable();
  }
  // A release leaves it as it stands.
  rec.status = setjmp(rec.jmpbuf);
  ASSERT_EQ(pfm_cleanup_start(&rec, 0), 0);
  st->pfm_inh_susp = 3;
  pfm_cleanup_rls(&rec);
  EXPECT_EQ(pfm_inhibit_suspend_count(), 3u);
  st->pfm_inh_susp = 0;
}

void suspend_count_below_the_record() {
  pfm_init();
  pfm_cleanup_rec rec;
  ksi_pfm_state()->pfm_inh_susp = 2;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    ksi_pfm_state()->pfm_inh_susp = 1;
    pfm_raise(3);
  }
  exit(0);
}

TEST_F(PfmLimits, SuspendCountBelowTheRecordsAborts) {
  EXPECT_EXIT(suspend_count_below_the_record(),
              testing::KilledBySignal(SIGABRT),
              "pfm_inh_susp >= cl_rec->inh_susp");
}

void suspend_operations_deliver() {
  pfm_init();
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    pfm_notify_qm_thread(12);
    pfm_inhibit_suspend();
    fprintf(stderr, "not delivered\n");
    exit(1);
  }
  fprintf(stderr, "delivered %d\n", rec.status);
  exit(0);
}

TEST_F(PfmLimits, SuspendIsADeliveryCheck) {
  EXPECT_EXIT(suspend_operations_deliver(), testing::ExitedWithCode(0),
              "delivered 12\n");
}

// A posted status is taken once: the raise that delivers it clears it. Were
// it left pending, the delivery check of pfm_cleanup_start would raise it
// again at once, forever; the second return to the jump point says so.
void posted_status_taken_once() {
  pfm_init();
  pfm_cleanup_rec rec;
  volatile int raises = 0;
  rec.status = setjmp(rec.jmpbuf);
  if (rec.status != 0) raises = raises + 1;
  if (raises > 1) {
    fprintf(stderr, "status %d raised again: it was left pending\n",
            rec.status);
    exit(3);
  }
  if (pfm_cleanup_start(&rec, 0) == 0) {
    pfm_notify_qm_thread(9);
    pfm_test_raise(nullptr);
    fprintf(stderr, "posted status not taken\n");
    exit(2);
  }
  pfm_enable();
  pfm_test_raise(nullptr);
  pfm_inhibit();
  pfm_enable();
  fprintf(stderr, "taken %d time(s)\n", raises);
  exit(0);
}

TEST_F(PfmLimits, PostedStatusIsTakenExactlyOnce) {
  EXPECT_EXIT(posted_status_taken_once(), testing::ExitedWithCode(0),
              "taken 1 time\\(s\\)\n");
}

TEST_F(PfmLimits, SignalNumbersRunFromOneToThirtyOne) {
  pfm_signal_t ign =
      reinterpret_cast<pfm_signal_t>(reinterpret_cast<void (*)(void)>(SIG_IGN));
  pfm_signal_t err =
      reinterpret_cast<pfm_signal_t>(reinterpret_cast<void (*)(void)>(SIG_ERR));
  for (int sig : {0, 32, 33, -1}) EXPECT_EQ(pfm_signal(sig, ign), err) << sig;
  for (int sig : {1, 31}) {
    pfm_signal_t old = pfm_signal(sig, ign);
    EXPECT_NE(old, err) << sig;
    EXPECT_EQ(pfm_signal(sig, old), ign) << sig;
  }
}

void note_code(int code) { fprintf(stderr, "exit function %d;", code); }

void restart_after_returning_exit() {
  pfm_proc_init(PFM_PROCESS_DEFERRED);
  pfm_init();
  pfm_set_exit(note_code);
  pfm_exit(3);
  fprintf(stderr, "returned;");
  // Fault management starts afresh, as the default process type.
  pfm_init();
  fprintf(stderr, "type %u;", pfm_proc());
  exit(pfm_proc() == PFM_PROCESS_DEFAULT ? 0 : 1);
}

TEST(PfmRestart, InitAfterAnExitWhoseFunctionReturnedGivesTheDefaultType) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(restart_after_returning_exit(), testing::ExitedWithCode(0),
              "^exit function 3;returned;type 1;$");
}

}  // namespace
