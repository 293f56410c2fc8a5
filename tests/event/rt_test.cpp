// The event loop: timer order and the event life cycle, handlers that
// change the lists while the loop dispatches, raises and interrupts out of
// the loop, wake-ups from other threads, many ready sockets, descriptor
// limits, misuse, and the worker-thread settings.
#include <gtest/gtest.h>

#include <orvexks/ks_product.h>
#include <orvexks/pfm.h>
#include <orvexks/rt.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::vector<intptr_t> fired;

void log_tag(void *arg) { fired.push_back(reinterpret_cast<intptr_t>(arg)); }
void stop(void *) { rt_shutdown(); }
void *tag(intptr_t n) { return reinterpret_cast<void *>(n); }

struct pair_fds {
  int in;   // registered, read end
  int out;  // written to by the test
};

pair_fds make_pair() {
  int fds[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  return {fds[0], fds[1]};
}

void poke(int fd) { EXPECT_EQ(write(fd, "x", 1), 1); }
void drain(int fd) {
  char c;
  EXPECT_EQ(read(fd, &c, 1), 1);
}

// Runs the loop until shutdown; a watchdog timer ends a loop that would
// otherwise wait forever, and the run then reports false.
bool run_loop(uint32_t patience_sec = 20) {
  static bool timed_out;
  timed_out = false;
  rt_event *watchdog = rt_sched_mt(
      [](void *) {
        timed_out = true;
        rt_shutdown();
      },
      nullptr, patience_sec);
  rt_run();
  if (rt_unsched_mt(watchdog, 1) == 4) rt_free_event(watchdog);
  return !timed_out;
}

class Rt : public testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ks_system_init();
    fired.clear();
  }
};

TEST_F(Rt, TimersFireByDueTimeEqualTimesInSchedulingOrder) {
  // 10,000 overdue timers over few distinct due times, then one due now
  // that stops the loop: the firing order must be (due time, scheduling
  // order).
  timeval now;
  gettimeofday(&now, nullptr);
  std::mt19937 random(7);
  std::vector<std::pair<int64_t, intptr_t>> expected;
  for (intptr_t i = 0; i < 10000; ++i) {
    timeval due = {now.tv_sec - 1 - static_cast<time_t>(random() % 40),
                   static_cast<suseconds_t>(random() % 3) * 250000};
    ASSERT_NE(rt_sched_abs(log_tag, tag(i), &due), nullptr);
    expected.push_back({due.tv_sec * 1000000LL + due.tv_usec, i});
  }
  rt_sched_abs(stop, nullptr, &now);
  ASSERT_TRUE(run_loop());
  std::stable_sort(expected.begin(), expected.end(),
                   [](auto &a, auto &b) { return a.first < b.first; });
  ASSERT_EQ(fired.size(), expected.size());
  for (size_t i = 0; i < fired.size(); ++i)
    ASSERT_EQ(fired[i], expected[i].second) << "position " << i;
}

TEST_F(Rt, EventLifeCycle) {
  // An unscheduled event is in timeout and never fires; a far event moved
  // by rt_resched fires now, and a fired event cannot be moved.
  rt_event *gone = rt_sched(log_tag, tag(1), 1000);
  EXPECT_EQ(rt_unsched(gone), 1);
  EXPECT_TRUE(rt_event_in_timeout(gone));
  rt_event *moved = rt_resched(rt_sched(log_tag, tag(2), 1000), 0);
  ASSERT_NE(moved, nullptr);
  // An mt event keeps its record after firing until its owner frees it;
  // caller storage is used in place and never recycled.
  rt_event *mt = rt_sched_mt(log_tag, tag(3), 0);
  rt_event storage;
  EXPECT_EQ(rt_sched_int(log_tag, tag(4), 0, &storage, sizeof storage),
            &storage);
  usleep(2000);
  rt_sched(stop, nullptr, 0);
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(fired, (std::vector<intptr_t>{2, 3, 4}));
  EXPECT_EQ(rt_resched(moved, 0), nullptr);
  EXPECT_EQ(rt_unsched(&storage), 0);
  EXPECT_TRUE(rt_event_in_timeout(&storage));
  EXPECT_EQ(rt_unsched_mt(mt, 1), 4);
  EXPECT_EQ(rt_resched_mt(mt, 5), nullptr);
  rt_free_event(mt);
  rt_free_event(mt);  // a second free is ignored: the record is free once
  rt_event *a = rt_sched(log_tag, tag(5), 1000);
  rt_event *b = rt_sched(log_tag, tag(6), 1000);
  EXPECT_EQ(a, mt);
  EXPECT_NE(b, mt);
  EXPECT_NE(b, &storage);
  EXPECT_EQ(rt_unsched_mt(a, 0), 0);
  EXPECT_EQ(rt_unsched_mt(a, 0), 2);
  rt_event *c = rt_resched_mt(b, 1000);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(rt_unsched_mt(c, 1), 0);
}

