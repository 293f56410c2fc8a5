// Thread identities (the kernel thread id, fetched once per thread) and the
// per-thread result buffers.
#include <orvexnt/nt_thread.h>

#include <cerrno>
#include <cstdlib>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "internal/nt_process.h"
#include "internal/nt_tls.h"

namespace {

// 0 means "not fetched yet"; the kernel never hands out tid 0. Read by
// every mutex operation of liborvexks, hence initial-exec (four bytes of
// static TLS); the library's other thread-locals keep the default model.
thread_local uint32_t tls_thread_id __attribute__((tls_model("initial-exec"))) =
    0;

pthread_once_t tls_once = PTHREAD_ONCE_INIT;
pthread_key_t tls_key;
bool tls_key_made = false;

void make_tls_key() { tls_key_made = pthread_key_create(&tls_key, free) == 0; }

}  // namespace

nti_tls_t *nti_tls() {
  pthread_once(&tls_once, make_tls_key);
  if (!tls_key_made) {
    errno = ENOMEM;
    return nullptr;
  }
  auto *block = static_cast<nti_tls_t *>(pthread_getspecific(tls_key));
  if (block != nullptr) return block;
  block = static_cast<nti_tls_t *>(calloc(1, sizeof(nti_tls_t)));
  if (block != nullptr && pthread_setspecific(tls_key, block) != 0) {
    free(block);
    block = nullptr;
  }
  if (block == nullptr) errno = ENOMEM;
  return block;
}

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
