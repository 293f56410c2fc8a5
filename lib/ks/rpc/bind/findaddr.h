// Finding a server's address through the host's binder.
#pragma once

#include <orvexks/rpc/rpcb.h>

#include <sys/socket.h>

// Looks up prog/vers on host for the transport nconf and stores the
// server's address in *addr (len set). For a datagram transport, when
// clpp is not null, the client used to reach the binder is handed back in
// *clpp (else *clpp is null). False with the reason in the thread's
// creation error.
bool rpcb_findaddr(uint32_t prog, uint32_t vers, const struct netconfig *nconf,
                   const char *host, struct sockaddr_storage *addr,
                   uint32_t *addrlen, CLIENT **clpp);

// Gives an IPv6 link-local (fe80::/10) or site-local (fec0::/10) result the
// scope id of the binder's address when that has the same scope; any other
// result is left as it is.
void ksi_copy_scope(const struct sockaddr_storage &binder,
                    struct sockaddr_storage *result);
