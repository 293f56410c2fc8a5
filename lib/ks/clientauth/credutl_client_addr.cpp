// Where an RPC request came from. A credential names its host in words
// that the caller chooses; the transport's caller address is what the
// network says, so a request that names this host but comes from another
// address is taken as coming from another host.
#include <orvexks/rpc/svc.h>
#include <orvexks/sysutl.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include "clientauth/credutl_client_internal.h"

namespace {

bool is_loopback(const struct sockaddr *sa) {
  if (sa->sa_family == AF_INET) {
    const auto *sin = reinterpret_cast<const sockaddr_in *>(sa);
    return (ntohl(sin->sin_addr.s_addr) >> 24) == 127;
  }
  if (sa->sa_family == AF_INET6) {
    const in6_addr &a = reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&a) ||
           (IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127);
  }
  return false;
}

bool is_interface_address(const struct sockaddr *sa) {
  struct ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (const ifaddrs *i = list; i != nullptr && !found; i = i->ifa_next)
    found = i->ifa_addr != nullptr &&
            sysutl_sockaddr_host_equal(sa, i->ifa_addr) != 0;
  freeifaddrs(list);
  return found;
}

}  // namespace

bool ksi_request_from_this_host(const struct svc_req *req) {
  if (req == nullptr || req->rq_xprt == nullptr) return true;
  const struct netbuf &from = req->rq_xprt->xp_rtaddr;
  if (from.buf == nullptr || from.len < sizeof(struct sockaddr_in)) return true;
  const auto *sa = static_cast<const struct sockaddr *>(from.buf);
  if (sa->sa_family != AF_INET && sa->sa_family != AF_INET6) return true;
  if (sa->sa_family == AF_INET6 && from.len < sizeof(struct sockaddr_in6))
    return false;
  return is_loopback(sa) || is_interface_address(sa);
}
