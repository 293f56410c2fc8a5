// Fork handlers for the library's process-wide mutexes.
//
// A mutex records its holder by kernel thread id, and a forked child runs
// the forking thread under a new id. Without these handlers the child finds
// every mutex the forking thread held taken by a stranger, and every mutex
// another thread held taken for good: its first library call deadlocks.
//
// Before the fork the forking thread takes every registered bookkeeping
// mutex, and every mutex of the families whose mutexes come and go (one per
// storage area); all of them are held only briefly, so no other thread is
// half-way through the state they guard when the process is copied. In the
// child, each registered mutex the forking thread held is handed to its new id,
// and one held by a thread that does not exist there is made free. The
// library lock is not taken before the fork, since its holder may keep it
// for as long as it runs an event loop: in the child it stays held only
// when the forking thread held it.
#include "thread/qmthread_internal.h"

#include <orvexnt/nt_init.h>
#include <orvexnt/nt_thread.h>

#include <sched.h>

#include <cstdlib>

namespace {

constexpr int kMaxGuarded = 48;
constexpr int kMaxFamilies = 4;

struct guarded_mutex {
  qmthread_mutex_t *mutex;
  bool held_across_fork;
};

// Appended to under the registration lock, which the fork handlers hold
// from before the fork until after it (the threads layer's own POSIX
// mutex: registration must not depend on the mutexes it registers).
pthread_mutex_t registration_lock = PTHREAD_MUTEX_INITIALIZER;
guarded_mutex guarded[kMaxGuarded];
std::atomic<int> guarded_count{0};
ksi_fork_each_fn families[kMaxFamilies];
std::atomic<int> family_count{0};
pthread_once_t handlers_once = PTHREAD_ONCE_INIT;
uint32_t forking_thread_id = 0;
uint32_t child_thread_id = 0;
// Family mutexes taken in this round, and how many of them a release walk
// still has to give back (fork handlers only).
int family_taken = 0;
int family_release_left = 0;

int count() { return guarded_count.load(std::memory_order_acquire); }
int families_count() { return family_count.load(std::memory_order_acquire); }

bool each_family_mutex(ksi_fork_visit_fn visit) {
  for (int i = 0; i < families_count(); ++i)
    if (!families[i](visit)) return false;
  return true;
}

bool try_take(qmthread_mutex_t *m) {
  if (qmthread_mutex_trylock(m) != 0) return false;
  ++family_taken;
  return true;
}

bool release_taken(qmthread_mutex_t *m) {
  if (family_release_left == 0) return false;
  --family_release_left;
  qmthread_mutex_unlock(m);
  return true;
}

bool release(qmthread_mutex_t *m) {
  qmthread_mutex_unlock(m);
  return true;
}

// In the child: a mutex the forking thread took before the fork becomes
// its new id's, then is given back.
bool hand_over_and_release(qmthread_mutex_t *m) {
  std::atomic_ref<uint32_t>(m->owner).store(child_thread_id,
                                            std::memory_order_relaxed);
  qmthread_mutex_unlock(m);
  return true;
}

// Takes the first n registered bookkeeping mutexes with try-lock; on a
// miss gives back what it took and returns false.
bool take_registered(int n) {
  int taken = 0;
  while (taken < n && (!guarded[taken].held_across_fork ||
                       qmthread_mutex_trylock(guarded[taken].mutex) == 0))
    ++taken;
  if (taken == n) return true;
  while (taken-- > 0)
    if (guarded[taken].held_across_fork)
      qmthread_mutex_unlock(guarded[taken].mutex);
  return false;
}

// Takes every family mutex with try-lock; on a miss gives back what it took
// and returns false.
bool take_family_mutexes() {
  family_taken = 0;
  if (each_family_mutex(try_take)) return true;
  family_release_left = family_taken;
  each_family_mutex(release_taken);
  return false;
}

void release_bookkeeping_mutexes() {
  for (int i = count(); i-- > 0;)
    if (guarded[i].held_across_fork) qmthread_mutex_unlock(guarded[i].mutex);
}

// Takes every bookkeeping mutex, the registered ones first (a family's
// list is guarded by one of them). A mutex held by another thread makes
// the forking thread give back what it took this round and try again, so
// the order in which other threads take them cannot deadlock the fork.
void before_fork() {
  pthread_mutex_lock(&registration_lock);
  forking_thread_id = nt_get_current_thread_id();
  int n = count();
  for (;;) {
    if (take_registered(n)) {
      if (take_family_mutexes()) return;
      release_bookkeeping_mutexes();
    }
    sched_yield();
  }
}

void after_fork_parent() {
  each_family_mutex(release);
  release_bookkeeping_mutexes();
  pthread_mutex_unlock(&registration_lock);
}

void after_fork_child() {
  // The companion library's child handler ran first and dropped the cached
  // id, so this is the child's own.
  uint32_t self = nt_get_current_thread_id();
  child_thread_id = self;
  for (int i = 0; i < count(); ++i) {
    qmthread_mutex_t *m = guarded[i].mutex;
    std::atomic_ref<uint32_t> owner(m->owner);  // read unlocked elsewhere
    if (owner.load(std::memory_order_relaxed) == forking_thread_id) {
      owner.store(self, std::memory_order_relaxed);
    } else if (owner.load(std::memory_order_relaxed) != 0) {
      pthread_mutex_t fresh = PTHREAD_MUTEX_INITIALIZER;
      m->lock = fresh;
      owner.store(0, std::memory_order_relaxed);
      m->recursion_count = 0;
    }
  }
  if (!ksi_is_attached_thread())
    ksi_lib_attached_tid.store(QMTHREAD_INVALID_TID, std::memory_order_relaxed);
  ksi_registry_keep_only_self();
  each_family_mutex(hand_over_and_release);
  release_bookkeeping_mutexes();
  // The child's only thread took it before the fork: given back, not made
  // afresh, so that no tool (or later handler) sees it still held.
  pthread_mutex_unlock(&registration_lock);
}

// The companion library's handlers are installed first: its child handler
// must reset the cached thread id before this layer's runs.
void install_handlers() {
  if (nt_init() != 0 ||
      pthread_atfork(before_fork, after_fork_parent, after_fork_child) != 0)
    abort();
}

}  // namespace

void ksi_fork_guard(qmthread_mutex_t *mutex, bool held_across_fork) {
  pthread_once(&handlers_once, install_handlers);
  pthread_mutex_lock(&registration_lock);
  int slot = guarded_count.load(std::memory_order_relaxed);
  KSI_QMTHREAD_ASSERT(slot < kMaxGuarded);
  guarded[slot] = {mutex, held_across_fork};
  guarded_count.store(slot + 1, std::memory_order_release);
  pthread_mutex_unlock(&registration_lock);
}

void ksi_fork_guard_each(ksi_fork_each_fn each) {
  pthread_once(&handlers_once, install_handlers);
  pthread_mutex_lock(&registration_lock);
  int slot = family_count.load(std::memory_order_relaxed);
  KSI_QMTHREAD_ASSERT(slot < kMaxFamilies);
  families[slot] = each;
  family_count.store(slot + 1, std::memory_order_release);
  pthread_mutex_unlock(&registration_lock);
}
