// Start-up of the companion library: one-time, process-wide set-up.
#include <orvexnt/nt_init.h>

#include <pthread.h>

#include "internal/nt_process.h"

namespace {

pthread_once_t process_once = PTHREAD_ONCE_INIT;
int process_init_result = 0;

void nti_before_fork() { nti_env_before_fork(); }

void nti_after_fork_parent() { nti_env_after_fork_parent(); }

void nti_after_fork_child() {
  nti_thread_after_fork_child();
  nti_env_after_fork_child();
}

void nti_run_process_init() {
  process_init_result = pthread_atfork(nti_before_fork, nti_after_fork_parent,
                                       nti_after_fork_child);
}

}  // namespace

int nti_process_init() {
  pthread_once(&process_once, nti_run_process_init);
  return process_init_result;
}

extern "C" {

NT_API int nt_init(void) { return nti_process_init(); }

}  // extern "C"
