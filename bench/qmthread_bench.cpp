// The threads layer's mutexes against plain POSIX mutexes, in the same run.
// A raise-mode lock reaches the caller's fault state and thread id through
// thread-local pointers on every acquisition, so this is also the measure
// of how those pointers are accessed from the shared library.
#include <benchmark/benchmark.h>

#include "ratio_report.h"

#include <orvexks/qmthread.h>

#include <pthread.h>

namespace {

void BM_QmthreadRaiseModeLockUnlock(benchmark::State &state) {
  qmthread_mutex_t mutex;
  qmthread_mutex_init(&mutex);
  for (auto _ : state) {
    qmthread_mutex_lock(&mutex);
    qmthread_mutex_unlock(&mutex);
  }
  qmthread_mutex_destroy(&mutex);
}

void BM_QmthreadNoraiseLockUnlock(benchmark::State &state) {
  qmthread_mutex_t mutex;
  qmthread_mutex_init_noraise(&mutex);
  for (auto _ : state) {
    qmthread_mutex_lock(&mutex);
    qmthread_mutex_unlock(&mutex);
  }
  qmthread_mutex_destroy(&mutex);
}

void BM_PthreadRecursiveLockUnlock(benchmark::State &state) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_t mutex;
  pthread_mutex_init(&mutex, &attr);
  for (auto _ : state) {
    pthread_mutex_lock(&mutex);
    pthread_mutex_unlock(&mutex);
  }
  pthread_mutex_destroy(&mutex);
  pthread_mutexattr_destroy(&attr);
}

}  // namespace

BENCHMARK(BM_QmthreadRaiseModeLockUnlock);
BENCHMARK(BM_QmthreadNoraiseLockUnlock);
BENCHMARK(BM_PthreadRecursiveLockUnlock);

int main(int argc, char **argv) {
  return run_with_ratios(
      argc, argv,
      {{"BM_QmthreadRaiseModeLockUnlock", "BM_PthreadRecursiveLockUnlock"},
       {"BM_QmthreadNoraiseLockUnlock", "BM_PthreadRecursiveLockUnlock"}});
}
