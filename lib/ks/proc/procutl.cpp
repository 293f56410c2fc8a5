// Process utilities: whether a process exists, and ending one.

#include <orvexks/rt_proc.h>

#include <signal.h>

#include <cerrno>
#include <cstdint>

namespace {

// Only a single real process: kill() reads 0 and negative numbers (which
// large unsigned pids become) as process groups or every process.
bool one_process(uint32_t pid) { return pid != 0 && pid <= INT32_MAX; }

}  // namespace

extern "C" {

KS_API int procutl_exists(uint32_t pid) {
  if (!one_process(pid)) return 0;
  // A process of another user exists even though it cannot be signalled.
  if (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) return 1;
  return 0;
}

KS_API int procutl_terminate(uint32_t pid) {
  if (!one_process(pid)) return 1;
  return kill(static_cast<pid_t>(pid), SIGKILL) == 0 ? 0 : 1;
}

}  // extern "C"
