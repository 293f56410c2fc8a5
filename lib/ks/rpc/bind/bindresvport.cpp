// Binding sockets to ports of the dynamic range 49152-65535, taken in turn
// from one process-wide counter.
#include <orvexks/qmthread.h>
#include <orvexks/rpc/rpcb.h>

#include <netinet/in.h>
#include <orvexnt/nt_error.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "rpc/bind/netconfig.h"
#include "thread/qmthread_internal.h"

namespace {

constexpr uint32_t kFirstPort = 49152;
constexpr uint32_t kPortCount = 65536 - kFirstPort;
constexpr int kMaxAttempts = 16384;

qmthread_mutex_t port_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(port_mutex);
bool port_seeded = false;
uint32_t next_port;

uint16_t take_port() {
  qmthread_mutex_lock(&port_mutex);
  if (!port_seeded) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ticks =
        static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    next_port = kFirstPort + static_cast<uint32_t>(ticks & 0x3FFF);
    port_seeded = true;
  }
  uint32_t port = next_port;
  next_port = port == 65535 ? kFirstPort : port + 1;
  qmthread_mutex_unlock(&port_mutex);
  return static_cast<uint16_t>(port);
}

int fail_with(int wsa_error) {
  errno = wsa_error;
  return -1;
}

}  // namespace

extern "C" {

KS_API int ks_bindresvport_sa(int sd, struct sockaddr *sa,
                              const struct sockaddr *hint) {
  static_assert(kPortCount > 0);
  sockaddr_storage own;
  if (sa == nullptr) {
    ksi_sockparams params;
    if (!ksi_socket_params(sd, &params)) return fail_with(nt_errno2wsa(errno));
    memset(&own, 0, sizeof own);
    own.ss_family = static_cast<sa_family_t>(params.family);
    if (params.protocol == IPPROTO_UDP && hint != nullptr &&
        hint->sa_family == params.family) {
      if (params.family == AF_INET)
        reinterpret_cast<sockaddr_in *>(&own)->sin_addr =
            reinterpret_cast<const sockaddr_in *>(hint)->sin_addr;
      else if (params.family == AF_INET6)
        reinterpret_cast<sockaddr_in6 *>(&own)->sin6_addr =
            reinterpret_cast<const sockaddr_in6 *>(hint)->sin6_addr;
    }
    sa = reinterpret_cast<sockaddr *>(&own);
  }
  socklen_t len;
  if (sa->sa_family == AF_INET)
    len = sizeof(sockaddr_in);
  else if (sa->sa_family == AF_INET6)
    len = sizeof(sockaddr_in6);
  else
    return fail_with(nt_errno2wsa(EAFNOSUPPORT));
  int err = EADDRINUSE;
  for (int i = 0; i < kMaxAttempts; i++) {
    uint16_t port = htons(take_port());
    if (sa->sa_family == AF_INET)
      reinterpret_cast<sockaddr_in *>(sa)->sin_port = port;
    else
      reinterpret_cast<sockaddr_in6 *>(sa)->sin6_port = port;
    if (bind(sd, sa, len) == 0) return 0;
    err = errno;
    if (err != EADDRINUSE) break;
  }
  return fail_with(nt_errno2wsa(err));
}

KS_API int ks_bindresvport(int sd, struct sockaddr *sa) {
  return ks_bindresvport_sa(sd, sa, nullptr);
}

KS_API int ks_get_myaddress(struct sockaddr_in *addr) {
  memset(addr, 0, sizeof *addr);
  addr->sin_family = AF_INET;
  addr->sin_port = htons(PMAPPORT);
  addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return 0;
}

}  // extern "C"
