// The address-based creation functions (IPv4, and IPv4 or IPv6 by socket
// address) and the metering hooks that observe the clients they make.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <orvexnt/nt_error.h>

#include <cerrno>
#include <cstring>

#include "rpc/bind/netconfig.h"
#include "rpc/clnt/clnt_internal.h"
#include "thread/qmthread_internal.h"

namespace {

constexpr int kMaxConnectAttempts = 1024;
constexpr uint32_t kUdpSize = 8800;

// Covers transport lookup and socket setup; released around the port
// mapper query.
qmthread_mutex_t rpc_socket_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
// Held across connects: the forking thread does not wait for it.
ksi_fork_guarded rpc_socket_mutex_fork_guarded(&rpc_socket_mutex, false);

qmthread_mutex_t hook_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(hook_mutex);
ks_client_metering_hook_t tcp_hook;
ks_client_metering_hook_t udp_hook;

void run_hook(bool tcp, uint32_t prog, uint32_t vers, CLIENT *cl) {
  qmthread_mutex_lock(&hook_mutex);
  ks_client_metering_hook_t hook = tcp ? tcp_hook : udp_hook;
  qmthread_mutex_unlock(&hook_mutex);
  if (hook != nullptr) hook(prog, vers, cl);
}

// Binds and connects a socket the library opened, retrying with a fresh
// socket while the local port turns out to be in use; -1 with the
// creation error set on failure.
int connect_created(int fd, const struct sockaddr_in *raddr) {
  for (int attempt = 0; attempt < kMaxConnectAttempts; attempt++) {
    if (ks_bindresvport(fd, nullptr) != 0) {
      ksi_set_createerr(RPC_SYSTEMERROR, errno);
      close(fd);
      return -1;
    }
    if (ksi_connect(fd, reinterpret_cast<const sockaddr *>(raddr),
                    sizeof *raddr) == 0)
      return fd;
    int err = errno;
    close(fd);
    if (err != EADDRINUSE) {
      ksi_set_createerr(RPC_SYSTEMERROR, nt_errno2wsa(err));
      return -1;
    }
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
      ksi_set_createerr(RPC_SYSTEMERROR, ksi_sock_error());
      return -1;
    }
  }
  close(fd);
  ksi_set_createerr(RPC_SYSTEMERROR, nt_errno2wsa(EADDRINUSE));
  return -1;
}

CLIENT *create_inet(bool tcp, struct sockaddr_in *raddr, uint32_t prog,
                    uint32_t vers, const struct timeval *wait, int *sockp,
                    uint32_t sendsz, uint32_t recvsz) {
  qmthread_mutex_lock(&rpc_socket_mutex);
  const struct netconfig *nconf = rpc_getconfip(tcp ? "tcp" : "udp");
  if (nconf == nullptr) {
    qmthread_mutex_unlock(&rpc_socket_mutex);
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return nullptr;
  }
  int fd = *sockp;
  bool created = fd == -1;
  if (created) {
    fd = socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                tcp ? IPPROTO_TCP : IPPROTO_UDP);
    if (fd < 0) {
      qmthread_mutex_unlock(&rpc_socket_mutex);
      ksi_set_createerr(RPC_SYSTEMERROR, ksi_sock_error());
      return nullptr;
    }
  }
  if (raddr->sin_port == 0) {
    qmthread_mutex_unlock(&rpc_socket_mutex);
    uint16_t port =
        ks_pmap_getport(raddr, prog, vers, tcp ? IPPROTO_TCP : IPPROTO_UDP);
    if (port == 0) {
      if (created) close(fd);
      return nullptr;
    }
    raddr->sin_port = htons(port);
    qmthread_mutex_lock(&rpc_socket_mutex);
  }
  if (!created || !tcp) {
    // A socket of the caller's may already be bound: that is no failure.
    (void)ks_bindresvport(fd, nullptr);
  } else if ((fd = connect_created(fd, raddr)) < 0) {
    qmthread_mutex_unlock(&rpc_socket_mutex);
    return nullptr;
  }
  struct netbuf nb = {sizeof *raddr, sizeof *raddr, raddr};
  CLIENT *cl = ks_clnt_tli_create(fd, nconf, &nb, prog, vers, sendsz, recvsz);
  qmthread_mutex_unlock(&rpc_socket_mutex);
  if (cl == nullptr) {
    if (created) close(fd);
    return nullptr;
  }
  if (created) {
    KS_CLNT_CONTROL(cl, CLSET_FD_CLOSE, nullptr);
    *sockp = fd;
  }
  if (!tcp)
    KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT,
                    const_cast<struct timeval *>(wait));
  run_hook(tcp, prog, vers, cl);
  return cl;
}

