// The port mapper's interface: registration through the local rpcbind
// and the version 2 port lookup.
#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rpc/bind/netconfig.h"
#include "rpc/bind/rpcb_client.h"
#include "rpc/bind/rpcb_prot.h"
#include "rpc/bind/uaddr.h"
#include "rpc/clnt/clnt_internal.h"

extern "C" {

KS_API bool_t ks_pmap_set(uint32_t prog, uint32_t vers, int protocol,
                          uint16_t port) {
  const struct netconfig *nconf = nullptr;
  if (protocol == IPPROTO_UDP)
    nconf = rpc_getconfip("udp");
  else if (protocol == IPPROTO_TCP)
    nconf = rpc_getconfip("tcp");
  if (nconf == nullptr) return FALSE;
  char uaddr[32];
  snprintf(uaddr, sizeof uaddr, "0.0.0.0.%d.%d", port >> 8 & 0xFF, port & 0xFF);
  sockaddr_storage addr;
  uint32_t len = ksi_uaddr2taddr(nconf, uaddr, &addr);
  if (len == 0) return FALSE;
  struct netbuf nb = {sizeof addr, len, &addr};
  return ks_rpcb_set(prog, vers, nconf, &nb);
}

KS_API bool_t ks_pmap_unset(uint32_t prog, uint32_t vers) {
  bool_t udp = ks_rpcb_unset(prog, vers, rpc_getconfip("udp"));
  bool_t tcp = ks_rpcb_unset(prog, vers, rpc_getconfip("tcp"));
  return udp || tcp;
}

KS_API uint16_t ks_pmap_getport(struct sockaddr_in *addr, uint32_t prog,
                                uint32_t vers, uint32_t protocol) {
  addr->sin_port = htons(PMAPPORT);
  int fd = -1;
  CLIENT *cl = ks_clntudp_bufcreate(addr, PMAPPROG, PMAPVERS, timeval{5, 0},
                                    &fd, 400, 400);
  uint32_t port = 0;
  if (cl != nullptr) {
    struct pmap map = {prog, vers, protocol, 0};
    enum clnt_stat stat = KS_CLNT_CALL(
        cl, kPmapprocGetport, reinterpret_cast<xdrproc_t>(xdr_ks_pmap), &map,
        reinterpret_cast<xdrproc_t>(xdr_u_int32_t), &port, kRpcbTimeout);
    if (stat != RPC_SUCCESS) {
      ksi_rpcb_call_failed(cl, RPC_PMAPFAILURE);
      port = 0;
    } else if (port == 0 || port > 0xFFFF) {
      ksi_set_createerr(RPC_PROGNOTREGISTERED, 0);
      port = 0;
    }
    KS_CLNT_DESTROY(cl);
  }
  addr->sin_port = 0;
  return static_cast<uint16_t>(port);
}

}  // extern "C"
