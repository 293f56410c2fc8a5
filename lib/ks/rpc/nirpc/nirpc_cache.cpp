// The duplicate request cache: one entry per caller (socket address and
// key) holding the sequence number of its last call, whether that call is
// still running, and its saved reply. Entries sit in 53 buckets chosen by
// the caller's port, each with its own lock, so that workers serving
// different callers rarely wait for one another. A saved reply's timer
// removes its entry 300 seconds after the save; an entry whose timer has
// fired counts as gone even before its callback has run.
#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>
#include <orvexks/rpc/nirpc.h>
#include <orvexks/rpc/svc.h>
#include <orvexks/stg.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>

#include "containers/ilist.h"
#include "internal/thread_safety.h"
#include "rpc/nirpc/nirpc_internal.h"
#include "rpc/nirpc/nirpc_trace.h"
#include "startup/ks_msgs.h"

namespace {

constexpr int kBuckets = 53;
constexpr uint32_t kExpirySeconds = 300;

struct bucket {
  qmthread_mutex_t mutex;
  llist_d_t entries KSI_GUARDED_BY(mutex);
};

bucket buckets[kBuckets];
qmthread_once_t buckets_once = QMTHREAD_ONCE_INIT;

// The list heads start as empty lists: null links in static storage.
void init_buckets() {
  for (bucket &b : buckets) qmthread_mutex_init_noraise(&b.mutex);
}

// Saved replies expire through the event loop's mt timers unless a test has
// put its own in place (ksi_nirpc_set_timers).
std::atomic<const ksi_nirpc_timers *> timers{nullptr};

const ksi_nirpc_timers *current_timers() {
  const ksi_nirpc_timers *t = timers.load(std::memory_order_acquire);
  return t != nullptr ? t : ksi_nirpc_loop_timers();
}

[[noreturn]] void out_of_storage(int line) {
  imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_NO_STORAGE);
  pfm_panic(__FILE__, line);
}

void *must_alloc(size_t size, int line) {
  void *p = stg_malloc(size > 0 ? size : 1);
  if (p == nullptr) out_of_storage(line);
  return p;
}

// The caller's address as the transport keeps it. The bytes are compared
// as they stand, which serves every family, local sockets included.
struct caller {
  const void *addr;
  uint32_t len;
};

caller caller_of(const struct svc_req *req) {
  const struct netbuf &rt = req->rq_xprt->xp_rtaddr;
  uint32_t len = rt.len;
  if (len > sizeof(struct sockaddr_storage))
    len = sizeof(struct sockaddr_storage);
  return {rt.buf, len};
}

bucket *bucket_of(const void *addr, uint32_t len) {
  qmthread_once(&buckets_once, init_buckets);
  uint16_t port = 0;  // as stored: network byte order
  auto *sa = static_cast<const struct sockaddr *>(addr);
  if (len >= sizeof(sockaddr_in) && sa->sa_family == AF_INET)
    port = static_cast<const sockaddr_in *>(addr)->sin_port;
  else if (len >= sizeof(sockaddr_in6) && sa->sa_family == AF_INET6)
    port = static_cast<const sockaddr_in6 *>(addr)->sin6_port;
  return &buckets[port % kBuckets];
}

// Raises stay off while a bucket's lock is held, so that no raise can
// leave a bucket half changed.
void lock_bucket(bucket *b) KSI_ACQUIRE(b->mutex) {
  pfm_inhibit();
  qmthread_mutex_lock(&b->mutex);
}
void unlock_bucket(bucket *b) KSI_RELEASE(b->mutex) {
  qmthread_mutex_unlock(&b->mutex);
  pfm_enable();
}

// One caller's entry.
struct entry {
  llist_d_t link;
  uint64_t key;
  uint32_t seq;  // of the caller's last call
  void *event;   // expiry timer; null until a reply is saved
  struct sockaddr_storage addr;
  uint32_t addr_len;
  void *reply;
  uint32_t len;
  nirpc_release_t release;
  bool in_progress;
};

bool same_caller(const entry *e, const caller &c) {
  return e->addr_len == c.len && memcmp(&e->addr, c.addr, c.len) == 0;
}