CLIENT *create_inet6(bool tcp, struct sockaddr_in6 *raddr, uint32_t prog,
                     uint32_t vers, const struct timeval *wait, int *sockp,
                     uint32_t sendsz, uint32_t recvsz) {
  if (raddr->sin6_port == 0) {
    ksi_set_createerr(RPC_SYSTEMERROR, EINVAL);
    return nullptr;
  }
  int fd = *sockp;
  bool created = fd == -1;
  if (created) {
    fd = socket(AF_INET6, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                tcp ? IPPROTO_TCP : IPPROTO_UDP);
    if (fd < 0) {
      ksi_set_createerr(RPC_SYSTEMERROR, ksi_sock_error());
      return nullptr;
    }
  }
  (void)ks_bindresvport(fd, nullptr);
  struct netbuf nb = {sizeof *raddr, sizeof *raddr, raddr};
  CLIENT *cl = tcp ? ks_clnt_vc_create(fd, &nb, prog, vers, sendsz, recvsz)
                   : ks_clnt_dg_create(fd, &nb, prog, vers, kUdpSize, kUdpSize);
  if (cl == nullptr) {
    if (created) close(fd);
    return nullptr;
  }
  const struct netconfig *nconf = rpc_getconfip(tcp ? "tcp" : "udp");
  ksi_clnt_set_text(&cl->cl_netid, nconf->nc_netid);
  ksi_clnt_set_text(&cl->cl_tp, nconf->nc_device);
  if (tcp) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  } else {
    KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT,
                    const_cast<struct timeval *>(wait));
  }
  if (created) {
    KS_CLNT_CONTROL(cl, CLSET_FD_CLOSE, nullptr);
    *sockp = fd;
  }
  run_hook(tcp, prog, vers, cl);
  return cl;
}

CLIENT *create_sockaddr(bool tcp, struct sockaddr *raddr, uint32_t prog,
                        uint32_t vers, const struct timeval *wait, int *sockp,
                        uint32_t sendsz, uint32_t recvsz) {
  if (raddr != nullptr && raddr->sa_family == AF_INET)
    return create_inet(tcp, reinterpret_cast<sockaddr_in *>(raddr), prog, vers,
                       wait, sockp, tcp ? sendsz : kUdpSize,
                       tcp ? recvsz : kUdpSize);
  if (raddr != nullptr && raddr->sa_family == AF_INET6)
    return create_inet6(tcp, reinterpret_cast<sockaddr_in6 *>(raddr), prog,
                        vers, wait, sockp, sendsz, recvsz);
  ksi_set_createerr(RPC_UNKNOWNADDR, 0);
  return nullptr;
}

}  // namespace

extern "C" {

KS_API CLIENT *ks_clnttcp_create(struct sockaddr_in *raddr, uint32_t prog,
                                 uint32_t vers, int *sockp, uint32_t sendsz,
                                 uint32_t recvsz) {
  return create_inet(true, raddr, prog, vers, nullptr, sockp, sendsz, recvsz);
}

KS_API CLIENT *ks_clntudp_bufcreate(struct sockaddr_in *raddr, uint32_t prog,
                                    uint32_t vers, struct timeval wait,
                                    int *sockp, uint32_t sendsz,
                                    uint32_t recvsz) {
  return create_inet(false, raddr, prog, vers, &wait, sockp, sendsz, recvsz);
}

KS_API CLIENT *ks_clntudp_create(struct sockaddr_in *raddr, uint32_t prog,
                                 uint32_t vers, struct timeval wait,
                                 int *sockp) {
  return ks_clntudp_bufcreate(raddr, prog, vers, wait, sockp, kUdpSize,
                              kUdpSize);
}

KS_API CLIENT *ks_clnttcp_create_sockaddr(struct sockaddr *raddr, uint32_t prog,
                                          uint32_t vers, int *sockp,
                                          uint32_t sendsz, uint32_t recvsz) {
  return create_sockaddr(true, raddr, prog, vers, nullptr, sockp, sendsz,
                         recvsz);
}

KS_API CLIENT *ks_clntudp_create_sockaddr(struct sockaddr *raddr, uint32_t prog,
                                          uint32_t vers, struct timeval wait,
                                          int *sockp) {
  return create_sockaddr(false, raddr, prog, vers, &wait, sockp, kUdpSize,
                         kUdpSize);
}

KS_API CLIENT *sysutl_clnttcp_create(struct sockaddr *raddr, uint32_t prog,
                                     uint32_t vers, int *sockp, uint32_t sendsz,
                                     uint32_t recvsz) {
  return ks_clnttcp_create_sockaddr(raddr, prog, vers, sockp, sendsz, recvsz);
}

KS_API CLIENT *sysutl_clnttcp_create_ext(struct sockaddr *raddr, uint32_t prog,
                                         uint32_t vers, int *sockp,
                                         uint32_t sendsz, uint32_t recvsz) {
  return ks_clnttcp_create_sockaddr(raddr, prog, vers, sockp, sendsz, recvsz);
}

KS_API CLIENT *sysutl_clntudp_create(struct sockaddr *raddr, uint32_t prog,
                                     uint32_t vers, struct timeval wait,
                                     int *sockp) {
  return ks_clntudp_create_sockaddr(raddr, prog, vers, wait, sockp);
}

KS_API void ks_client_metering_enable(ks_client_metering_hook_t tcp,
                                      ks_client_metering_hook_t udp) {
  qmthread_mutex_lock(&hook_mutex);
  tcp_hook = tcp;
  udp_hook = udp;
  qmthread_mutex_unlock(&hook_mutex);
}

KS_API void ks_client_metering_disable(void) {
  ks_client_metering_enable(nullptr, nullptr);
}

}  // extern "C"
