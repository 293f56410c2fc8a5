// The thread registry: every thread the library knows, each with its
// pending raise status. Guarded by the registry mutex, which also guards
// the key table (qmthread_keys.cpp).
#include "containers/ilist.h"
#include "fault/pfm_state.h"
#include "thread/qmthread_internal.h"

#include <orvexnt/nt_thread.h>

#include <cstdlib>

qmthread_mutex_t ksi_registry_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(ksi_registry_mutex);

namespace {

// An internal list (containers/ilist.h): before the first registration the
// head's links are null, as the start of the layer checks.
llist_d_t qmthread_state_list = LLIST_D_HEAD_INITIALIZER;
#define QMTHREAD_LIST_FIRST(head) ((head)->next)
#define QMTHREAD_LIST_LAST(head) ((head)->prev)

ksi_thread_entry *entry_of(llist_d_t *node) {
  return static_cast<ksi_thread_entry *>(node->data);
}

// Under the registry mutex.
ksi_thread_entry *registry_find(qmthread_t tid) {
  llist_d_t *head = &qmthread_state_list;
  for (llist_d_t *n = ksi_ilist_first(head); n != nullptr;
       n = ksi_ilist_next(head, n))
    if (pthread_equal(entry_of(n)->tid, tid)) return entry_of(n);
  return nullptr;
}

void registry_append(ksi_thread_entry *entry) {
  ksi_ilist_append(&qmthread_state_list, &entry->link, entry);
}

void registry_unlink(ksi_thread_entry *entry) {
  ksi_ilist_unlink(&entry->link);
}

}  // namespace

void ksi_registry_check_empty(void) {
  KSI_QMTHREAD_ASSERT(QMTHREAD_LIST_FIRST(&qmthread_state_list) == NULL &&
                      QMTHREAD_LIST_LAST(&qmthread_state_list) == NULL);
}

ksi_thread_entry *ksi_registry_add(qmthread_t tid) {
  KSI_QMTHREAD_TRACE("Adding thread %lu to process\n",
                     static_cast<unsigned long>(nt_get_current_thread_id()));
  auto *entry =
      static_cast<ksi_thread_entry *>(malloc(sizeof(ksi_thread_entry)));
  if (entry == nullptr) {
    KSI_QMTHREAD_TRACE("Fail to add thread %lu to process",
                       static_cast<unsigned long>(nt_get_current_thread_id()));
    abort();
  }
  qmthread_mutex_lock(&ksi_registry_mutex);
  ksi_thread_entry *existing = registry_find(tid);
  if (existing == nullptr) {
    entry->tid = tid;
    entry->pending_status = 0;
    registry_append(entry);
  }
  qmthread_mutex_unlock(&ksi_registry_mutex);
  if (existing == nullptr) return entry;
  KSI_QMTHREAD_TRACE("thread %lu has already been in state list.\n",
                     static_cast<unsigned long>(nt_get_current_thread_id()));
  free(entry);
  return existing;
}

void ksi_registry_remove(qmthread_t tid) {
  qmthread_mutex_lock(&ksi_registry_mutex);
  ksi_thread_entry *entry = registry_find(tid);
  if (entry != nullptr) registry_unlink(entry);
  qmthread_mutex_unlock(&ksi_registry_mutex);
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
  qmthread_mutex_lock(&ksi_registry_mutex);
  ksi_thread_entry *entry = registry_find(pthread_self());
  qmthread_mutex_unlock(&ksi_registry_mutex);
  if (entry == nullptr) entry = ksi_registry_add(pthread_self());
  ksi_arm_thread_exit_hook();
  return entry;
}

void ksi_registry_keep_only_self(void) {
  qmthread_mutex_lock(&ksi_registry_mutex);
  llist_d_t *head = &qmthread_state_list;
  for (llist_d_t *n = ksi_ilist_first(head); n != nullptr;) {
    ksi_thread_entry *entry = entry_of(n);
    n = ksi_ilist_next(head, n);
    if (pthread_equal(entry->tid, pthread_self())) continue;
    registry_unlink(entry);
    free(entry);
  }
  qmthread_mutex_unlock(&ksi_registry_mutex);
}

void ksi_registry_post_all(uint32_t status) {
  qmthread_mutex_lock(&ksi_registry_mutex);
  llist_d_t *head = &qmthread_state_list;
  for (llist_d_t *n = ksi_ilist_first(head); n != nullptr;
       n = ksi_ilist_next(head, n))
    ksi_entry_set_pending(entry_of(n), status);
  qmthread_mutex_unlock(&ksi_registry_mutex);
}

extern "C" {

KS_API void qmthread_dump_thread(void) {
  if (!ksi_qmthread_tracing.load(std::memory_order_relaxed)) return;
  ksi_qmthread_trace_line(">>>>Start to dump thread<<<<\n");
  qmthread_mutex_lock(&ksi_registry_mutex);
  llist_d_t *head = &qmthread_state_list;
  for (llist_d_t *n = ksi_ilist_first(head); n != nullptr;
       n = ksi_ilist_next(head, n))
    ksi_qmthread_trace_line("thread %u, raise status %d\n",
                            static_cast<unsigned>(entry_of(n)->tid),
                            static_cast<int>(ksi_entry_pending(entry_of(n))));
  qmthread_mutex_unlock(&ksi_registry_mutex);
  ksi_qmthread_trace_line("<<<<End to dump thread>>>>\n");
}

}  // extern "C"
