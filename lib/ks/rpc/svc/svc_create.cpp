// Creating server transports from a transport description or a socket:
// open and bind the socket as needed, make stream sockets listen, and pick
// the transport kind from the socket's type and whether it has a peer; the
// address-based creators bind IPv4 sockets to a dynamic port first.
#include <orvexks/rpc/rpcb.h>
#include <orvexnt/nt_error.h>

#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rpc/bind/netconfig.h"
#include "rpc/svc/svc_internal.h"

namespace {

constexpr int kMaxBacklog = 0x7fffffff;

// Makes a stream socket listen. A socket that is already listening is
// accepted as it is.
bool make_listen(int fd, int backlog, const char *who) {
  if (listen(fd, backlog) == 0) return true;
  if (errno != EINVAL) {
    fprintf(stderr, "%s: cannot listen (%d)\n", who, nt_errno2wsa(errno));
    return false;
  }
  int on = 0;
  socklen_t len = sizeof on;
  if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &on, &len) != 0) {
    fprintf(stderr, "%s: cannot getsockopt (%d)\n", who, nt_errno2wsa(errno));
    return false;
  }
  if (!on)
    fprintf(stderr, "%s: cannot listen and not already listening\n", who);
  return on != 0;
}

// The socket's local port (host order), 0 when unbound or unknown.
uint16_t local_port(int fd) {
  struct sockaddr_storage ss = {};
  socklen_t len = sizeof ss;
  if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&ss), &len) != 0)
    return 0;
  if (ss.ss_family == AF_INET)
    return ntohs(reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
  if (ss.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_port);
  return 0;
}

bool has_peer(int fd) {
  struct sockaddr_storage ss;
  socklen_t len = sizeof ss;
  return getpeername(fd, reinterpret_cast<struct sockaddr *>(&ss), &len) == 0;
}

// Binds to a dynamic port, else to any port of the family.
bool bind_anonymous(int fd, int family) {
  if (ks_bindresvport(fd, nullptr) == 0) return true;
  struct sockaddr_storage any = {};
  any.ss_family = static_cast<sa_family_t>(family);
  socklen_t len =
      family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  return bind(fd, reinterpret_cast<struct sockaddr *>(&any), len) == 0;
}

SVCXPRT *tli_failed(const char *text, int opened_fd) {
  if (text != nullptr) ksi_svc_report(text);
  if (opened_fd >= 0) close(opened_fd);
  return nullptr;
}

// The address-based creators: an IPv4 "udp" or "tcp" transport.
SVCXPRT *com_create(int fd, uint32_t sendsz, uint32_t recvsz,
                    const char *proto) {
  const struct netconfig *nconf = rpc_getconfip(proto);
  if (nconf == nullptr) {
    fprintf(stderr, "Could not get %s transport\n", proto);
    return nullptr;
  }
  int opened = -1;
  if (fd < 0) {
    ksi_sockparams params;
    if (ksi_netconfig_sockparams(nconf, &params))
      opened = fd = socket(params.family, params.type, params.protocol);
    if (fd < 0) {
      fprintf(stderr, "svc%s_create: could not open connection\n", proto);
      return nullptr;
    }
  }
  if (local_port(fd) == 0) {
    struct sockaddr_in any = {};
    any.sin_family = AF_INET;
    ks_bindresvport(fd, reinterpret_cast<struct sockaddr *>(&any));
  }
  // A caller's socket bound to its own port listens too: the transport
  // below leaves bound sockets as they are.
  if (strcmp(proto, "tcp") == 0 &&
      !make_listen(fd, kMaxBacklog, "ks_svc_com_create"))
    return tli_failed(nullptr, opened);
  SVCXPRT *xprt = ks_svc_tli_create(fd, nconf, nullptr, sendsz, recvsz);
  if (xprt == nullptr) return tli_failed(nullptr, opened);
  xprt->xp_port = local_port(fd);
  return xprt;
}

}  // namespace

extern "C" {

KS_API SVCXPRT *ks_svc_tli_create(int fd, const struct netconfig *nconf,
                                  const struct t_bind *bindaddr,
                                  uint32_t sendsz, uint32_t recvsz) {
  int opened = -1;
  ksi_sockparams params;
  bool bound = false;
  if (fd >= 0) {
    if (!ksi_socket_params(fd, &params))
      return tli_failed(
          "ks_svc_tli_create: could not get transport information", -1);
    bound = local_port(fd) != 0;
  } else {
    if (nconf == nullptr)
      return tli_failed("ks_svc_tli_create: invalid netconfig", -1);
    // A netid without socket parameters cannot be opened either.
    if (ksi_netconfig_sockparams(nconf, &params))
      opened = fd = socket(params.family, params.type, params.protocol);
    if (fd < 0) {
      fprintf(stderr, "ks_svc_tli_create: could not open connection for %s\n",
              nconf->nc_netid != nullptr ? nconf->nc_netid : "");
      return nullptr;
    }
  }
  bool stream = params.type == SOCK_STREAM;
  if (!bound) {
    if (bindaddr != nullptr) {
      if (bind(fd, static_cast<struct sockaddr *>(bindaddr->addr.buf),
               bindaddr->addr.len) != 0)
        return tli_failed(
            "ks_svc_tli_create: could not bind to requested address", opened);
    } else if (!bind_anonymous(fd, params.family)) {
      return tli_failed("ks_svc_tli_create: could not bind to anonymous port",
                        opened);
    }
    int backlog =
        bindaddr != nullptr ? static_cast<int>(bindaddr->qlen) : kMaxBacklog;
    if (stream && !make_listen(fd, backlog, "ks_svc_tli_create"))
      return tli_failed(nullptr, opened);
  }
  // The names first, so that nothing is left to undo once the transport
  // exists.
  char *netid = nullptr, *device = nullptr;
  if (nconf != nullptr) {
    netid = nconf->nc_netid != nullptr ? strdup(nconf->nc_netid) : nullptr;
    device = nconf->nc_device != nullptr ? strdup(nconf->nc_device) : nullptr;
    if ((nconf->nc_netid != nullptr && netid == nullptr) ||
        (nconf->nc_device != nullptr && device == nullptr)) {
      free(netid);
      free(device);
      return tli_failed("ks_svc_tli_create: out of memory", opened);
    }
  }
  SVCXPRT *xprt = nullptr;
  if (stream)
    xprt = has_peer(fd) ? ks_svc_fd_create(fd, sendsz, recvsz)
                        : ks_svc_vc_create(fd, sendsz, recvsz);
  else if (params.type == SOCK_DGRAM)
    xprt = ks_svc_dg_create(fd, sendsz, recvsz);
  else
    ksi_svc_report("ks_svc_tli_create: bad service type");
  if (xprt == nullptr) {
    free(netid);
    free(device);
    return tli_failed(nullptr, opened);
  }
  xprt->xp_type = stream ? 3 : 1;
  if (nconf != nullptr) {
    free(xprt->xp_netid);
    free(xprt->xp_tp);
    xprt->xp_netid = netid;
    xprt->xp_tp = device;
  }
  return xprt;
}

KS_API SVCXPRT *ks_svcudp_bufcreate(int fd, uint32_t sendsz, uint32_t recvsz) {
  return com_create(fd, sendsz, recvsz, "udp");
}

KS_API SVCXPRT *ks_svcudp_create(int fd) {
  return ks_svcudp_bufcreate(fd, 8800, 8800);
}

KS_API SVCXPRT *ks_svctcp_create(int fd, uint32_t sendsz, uint32_t recvsz) {
  return com_create(fd, sendsz, recvsz, "tcp");
}

}  // extern "C"
