// Process environment access under one recursive process-wide lock.
#include <orvexnt/nt_env.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

#include <atomic>
#include <new>
#include <string>
#include <unordered_set>

#include "internal/nt_process.h"

namespace {

// The lock is recursive by hand: a plain mutex plus the owning thread and
// a depth. A plain mutex has no owner check, so the child of a fork can
// release what the forking thread took before the fork (pthread_self is the
// same in the child; a recursive pthread mutex would refuse, since it
// records the kernel thread id, which changes).
pthread_mutex_t env_mutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<pthread_t> env_owner{};
std::atomic<bool> env_owned{false};
int env_depth = 0;  // guarded by env_mutex

void env_lock() {
  const pthread_t self = pthread_self();
  if (env_owned.load(std::memory_order_relaxed) &&
      pthread_equal(env_owner.load(std::memory_order_relaxed), self)) {
    ++env_depth;
    return;
  }
  pthread_mutex_lock(&env_mutex);
  env_owner.store(self, std::memory_order_relaxed);
  env_owned.store(true, std::memory_order_relaxed);
  env_depth = 1;
}

void env_unlock() {
  if (--env_depth > 0) return;
  env_owned.store(false, std::memory_order_relaxed);
  pthread_mutex_unlock(&env_mutex);
}

// Every value nt_getenv_safe has handed out, stored as "NAME=value" so that
// equal pairs share one copy. Nodes of an unordered_set never move, so the
// pointers handed out stay valid for the life of the process. Guarded by
// env_mutex. Allocated once and never destroyed: values may be read during
// process exit.
std::unordered_set<std::string> *handed_out_values = nullptr;

// Returns the process-lifetime copy of value (held under "name=value"), or
// null when memory runs out. Called with env_mutex held.
const char *nti_intern_value(const char *name, const char *value) {
  try {
    if (handed_out_values == nullptr)
      handed_out_values = new std::unordered_set<std::string>();
    std::string pair(name);
    const size_t value_offset = pair.size() + 1;
    pair += '=';
    pair += value;
    auto it = handed_out_values->insert(std::move(pair)).first;
    return it->c_str() + value_offset;
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

}  // namespace

// The lock is held across fork so that the child never inherits it taken
// by a thread that does not exist there; the forking thread, the only one
// in the child, gives it back there as in the parent. A holding of the
// forking thread from before the fork stays valid in the child.
void nti_env_before_fork() { env_lock(); }

void nti_env_after_fork_parent() { env_unlock(); }

void nti_env_after_fork_child() { env_unlock(); }

extern "C" {

NT_API void nt_environment_lock(void) {
  nti_process_init();
  env_lock();
}

NT_API void nt_environment_unlock(void) { env_unlock(); }

NT_API const char *nt_getenv_safe(const char *name) {
  if (name == nullptr || *name == '\0') return nullptr;
  nt_environment_lock();
  const char *value = getenv(name);
  const char *copy = value ? nti_intern_value(name, value) : nullptr;
  nt_environment_unlock();
  if (value != nullptr && copy == nullptr) errno = ENOMEM;
  return copy;
}

NT_API int nt_putenv_safe(const char *assignment) {
  const char *equals = assignment ? strchr(assignment, '=') : nullptr;
  if (equals == nullptr || equals == assignment) {
    errno = EINVAL;
    return -1;
  }
  const size_t name_len = static_cast<size_t>(equals - assignment);
  char *name = static_cast<char *>(malloc(name_len + 1));
  if (name == nullptr) {
    errno = ENOMEM;
    return -1;
  }
  memcpy(name, assignment, name_len);
  name[name_len] = '\0';

  const char *value = equals + 1;
  nt_environment_lock();
  const int rc = *value == '\0' ? unsetenv(name) : setenv(name, value, 1);
  const int saved_errno = errno;
  nt_environment_unlock();
  free(name);
  errno = saved_errno;
  return rc == 0 ? 0 : -1;
}

}  // extern "C"