struct dispatch_case {
  pair_fds a, b, c;
  int a_calls = 0, b_calls = 0, c_calls = 0;
};
dispatch_case *current;

TEST_F(Rt, HandlersChangeTheListsWhileTheLoopDispatches) {
  dispatch_case d;
  current = &d;
  d.a = make_pair();
  d.b = make_pair();
  d.c = make_pair();
  // a is newest, so dispatched first: it removes b, which is ready in the
  // same pass but must not be called, and adds c and a timer, which work
  // from the next pass on.
  ASSERT_EQ(
      rt_handle_fd(
          RT_FD_READ, [](int fd, void *) { drain(fd), ++current->b_calls; },
          d.b.in, nullptr),
      1);
  ASSERT_EQ(rt_handle_fd(
                RT_FD_READ,
                [](int fd, void *) {
                  drain(fd);
                  if (++current->a_calls > 1) return;
                  EXPECT_EQ(rt_unhandle_fd(RT_FD_READ, current->b.in), 1);
                  EXPECT_EQ(rt_handle_fd(
                                RT_FD_READ,
                                [](int f, void *) {
                                  drain(f);
                                  ++current->c_calls;
                                },
                                current->c.in, nullptr),
                            1);
                  rt_sched(log_tag, tag(11), 0);
                },
                d.a.in, nullptr),
            1);
  poke(d.a.out);
  poke(d.b.out);
  rt_poll();
  EXPECT_EQ(d.a_calls, 1);
  EXPECT_EQ(d.b_calls, 0);
  poke(d.a.out);
  poke(d.c.out);
  rt_poll();
  EXPECT_EQ(d.a_calls, 2);
  EXPECT_EQ(d.c_calls, 1);
  usleep(2000);
  rt_sched(stop, nullptr, 0);
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(fired, (std::vector<intptr_t>{11}));
  EXPECT_EQ(rt_unhandle_fd(RT_FD_READ, d.a.in), 1);
  EXPECT_EQ(rt_unhandle_fd(RT_FD_READ, d.b.in), 0);
  EXPECT_EQ(rt_unhandle_fd(RT_FD_READ, d.c.in), 1);
  for (pair_fds p : {d.a, d.b, d.c}) close(p.in), close(p.out);
}

// Static: the raise's jump must not leave them indeterminate.
uint32_t caught;
std::thread notifier;

uint32_t run_protected() {
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    rt_run();
    pfm_cleanup_rls(&rec);
    return 0;
  }
  pfm_enable();
  return static_cast<uint32_t>(rec.status);
}

TEST_F(Rt, RaisesLeaveTheLoopAndItRunsAgain) {
  // A raise from a callback, and an interrupt posted while the loop waits
  // with nothing to do, both reach the caller's protected region.
  rt_sched(log_tag, tag(1), 0);
  rt_sched([](void *) { pfm_raise(77); }, nullptr, 0);
  caught = run_protected();
  EXPECT_EQ(caught, 77u);
  EXPECT_EQ(pfm_inhibit_count(), 0u);
  notifier = std::thread([] {
    usleep(50000);
    pfm_notify_qm_thread(PFM_STATUS_INTERRUPT);
  });
  caught = run_protected();
  notifier.join();
  EXPECT_EQ(caught, PFM_STATUS_INTERRUPT);
  rt_sched(stop, nullptr, 0);
  EXPECT_TRUE(run_loop());
  EXPECT_EQ(fired, (std::vector<intptr_t>{1}));
}

TEST_F(Rt, OtherThreadsWakeAnIdleWait) {
  // The loop waits with no timer due; a timer scheduled by another thread
  // must fire without anything else waking the loop, and a shutdown from
  // another thread must end it.
  rt_event *far = rt_sched(log_tag, tag(9), 600);
  std::thread other([] {
    usleep(50000);
    rt_sched(log_tag, tag(1), 0);
    usleep(50000);
    rt_shutdown();
  });
  bool in_time = run_loop(10);
  other.join();
  EXPECT_TRUE(in_time);
  EXPECT_EQ(fired, (std::vector<intptr_t>{1}));
  EXPECT_EQ(rt_unsched(far), 1);
}

std::vector<int> called;
fd_set watched;
std::vector<int> from_set;

