// Thread-local keys: the key table (so that destructors can also run when
// a thread leaves the library), the end-of-thread hook, and per-thread
// storage blocks.
#include "fault/pfm_state.h"
#include "thread/qmthread_internal.h"

#include <orvexks/stg.h>

#include <cerrno>
#include <cstdlib>

pthread_key_t ksi_pfm_state_key;

namespace {

constexpr int kMaxKeys = 99;

// Guarded by the registry mutex.
struct key_record {
  pthread_key_t key;
  void (*destructor)(void *);
};
key_record key_table[kMaxKeys];
int key_count = 0;

pthread_key_t exit_hook_key;

// Records a created key; ENOMEM when the table is full.
int record_key(pthread_key_t key, void (*destructor)(void *)) {
  qmthread_mutex_lock(&ksi_registry_mutex);
  int err = 0;
  // A deleted key stays in the table; when the system hands its number out
  // again, the new key takes over the record (else the old destructor
  // would run on the new key's values).
  int reused = 0;
  while (reused < key_count && key_table[reused].key != key) ++reused;
  if (reused < key_count) {
    key_table[reused].destructor = destructor;
  } else if (key_count >= kMaxKeys) {
    err = ENOMEM;
  } else {
    key_table[key_count].key = key;
    key_table[key_count].destructor = destructor;
    ++key_count;
  }
  qmthread_mutex_unlock(&ksi_registry_mutex);
  return err;
}

int create_recorded_key(qmthread_key_t *key, void (*destructor)(void *)) {
  *key = 0;
  int err = pthread_key_create(key, destructor);
  if (err != 0) return err;
  err = record_key(*key, destructor);
  // An unrecorded key would never have its destructors run by the library:
  // give it back rather than leak it.
  if (err != 0) pthread_key_delete(*key);
  return err;
}

// Runs when a thread that used the library ends.
void thread_ending(void *) {
  ksi_registry_remove(pthread_self());
  ksi_run_key_destructors(true);
}

}  // namespace

void ksi_keys_init(void) {
  if (pthread_key_create(&exit_hook_key, thread_ending) != 0) abort();
  if (create_recorded_key(&ksi_pfm_state_key, ksi_pfm_state_destroy) != 0)
    abort();
}

void ksi_run_key_destructors(bool thread_ending) {
  qmthread_init();
  key_record keys[kMaxKeys];
  qmthread_mutex_lock(&ksi_registry_mutex);
  int count = key_count;
  for (int i = 0; i < count; ++i) keys[i] = key_table[i];
  qmthread_mutex_unlock(&ksi_registry_mutex);
  for (int i = 0; i < count; ++i) {
    KSI_QMTHREAD_TRACE("qmthread_get_tls(key=%u)\n",
                       static_cast<unsigned>(keys[i].key));
    void *value = pthread_getspecific(keys[i].key);
    if (value == nullptr || keys[i].destructor == nullptr) continue;
    // A fault state with armed records, inhibits or held mutexes outlives
    // the library lock; it goes only when its thread ends.
    if (!thread_ending && keys[i].key == ksi_pfm_state_key &&
        ksi_pfm_state_in_use(static_cast<pfm_thread_state *>(value)))
      continue;
    keys[i].destructor(value);
    pthread_setspecific(keys[i].key, nullptr);
  }
}

void ksi_arm_thread_exit_hook(void) {
  if (pthread_getspecific(exit_hook_key) == nullptr)
    pthread_setspecific(exit_hook_key, &exit_hook_key);
}

extern "C" {

KS_API int qmthread_key_create(qmthread_key_t *key,
                               void (*destructor)(void *)) {
  qmthread_init();
  return create_recorded_key(key, destructor);
}

KS_API int qmthread_key_delete(qmthread_key_t key) {
  return pthread_key_delete(key);
}

KS_API int qmthread_set_tls(qmthread_key_t key, const void *value) {
  return pthread_setspecific(key, value);
}

KS_API void *qmthread_get_tls(qmthread_key_t key) {
  KSI_QMTHREAD_TRACE("qmthread_get_tls(key=%u)\n", static_cast<unsigned>(key));
  return pthread_getspecific(key);
}

KS_API void *qmthread_alloc_tls(uint32_t size) {
  KSI_QMTHREAD_TRACE("qmthread_alloc_tls(size=%u)\n", size);
  stg_area_t area = stg_create_area_quiet(1024);
  KSI_QMTHREAD_ASSERT(area != STG_AREA_NULL);
  stg_set_zero(area);
  auto *block = static_cast<stg_area_t *>(stg_alloc_quiet(area, size));
  KSI_QMTHREAD_ASSERT(block != NULL);
  *block = area;
  return block;
}

KS_API void qmthread_free_tls(void *block) {
  KSI_QMTHREAD_TRACE("qmthread_free_tls(tls=%u)\n",
                     static_cast<unsigned>(reinterpret_cast<uintptr_t>(block)));
  stg_area_t area = *static_cast<stg_area_t *>(block);
  if (area != STG_AREA_NULL) stg_delete_area_quiet(&area);
}

}  // extern "C"
