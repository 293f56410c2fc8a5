// The duplicate request cache on its own: the answers for one caller's
// calls, callers kept apart, expiry of saved replies (through timers the
// test fires itself, including one that fires while a worker is inside
// the cache), the misuse checks and the trace lines.
// fuzz/nirpc_model_fuzz.cpp checks random sequences.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <orvexks/imsg.h>
#include <orvexks/ks_product.h>
#include <orvexks/rpc/nirpc.h>
#include <orvexks/rpc/svc.h>
#include <orvexks/rt.h>

#include "internal/alloc_fault.h"
#include "rpc/nirpc/nirpc_internal.h"

namespace {

// Timers that fire only when the test says so.
struct ManualTimers {
  struct event {
    void (*callback)(void *);
    void *arg;
    bool queued = true;
    bool fired = false;
  };
  static inline std::deque<event> events;
  static inline int refuse_unsched = 0;  // a result other than 0/2/4
  // Set: the next cancelled timer fires just before the cancel.
  static inline bool fire_when_cancelled = false;
  static inline event *fired_when_cancelled = nullptr;

  static void *sched(void (*cb)(void *), void *arg, uint32_t seconds) {
    EXPECT_EQ(300u, seconds);
    return &events.emplace_back(event{cb, arg});
  }
  static int unsched(void *ev) {
    auto *e = static_cast<event *>(ev);
    if (refuse_unsched != 0) return refuse_unsched;
    if (fire_when_cancelled && e->queued && !e->fired) {
      fire_when_cancelled = false;
      e->fired = true;
      fired_when_cancelled = e;
    }
    if (e->fired) return 4;
    if (!e->queued) return 2;
    e->queued = false;
    return 0;
  }
  static bool fired(const void *ev) {
    return static_cast<const event *>(ev)->fired;
  }
  // Marks every queued timer fired; runs their callbacks when run is set.
  static std::vector<event *> fire_all(bool run = true) {
    std::vector<event *> due;
    for (event &e : events)
      if (e.queued && !e.fired) {
        e.fired = true;
        due.push_back(&e);
      }
    if (run)
      for (event *e : due) e->callback(e->arg);
    return due;
  }
};
const ksi_nirpc_timers kManual = {ManualTimers::sched, ManualTimers::unsched,
                                  ManualTimers::fired, [](void *) {}};

// A request from 127.0.0.1 (or another host) and a port.
struct Caller {
  sockaddr_in sin{};
  SVCXPRT xprt{};
  svc_req req{};
  explicit Caller(uint16_t port, const char *host = "127.0.0.1") {
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    inet_pton(AF_INET, host, &sin.sin_addr);
    xprt.xp_rtaddr = {sizeof sin, sizeof sin, &sin};
    req.rq_xprt = &xprt;
  }
  Caller(const Caller &) = delete;
};

int released = 0;
void count_release(void *reply, int flag) {
  EXPECT_NE(nullptr, reply);
  EXPECT_EQ(1, flag);
  ++released;
}

struct Nirpc : ::testing::Test {
  void SetUp() override {
    ksi_nirpc_set_timers(&kManual);
    released = 0;
  }
  void TearDown() override {
    ksi_nirpc_clear();
    ManualTimers::events.clear();
    ksi_nirpc_set_timers(nullptr);
  }
  static void answer(Caller &c, uint64_t key, uint32_t seq,
                     const std::string &reply) {
    nirpc_save(&c.req, key, seq, reply.data(),
               static_cast<uint32_t>(reply.size()), count_release);
    nirpc_set_finish(&c.req, key, seq);
  }
};

constexpr uint64_t K = 0x1122334455667788ull;

TEST_F(Nirpc, OneCallersCallsFromNewToStale) {
  Caller c(700);
  EXPECT_EQ(NIRPC_NEW, nirpc_fetch(&c.req, K, 5, nullptr, 0, nullptr));
  EXPECT_EQ(NIRPC_INPROGRESS, nirpc_fetch(&c.req, K, 5, nullptr, 0, nullptr));
  answer(c, K, 5, "reply-5!");
  char buf[16] = {};
  uint32_t len = 0;
  EXPECT_EQ(NIRPC_DUPLICATE, nirpc_fetch(&c.req, K, 5, buf, sizeof buf, &len));
  EXPECT_EQ(8u, len);
  EXPECT_STREQ("reply-5!", buf);
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(NIRPC_DUPLICATE, nirpc_fetch(&c.req, K, 5, small, 3, &len));
  EXPECT_EQ(0, memcmp("repx", small, 4)) << "only the buffer's size";
  EXPECT_EQ(8u, len) << "and the full length";
  EXPECT_EQ(NIRPC_STALE, nirpc_fetch(&c.req, K, 4, nullptr, 0, nullptr));
  nirpc_save(&c.req, K, 4, "old", 3, count_release);  // moved on: ignored
  EXPECT_EQ(0, released);
  EXPECT_EQ(NIRPC_NEW, nirpc_fetch(&c.req, K, 6, nullptr, 0, nullptr));
  EXPECT_EQ(1, released) << "a later call drops the saved reply";
  nirpc_set_finish(&c.req, K, 6);  // finished without a saved reply
  EXPECT_EQ(NIRPC_NEW, nirpc_fetch(&c.req, K, 6, nullptr, 0, nullptr));
  answer(c, K, 6, "six");
  EXPECT_EQ(NIRPC_DUPLICATE, nirpc_fetch(&c.req, K, 6, nullptr, 0, &len));
  EXPECT_EQ(3u, len);
  EXPECT_EQ(1u, ksi_nirpc_entry_count()) << "one entry per caller";
}

TEST_F(Nirpc, CallersAndKeysAreKeptApart) {
  Caller a(702), b(702, "127.0.0.2"), a_port(702 + 53);  // same bucket
  answer(a, K, 5, "a");
  EXPECT_EQ(NIRPC_NEW, nirpc_fetch(&b.req, K, 5, nullptr, 0, nullptr));
  EXPECT_EQ(NIRPC_NEW, nirpc_fetch(&a_port.req, K, 5, nullptr, 0, nullptr));
  EXPECT_EQ(NIRPC_NEW, nirpc_fetch(&a.req, K + 1, 5, nullptr, 0, nullptr));
  EXPECT_EQ(NIRPC_STALE, nirpc_fetch(&b.req, K, 4, nullptr, 0, nullptr));
  char buf[4] = {};
  EXPECT_EQ(NIRPC_DUPLICATE, nirpc_fetch(&a.req, K, 5, buf, 4, nullptr));
  EXPECT_STREQ("a", buf);
}

TEST_F(Nirpc, SavedRepliesExpireAndTheCallersStartOver) {
  Caller c(703);
  nirpc_fetch(&c.req, K, 5, nullptr, 0, nullptr);
  answer(c, K, 5, "five");
  ASSERT_EQ(1u, ManualTimers::events.size());
  ManualTimers::fire_all();
  EXPECT_EQ(1, released);
  EXPECT_EQ(0u, ksi_nirpc_entry_count());
  EXPECT_EQ(NIRPC_NEW, nirpc_fetch(&c.req, K, 5, nullptr, 0, nullptr));

  // A timer that fires while the entry is in use: the entry counts as gone
  // at once, and its callback later removes only that entry.
  answer(c, K, 5, "again");
  std::vector<ManualTimers::event *> pending = ManualTimers::fire_all(false);
  EXPECT_EQ(NIRPC_NEW, nirpc_fetch(&c.req, K, 5, nullptr, 0, nullptr));
  answer(c, K, 5, "third");
  EXPECT_EQ(2u, ksi_nirpc_entry_count());
  for (auto *e : pending) e->callback(e->arg);
  uint32_t len = 0;
  EXPECT_EQ(NIRPC_DUPLICATE, nirpc_fetch(&c.req, K, 5, nullptr, 0, &len));
  EXPECT_EQ(5u, len);

  // A save that finds its timer fired starts a fresh entry.
  nirpc_fetch(&c.req, K, 6, nullptr, 0, nullptr);
  pending = ManualTimers::fire_all(false);
  nirpc_save(&c.req, K, 6, "six", 3, nullptr);
  nirpc_set_finish(&c.req, K, 6);
  for (auto *e : pending) e->callback(e->arg);
  EXPECT_EQ(NIRPC_DUPLICATE, nirpc_fetch(&c.req, K, 6, nullptr, 0, &len));
  EXPECT_EQ(3u, len);

  // The timer fires between the save finding its entry and cancelling the
  // timer: the save starts a fresh entry, and the late callback removes
  // only the old one.
  nirpc_fetch(&c.req, K, 7, nullptr, 0, nullptr);
  ManualTimers::fire_when_cancelled = true;
  nirpc_save(&c.req, K, 7, "seven", 5, nullptr);
  nirpc_set_finish(&c.req, K, 7);
  ASSERT_NE(nullptr, ManualTimers::fired_when_cancelled);
  ManualTimers::fired_when_cancelled->callback(
      ManualTimers::fired_when_cancelled->arg);
  EXPECT_EQ(1u, ksi_nirpc_entry_count());
  EXPECT_EQ(NIRPC_DUPLICATE, nirpc_fetch(&c.req, K, 7, nullptr, 0, &len));
  EXPECT_EQ(5u, len);
}

TEST_F(Nirpc, MisuseEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Caller c(704);
  nirpc_fetch(&c.req, K, 5, nullptr, 0, nullptr);
  answer(c, K, 5, "once");
  EXPECT_DEATH(nirpc_save(&c.req, K, 5, "twice", 5, nullptr),
               "entry->reply == NULL");
  nirpc_fetch(&c.req, K, 6, nullptr, 0, nullptr);  // pending timer, no reply
  ManualTimers::refuse_unsched = 2;
  EXPECT_DEATH(nirpc_save(&c.req, K, 6, "x", 1, nullptr), "ret_st == KS_ST_OK");
  ManualTimers::refuse_unsched = 0;
#ifdef ORVEX_ALLOC_FAULTS
  Caller d(705);
  EXPECT_DEATH(
      {
        nt_alloc_fault_arm(1);
        nirpc_fetch(&d.req, K, 1, nullptr, 0, nullptr);
      },
      "Unable to allocate storage");
  EXPECT_DEATH(
      {
        nt_alloc_fault_arm(2);  // the entry is made, the reply's copy not
        nirpc_save(&d.req, K, 1, "r", 1, nullptr);
      },
      "Unable to allocate storage");
#endif
}

TEST_F(Nirpc, TraceLines) {
  imsg_set_trace_verbosity(3);
  imsg_set_trace_subsys("ks");
  Caller c(706);
  testing::internal::CaptureStderr();
  nirpc_fetch(&c.req, 0xabcull, 5, nullptr, 0, nullptr);
  nirpc_fetch(&c.req, 0xabcull, 5, nullptr, 0, nullptr);
  answer(c, 0xabcull, 5, "r");
  nirpc_fetch(&c.req, 0xabcull, 5, nullptr, 0, nullptr);
  nirpc_fetch(&c.req, 0xabcull, 4, nullptr, 0, nullptr);
  nirpc_set_finish(&c.req, 0xabcull, 9);
  std::string out = testing::internal::GetCapturedStderr();
  imsg_set_trace_verbosity(0);
  imsg_set_trace_subsys(nullptr);
  for (const char *line :
       {" fetch abc.5 new\n", " inprog 5\n", " save ", " replace 5\n",
        " finish ", ".5 from 1\n", " duplicate 5\n", " fetch abc.4 stale 5\n",
        "nirpc: stale RPC packet received: \n",
        "\t\t\t(caller, boot_time, xid)\n",
        "\tStale RPC req:[127.0.0.1]:706 abc 4\n",
        "\tLast cached RPC:[127.0.0.1]:706 abc 5\n",
        " finish abc.9 not found\n"})
    EXPECT_NE(std::string::npos, out.find(line)) << line << " in\n" << out;
}

}  // namespace

