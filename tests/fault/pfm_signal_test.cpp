// Fault management of the process: signals through the dispatcher, process
// types, deferred signals, exit handlers and pfm_exit on each kind of
// thread. Paths that end or reshape the process run in child processes.
#include <gtest/gtest.h>

#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// gcc announces ThreadSanitizer with a macro, clang through __has_feature.
#if defined(__SANITIZE_THREAD__)
#define KS_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KS_UNDER_TSAN 1
#endif
#endif
#ifndef KS_UNDER_TSAN
#define KS_UNDER_TSAN 0
#endif

namespace {

constexpr int kPatienceMs = 5000;

pfm_signal_t c_value(void (*handler)(int)) {
  return reinterpret_cast<pfm_signal_t>(
      reinterpret_cast<void (*)(void)>(handler));
}

void put(const char *text) {
  ssize_t rc = write(2, text, strlen(text));
  (void)rc;
}

void say(int code, void *arg, struct on_exit_entry *entry) {
  fprintf(stderr, "%s%d;", static_cast<const char *>(arg), code);
  free(entry);
}

// Sends `sig` to the process and waits in a protected region for the raise
// it turns into; returns the raised status (0 when none came).
uint32_t raise_taken_after(int sig) {
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    kill(getpid(), sig);
    for (int i = 0; i < kPatienceMs; ++i) {
      pfm_test_raise(nullptr);
      qmthread_sleep(1);
    }
    pfm_cleanup_rls(&rec);
    return 0;
  }
  pfm_enable();
  return static_cast<uint32_t>(rec.status);
}

// Takes a raise already pending for this thread: its status, 0 when none.
uint32_t take_pending_raise() {
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    pfm_test_raise(nullptr);
    pfm_cleanup_rls(&rec);
    return 0;
  }
  pfm_enable();
  return static_cast<uint32_t>(rec.status);
}

void wait_until(const std::atomic<int> &value, int wanted) {
  for (int i = 0; i < kPatienceMs && value.load() != wanted; ++i)
    qmthread_sleep(1);
}

class PfmSignal : public testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    pfm_init();
  }
};

// ---- Interrupts and the dispatcher.

// Static: the raise's jump must not leave it indeterminate.
qmthread_t sender;

// The attached thread waits in select on a socket that never becomes
// readable; the interrupt wakes it through the notification channel.
void interrupt_during_select(int sig) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) exit(2);
  qmthread_create(
      &sender, nullptr,
      [](void *arg) -> void * {
        qmthread_sleep(20);
        kill(getpid(), static_cast<int>(reinterpret_cast<intptr_t>(arg)));
        return nullptr;
      },
      reinterpret_cast<void *>(static_cast<intptr_t>(sig)));
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    // A signal that lands on this thread also ends a select early: wait
    // again until the dispatcher's wake-up arrives.
    for (int round = 0; round < 100; ++round) {
      pfm_inhibit();
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(pair[0], &readable);
      timeval timeout{5, 0};
      pfm_select_inhibited(pair[0] + 1, &readable, nullptr, nullptr, &timeout);
      pfm_enable();
    }
    pfm_cleanup_rls(&rec);
    exit(1);
  }
  qmthread_join(sender, nullptr);
  fprintf(stderr, "caught %d;", rec.status);
  exit(0);
}

TEST_F(PfmSignal, InterruptsDuringSelectBecomeRaisesOfStatus4) {
  EXPECT_EXIT(interrupt_during_select(SIGINT), testing::ExitedWithCode(0),
              "^caught 4;$");
  EXPECT_EXIT(interrupt_during_select(SIGTERM), testing::ExitedWithCode(0),
              "^caught 4;$");
}

std::atomic<int> handled_sig{0};
std::atomic<uint32_t> handled_bit{0};
std::atomic<bool> handled_on_attached{true};

void raising_handler(int sig, uint32_t bit) {
  qmthread_t attached;
  qmthread_attached_tid(&attached);
  handled_on_attached = qmthread_equal(attached, qmthread_self()) != 0;
  handled_bit = bit;
  handled_sig = sig;
  pfm_raise(77);  // posted: this thread runs the dispatcher
}

