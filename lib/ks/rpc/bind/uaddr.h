// Universal addresses (RFC 1833): "host.p1.p2", the numeric host text
// followed by the port's high and low byte in decimal.
#pragma once

#include <orvexks/rpc/rpcb.h>

#include <sys/socket.h>

// The universal address of an IPv4 or IPv6 socket address (malloc), or
// null for any other family or too short an address.
char *ksi_taddr2uaddr(const struct sockaddr *sa, uint32_t len);
// Parses a universal address of the description's family into out; the
// address's length, or 0 when the text does not parse.
uint32_t ksi_uaddr2taddr(const struct netconfig *nconf, const char *uaddr,
                         struct sockaddr_storage *out);
