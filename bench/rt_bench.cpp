// The event loop against libevent and against a plain select loop, in the
// same run: adding timers and firing them, and dispatching ready
// descriptors to their handlers. After the usual table, a summary prints
// each ratio (library time / peer time).
#include <benchmark/benchmark.h>

#include "ratio_report.h"

#include <event2/event.h>
#include <event2/event_struct.h>
#include <orvexks/ks_product.h>
#include <orvexks/rt.h>

#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <vector>

namespace {

constexpr int kTimers = 1000;
constexpr int kSockets = 100;

long fired;

void count(void *) { ++fired; }
void count_fd(int, void *) { ++fired; }
void count_ev(evutil_socket_t, short, void *) { ++fired; }

// ---- Timers: kTimers due now, added and fired per iteration.

void BM_RtTimersAddFire(benchmark::State &state) {
  ks_system_init();
  for (auto _ : state) {
    fired = 0;
    for (int i = 0; i < kTimers; ++i) rt_sched(count, nullptr, 0);
    rt_sched([](void *) { rt_shutdown(); }, nullptr, 0);
    rt_run();
    if (fired != kTimers) state.SkipWithError("a timer did not fire");
  }
  state.SetItemsProcessed(state.iterations() * kTimers);
}

void BM_LibeventTimersAddFire(benchmark::State &state) {
  event_base *base = event_base_new();
  std::vector<event> events(kTimers);
  timeval now = {0, 0};
  for (auto _ : state) {
    fired = 0;
    for (event &ev : events) {
      evtimer_assign(&ev, base, count_ev, nullptr);
      evtimer_add(&ev, &now);
    }
    event_base_dispatch(base);  // returns once no event is pending
    if (fired != kTimers) state.SkipWithError("a timer did not fire");
  }
  event_base_free(base);
  state.SetItemsProcessed(state.iterations() * kTimers);
}

// What a program without a library writes: due times in an ordered map,
// a select for the wait, the overdue ones fired in order.
void BM_PlainSelectTimersAddFire(benchmark::State &state) {
  std::multimap<int64_t, void (*)(void *)> queue;
  for (auto _ : state) {
    fired = 0;
    timeval now;
    for (int i = 0; i < kTimers; ++i) {
      gettimeofday(&now, nullptr);
      queue.emplace(now.tv_sec * 1000000LL + now.tv_usec, count);
    }
    while (!queue.empty()) {
      gettimeofday(&now, nullptr);
      int64_t t = now.tv_sec * 1000000LL + now.tv_usec;
      auto head = queue.begin();
      if (head->first < t) {
        auto callback = head->second;
        queue.erase(head);
        callback(nullptr);
        continue;
      }
      timeval wait = {0, static_cast<suseconds_t>(head->first - t)};
      select(0, nullptr, nullptr, nullptr, &wait);
    }
    if (fired != kTimers) state.SkipWithError("a timer did not fire");
  }
  state.SetItemsProcessed(state.iterations() * kTimers);
}

// ---- Descriptors: kSockets always readable, one dispatch pass each.

struct ready_sockets {
  std::vector<int> in, out;
  ready_sockets() {
    for (int i = 0; i < kSockets; ++i) {
      int fds[2];
      if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) continue;
      if (write(fds[1], "x", 1) != 1) continue;
      in.push_back(fds[0]);
      out.push_back(fds[1]);
    }
  }
  ~ready_sockets() {
    for (int fd : in) close(fd);
    for (int fd : out) close(fd);
  }
};

void BM_RtReadyDispatch(benchmark::State &state) {
  ks_system_init();
  ready_sockets s;
  for (int fd : s.in) rt_handle_fd(RT_FD_READ, count_fd, fd, nullptr);
  for (auto _ : state) {
    fired = 0;
    rt_poll();
    if (fired != kSockets) state.SkipWithError("a handler was not called");
  }
  for (int fd : s.in) rt_unhandle_fd(RT_FD_READ, fd);
  state.SetItemsProcessed(state.iterations() * kSockets);
}

void BM_LibeventReadyDispatch(benchmark::State &state) {
  event_base *base = event_base_new();
  ready_sockets s;
  std::vector<event *> events;
  for (int fd : s.in) {
    events.push_back(
        event_new(base, fd, EV_READ | EV_PERSIST, count_ev, nullptr));
    event_add(events.back(), nullptr);
  }
  // Its epoll backend starts with room for 32 ready events and doubles it
  // each time a wait fills it: grown before timing.
  for (int i = 0; i < 4; ++i)
    event_base_loop(base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
  for (auto _ : state) {
    fired = 0;
    event_base_loop(base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
    if (fired != kSockets) state.SkipWithError("a handler was not called");
  }
  for (event *ev : events) event_free(ev);
  event_base_free(base);
  state.SetItemsProcessed(state.iterations() * kSockets);
}

void BM_PlainSelectReadyDispatch(benchmark::State &state) {
  ready_sockets s;
  struct handler {
    int fd;
    void (*callback)(int, void *);
  };
  std::vector<handler> handlers;
  for (int fd : s.in) handlers.push_back({fd, count_fd});
  for (auto _ : state) {
    fired = 0;
    fd_set read;
    FD_ZERO(&read);
    int nfds = 0;
    for (const handler &h : handlers) {
      FD_SET(h.fd, &read);
      if (h.fd >= nfds) nfds = h.fd + 1;
    }
    timeval zero = {0, 0};
    select(nfds, &read, nullptr, nullptr, &zero);
    for (const handler &h : handlers)
      if (FD_ISSET(h.fd, &read)) h.callback(h.fd, nullptr);
    if (fired != kSockets) state.SkipWithError("a handler was not called");
  }
  state.SetItemsProcessed(state.iterations() * kSockets);
}

BENCHMARK(BM_RtTimersAddFire);
BENCHMARK(BM_LibeventTimersAddFire);
BENCHMARK(BM_PlainSelectTimersAddFire);
BENCHMARK(BM_RtReadyDispatch);
BENCHMARK(BM_LibeventReadyDispatch);
BENCHMARK(BM_PlainSelectReadyDispatch);

}  // namespace

int main(int argc, char **argv) {
  return run_with_ratios(
      argc, argv,
      {{"BM_RtTimersAddFire", "BM_LibeventTimersAddFire"},
       {"BM_RtTimersAddFire", "BM_PlainSelectTimersAddFire"},
       {"BM_RtReadyDispatch", "BM_LibeventReadyDispatch"},
       {"BM_RtReadyDispatch", "BM_PlainSelectReadyDispatch"}});
}