const struct sockaddr *addr_of(const entry *e) {
  return reinterpret_cast<const struct sockaddr *>(&e->addr);
}

// The live entry of (caller, key) in b.
entry *find(bucket *b, const caller &c, uint64_t key) KSI_REQUIRES(b->mutex) {
  const ksi_nirpc_timers *t = current_timers();
  for (llist_d_t *n = ksi_ilist_first(&b->entries); n != nullptr;
       n = ksi_ilist_next(&b->entries, n)) {
    auto *e = static_cast<entry *>(n->data);
    if (e->key != key || !same_caller(e, c)) continue;
    if (e->event != nullptr && t->fired(e->event)) {
      ksi_nirpc_trace_found_expired(e, key);
      continue;
    }
    ksi_nirpc_trace_found(e, key, e->seq);
    return e;
  }
  return nullptr;
}

entry *insert_entry(bucket *b, const caller &c, uint64_t key, uint32_t seq)
    KSI_REQUIRES(b->mutex) {
  auto *e = static_cast<entry *>(must_alloc(sizeof(entry), __LINE__));
  memset(e, 0, sizeof *e);
  memcpy(&e->addr, c.addr, c.len);
  e->addr_len = c.len;
  e->key = key;
  e->seq = seq;
  ksi_ilist_append(&b->entries, &e->link, e);
  return e;
}

void drop_reply(entry *e) {
  if (e->reply == nullptr) return;
  if (e->release != nullptr) e->release(e->reply, 1);
  stg_free(e->reply);
  e->reply = nullptr;
  e->len = 0;
}

void free_entry(entry *e) {
  ksi_ilist_unlink(&e->link);
  drop_reply(e);
  stg_free(e);
}

// Sequence numbers grow; the signed difference decides across a wrap.
int32_t seq_diff(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }

int fetch_locked(bucket *b, const caller &c, uint64_t key, uint32_t seq,
                 void *buf, uint32_t size, uint32_t *len_out)
    KSI_REQUIRES(b->mutex) {
  entry *e = find(b, c, key);
  if (e == nullptr) {
    insert_entry(b, c, key, seq)->in_progress = true;
    ksi_nirpc_trace_fetch_new(key, seq);
    return NIRPC_NEW;
  }
  uint32_t cached = e->seq;
  int32_t diff = seq_diff(seq, cached);
  if (diff > 0 || (seq == 0 && cached != 0)) {
    e->seq = seq;
    drop_reply(e);
    e->in_progress = true;
    ksi_nirpc_trace_fetch(KSI_NIRPC_FETCH_INCR, e, key, seq, cached);
    return NIRPC_NEW;
  }
  if (diff < 0) {
    ksi_nirpc_trace_stale(static_cast<const struct sockaddr *>(c.addr), key,
                          seq, addr_of(e), e->key, cached);
    return NIRPC_STALE;
  }
  if (e->in_progress) {
    ksi_nirpc_trace_fetch(KSI_NIRPC_FETCH_INPROG, e, key, seq, cached);
    return NIRPC_INPROGRESS;
  }
  if (e->reply == nullptr) {
    ksi_nirpc_trace_fetch(KSI_NIRPC_FETCH_NOREPLY, e, key, seq, cached);
    return NIRPC_NEW;
  }
  if (buf != nullptr) memcpy(buf, e->reply, size < e->len ? size : e->len);
  if (len_out != nullptr) *len_out = e->len;
  ksi_nirpc_trace_fetch(KSI_NIRPC_FETCH_DUPLICATE, e, key, seq, cached);
  return NIRPC_DUPLICATE;
}

