// Start of the threads layer, the thread registry, thread creation and
// end, thread-local keys and per-thread storage blocks.
#include "fault/pfm_state.h"
#include "thread/qmthread_internal.h"

#include <orvexks/stg.h>
#include <orvexnt/nt_thread.h>

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

pthread_key_t ksi_pfm_state_key;

namespace {

constexpr int kMaxKeys = 99;
constexpr size_t kMinStackSize = 0x100000;

// Registry and key table, both guarded by the registry mutex. The registry
// is circular through its head: an empty list has null first and last.
qmthread_mutex_t registry_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(registry_mutex);
llist_d_t qmthread_state_list = LLIST_D_HEAD_INITIALIZER;
#define QMTHREAD_LIST_FIRST(head) ((head)->next)
#define QMTHREAD_LIST_LAST(head) ((head)->prev)

struct key_record {
  pthread_key_t key;
  void (*destructor)(void *);
};
key_record key_table[kMaxKeys];
int key_count = 0;

qmthread_once_t init_once = QMTHREAD_ONCE_INIT;
pthread_key_t exit_hook_key;

ksi_thread_entry *entry_of(llist_d_t *node) {
  return static_cast<ksi_thread_entry *>(node->data);
}

// Under the registry mutex.
ksi_thread_entry *registry_find(qmthread_t tid) {
  llist_d_t *head = &qmthread_state_list;
  for (llist_d_t *n = head->next; n != nullptr && n != head; n = n->next)
    if (pthread_equal(entry_of(n)->tid, tid)) return entry_of(n);
  return nullptr;
}

void registry_append(ksi_thread_entry *entry) {
  llist_d_t *head = &qmthread_state_list;
  llist_d_t *node = &entry->link;
  node->data = entry;
  if (head->next == nullptr) {
    head->next = head->prev = node;
    node->next = node->prev = head;
    return;
  }
  node->prev = head->prev;
  node->next = head;
  head->prev->next = node;
  head->prev = node;
}

void registry_unlink(ksi_thread_entry *entry) {
  llist_d_t *head = &qmthread_state_list;
  llist_d_t *node = &entry->link;
  node->prev->next = node->next;
  node->next->prev = node->prev;
  if (head->next == head) head->next = head->prev = nullptr;
}

// Records a created key; ENOMEM when the table is full.
int record_key(pthread_key_t key, void (*destructor)(void *)) {
  qmthread_mutex_lock(&registry_mutex);
  int err = 0;
  if (key_count >= kMaxKeys) {
    err = ENOMEM;
  } else {
    key_table[key_count].key = key;
    key_table[key_count].destructor = destructor;
    ++key_count;
  }
  qmthread_mutex_unlock(&registry_mutex);
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

void init_threads_layer() {
  const char *trace = getenv("TRACE_QMTHREAD");
  ksi_qmthread_tracing.store(trace != nullptr && strcasecmp(trace, "TRUE") == 0);
  if (pthread_key_create(&exit_hook_key, thread_ending) != 0) abort();
  if (create_recorded_key(&ksi_pfm_state_key, ksi_pfm_state_destroy) != 0) abort();
  KSI_QMTHREAD_ASSERT(QMTHREAD_LIST_FIRST(&qmthread_state_list) == NULL &&
                      QMTHREAD_LIST_LAST(&qmthread_state_list) == NULL);
  ksi_registry_add(pthread_self());
  ksi_arm_thread_exit_hook();
}

// A thread made by qmthread_create arms its end-of-thread hook first.
struct thread_start {
  void *(*start)(void *);
  void *arg;
};

void *run_thread(void *raw) {
  thread_start launch = *static_cast<thread_start *>(raw);
  free(raw);
  ksi_arm_thread_exit_hook();
  return launch.start(launch.arg);
}

int set_stack_floor(pthread_attr_t *attr) {
  size_t size = 0;
  if (pthread_attr_getstacksize(attr, &size) == 0 && size >= kMinStackSize) return 0;
  return pthread_attr_setstacksize(attr, kMinStackSize);
}

}  // namespace

ksi_thread_entry *ksi_registry_add(qmthread_t tid) {
  KSI_QMTHREAD_TRACE("Adding thread %lu to process\n",
                     static_cast<unsigned long>(nt_get_current_thread_id()));
  auto *entry = static_cast<ksi_thread_entry *>(malloc(sizeof(ksi_thread_entry)));
  if (entry == nullptr) {
    KSI_QMTHREAD_TRACE("Fail to add thread %lu to process",
                       static_cast<unsigned long>(nt_get_current_thread_id()));
    abort();
  }
  qmthread_mutex_lock(&registry_mutex);
  ksi_thread_entry *existing = registry_find(tid);
  if (existing == nullptr) {
    entry->tid = tid;
    entry->pending_status = 0;
    registry_append(entry);
  }
  qmthread_mutex_unlock(&registry_mutex);
  if (existing == nullptr) return entry;
  KSI_QMTHREAD_TRACE("thread %lu has already been in state list.\n",
                     static_cast<unsigned long>(nt_get_current_thread_id()));
  free(entry);
  return existing;
}

void ksi_registry_remove(qmthread_t tid) {
  qmthread_mutex_lock(&registry_mutex);
  ksi_thread_entry *entry = registry_find(tid);
  if (entry != nullptr) registry_unlink(entry);
  qmthread_mutex_unlock(&registry_mutex);
  if (entry == nullptr) {
    KSI_QMTHREAD_TRACE("thread %lu does not exist in state list.\n",
                       static_cast<unsigned long>(nt_get_current_thread_id()));
    return;
  }
  // The caller's fault state must not keep a pointer to the freed entry.
  if (pthread_equal(tid, pthread_self())) {
    pfm_thread_state *st =
        static_cast<pfm_thread_state *>(pthread_getspecific(ksi_pfm_state_key));
    if (st != nullptr) st->entry = nullptr;
  }
  free(entry);
}

ksi_thread_entry *ksi_registry_find_or_add_self(void) {
  qmthread_init();
  qmthread_mutex_lock(&registry_mutex);
  ksi_thread_entry *entry = registry_find(pthread_self());
  qmthread_mutex_unlock(&registry_mutex);
  if (entry == nullptr) entry = ksi_registry_add(pthread_self());
  ksi_arm_thread_exit_hook();
  return entry;
}

void ksi_registry_keep_only_self(void) {
  qmthread_mutex_lock(&registry_mutex);
  llist_d_t *head = &qmthread_state_list;
  for (llist_d_t *n = head->next; n != nullptr && n != head;) {
    ksi_thread_entry *entry = entry_of(n);
    n = n->next;
    if (pthread_equal(entry->tid, pthread_self())) continue;
    registry_unlink(entry);
    free(entry);
  }
  qmthread_mutex_unlock(&registry_mutex);
}

void ksi_registry_post_all(uint32_t status) {
  qmthread_mutex_lock(&registry_mutex);
  llist_d_t *head = &qmthread_state_list;
  for (llist_d_t *n = head->next; n != nullptr && n != head; n = n->next)
    ksi_entry_set_pending(entry_of(n), status);
  qmthread_mutex_unlock(&registry_mutex);
}

void ksi_run_key_destructors(bool thread_ending) {
  qmthread_init();
  key_record keys[kMaxKeys];
  qmthread_mutex_lock(&registry_mutex);
  int count = key_count;
  for (int i = 0; i < count; ++i) keys[i] = key_table[i];
  qmthread_mutex_unlock(&registry_mutex);
  for (int i = 0; i < count; ++i) {
    KSI_QMTHREAD_TRACE("qmthread_get_tls(key=%u)\n", static_cast<unsigned>(keys[i].key));
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

KS_API void qmthread_init(void) { pthread_once(&init_once, init_threads_layer); }

KS_API int qmthread_create(qmthread_t *tid, pthread_attr_t *attr,
                           void *(*start)(void *), void *arg) {
  char buf[128];
  pthread_attr_t own_attr;
  pthread_attr_t *use = attr;
  int err;
  if (use == nullptr) {
    err = pthread_attr_init(&own_attr);
    if (err != 0) {
      KSI_QMTHREAD_TRACE("Unable to create thread ('%s' failed): %s\n", "pthread_attr_init",
                         ksi_error_text(err, buf, sizeof buf));
      return err;
    }
    use = &own_attr;
  }
  err = set_stack_floor(use);
  if (err != 0) {
    KSI_QMTHREAD_TRACE("Unable to create thread ('%s' failed): %s\n",
                       "pthread_attr_setstacksize", ksi_error_text(err, buf, sizeof buf));
  } else {
    auto *launch = static_cast<thread_start *>(malloc(sizeof(thread_start)));
    if (launch == nullptr) {
      err = EAGAIN;
    } else {
      launch->start = start;
      launch->arg = arg;
      qmthread_init();
      // The new thread is registered before it can run any library code.
      qmthread_mutex_lock(&registry_mutex);
      err = pthread_create(tid, use, run_thread, launch);
      if (err == 0) ksi_registry_add(*tid);
      qmthread_mutex_unlock(&registry_mutex);
      if (err != 0) {
        free(launch);
        KSI_QMTHREAD_TRACE("Unable to create thread ('%s' failed): %s\n", "pthread_create",
                           ksi_error_text(err, buf, sizeof buf));
      }
    }
  }
  if (use == &own_attr) pthread_attr_destroy(&own_attr);
  return err;
}

KS_API int qmthread_join(qmthread_t tid, void **value) {
  int err = pthread_join(tid, value);
  if (err != 0) {
    char buf[128];
    KSI_QMTHREAD_TRACE("Unable to wait for thread termination ('%s' failed): %s\n",
                       "pthread_join", ksi_error_text(err, buf, sizeof buf));
  }
  return err;
}

KS_API void qmthread_exit(void *value) {
  ksi_registry_remove(pthread_self());
  ksi_lib_lock_release_all();
  ksi_run_key_destructors(true);
  pthread_exit(value);
}

KS_API void qmthread_sleep(uint32_t milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

KS_API qmthread_t qmthread_self(void) { return pthread_self(); }

KS_API int qmthread_equal(qmthread_t a, qmthread_t b) { return pthread_equal(a, b); }

KS_API int qmthread_is_null(qmthread_t tid) {
  return pthread_equal(tid, QMTHREAD_INVALID_TID) ? 1 : 0;
}

KS_API void qmthread_set_null(qmthread_t *tid) { *tid = QMTHREAD_INVALID_TID; }

KS_API int qmthread_key_create(qmthread_key_t *key, void (*destructor)(void *)) {
  qmthread_init();
  return create_recorded_key(key, destructor);
}

KS_API int qmthread_key_delete(qmthread_key_t key) { return pthread_key_delete(key); }

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

KS_API void qmthread_dump_thread(void) {
  if (!ksi_qmthread_tracing.load(std::memory_order_relaxed)) return;
  ksi_qmthread_trace_line(">>>>Start to dump thread<<<<\n");
  qmthread_mutex_lock(&registry_mutex);
  llist_d_t *head = &qmthread_state_list;
  for (llist_d_t *n = head->next; n != nullptr && n != head; n = n->next)
    ksi_qmthread_trace_line("thread %u, raise status %d\n",
                            static_cast<unsigned>(entry_of(n)->tid),
                            static_cast<int>(ksi_entry_pending(entry_of(n))));
  qmthread_mutex_unlock(&registry_mutex);
  ksi_qmthread_trace_line("<<<<End to dump thread>>>>\n");
}

}  // extern "C"
