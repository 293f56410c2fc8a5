// Clients of a host's binder (program 100000, version 4 at creation).
#pragma once

#include <orvexks/rpc/rpcb.h>

#include <sys/socket.h>

// A client of host's rpcbind over nconf: through the address cache when it
// holds host and netid, else by resolving host for the service "sunrpc".
// Null with the creation error set.
CLIENT *ksi_rpcb_client(const char *host, const struct netconfig *nconf);
// A client of this machine's rpcbind over a connection transport.
CLIENT *ksi_rpcb_local_client();
// Records a failed binder call as the creation error: status stat (for
// example RPC_PMAPFAILURE) with the call's own error as detail.
void ksi_rpcb_call_failed(CLIENT *cl, enum clnt_stat stat);
// The server address a client talks to; its length (0 when it has none).
uint32_t ksi_clnt_server_addr(CLIENT *cl, struct sockaddr_storage *out);
// Calls proc of the binder at each version of versions (ending with 0) in
// turn while the binder answers "program unavailable" or "version
// mismatch"; the last status.
enum clnt_stat ksi_rpcb_call_versions(CLIENT *cl, const uint32_t *versions,
                                      uint32_t proc, xdrproc_t xargs,
                                      void *argsp, xdrproc_t xres, void *resp,
                                      struct timeval tout);
// The binder timeout of set, unset, lookups and dumps.
constexpr struct timeval kRpcbTimeout = {60, 0};
