// The library's thread-local block and the registry of per-thread slots
// (see tls_impl.h).
#include "thread/qmthread_internal.h"
#include "thread/tls_impl.h"

#include <orvexks/pfm.h>

#include <cstring>

namespace {

// Slots by index. A slot's entry is written before its index is published
// (release), so whoever reads an index (acquire) finds the entry.
qmthread_mutex_t slot_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(slot_mutex);
ksi_tls_slot_t *slots[kKsiTlsMaxSlots];
std::atomic<int> slot_count{0};

qmthread_once_t block_once = QMTHREAD_ONCE_INIT;
qmthread_key_t block_key;

int index_of(ksi_tls_slot_t *slot) {
  int index = slot->index.load(std::memory_order_acquire);
  if (index >= 0) return index;
  qmthread_mutex_lock(&slot_mutex);
  index = slot->index.load(std::memory_order_relaxed);
  if (index < 0) {
    index = slot_count.load(std::memory_order_relaxed);
    KSI_QMTHREAD_ASSERT(index < kKsiTlsMaxSlots);
    slots[index] = slot;
    slot_count.store(index + 1, std::memory_order_release);
    slot->index.store(index, std::memory_order_release);
  }
  qmthread_mutex_unlock(&slot_mutex);
  return index;
}

// The key's destructor: each made record's cleanup, then the area.
void destroy_block(void *raw) {
  auto *block = static_cast<ksi_tls_t *>(raw);
  int count = slot_count.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i)
    if (block->records[i] != nullptr && slots[i]->cleanup != nullptr)
      slots[i]->cleanup(block->records[i]);
  qmthread_free_tls(block);
}

void create_block_key() {
  if (qmthread_key_create(&block_key, destroy_block) != 0)
    pfm_panic(__FILE__, __LINE__);
}

}  // namespace

ksi_tls_t *ksi_tls_block(void) {
  qmthread_once(&block_once, create_block_key);
  auto *block = static_cast<ksi_tls_t *>(qmthread_get_tls(block_key));
  if (block != nullptr) return block;
  block = static_cast<ksi_tls_t *>(qmthread_alloc_tls(sizeof(ksi_tls_t)));
  if (block == nullptr || qmthread_set_tls(block_key, block) != 0)
    pfm_panic(__FILE__, __LINE__);
  return block;
}

void *ksi_tls_get(ksi_tls_slot_t *slot) {
  int index = index_of(slot);
  ksi_tls_t *block = ksi_tls_block();
  void *record = block->records[index];
  if (record != nullptr) return record;
  record = stg_alloc_quiet(block->area, slot->size);
  if (record == nullptr) return nullptr;
  std::memset(record, 0, slot->size);
  block->records[index] = record;
  return record;
}

void *ksi_tls_need(ksi_tls_slot_t *slot) {
  void *record = ksi_tls_get(slot);
  if (record == nullptr) pfm_panic(__FILE__, __LINE__);
  return record;
}
