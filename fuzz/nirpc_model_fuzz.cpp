// Random sequences of fetch, save, finish and timer expiry on the duplicate
// request cache, checked step by step against a plain model: every answer,
// every copied reply, the number of entries and of released replies. Four
// callers (two of them in one bucket) and two keys; sequence numbers near
// 0 and near the wrap. Timers fire when the input says so, and a fired
// timer's callback may run several steps later.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <orvexks/rpc/nirpc.h>
#include <orvexks/rpc/svc.h>

#include "rpc/nirpc/nirpc_internal.h"

namespace {

constexpr int kCallers = 4;

// The cache's timers: a list the input fires from.
struct timer {
  void (*callback)(void *);
  void *arg;
  bool queued = true;
  bool fired = false;
  bool ran = false;
  int model_entry;  // what the model scheduled it for
};
std::deque<timer> timers;
int scheduling_for = -1;  // the model entry of the save under way

void *sched(void (*cb)(void *), void *arg, uint32_t) {
  timers.push_back({cb, arg, true, false, false, scheduling_for});
  return &timers.back();
}
int unsched(void *ev) {
  auto *t = static_cast<timer *>(ev);
  if (t->fired) return 4;
  if (!t->queued) return 2;
  t->queued = false;
  return 0;
}
bool fired(const void *ev) { return static_cast<const timer *>(ev)->fired; }
void free_event(void *) {}
const ksi_nirpc_timers kTimers = {sched, unsched, fired, free_event};

int released = 0;
void release(void *, int) { ++released; }

// The model: entries in creation order; a removed entry stays as a gap.
struct entry {
  int caller;
  uint64_t key;
  uint32_t seq;
  bool in_progress;
  bool has_reply;
  std::string reply;
  timer *event;  // null: none
  bool removed;
};
std::vector<entry> model;
int model_released = 0;

bool live(const entry &e) {
  return !e.removed && (e.event == nullptr || !e.event->fired);
}
entry *find(int caller, uint64_t key) {
  for (entry &e : model)
    if (e.caller == caller && e.key == key && live(e)) return &e;
  return nullptr;
}
size_t present() {
  size_t n = 0;
  for (const entry &e : model) n += e.removed ? 0 : 1;
  return n;
}
void drop_reply(entry *e) {
  if (e->has_reply) ++model_released;
  e->has_reply = false;
  e->reply.clear();
}
int32_t diff(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }

int model_fetch(int caller, uint64_t key, uint32_t seq, std::string *copied) {
  entry *e = find(caller, key);
  if (e == nullptr) {
    model.push_back({caller, key, seq, true, false, {}, nullptr, false});
    return NIRPC_NEW;
  }
  if (diff(seq, e->seq) > 0 || (seq == 0 && e->seq != 0)) {
    e->seq = seq;
    drop_reply(e);
    e->in_progress = true;
    return NIRPC_NEW;
  }
  if (diff(seq, e->seq) < 0) return NIRPC_STALE;
  if (e->in_progress) return NIRPC_INPROGRESS;
  if (!e->has_reply) return NIRPC_NEW;
  *copied = e->reply;
  return NIRPC_DUPLICATE;
}

struct Caller {
  sockaddr_in sin{};
  SVCXPRT xprt{};
  svc_req req{};
};
Caller callers[kCallers];

void make_callers() {
  const uint16_t ports[kCallers] = {700, 753, 700, 9000};  // 700, 753: bucket
  const char *hosts[kCallers] = {"127.0.0.1", "127.0.0.1", "127.0.0.2",
                                 "127.0.0.1"};
  for (int i = 0; i < kCallers; ++i) {
    Caller &c = callers[i];
    c.sin.sin_family = AF_INET;
    c.sin.sin_port = htons(ports[i]);
    inet_pton(AF_INET, hosts[i], &c.sin.sin_addr);
    c.xprt.xp_rtaddr = {sizeof c.sin, sizeof c.sin, &c.sin};
    c.req.rq_xprt = &c.xprt;
  }
}

void check(bool ok) {
  if (!ok) abort();
}

// Reads the input a byte at a time; 0 once it is used up.
struct Input {
  const uint8_t *p;
  size_t left;
  uint8_t next() {
    if (left == 0) return 0;
    --left;
    return *p++;
  }
};

uint32_t pick_seq(uint8_t b) {
  return (b & 0x80) != 0 ? 0xfffffff8u + (b & 7) : b & 7;
}

void step(Input &in) {
  uint8_t op = in.next();
  int c = (op >> 3) % kCallers;
  uint64_t key = (op >> 5) & 1;
  uint32_t seq = pick_seq(in.next());
  svc_req *req = &callers[c].req;
  switch (op % 5) {
    case 0: {  // fetch into a buffer of 0 to 7 bytes
      uint32_t size = in.next() % 8;
      char buf[8];
      uint32_t len = 0xdead;
      std::string expected;
      int want = model_fetch(c, key, seq, &expected);
      check(nirpc_fetch(req, key, seq, buf, size, &len) == want);
      if (want == NIRPC_DUPLICATE) {
        check(len == expected.size());
        check(memcmp(buf, expected.data(),
                     size < len ? size : static_cast<size_t>(len)) == 0);
      } else {
        check(len == 0xdead);
      }
      break;
    }
    case 1: {  // save a reply of 0 to 5 bytes
      std::string reply(in.next() % 6, static_cast<char>('a' + seq % 26));
      entry *e = find(c, key);
      if (e != nullptr && diff(e->seq, seq) > 0) {
        nirpc_save(req, key, seq, reply.data(),
                   static_cast<uint32_t>(reply.size()), release);
        break;
      }
      if (e != nullptr && e->has_reply) break;  // a misuse: the process ends
      if (e != nullptr && e->event != nullptr) e->event = nullptr;  // cancelled
      if (e == nullptr) {
        model.push_back({c, key, seq, false, false, {}, nullptr, false});
        e = &model.back();
      }
      e->seq = seq;
      e->has_reply = true;
      e->reply = reply;
      scheduling_for = static_cast<int>(e - model.data());
      nirpc_save(req, key, seq, reply.data(),
                 static_cast<uint32_t>(reply.size()), release);
      e->event = &timers.back();
      check(e->event->model_entry == scheduling_for);
      break;
    }
    case 2: {  // finish
      entry *e = find(c, key);
      if (e != nullptr && e->seq == seq) e->in_progress = false;
      nirpc_set_finish(req, key, seq);
      break;
    }
    case 3:  // the n-th queued timer fires; its callback runs later
    case 4: {
      size_t n = in.next();
      for (timer &t : timers) {
        bool wanted = op % 5 == 3 ? t.queued && !t.fired
                                  : t.fired && !t.ran;  // callback runs
        if (!wanted || n-- != 0) continue;
        if (op % 5 == 3) {
          t.fired = true;
        } else {
          t.ran = true;
          entry &e = model[static_cast<size_t>(t.model_entry)];
          drop_reply(&e);
          e.removed = true;
          t.callback(t.arg);
        }
        break;
      }
      break;
    }
  }
  check(ksi_nirpc_entry_count() == present());
  check(released == model_released);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = (make_callers(), ksi_nirpc_set_timers(&kTimers), true);
  (void)ready;
  Input in = {data, size > 4096 ? 4096 : size};
  // Saves append to the model while it is walked by pointer: room first.
  model.reserve(in.left + 1);
  while (in.left > 0) step(in);
  ksi_nirpc_clear();
  for (timer &t : timers)
    if (t.fired && !t.ran) t.callback(t.arg);
  check(ksi_nirpc_entry_count() == 0);
  timers.clear();
  model.clear();
  released = model_released = 0;
  return 0;
}