TEST_F(PfmSignal, HandlerRunsOnTheDispatcherAndItsRaiseIsPosted) {
  pfm_signal_t before = pfm_signal(SIGUSR1, raising_handler);
  EXPECT_EQ(before, c_value(SIG_DFL));
  EXPECT_EQ(raise_taken_after(SIGUSR1), 77u);
  EXPECT_EQ(handled_sig.load(), SIGUSR1);
  EXPECT_EQ(handled_bit.load(), 1u << (SIGUSR1 - 1));
  EXPECT_FALSE(handled_on_attached.load());

  // The dispatcher's own wake-up posts nothing: no second raise follows.
  qmthread_sleep(20);
  EXPECT_EQ(take_pending_raise(), 0u) << "late raise";

  EXPECT_EQ(pfm_signal(SIGUSR1, before), raising_handler);
  struct sigaction now;
  sigaction(SIGUSR1, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

void exiting_handler(int, uint32_t) { pfm_exit(6); }

// pfm_exit on the dispatcher only records the exit; the attached thread
// performs it at its next delivery check.
void exit_requested_by_a_handler() {
  pfm_on_exit(say, const_cast<char *>("h"));
  pfm_signal(SIGUSR1, exiting_handler);
  raise_taken_after(SIGUSR1);
  put("no exit;");
  exit(1);
}

TEST_F(PfmSignal, ExitFromTheDispatcherIsPerformedByTheAttachedThread) {
  EXPECT_EXIT(exit_requested_by_a_handler(), testing::ExitedWithCode(6),
              "^h6;$");
}

// A forked child takes its own interrupts: the parent, which also handles
// SIGINT, must not see them.
void interrupt_in_a_forked_child() {
  pid_t child = fork();
  if (child == 0)
    _exit(raise_taken_after(SIGINT) == PFM_STATUS_INTERRUPT ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  qmthread_sleep(20);
  if (take_pending_raise() != 0) put("parent interrupted;");
  exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
}

TEST_F(PfmSignal, ForkedChildTakesItsOwnInterrupts) {
#if KS_UNDER_TSAN
  GTEST_SKIP()
      << "ThreadSanitizer refuses new threads after a multi-threaded fork";
#endif
  EXPECT_EXIT(interrupt_in_a_forked_child(), testing::ExitedWithCode(0), "^$");
}

// ---- Signals queued for the delivery thread.

std::atomic<int> slow_handler_state{0};
std::atomic<int> marker_runs{0};

void slow_handler(int, uint32_t) {
  slow_handler_state.store(1);
  while (slow_handler_state.load() != 2) sched_yield();
}

void marker_handler(int, uint32_t) { marker_runs.fetch_add(1); }

// While the dispatcher is busy, SIGUSR2 arrives and waits in the queue;
// the program then ignores it. The queued signal is dropped, and the
// signal queued behind it (SIGHUP) is still dispatched.
void switch_a_queued_signal_to(void (*now)(int)) {
  pfm_signal(SIGUSR1, slow_handler);
  pfm_signal(SIGUSR2, marker_handler);
  pfm_signal(SIGHUP, marker_handler);
  kill(getpid(), SIGUSR1);
  wait_until(slow_handler_state, 1);
  raise(SIGUSR2);  // reaches the queue before raise returns
  pfm_signal(SIGUSR2, c_value(now));
  raise(SIGHUP);
  slow_handler_state.store(2);
  wait_until(marker_runs, 1);
  qmthread_sleep(20);
  exit(marker_runs.load());
}

TEST_F(PfmSignal, AQueuedSignalWhoseHandlerChangedIsDropped) {
  EXPECT_EXIT(switch_a_queued_signal_to(SIG_IGN), testing::ExitedWithCode(1),
              "^$");
  EXPECT_EXIT(switch_a_queued_signal_to(SIG_DFL), testing::ExitedWithCode(1),
              "^$");
}

// Without descriptors the delivery pipe cannot be made: signals would be
// lost, and the program is told so.
void initialise_without_descriptors() {
  rlimit few{16, 16};
  setrlimit(RLIMIT_NOFILE, &few);
  int first = dup(0), last = first;
  for (int fd = first; fd >= 0; fd = dup(0)) last = fd;
  pfm_init();
  // The sanitizer runtimes need descriptors of their own at exit.
  for (int fd = first; fd >= 0 && fd <= last; ++fd) close(fd);
  exit(0);
}

TEST(PfmSignalDelivery, FailureToStartIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(initialise_without_descriptors(), testing::ExitedWithCode(0),
              "Signals cannot reach the library \\('pipe2' failed\\): ");
}

// ---- Deferred signals of process type 2.

std::atomic<int> initial_runs{0};

void initial_handler(int sig) {
  put(sig == SIGINT    ? "INT;"
      : sig == SIGTERM ? "TERM;"
      : sig == SIGSYS  ? "SYS;"
                       : "USR1;");
  initial_runs.fetch_add(1);
}

void requested_handler(int, uint32_t) { put("req;"); }

// A plain signal reaches its initial handler right after the requested
// one, the highest catchable number (SIGSYS) included; interrupts wait for
// the exit and are then passed on in ascending signal order.
void deferred_signals_reach_initial_handlers() {
  struct sigaction sa {};
  sa.sa_handler = initial_handler;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGUSR1, SIGSYS})
    sigaction(sig, &sa, nullptr);
  pfm_proc_init(PFM_PROCESS_DEFERRED);
  pfm_signal(SIGUSR1, requested_handler);
  pfm_signal(SIGSYS, requested_handler);
  kill(getpid(), SIGUSR1);
  wait_until(initial_runs, 1);
  kill(getpid(), SIGSYS);
  wait_until(initial_runs, 2);
  if (raise_taken_after(SIGTERM) != PFM_STATUS_INTERRUPT) put("no raise;");
  if (raise_taken_after(SIGINT) != PFM_STATUS_INTERRUPT) put("no raise;");
  pfm_on_exit(say, const_cast<char *>("h"));
  pfm_exit(3);
  put("returned;");
  exit(initial_runs.load());  // every initial handler ran once
}

TEST(PfmDeferredSignals, InterruptsArePassedOnOnlyOnceAnExitIsPending) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(deferred_signals_reach_initial_handlers(),
              testing::ExitedWithCode(4),
              "^req;USR1;req;SYS;h3;INT;TERM;returned;$");
}