void save_locked(bucket *b, const caller &c, uint64_t key, uint32_t seq,
                 const void *reply, uint32_t len, nirpc_release_t release)
    KSI_REQUIRES(b->mutex) {
  const ksi_nirpc_timers *t = current_timers();
  entry *e = find(b, c, key);
  if (e != nullptr && seq_diff(e->seq, seq) > 0) return;  // moved on
  if (e != nullptr) {
    if (e->reply != nullptr)
      pfm_assert_fail("entry->reply == NULL", __FILE__, __LINE__);
    if (e->event != nullptr) {
      int ret_st = t->unsched(e->event);
      if (ret_st != 0 && ret_st != 4)
        pfm_assert_fail("ret_st == KS_ST_OK", __FILE__, __LINE__);
      // A timer that fired meanwhile removes this entry through its
      // callback, which needs the timer: leave the entry alone and start
      // another.
      if (ret_st == 4)
        e = nullptr;
      else
        e->event = nullptr;
    }
  }
  if (e != nullptr) {
    ksi_nirpc_trace_save_replace(e, key, seq, e->seq);
  } else {
    e = insert_entry(b, c, key, seq);
    ksi_nirpc_trace_save_new(key, seq);
  }
  e->key = key;
  e->seq = seq;
  e->reply = must_alloc(len, __LINE__);
  if (len > 0) memcpy(e->reply, reply, len);
  e->len = len;
  e->release = release;
  e->event = t->sched(ksi_nirpc_expire, e, kExpirySeconds);
}

void finish_locked(bucket *b, const caller &c, uint64_t key, uint32_t seq)
    KSI_REQUIRES(b->mutex) {
  entry *e = find(b, c, key);
  if (e == nullptr || e->seq != seq) {
    ksi_nirpc_trace_finish_missing(key, seq);
    return;
  }
  ksi_nirpc_trace_finish(e, key, seq, e->in_progress);
  e->in_progress = false;
}

}  // namespace

void ksi_nirpc_set_timers(const ksi_nirpc_timers *t) {
  timers.store(t, std::memory_order_release);
}

void ksi_nirpc_expire(void *arg) {
  auto *e = static_cast<entry *>(arg);
  bucket *b = bucket_of(&e->addr, e->addr_len);
  lock_bucket(b);
  void *event = e->event;
  if (event == nullptr)
    pfm_assert_fail("entry->event_h != NULL", __FILE__, __LINE__);
  free_entry(e);
  unlock_bucket(b);
  current_timers()->free_event(event);
}

size_t ksi_nirpc_entry_count() {
  qmthread_once(&buckets_once, init_buckets);
  size_t n = 0;
  for (bucket &b : buckets) {
    lock_bucket(&b);
    for (llist_d_t *p = ksi_ilist_first(&b.entries); p != nullptr;
         p = ksi_ilist_next(&b.entries, p))
      ++n;
    unlock_bucket(&b);
  }
  return n;
}

void ksi_nirpc_clear() {
  qmthread_once(&buckets_once, init_buckets);
  const ksi_nirpc_timers *t = current_timers();
  for (bucket &b : buckets) {
    lock_bucket(&b);
    llist_d_t *n = ksi_ilist_first(&b.entries);
    while (n != nullptr) {
      llist_d_t *next = ksi_ilist_next(&b.entries, n);
      auto *e = static_cast<entry *>(n->data);
      // A fired timer's callback removes its entry itself.
      if (e->event == nullptr || t->unsched(e->event) == 0) free_entry(e);
      n = next;
    }
    unlock_bucket(&b);
  }
}

extern "C" {

KS_API int nirpc_fetch(struct svc_req *req, uint64_t key, uint32_t seq,
                       void *buf, uint32_t size, uint32_t *len_out) {
  caller c = caller_of(req);
  bucket *b = bucket_of(c.addr, c.len);
  lock_bucket(b);
  int result = fetch_locked(b, c, key, seq, buf, size, len_out);
  unlock_bucket(b);
  return result;
}

KS_API void nirpc_save(struct svc_req *req, uint64_t key, uint32_t seq,
                       const void *reply, uint32_t len,
                       nirpc_release_t release) {
  caller c = caller_of(req);
  bucket *b = bucket_of(c.addr, c.len);
  lock_bucket(b);
  save_locked(b, c, key, seq, reply, len, release);
  unlock_bucket(b);
}

KS_API void nirpc_set_finish(struct svc_req *req, uint64_t key, uint32_t seq) {
  caller c = caller_of(req);
  bucket *b = bucket_of(c.addr, c.len);
  lock_bucket(b);
  finish_locked(b, c, key, seq);
  unlock_bucket(b);
}

}  // extern "C"
