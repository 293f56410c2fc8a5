// Keyed tables of the account caches. Each table is a fixed array of
// chained buckets under one recursive mutex; entries are single heap
// blocks holding the key and then the value. Tables are process-local and
// live until the process ends.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <atomic>

#include "identity/credutl_cache.h"
#include "internal/alloc_fault.h"
#include "internal/thread_safety.h"
#include "thread/qmthread_internal.h"

namespace {

enum KeyKind { kIdKey, kNameKey, kSidKey };

struct TableSpec {
  const char *name;
  const char *guid;  // identifies the table among the product's tables
  KeyKind kind;
  size_t key_size;
  size_t value_size;
  uint32_t buckets;
};

const TableSpec kSpecs[KSI_CRED_TABLE_COUNT] = {
    {"Uid->Passwd info", "{4B302F4C-4B5F-4936-8FEB-98BD5F54B263}", kIdKey, 4,
     KSI_CRED_PASSWD_SIZE, 200},
    {"User name->Passwd info", "{6B496F5B-0247-4B96-9149-84BED851AD93}",
     kNameKey, KSI_CRED_NAME_KEY_SIZE, KSI_CRED_PASSWD_SIZE, 200},
    {"Sid->Passwd info", "{A0DBCC4E-2900-46DA-8A12-8F730915C216}", kSidKey,
     sizeof(credutl_sid_t), KSI_CRED_PASSWD_SIZE, 200},
    {"Gid->Group info", "{E529FE90-033B-11D3-9F13-006008331548}", kIdKey, 4,
     KSI_CRED_GROUP_SIZE, 200},
    {"Group name->Group info", "{02680A20-033C-11D3-9F13-006008331548}",
     kNameKey, KSI_CRED_NAME_KEY_SIZE, KSI_CRED_GROUP_SIZE, 200},
    {"Sid->Group info", "{815C082D-015C-429C-8E7F-5729EFF2B4C5}", kSidKey,
     sizeof(credutl_sid_t), KSI_CRED_GROUP_SIZE, 300},
    {"QMFS Login Credential", "{C855940A-6CA2-4971-A7E5-5822687BD43D}", kSidKey,
     sizeof(credutl_sid_t), NTLOGON_CRED_ENTRY_SIZE, 500},
};

struct Entry {
  Entry *next;
  uint32_t bucket;
  unsigned char *bytes() { return reinterpret_cast<unsigned char *>(this + 1); }
};

}  // namespace

struct ksi_cred_table {
  const TableSpec *spec;
  qmthread_mutex_t lock;                    // noraise: lookups never raise
  Entry **buckets KSI_PT_GUARDED_BY(lock);  // the chains, not the array
};

namespace {

std::atomic<ksi_cred_table *> g_tables[KSI_CRED_TABLE_COUNT];
qmthread_mutex_t g_create_lock = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(g_create_lock);

// h = h + (tolower(c) XOR (h * 128)) over the name, unsigned 32-bit.
uint32_t name_hash(const char *name) {
  uint32_t h = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
       *p != '\0'; p++)
    h += static_cast<uint32_t>(tolower(*p)) ^ (h << 7);
  return h;
}

uint32_t id_hash(const void *key) {
  uint32_t id;
  memcpy(&id, key, sizeof id);
  return id * 2654435761u;
}

uint32_t key_hash(const TableSpec &s, const void *key) {
  switch (s.kind) {
    case kIdKey:
      return id_hash(key);
    case kNameKey:
      return name_hash(static_cast<const char *>(key));
    case kSidKey:
      return credutl_sid_hash_fn(key);
  }
  return 0;
}

bool key_equal(const TableSpec &s, const void *a, const void *b) {
  switch (s.kind) {
    case kIdKey:
      return memcmp(a, b, 4) == 0;
    case kNameKey:
      return strcasecmp(static_cast<const char *>(a),
                        static_cast<const char *>(b)) == 0;
    case kSidKey:
      return credutl_sid_keycmp_fn(a, b) != 0;
  }
  return false;
}

// A name key fits when it has fewer than KSI_CRED_NAME_KEY_SIZE characters.
bool key_fits(const TableSpec &s, const void *key) {
  return s.kind != kNameKey ||
         strnlen(static_cast<const char *>(key), s.key_size) < s.key_size;
}

ksi_cred_table *create_table(const TableSpec &spec) {
  auto *t = static_cast<ksi_cred_table *>(nt_calloc(1, sizeof(ksi_cred_table)));
  if (t == nullptr) return nullptr;
  t->buckets = static_cast<Entry **>(nt_calloc(spec.buckets, sizeof(Entry *)));
  if (t->buckets == nullptr || qmthread_mutex_init_noraise(&t->lock) != 0) {
    free(t->buckets);
    free(t);
    return nullptr;
  }
  t->spec = &spec;
  ksi_fork_guard(&t->lock, true);
  return t;
}