void report_exit(int code) {
  fprintf(stderr, "fn%d type%u;", code, pfm_proc());
}

// With an exit function of its own, a type-2 process leaves fault
// management and calls it.
void exit_function_of_a_deferred_process() {
  pfm_proc_init(PFM_PROCESS_DEFERRED);
  if (pfm_set_exit(report_exit) != exit) put("not exit;");
  pfm_on_exit(say, const_cast<char *>("h"));
  pfm_exit(7);
  put("returned;");
  exit(0);
}

TEST(PfmDeferredSignals, OwnExitFunctionIsCalledAfterTheHandlers) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exit_function_of_a_deferred_process(), testing::ExitedWithCode(0),
              "^h7;fn7 type0;returned;$");
}

// ---- The external process type.

void signal_in_external_process() {
  if (pfm_external_proc_init() != PFM_PROCESS_EXTERNAL || !pfm_in_safe_mode())
    exit(1);
  pfm_signal(SIGINT, requested_handler);
}

void external_type_after_initialisation() {
  pfm_init();
  pfm_proc_init(PFM_PROCESS_EXTERNAL);
}

// Type 3 installs no handler and attaches no thread; the thread holding
// the library lock exits like a type-2 attached thread.
void exit_in_external_process() {
  pfm_proc_init(PFM_PROCESS_EXTERNAL);
  struct sigaction now;
  sigaction(SIGINT, nullptr, &now);
  qmthread_t attached;
  qmthread_attached_tid(&attached);
  if (now.sa_handler == SIG_DFL && qmthread_is_null(attached))
    put("untouched;");
  qmthread_enter_critical_section();
  pfm_on_exit(say, const_cast<char *>("x"));
  pfm_exit(3);
  put("returned;");
  exit(0);
}

TEST(PfmExternal, NoSignalsAndNoAttachedThread) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(signal_in_external_process(), testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(!pfm_in_safe_mode\\(\\) \\|\\| "
              "pfm_is_safemode_signal\\(sig\\)\\) failed: "
              "'.*pfm_signals\\.cpp':[0-9]+\n");
  EXPECT_EXIT(external_type_after_initialisation(),
              testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(pfm_inited == 0\\) failed");
  EXPECT_EXIT(pfm_proc_init(PFM_PROCESS_INVALID),
              testing::KilledBySignal(SIGABRT),
              "PFM_ASSERT:\\(proc_type != PFM_PROCESS_INVALID\\) failed");
  EXPECT_EXIT(exit_in_external_process(), testing::ExitedWithCode(0),
              "^untouched;x3;returned;$");
}

// ---- Exit handlers and pfm_exit on the attached thread and elsewhere.

void register_while_exiting(int code, void *, struct on_exit_entry *entry) {
  fprintf(stderr, "b%d;", code);
  pfm_on_exit(say, const_cast<char *>("c"));
  free(entry);
}

void exit_with_a_late_registration() {
  pfm_on_exit(say, const_cast<char *>("a"));
  pfm_on_exit(register_while_exiting, nullptr);
  pfm_exit(3);
}

void exit_through_the_runtime() {
  pfm_on_exit(say, const_cast<char *>("a"));
  exit(0);
}

TEST_F(PfmSignal, ExitHandlersRunNewestFirstIncludingLateOnes) {
  EXPECT_EXIT(exit_with_a_late_registration(), testing::ExitedWithCode(3),
              "^b3;c3;a3;$");
  // A plain exit of the C runtime runs them too, with code 0.
  EXPECT_EXIT(exit_through_the_runtime(), testing::ExitedWithCode(0), "^a0;$");
}

std::atomic<int> thread_exit_handler_runs{0};

TEST_F(PfmSignal, ExitOnAnotherThreadEndsOnlyThatThread) {
  pfm_on_exit(
      [](int, void *, struct on_exit_entry *entry) {
        thread_exit_handler_runs.fetch_add(1);
        free(entry);
      },
      nullptr);
  qmthread_t tid;
  ASSERT_EQ(qmthread_create(
                &tid, nullptr,
                [](void *) -> void * {
                  pfm_exit(3);
                  return reinterpret_cast<void *>(99);
                },
                nullptr),
            0);
  void *value = nullptr;
  ASSERT_EQ(qmthread_join(tid, &value), 0);
  EXPECT_EQ(value, reinterpret_cast<void *>(3));
  EXPECT_EQ(thread_exit_handler_runs.load(), 0);
  EXPECT_EQ(pfm_proc(), PFM_PROCESS_DEFAULT);
}

}  // namespace
