// Trace lines of the duplicate request cache. Each is written only when
// tracing of class "ks" reaches its level; callers hold a bucket lock.
#include "rpc/nirpc/nirpc_trace.h"

#include <orvexks/imsg.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_thread.h>

#include "msg/msg_out.h"

namespace {

constexpr const char *kClass = "ks";
constexpr int kOperations = 3;
constexpr int kStale = 2;
constexpr size_t kAddrText = 80;

unsigned long tid() { return nt_get_current_thread_id(); }

// imsg_print with a printf format instead of a table message.
template <typename... Args>
void trace(const char *format, Args... args) {
  imsg_print(IMSG_TRACE, format, -1, args...);
}

bool on(int level) { return ksi_trace_on(kClass, level); }

}  // namespace

void ksi_nirpc_trace_found(const void *entry, uint64_t key, uint32_t seq) {
  if (on(kOperations))
    trace("%lx found %p %I64x.%lu\n", tid(), entry,
          static_cast<unsigned long long>(key),
          static_cast<unsigned long>(seq));
}

void ksi_nirpc_trace_found_expired(const void *entry, uint64_t key) {
  if (on(kOperations))
    trace("%lx found/timeout %p %I64x\n", tid(), entry,
          static_cast<unsigned long long>(key));
}

void ksi_nirpc_trace_fetch_new(uint64_t key, uint32_t seq) {
  if (on(kOperations))
    trace("%lx fetch %I64x.%lu new\n", tid(),
          static_cast<unsigned long long>(key),
          static_cast<unsigned long>(seq));
}

void ksi_nirpc_trace_fetch(ksi_nirpc_fetch_kind kind, const void *entry,
                           uint64_t key, uint32_t seq, uint32_t cached) {
  static const char *const kFormats[] = {
      "%lx fetch %p %I64x.%lu new incr %lu\n",
      "%lx fetch %p %I64x.%lu new noreply %lu\n",
      "%lx fetch %p %I64x.%lu inprog %lu\n",
      "%lx fetch %p %I64x.%lu duplicate %lu\n"};
  if (on(kOperations))
    trace(kFormats[kind], tid(), entry, static_cast<unsigned long long>(key),
          static_cast<unsigned long>(seq), static_cast<unsigned long>(cached));
}

void ksi_nirpc_trace_stale(const struct sockaddr *caller, uint64_t key,
                           uint32_t seq, const struct sockaddr *cached_caller,
                           uint64_t cached_key, uint32_t cached) {
  if (on(kOperations))
    trace("%lx fetch %I64x.%lu stale %lu\n", tid(),
          static_cast<unsigned long long>(key), static_cast<unsigned long>(seq),
          static_cast<unsigned long>(cached));
  if (!on(kStale)) return;
  char text[kAddrText];
  trace("nirpc: stale RPC packet received: \n");
  trace("\t\t\t(caller, boot_time, xid)\n");
  trace("\tStale RPC req:%s %I64x %lu\n",
        sysutl_sockaddr_to_str(caller, sizeof text, text),
        static_cast<unsigned long long>(key), static_cast<unsigned long>(seq));
  trace("\tLast cached RPC:%s %I64x %lu\n",
        sysutl_sockaddr_to_str(cached_caller, sizeof text, text),
        static_cast<unsigned long long>(cached_key),
        static_cast<unsigned long>(cached));
}

void ksi_nirpc_trace_save_replace(const void *entry, uint64_t key, uint32_t seq,
                                  uint32_t cached) {
  if (on(kOperations))
    trace("%lx save %p %I64x.%lu replace %lu\n", tid(), entry,
          static_cast<unsigned long long>(key), static_cast<unsigned long>(seq),
          static_cast<unsigned long>(cached));
}

void ksi_nirpc_trace_save_new(uint64_t key, uint32_t seq) {
  if (on(kOperations))
    trace("%lx save %I64x.%lu brand new\n", tid(),
          static_cast<unsigned long long>(key),
          static_cast<unsigned long>(seq));
}

void ksi_nirpc_trace_finish(const void *entry, uint64_t key, uint32_t seq,
                            bool was_running) {
  if (on(kOperations))
    trace("%lx finish %p %I64x.%lu from %lu\n", tid(), entry,
          static_cast<unsigned long long>(key), static_cast<unsigned long>(seq),
          static_cast<unsigned long>(was_running ? 1 : 0));
}

void ksi_nirpc_trace_finish_missing(uint64_t key, uint32_t seq) {
  if (on(kOperations))
    trace("%lx finish %I64x.%lu not found\n", tid(),
          static_cast<unsigned long long>(key),
          static_cast<unsigned long>(seq));
}