// The entry under key, with the lock held; null when absent.
Entry *find(ksi_cred_table *t, const void *key, Entry ***link_out)
    KSI_REQUIRES(t->lock) {
  const uint32_t b = key_hash(*t->spec, key) % t->spec->buckets;
  Entry **link = &t->buckets[b];
  for (; *link != nullptr; link = &(*link)->next)
    if (key_equal(*t->spec, (*link)->bytes(), key)) break;
  if (link_out != nullptr) *link_out = link;
  return *link;
}

}  // namespace

ksi_cred_table *ksi_cred_table_get(ksi_cred_table_id id) {
  ksi_cred_table *t = g_tables[id].load(std::memory_order_acquire);
  if (t != nullptr) return t;
  qmthread_mutex_lock(&g_create_lock);
  t = g_tables[id].load(std::memory_order_relaxed);
  if (t == nullptr) {
    t = create_table(kSpecs[id]);
    g_tables[id].store(t, std::memory_order_release);
  }
  qmthread_mutex_unlock(&g_create_lock);
  return t;
}

const char *ksi_cred_table_name(ksi_cred_table_id id) {
  return kSpecs[id].name;
}

bool ksi_cred_table_lookup(ksi_cred_table *t, const void *key,
                           void *value_out) {
  if (t == nullptr || !key_fits(*t->spec, key)) return false;
  qmthread_mutex_lock(&t->lock);
  Entry *e = find(t, key, nullptr);
  if (e != nullptr)
    memcpy(value_out, e->bytes() + t->spec->key_size, t->spec->value_size);
  qmthread_mutex_unlock(&t->lock);
  return e != nullptr;
}

int ksi_cred_table_enter(ksi_cred_table *t, const void *key,
                         const void *value) {
  if (t == nullptr) return ENOMEM;
  const TableSpec &s = *t->spec;
  if (!key_fits(s, key)) return ENAMETOOLONG;
  qmthread_mutex_lock(&t->lock);
  Entry **link;
  Entry *e = find(t, key, &link);
  if (e == nullptr) {
    e = static_cast<Entry *>(
        nt_calloc(1, sizeof(Entry) + s.key_size + s.value_size));
    if (e != nullptr) {
      e->bucket = key_hash(s, key) % s.buckets;
      if (s.kind == kNameKey)
        strncpy(reinterpret_cast<char *>(e->bytes()),
                static_cast<const char *>(key), s.key_size);
      else
        memcpy(e->bytes(), key, s.key_size);
      *link = e;
    }
  }
  if (e != nullptr) memcpy(e->bytes() + s.key_size, value, s.value_size);
  qmthread_mutex_unlock(&t->lock);
  return e != nullptr ? 0 : ENOMEM;
}

int ksi_cred_table_delete(ksi_cred_table *t, const void *key) {
  if (t == nullptr || !key_fits(*t->spec, key)) return ENOENT;
  qmthread_mutex_lock(&t->lock);
  Entry **link;
  Entry *e = find(t, key, &link);
  if (e != nullptr) {
    *link = e->next;
    free(e);
  }
  qmthread_mutex_unlock(&t->lock);
  return e != nullptr ? 0 : ENOENT;
}

// The lock is held across calls, which the analysis cannot follow through
// the opaque table type of the header.
void ksi_cred_table_lock(ksi_cred_table *t) KSI_NO_THREAD_SAFETY_ANALYSIS {
  qmthread_mutex_lock(&t->lock);
}
void ksi_cred_table_unlock(ksi_cred_table *t) KSI_NO_THREAD_SAFETY_ANALYSIS {
  qmthread_mutex_unlock(&t->lock);
}

// The caller holds the lock through ksi_cred_table_lock (see above).
bool ksi_cred_table_next(ksi_cred_table *t, void **cursor, const void **key,
                         const void **value) KSI_NO_THREAD_SAFETY_ANALYSIS {
  auto *e = static_cast<Entry *>(*cursor);
  uint32_t b = 0;
  if (e != nullptr) {
    b = e->bucket + 1;
    e = e->next;
  }
  for (; e == nullptr && b < t->spec->buckets; b++) e = t->buckets[b];
  if (e == nullptr) return false;
  *cursor = e;
  *key = e->bytes();
  *value = e->bytes() + t->spec->key_size;
  return true;
}
