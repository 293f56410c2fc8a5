// Conversions between socket addresses and universal addresses, done
// locally (no binder involved).
#include "rpc/bind/uaddr.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rpc/bind/netconfig.h"

namespace {

// A port byte: 1 to 3 decimal digits, at most 255.
bool parse_port_byte(const char *text, size_t len, unsigned *out) {
  if (len == 0 || len > 3) return false;
  unsigned v = 0;
  for (size_t i = 0; i < len; i++) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (v > 255) return false;
  *out = v;
  return true;
}

}  // namespace

char *ksi_taddr2uaddr(const struct sockaddr *sa, uint32_t len) {
  if (sa == nullptr) return nullptr;
  char host[INET6_ADDRSTRLEN];
  unsigned port;
  if (sa->sa_family == AF_INET && len >= sizeof(sockaddr_in)) {
    sockaddr_in sin;
    memcpy(&sin, sa, sizeof sin);
    if (inet_ntop(AF_INET, &sin.sin_addr, host, sizeof host) == nullptr)
      return nullptr;
    port = ntohs(sin.sin_port);
  } else if (sa->sa_family == AF_INET6 && len >= sizeof(sockaddr_in6)) {
    sockaddr_in6 sin6;
    memcpy(&sin6, sa, sizeof sin6);
    if (inet_ntop(AF_INET6, &sin6.sin6_addr, host, sizeof host) == nullptr)
      return nullptr;
    port = ntohs(sin6.sin6_port);
  } else {
    return nullptr;
  }
  size_t size = strlen(host) + 9;
  char *out = static_cast<char *>(malloc(size));
  if (out != nullptr)
    snprintf(out, size, "%s.%u.%u", host, port >> 8, port & 0xFF);
  return out;
}

uint32_t ksi_uaddr2taddr(const struct netconfig *nconf, const char *uaddr,
                         struct sockaddr_storage *out) {
  ksi_sockparams params;
  if (uaddr == nullptr || !ksi_netconfig_sockparams(nconf, &params)) return 0;
  const char *low_dot = strrchr(uaddr, '.');
  if (low_dot == nullptr || low_dot == uaddr) return 0;
  const char *high_dot = low_dot - 1;
  while (high_dot > uaddr && *high_dot != '.') high_dot--;
  if (*high_dot != '.' || high_dot == uaddr) return 0;
  unsigned high, low;
  if (!parse_port_byte(high_dot + 1,
                       static_cast<size_t>(low_dot - high_dot - 1), &high) ||
      !parse_port_byte(low_dot + 1, strlen(low_dot + 1), &low))
    return 0;
  size_t host_len = static_cast<size_t>(high_dot - uaddr);
  char host[INET6_ADDRSTRLEN + 1];
  if (host_len >= sizeof host) return 0;
  memcpy(host, uaddr, host_len);
  host[host_len] = '\0';
  memset(out, 0, sizeof *out);
  uint16_t port = htons(static_cast<uint16_t>(high << 8 | low));
  if (params.family == AF_INET) {
    auto *sin = reinterpret_cast<sockaddr_in *>(out);
    if (inet_pton(AF_INET, host, &sin->sin_addr) != 1) return 0;
    sin->sin_family = AF_INET;
    sin->sin_port = port;
    return sizeof(sockaddr_in);
  }
  auto *sin6 = reinterpret_cast<sockaddr_in6 *>(out);
  if (inet_pton(AF_INET6, host, &sin6->sin6_addr) != 1) return 0;
  sin6->sin6_family = AF_INET6;
  sin6->sin6_port = port;
  return sizeof(sockaddr_in6);
}
