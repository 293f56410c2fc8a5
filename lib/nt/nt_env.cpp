// Process environment access under one recursive process-wide lock.
#include <orvexnt/nt_env.h>

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>
#include <unordered_set>

#include "internal/nt_process.h"

namespace {

pthread_mutex_t env_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

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
// by a thread that does not exist there. The child cannot unlock it (a
// recursive mutex records the owner's kernel id, which changed), so it
// starts a fresh one.
void nti_env_before_fork() { pthread_mutex_lock(&env_mutex); }

void nti_env_after_fork_parent() { pthread_mutex_unlock(&env_mutex); }

void nti_env_after_fork_child() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&env_mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

extern "C" {

NT_API void nt_environment_lock(void) {
  nti_process_init();
  pthread_mutex_lock(&env_mutex);
}

NT_API void nt_environment_unlock(void) { pthread_mutex_unlock(&env_mutex); }

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
