// Environment objects and the process environment: copying it, installing
// an object in its place for a while, removing a variable from it, and
// destroying objects (which must not stay installed).
//
// Everything here that reads or replaces `environ` holds the companion
// library's environment lock, which nt_getenv_safe and nt_putenv_safe
// take too, so readers through them never see a half-made change. Nothing
// allocates from a storage area while holding it: a fork takes that lock
// only after every area's mutex.
#include "env/evutl_internal.h"

#include <orvexks/pfm.h>
#include <orvexnt/nt_env.h>

#include <unistd.h>

#include <cstring>

extern char **environ;

namespace {

// The object installed as the process environment and the environment it
// replaced; both guarded by the environment lock.
evutl_env *installed_env = nullptr;
char **replaced_environ = nullptr;

// Bytes for a private copy of the process environment: the pointer
// vector, then the texts. Environment lock held.
size_t snapshot_size() {
  size_t bytes = sizeof(char *);
  for (char **p = environ; p != nullptr && *p != nullptr; ++p)
    bytes += sizeof(char *) + std::strlen(*p) + 1;
  return bytes;
}

// Copies the process environment into block of size bytes: false when it
// has grown past that. Environment lock held.
bool take_snapshot(char *block, size_t size) {
  if (snapshot_size() > size) return false;
  size_t n = 0;
  for (char **p = environ; p != nullptr && *p != nullptr; ++p) ++n;
  auto **vector = reinterpret_cast<char **>(block);
  char *text = block + (n + 1) * sizeof(char *);
  for (size_t i = 0; i < n; ++i) {
    const size_t len = std::strlen(environ[i]) + 1;
    std::memcpy(text, environ[i], len);
    vector[i] = text;
    text += len;
  }
  vector[n] = nullptr;
  return true;
}

// Puts the replaced environment back. Environment lock held.
void restore_locked() {
  if (installed_env == nullptr) return;
  environ = replaced_environ;
  qmthread_mutex_lock(&installed_env->lock);
  installed_env->installed = false;
  qmthread_mutex_unlock(&installed_env->lock);
  installed_env = nullptr;
  replaced_environ = nullptr;
}

// Removes the first entry for name from the installed object, whose vector
// is the process environment; the removed text is returned for dropping.
// Environment lock held.
char *unset_installed(const char *name) {
  evutl_env *env = installed_env;
  qmthread_mutex_lock(&env->lock);
  char *removed = ksi_env_take(env, name);
  qmthread_mutex_unlock(&env->lock);
  return removed;
}

}  // namespace

extern "C" {

int evutl_copy_default_environ(stg_area_t area, evutl_env_t **env) {
  *env = nullptr;
  // The snapshot lives on the heap until the copy is made; raises wait.
  pfm_inhibit();
  char *block = nullptr;
  for (;;) {
    nt_environment_lock();
    const size_t size = snapshot_size();
    nt_environment_unlock();
    block = static_cast<char *>(stg_malloc(size));
    if (block == nullptr) break;
    nt_environment_lock();
    const bool taken = take_snapshot(block, size);
    nt_environment_unlock();
    if (taken) break;
    stg_free(block);
  }
  int result = 1;
  if (block != nullptr) {
    result = evutl_copy_environ(area, reinterpret_cast<char **>(block), env);
    stg_free(block);
  }
  pfm_enable();
  return result;
}

int evutl_override_default_environ(evutl_env_t *env) {
  if (env == nullptr) return 1;
  nt_environment_lock();
  if (installed_env == nullptr) {
    qmthread_mutex_lock(&env->lock);
    env->installed = true;
    char **vector =
        env->vector != nullptr ? env->vector : ksi_env_empty_vector();
    qmthread_mutex_unlock(&env->lock);
    replaced_environ = environ;
    environ = vector;
    installed_env = env;
  }
  nt_environment_unlock();
  return 0;
}

int evutl_restore_default_environ(void) {
  nt_environment_lock();
  restore_locked();
  nt_environment_unlock();
  return 0;
}

int evutl_unsetenv_default_environ(const char *name) {
  if (name == nullptr) return 1;
  char *removed = nullptr;
  stg_area_t area = STG_AREA_NULL;
  pfm_inhibit();
  nt_environment_lock();
  if (installed_env != nullptr) {
    area = installed_env->area;
    removed = unset_installed(name);
  } else {
    char **slot = ksi_env_find(environ, name, std::strlen(name));
    if (slot != nullptr) ksi_env_remove_slot(slot);
  }
  nt_environment_unlock();
  if (removed != nullptr) ksi_env_text_drop(area, removed);
  pfm_enable();
  return 0;
}

int evutl_free(evutl_env_t *env) {
  if (env == nullptr) return 0;
  nt_environment_lock();
  if (installed_env == env) restore_locked();
  nt_environment_unlock();
  qmthread_mutex_lock(&env->lock);
  char **vector = env->vector;
  env->vector = nullptr;
  env->count = 0;
  qmthread_mutex_unlock(&env->lock);
  qmthread_mutex_destroy(&env->lock);
  if (env->area == STG_AREA_HEAP) {
    for (char **p = vector; p != nullptr && *p != nullptr; ++p) stg_free(*p);
    ksi_env_vector_drop(STG_AREA_HEAP, vector);
    stg_free(env);
  }
  return 0;
}

}  // extern "C"
