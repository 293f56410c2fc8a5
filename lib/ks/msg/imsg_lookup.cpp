// Text lookup of numbered messages through a cache of five open catalogs.
//
// A run of messages from one family costs one string comparison: the last
// used slot is checked first. A catalog that failed to open keeps its slot
// (with no handle), so it is not retried while the slot survives; a slot
// without a handle is also the first candidate for reuse by another name.
//
// Every change of the cache bumps a generation number. A thread remembers
// the catalog name it last found without an open catalog and the generation
// it saw; while both still hold, the answer is again the default text, and
// the thread gives it without taking the message lock.
#include "msg/msg_lookup.h"

#include <sys/time.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "msg/catalog.h"
#include "msg/msg_lock.h"
#include "msg/msg_tls.h"

namespace {

constexpr int kSlots = 5;

struct catalog_slot {
  msgcat_t *handle;
  char *name;
  timeval last_use;
};

constexpr ksi_catalog_ops_t kRealOps = {msgcat_open, msgcat_get, msgcat_close};

// All guarded by the message lock. Static storage starts zeroed: every slot
// empty, which is the cache's initial state.
catalog_slot slots[kSlots];
int last_used = -1;
int round_robin = 0;
ksi_catalog_ops_t ops = kRealOps;

std::atomic<unsigned> generation{1};

// The calling thread's last lookup that found no open catalog.
struct closed_hint {
  const char *catalog;  // the table's catalog pointer
  unsigned generation;
};
thread_local closed_hint hint = {nullptr, 0};

bool older(const timeval &a, const timeval &b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

int find_slot(const char *name) {
  if (last_used >= 0 && slots[last_used].name != nullptr &&
      std::strcmp(slots[last_used].name, name) == 0)
    return last_used;
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].name != nullptr && std::strcmp(slots[i].name, name) == 0) {
      last_used = i;
      return i;
    }
  }
  return -1;
}

// Round robin while a slot is free (no name or no open catalog), least
// recently used otherwise.
int choose_victim() {
  int free_slot = -1;
  for (int i = 0; i < kSlots && free_slot < 0; ++i)
    if (slots[i].name == nullptr || !ksi_catalog_is_open(slots[i].handle))
      free_slot = i;
  if (free_slot >= 0) {
    int chosen = ksi_catalog_is_open(slots[round_robin].handle) ? free_slot
                                                                : round_robin;
    round_robin = (round_robin + 1) % kSlots;
    return chosen;
  }
  int lru = 0;
  for (int i = 1; i < kSlots; ++i)
    if (older(slots[i].last_use, slots[lru].last_use)) lru = i;
  return lru;
}

void empty_slot(catalog_slot &slot) {
  if (ksi_catalog_is_open(slot.handle)) ops.close(slot.handle);
  slot.handle = nullptr;
  std::free(slot.name);
  slot.name = nullptr;
}

int open_slot(const char *name) {
  int chosen = choose_victim();
  catalog_slot &slot = slots[chosen];
  empty_slot(slot);
  slot.name = strdup(name);
  slot.handle = ops.open(slot.name != nullptr ? slot.name : name, 0);
  last_used = chosen;
  generation.fetch_add(1, std::memory_order_release);
  return chosen;
}

// Keeps a heap copy of a translated text in the thread's block, replacing
// the copy handed out by the previous lookup.
const char *keep_translation(const char *text, const char *dflt) {
  char *copy = strdup(text);
  if (copy == nullptr) return dflt;
  ksi_msg_tls_t &tls = ksi_msg_tls();
  std::free(tls.translation);
  tls.translation = copy;
  return copy;
}

}  // namespace

const char *ksi_msg_lookup(const ks_msg_table_t *table, int index) {
  const char *dflt = table->texts[index];
  if (table->catalog == nullptr) return dflt;
  if (hint.catalog == table->catalog &&
      hint.generation == generation.load(std::memory_order_acquire))
    return dflt;
  qmthread_mutex_lock(&ksi_msg_lock);
  int at = find_slot(table->catalog);
  if (at < 0) at = open_slot(table->catalog);
  const char *text = dflt;
  catalog_slot &slot = slots[at];
  if (ksi_catalog_is_open(slot.handle)) {
    gettimeofday(&slot.last_use, nullptr);
    const char *found =
        ops.get(slot.handle, table->set, table->ids[index], dflt);
    text = keep_translation(found != nullptr ? found : dflt, dflt);
  } else {
    hint = {table->catalog, generation.load(std::memory_order_relaxed)};
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
  return text;
}

void ksi_catalog_set_ops_for_test(const ksi_catalog_ops_t *new_ops) {
  qmthread_mutex_lock(&ksi_msg_lock);
  for (catalog_slot &slot : slots) empty_slot(slot);
  last_used = -1;
  round_robin = 0;
  ops = new_ops != nullptr ? *new_ops : kRealOps;
  generation.fetch_add(1, std::memory_order_release);
  qmthread_mutex_unlock(&ksi_msg_lock);
}

static void msg_tls_cleanup(void *record) {
  std::free(static_cast<ksi_msg_tls_t *>(record)->translation);
}

ksi_tls_slot_t ksi_msg_tls_slot =
    KSI_TLS_SLOT_INIT(ksi_msg_tls_t, msg_tls_cleanup);
