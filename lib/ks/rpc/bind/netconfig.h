// Transport descriptions: the built-in table, network types, NETPATH, and
// what a description or an open socket says about family, type and
// protocol.
#pragma once

#include <orvexks/rpc/rpcb.h>

#include <sys/socket.h>

// The built-in description of netid, or null when there is none.
const struct netconfig *ksi_netconfig_lookup(const char *netid);

// A walk over the transports a network type selects (rpc_setconf, ...).
// Null from rpc_setconf for an unknown type; rpc_getconf gives the next
// description or null at the end; rpc_endconf frees the walk.
void *rpc_setconf(const char *nettype);
const struct netconfig *rpc_getconf(void *walk);
void rpc_endconf(void *walk);
// The IPv4 description of "tcp" or "udp", null for anything else.
const struct netconfig *rpc_getconfip(const char *proto);

// Socket parameters of a description's family and protocol; false when
// the description names no IPv4 or IPv6 transport.
struct ksi_sockparams {
  int family;
  int type;
  int protocol;
};
bool ksi_netconfig_sockparams(const struct netconfig *nconf,
                              ksi_sockparams *out);
// Family, type and protocol of an open socket (a stream socket counts as
// TCP, a datagram socket as UDP); false when the socket cannot tell.
bool ksi_socket_params(int fd, ksi_sockparams *out);
// The built-in description of an open socket's family and protocol, or
// null when none matches (a local socket, for one).
const struct netconfig *ksi_netconfig_of_socket(int fd);
// Semantics of a socket type (stream 3, datagram 1, raw 4; 0 otherwise).
uint32_t ksi_socktype_semantics(int type);
