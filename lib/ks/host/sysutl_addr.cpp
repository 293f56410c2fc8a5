// Socket addresses of both IP versions: texts, sizes, ports, comparisons,
// wildcard and loopback values, IPv4-mapped forms and the library's own
// address family codes.
#include <orvexks/sysutl.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr socklen_t kSizeV4 = sizeof(struct sockaddr_in);
constexpr socklen_t kSizeV6 = sizeof(struct sockaddr_in6);
const char kUnresolvableAddress[] = "<unresolvable address>";

// Bytes 0..9 zero, 10 and 11 0xff: the prefix of an IPv4-mapped address.
constexpr unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0,    0,
                                             0, 0, 0, 0, 0xff, 0xff};

const struct sockaddr_in *v4(const struct sockaddr *sa) {
  return reinterpret_cast<const struct sockaddr_in *>(sa);
}
const struct sockaddr_in6 *v6(const struct sockaddr *sa) {
  return reinterpret_cast<const struct sockaddr_in6 *>(sa);
}
struct sockaddr_in *v4(struct sockaddr *sa) {
  return reinterpret_cast<struct sockaddr_in *>(sa);
}
struct sockaddr_in6 *v6(struct sockaddr *sa) {
  return reinterpret_cast<struct sockaddr_in6 *>(sa);
}

char *unresolvable(size_t size, char *out) {
  if (size > 0) snprintf(out, size, "%s", kUnresolvableAddress);
  return out;
}

}  // namespace

extern "C" {

char *sysutl_sockaddr_to_str(const struct sockaddr *sa, size_t size,
                             char *out) {
  char host[NI_MAXHOST];
  char port[NI_MAXSERV];
  if (sa == nullptr ||
      sysutl_host_numeric(sa, sizeof host, host, sizeof port, port) != 0)
    return unresolvable(size, out);
  if (size > 0) snprintf(out, size, "[%s]:%s", host, port);
  return out;
}

char *sysutl_netbuf_to_str(const struct netbuf *nb, size_t size, char *out) {
  if (nb == nullptr) return unresolvable(size, out);
  return sysutl_sockaddr_to_str(static_cast<const struct sockaddr *>(nb->buf),
                                size, out);
}

int sysutl_sockaddr_size(const struct sockaddr *sa) {
  switch (sa->sa_family) {
    case AF_INET:
      return kSizeV4;
    case AF_INET6:
      return kSizeV6;
    default:
      return 0;
  }
}

int sysutl_sockaddr_set_port(struct sockaddr *sa, uint16_t port) {
  switch (sa->sa_family) {
    case AF_INET:
      v4(sa)->sin_port = port;
      return 0;
    case AF_INET6:
      v6(sa)->sin6_port = port;
      return 0;
    default:
      return 1;
  }
}

int sysutl_sockaddr_get_port(const struct sockaddr *sa, uint16_t *port_out) {
  switch (sa->sa_family) {
    case AF_INET:
      *port_out = v4(sa)->sin_port;
      return 0;
    case AF_INET6:
      *port_out = v6(sa)->sin6_port;
      return 0;
    default:
      return 1;
  }
}

int sysutl_copy_sockaddr(struct sockaddr *dst, const struct sockaddr *src) {
  int size = sysutl_sockaddr_size(src);
  if (size == 0) return 1;
  memcpy(dst, src, static_cast<size_t>(size));
  return 0;
}

int sysutl_sockaddr_equal(const struct sockaddr *a, const struct sockaddr *b) {
  if (a->sa_family != b->sa_family) return 0;
  int size = sysutl_sockaddr_size(a);
  return size != 0 && memcmp(a, b, static_cast<size_t>(size)) == 0 ? 1 : 0;
}

int sysutl_sockaddr_host_equal(const struct sockaddr *a,
                               const struct sockaddr *b) {
  if (a->sa_family != b->sa_family) return 0;
  switch (a->sa_family) {
    case AF_INET:
      return v4(a)->sin_addr.s_addr == v4(b)->sin_addr.s_addr ? 1 : 0;
    case AF_INET6:
      return memcmp(&v6(a)->sin6_addr, &v6(b)->sin6_addr, 16) == 0 ? 1 : 0;
    default:
      return 0;
  }
}

int sysutl_sockaddr_any_init(int family, struct sockaddr *sa) {
  switch (family) {
    case AF_INET:
      memset(sa, 0, kSizeV4);
      v4(sa)->sin_family = AF_INET;
      v4(sa)->sin_addr.s_addr = htonl(INADDR_ANY);
      return 0;
    case AF_INET6:
      memset(sa, 0, kSizeV6);
      v6(sa)->sin6_family = AF_INET6;
      v6(sa)->sin6_addr = in6addr_any;
      return 0;
    default:
      return 1;
  }
}

int sysutl_sockaddr_loopback_init(int family, struct sockaddr *sa) {
  if (sysutl_sockaddr_any_init(family, sa) != 0) return 1;
  if (family == AF_INET)
    v4(sa)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  else
    v6(sa)->sin6_addr = in6addr_loopback;
  return 0;
}

int sysutl_is_addr_v4mapped(const struct sockaddr *sa) {
  if (sa->sa_family != AF_INET6) return 0;
  return memcmp(v6(sa)->sin6_addr.s6_addr, kMappedPrefix,
                sizeof kMappedPrefix) == 0;
}

int sysutl_get_v4mapped_addr(const struct sockaddr *sa6, struct in_addr *out4) {
  if (sa6->sa_family != AF_INET6) return 1;
  memcpy(out4, v6(sa6)->sin6_addr.s6_addr + 12, 4);
  return 0;
}

int sysutl_set_ipv4_as_ipv6mapped(const struct sockaddr *sa4,
                                  struct sockaddr *sa6) {
  if (sa4->sa_family != AF_INET) return 1;
  struct in_addr addr =
      v4(sa4)->sin_addr;  // before sa6 is written: they may overlap
  struct sockaddr_in6 *out = v6(sa6);
  memcpy(out->sin6_addr.s6_addr, kMappedPrefix, sizeof kMappedPrefix);
  memcpy(out->sin6_addr.s6_addr + 12, &addr, 4);
  out->sin6_family = AF_INET6;
  return 0;
}

int sysutl_sa_family_to_ks_addrfamily(int af) {
  switch (af) {
    case AF_INET:
      return SYSUTL_KS_AF_INET;
    case AF_INET6:
      return SYSUTL_KS_AF_INET6;
    default:
      return SYSUTL_KS_AF_UNSPEC;
  }
}

int sysutl_ks_addrfamily_to_sa_family(int ks_family) {
  switch (ks_family) {
    case SYSUTL_KS_AF_INET:
      return AF_INET;
    case SYSUTL_KS_AF_INET6:
      return AF_INET6;
    default:
      return AF_UNSPEC;
  }
}

}  // extern "C"