// The event loop's own timers carry the expiry: the save schedules an mt
// event, a later save cancels it, and rt_run fires the last one, whose
// callback removes the entry (due after one second here, not 300).
void *soon(void (*callback)(void *), void *arg, uint32_t) {
  return ksi_nirpc_loop_timers()->sched(callback, arg, 1);
}

TEST(NirpcLoop, SavedReplyExpiresThroughTheEventLoop) {
  ks_system_init();
  const ksi_nirpc_timers *loop = ksi_nirpc_loop_timers();
  const ksi_nirpc_timers soon_timers = {soon, loop->unsched, loop->fired,
                                        loop->free_event};
  ksi_nirpc_set_timers(&soon_timers);
  Caller c(800);
  nirpc_fetch(&c.req, K, 5, nullptr, 0, nullptr);
  nirpc_save(&c.req, K, 5, "five", 4, nullptr);
  nirpc_set_finish(&c.req, K, 5);
  nirpc_fetch(&c.req, K, 6, nullptr, 0, nullptr);
  nirpc_save(&c.req, K, 6, "six", 3, nullptr);  // the first timer is cancelled
  nirpc_set_finish(&c.req, K, 6);
  EXPECT_EQ(NIRPC_DUPLICATE, nirpc_fetch(&c.req, K, 6, nullptr, 0, nullptr));
  rt_sched(
      +[](void *) { rt_shutdown(); }, nullptr, 3);
  rt_run();
  EXPECT_EQ(0u, ksi_nirpc_entry_count());
  EXPECT_EQ(NIRPC_NEW, nirpc_fetch(&c.req, K, 6, nullptr, 0, nullptr));
  ksi_nirpc_clear();
  ksi_nirpc_set_timers(nullptr);
}
