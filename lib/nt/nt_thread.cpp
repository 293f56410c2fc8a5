// Thread identities: the kernel thread id, fetched once per thread.
#include <orvexnt/nt_thread.h>

#include <sys/syscall.h>
#include <unistd.h>

#include "internal/nt_process.h"

namespace {

// 0 means "not fetched yet"; the kernel never hands out tid 0.
thread_local uint32_t tls_thread_id = 0;

}  // namespace

// A forked child runs the forking thread under a new kernel id, so the
// cached value must be dropped there.
void nti_thread_after_fork_child() { tls_thread_id = 0; }

extern "C" {

NT_API uint32_t nt_get_current_thread_id(void) {
  if (tls_thread_id == 0) {
    nti_process_init();  // installs the fork handler that resets the cache
    tls_thread_id = static_cast<uint32_t>(::syscall(SYS_gettid));
  }
  return tls_thread_id;
}

}  // extern "C"
