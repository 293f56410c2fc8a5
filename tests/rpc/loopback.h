// Loopback addresses and readiness for the RPC tests' hand-written peers
// and clients.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdint>

// A loopback address of the family (AF_INET or AF_INET6) and port, with
// its length.
struct loopback_addr {
  sockaddr_storage ss{};
  socklen_t len = 0;
  sockaddr *sa() { return reinterpret_cast<sockaddr *>(&ss); }
  uint16_t port() const {
    return ntohs(ss.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6 *>(&ss)->sin6_port
                     : reinterpret_cast<const sockaddr_in *>(&ss)->sin_port);
  }
};

inline loopback_addr loopback(int family, uint16_t port) {
  loopback_addr a;
  if (family == AF_INET) {
    auto *sin = reinterpret_cast<sockaddr_in *>(&a.ss);
    sin->sin_family = AF_INET;
    sin->sin_port = htons(port);
    sin->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.len = sizeof *sin;
  } else {
    auto *sin6 = reinterpret_cast<sockaddr_in6 *>(&a.ss);
    sin6->sin6_family = AF_INET6;
    sin6->sin6_port = htons(port);
    sin6->sin6_addr = in6addr_loopback;
    a.len = sizeof *sin6;
  }
  return a;
}

// The loopback address of a built-in netid's family ("udp6", "tcp": the
// netids of IPv6 end in 6).
inline loopback_addr loopback(const char *netid, uint16_t port) {
  const char *end = netid;
  while (*end != '\0') ++end;
  return loopback(end > netid && end[-1] == '6' ? AF_INET6 : AF_INET, port);
}

// Waits up to ms for fd to become readable.
inline bool wait_readable(int fd, int ms) {
  struct pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, ms) == 1;
}
