// A child forked while library mutexes are held: the forking thread's
// holdings stay its own under its new thread id, every other thread's are
// gone, and the child's first library calls neither deadlock nor abort.
// Each child arms an alarm, so a deadlock ends it by SIGALRM at once.
#include <gtest/gtest.h>

#include <orvexks/imsg.h>
#include <orvexks/qmthread.h>
#include <orvexks/stg.h>

#include "child_process.h"
#include "msg/msg_lock.h"
#include "thread/qmthread_internal.h"

#include <unistd.h>

#include <atomic>

namespace {

// A bookkeeping mutex of the test, handled like the library's own.
qmthread_mutex_t bookkeeping = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(bookkeeping);

// The exit code of `child` run in a forked child; -1 when a signal ended
// it, the alarm's included.
int in_forked_child(int (*child)()) {
  return exit_code_in_child([child] {
    alarm(10);
    return child();
  });
}

// The child leaves exactly what the forking thread held, then uses the
// library lock and the message lock afresh.
int leave_inherited_holdings() {
  if (qmthread_mutex_unlock(&bookkeeping) != 0) return 1;
  if (qmthread_mutex_unlock(&bookkeeping) != 0) return 2;
  if (qmthread_mutex_unlock(&bookkeeping) != 1) return 3;  // no longer held
  if (qmthread_mutex_unlock(&ksi_msg_lock) != 0) return 4;
  qmthread_enter_critical_section();
  qmthread_leave_critical_section();
  qmthread_leave_critical_section();  // the level held at the fork
  qmthread_t attached;
  qmthread_attached_tid(&attached);
  if (!qmthread_is_null(attached)) return 5;
  imsg_print(IMSG_INFO, reinterpret_cast<const ks_msg_table_t *>("%s"), -1, "");
  return qmthread_try_enter_critical_section() == 1 ? 0 : 6;
}

TEST(QmthreadFork, TheForkingThreadKeepsWhatItHeld) {
  qmthread_enter_critical_section();
  qmthread_mutex_lock(&bookkeeping);
  qmthread_mutex_lock(&bookkeeping);
  qmthread_mutex_lock(&ksi_msg_lock);
  int status = in_forked_child(leave_inherited_holdings);
  qmthread_mutex_unlock(&ksi_msg_lock);
  qmthread_mutex_unlock(&bookkeeping);
  qmthread_mutex_unlock(&bookkeeping);
  qmthread_leave_critical_section();
  EXPECT_EQ(status, 0);
}

std::atomic<int> holder_state{0};

void *hold_library_lock(void *) {
  qmthread_enter_critical_section();
  holder_state.store(1);
  while (holder_state.load() != 2) sched_yield();
  qmthread_leave_critical_section();
  return nullptr;
}

// Another thread held the library lock at the fork: the child finds it
// free, with no attached thread, and only itself in the registry.
int use_what_another_thread_held() {
  qmthread_t attached;
  qmthread_attached_tid(&attached);
  if (!qmthread_is_null(attached)) return 1;
  if (qmthread_try_enter_critical_section() != 1) return 2;
  qmthread_leave_critical_section();
  qmthread_enter_critical_section();
  qmthread_leave_critical_section();
  return 0;
}

TEST(QmthreadFork, WhatOtherThreadsHeldIsFreeInTheChild) {
  holder_state.store(0);
  qmthread_t holder;
  ASSERT_EQ(qmthread_create(&holder, nullptr, hold_library_lock, nullptr), 0);
  while (holder_state.load() != 1) sched_yield();
  int status = in_forked_child(use_what_another_thread_held);
  holder_state.store(2);
  qmthread_join(holder, nullptr);
  EXPECT_EQ(status, 0);
}

stg_area_t busy_area = STG_AREA_NULL;
std::atomic<bool> busy_stop{false};

void *allocate_until_stopped(void *) {
  while (!busy_stop.load()) {
    stg_alloc(busy_area, 64);
    stg_free_area(busy_area, 1);
  }
  return nullptr;
}

int allocate_in_busy_area() {
  return stg_alloc(busy_area, 64) != nullptr ? 0 : 1;
}

// Another thread allocates from an area all the time, so forks land while
// it holds the area's lock; the child must find the area usable.
TEST(QmthreadFork, AnAreaInUseByAnotherThreadServesTheChild) {
  busy_area = stg_create_area(1024);
  busy_stop.store(false);
  qmthread_t worker;
  ASSERT_EQ(qmthread_create(&worker, nullptr, allocate_until_stopped, nullptr),
            0);
  int status = 0;
  for (int round = 0; round < 40 && status == 0; ++round)
    status = in_forked_child(allocate_in_busy_area);
  busy_stop.store(true);
  qmthread_join(worker, nullptr);
  stg_delete_area(&busy_area);
  EXPECT_EQ(status, 0);
}

}  // namespace