TEST_F(Rt, ManySocketsReadyInOnePass) {
  // 300 handlers of which every third is ready, plus a set handler over 50
  // more sockets of which every other is ready, plus writers: one pass
  // calls each ready handler once and no other.
  std::vector<pair_fds> pairs(350);
  for (auto &p : pairs) p = make_pair();
  called.clear();
  from_set.clear();
  FD_ZERO(&watched);
  auto on_read = [](int fd, void *) {
    drain(fd);
    called.push_back(fd);
  };
  std::vector<int> expected;
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(rt_handle_fd(RT_FD_READ, on_read, pairs[i].in, nullptr), 1);
    if (i % 3 == 0) poke(pairs[i].out), expected.push_back(pairs[i].in);
  }
  std::vector<int> expected_set;
  for (int i = 300; i < 350; ++i) {
    FD_SET(pairs[i].in, &watched);
    if (i % 2 == 0) poke(pairs[i].out), expected_set.push_back(pairs[i].in);
  }
  ASSERT_EQ(rt_handle_fd_set(
                RT_FD_READ,
                [](fd_set *ready, void *) {
                  for (int fd = 0; fd < FD_SETSIZE; ++fd)
                    if (FD_ISSET(fd, ready)) drain(fd), from_set.push_back(fd);
                },
                &watched, nullptr),
            1);
  static int writable;
  writable = 0;
  ASSERT_EQ(
      rt_handle_fd(
          RT_FD_WRITE2, [](int, void *) { ++writable; }, pairs[0].out, nullptr),
      1);
  rt_poll();
  std::sort(called.begin(), called.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(called, expected);
  EXPECT_EQ(from_set, expected_set);
  EXPECT_EQ(writable, 1);
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(rt_unhandle_fd(RT_FD_READ, pairs[i].in), 1);
  EXPECT_EQ(rt_unhandle_fd_set(RT_FD_READ, &watched), 1);
  EXPECT_EQ(rt_unhandle_fd_set(RT_FD_READ, &watched), 0);
  EXPECT_EQ(rt_unhandle_fd(RT_FD_WRITE2, pairs[0].out), 1);
  for (auto &p : pairs) close(p.in), close(p.out);
}

TEST_F(Rt, DescriptorLimits) {
  auto ignore = [](int, void *) {};
  // A descriptor select cannot take is refused, not registered.
  rlimit limit;
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < 1100 && limit.rlim_max >= 1100) {
    limit.rlim_cur = 1100;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  pair_fds p = make_pair();
  int high = dup2(p.in, 1050);
  if (high == 1050) {
    EXPECT_EQ(rt_handle_fd(RT_FD_READ, ignore, high, nullptr), 0);
    close(high);
  }
  EXPECT_EQ(rt_fd_validate_max_fd(1024), 0);
  EXPECT_EQ(rt_fd_validate_max_fd(-1), 0);
  EXPECT_EQ(rt_fd_validate_max_fd(1023), 1);
  // A list holds at most 1023 handlers (no pass runs, so the descriptors
  // need not be open).
  for (int fd = 0; fd < 1023; ++fd)
    ASSERT_EQ(rt_handle_fd(RT_FD_EXCEPT, ignore, fd, nullptr), 1);
  EXPECT_EQ(rt_handle_fd(RT_FD_EXCEPT, ignore, 1023, nullptr), 0);
  for (int fd = 0; fd < 1023; ++fd)
    ASSERT_EQ(rt_unhandle_fd(RT_FD_EXCEPT, fd), 1);
  EXPECT_EQ(rt_handle_fd(RT_FD_IGNORED, ignore, 5000, nullptr), 1);
  EXPECT_EQ(rt_unhandle_fd(RT_FD_IGNORED, 5000), 1);
  close(p.in);
  close(p.out);
}

TEST_F(Rt, MisuseEndsTheProcess) {
  auto ignore = [](int, void *) {};
  EXPECT_DEATH(std::thread([] { rt_run(); }).join(),
               "QMTHREAD_IS_MAIN_THREAD\\(\\)");
  EXPECT_DEATH(
      {
        pfm_inhibit();
        rt_poll();
      },
      "pfm_inhibit_count\\(\\) == 0");
  EXPECT_DEATH(
      {
        rt_handle_fd(RT_FD_READ, ignore, 7, nullptr);
        rt_handle_fd(RT_FD_READ, ignore, 7, nullptr);
      },
      "elem->fd != fd");
  EXPECT_DEATH(rt_handle_fd(9, ignore, 7, nullptr),
               "Bad descriptor handler kind 9");
  // A registered descriptor closed behind the loop's back fails select.
  EXPECT_DEATH(
      {
        rt_poll();  // the loop's own descriptors exist before the pair
        pair_fds p = make_pair();
        rt_handle_fd(RT_FD_READ, ignore, p.in, nullptr);
        close(p.in);
        rt_poll();
      },
      "errno == EINTR");
}

TEST_F(Rt, WorkerThreadsFrontTheServerSettings) {
  // The server's worker pool starts once per process: a child process.
  EXPECT_EXIT(
      {
        int32_t n = -1;
        if (rt_get_worker_threads(&n) != 0 || n != 0) exit(1);
        if (rt_set_worker_threads(-5) != 1) exit(2);
        if (rt_get_worker_threads(&n) != 0 || n != 0) exit(2);
        if (rt_set_worker_threads(3) != 0) exit(3);
        if (rt_get_worker_threads(&n) != 0 || n != 3) exit(3);
        if (rt_set_worker_threads(4) != 1) exit(4);
        exit(0);
      },
      testing::ExitedWithCode(0), "Unable to set multithread mode");
}

}  // namespace
