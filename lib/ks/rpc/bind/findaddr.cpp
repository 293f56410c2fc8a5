// Where is prog/vers on host for a transport? Asked of the host's port
// mapper first (IPv4), then of rpcbind's address list (IPv4 connection
// transports), then of rpcbind's GETADDR at versions 4 and 3.
#include "rpc/bind/findaddr.h"

#include <netinet/in.h>

#include <cstdlib>
#include <cstring>

#include "rpc/bind/netconfig.h"
#include "rpc/bind/rpcb_client.h"
#include "rpc/bind/rpcb_prot.h"
#include "rpc/bind/uaddr.h"
#include "rpc/clnt/clnt_internal.h"

namespace {

char kEmpty[] = "";

bool no_such_version(enum clnt_stat stat) {
  return stat == RPC_PROGUNAVAIL || stat == RPC_PROGVERSMISMATCH;
}

// Outcome of one step: found, failed (creation error set), or go on.
enum class step { kFound, kFailed, kNext };

step ask_port_mapper(CLIENT *cl, uint32_t prog, uint32_t vers,
                     const ksi_sockparams &params, sockaddr_storage *addr,
                     uint32_t *addrlen) {
  uint32_t v2 = PMAPVERS;
  KS_CLNT_CONTROL(cl, CLSET_VERS, &v2);
  struct pmap map = {prog, vers, static_cast<uint32_t>(params.protocol), 0};
  uint32_t port = 0;
  enum clnt_stat stat = KS_CLNT_CALL(
      cl, kPmapprocGetport, reinterpret_cast<xdrproc_t>(xdr_ks_pmap), &map,
      reinterpret_cast<xdrproc_t>(xdr_u_int32_t), &port, kRpcbTimeout);
  if (no_such_version(stat)) return step::kNext;
  if (stat != RPC_SUCCESS) {
    ksi_rpcb_call_failed(cl, RPC_PMAPFAILURE);
    return step::kFailed;
  }
  if (port == 0 || port > 0xFFFF) {
    ksi_set_createerr(RPC_PROGNOTREGISTERED, 0);
    return step::kFailed;
  }
  *addrlen = ksi_clnt_server_addr(cl, addr);
  if (*addrlen == 0) {
    ksi_set_createerr(RPC_UNKNOWNADDR, 0);
    return step::kFailed;
  }
  reinterpret_cast<sockaddr_in *>(addr)->sin_port =
      htons(static_cast<uint16_t>(port));
  return step::kFound;
}

step ask_address_list(CLIENT *cl, uint32_t prog, uint32_t vers,
                      const struct netconfig *nconf, sockaddr_storage *addr,
                      uint32_t *addrlen) {
  uint32_t v4 = RPCBVERS4;
  KS_CLNT_CONTROL(cl, CLSET_VERS, &v4);
  struct rpcb query = {prog, vers, nconf->nc_netid, kEmpty, kEmpty};
  ksi_rpcb_entry_list *list = nullptr;
  auto list_proc = reinterpret_cast<xdrproc_t>(ksi_xdr_rpcb_entry_list_ptr);
  enum clnt_stat stat = KS_CLNT_CALL(cl, kRpcbprocGetaddrlist,
                                     reinterpret_cast<xdrproc_t>(xdr_ks_rpcb),
                                     &query, list_proc, &list, kRpcbTimeout);
  if (no_such_version(stat)) {
    xdr_free(list_proc, &list);
    return step::kNext;
  }
  if (stat != RPC_SUCCESS) {
    ksi_rpcb_call_failed(cl, RPC_PMAPFAILURE);
    xdr_free(list_proc, &list);
    return step::kFailed;
  }
  step result = step::kNext;
  for (ksi_rpcb_entry_list *e = list; e != nullptr; e = e->next) {
    const ksi_rpcb_entry &en = e->entry;
    if (en.r_nc_netid == nullptr ||
        strcmp(en.r_nc_netid, nconf->nc_netid) != 0 ||
        en.r_nc_protofmly == nullptr ||
        strcmp(en.r_nc_protofmly, nconf->nc_protofmly) != 0 ||
        en.r_nc_semantics != nconf->nc_semantics)
      continue;
    *addrlen = ksi_uaddr2taddr(nconf, en.r_maddr, addr);
    result = *addrlen != 0 ? step::kFound : step::kNext;
    break;
  }
  xdr_free(list_proc, &list);
  return result;
}

step ask_getaddr(CLIENT *cl, uint32_t first_version, uint32_t prog,
                 uint32_t vers, const struct netconfig *nconf,
                 sockaddr_storage *addr, uint32_t *addrlen) {
  struct rpcb query = {prog, vers, nconf->nc_netid, kEmpty, kEmpty};
  for (uint32_t v = first_version; v >= RPCBVERS; v--) {
    KS_CLNT_CONTROL(cl, CLSET_VERS, &v);
    char *uaddr = nullptr;
    enum clnt_stat stat = KS_CLNT_CALL(
        cl, kRpcbprocGetaddr, reinterpret_cast<xdrproc_t>(xdr_ks_rpcb), &query,
        reinterpret_cast<xdrproc_t>(ksi_xdr_uaddr), &uaddr, kRpcbTimeout);
    if (stat == RPC_SUCCESS) {
      bool empty = uaddr == nullptr || uaddr[0] == '\0';
      *addrlen = empty ? 0 : ksi_uaddr2taddr(nconf, uaddr, addr);
      free(uaddr);
      if (empty)
        ksi_set_createerr(RPC_PROGNOTREGISTERED, 0);
      else if (*addrlen == 0)
        ksi_set_createerr(RPC_N2AXLATEFAILURE, 0);
      return *addrlen != 0 ? step::kFound : step::kFailed;
    }
    free(uaddr);
    struct rpc_err err;
    KS_CLNT_GETERR(cl, &err);
    bool lower = stat == RPC_PROGUNAVAIL || (stat == RPC_PROGVERSMISMATCH &&
                                             err.re_vers.high <= RPCBVERS4);
    if (!lower) {
      ksi_rpcb_call_failed(cl, stat);
      return step::kFailed;
    }
  }
  ksi_set_createerr(RPC_PROGNOTREGISTERED, 0);
  return step::kFailed;
}

}  // namespace

void ksi_copy_scope(const struct sockaddr_storage &binder,
                    struct sockaddr_storage *result) {
  if (result->ss_family != AF_INET6 || binder.ss_family != AF_INET6) return;
  auto *r = reinterpret_cast<sockaddr_in6 *>(result);
  const auto *b = reinterpret_cast<const sockaddr_in6 *>(&binder);
  // The top ten bits: 0x80 under fe.. is link-local, 0xC0 site-local.
  auto scope = [](const in6_addr &a) {
    return a.s6_addr[0] == 0xFE ? (a.s6_addr[1] & 0xC0) : -1;
  };
  int s = scope(r->sin6_addr);
  if ((s == 0x80 || s == 0xC0) && scope(b->sin6_addr) == s)
    r->sin6_scope_id = b->sin6_scope_id;
}

bool rpcb_findaddr(uint32_t prog, uint32_t vers, const struct netconfig *nconf,
                   const char *host, struct sockaddr_storage *addr,
                   uint32_t *addrlen, CLIENT **clpp) {
  if (clpp != nullptr) *clpp = nullptr;
  ksi_sockparams params;
  if (nconf == nullptr || !ksi_netconfig_sockparams(nconf, &params)) {
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return false;
  }
  bool datagram = nconf->nc_semantics == NC_TPI_CLTS;
  bool inet = strcmp(nconf->nc_protofmly, "inet") == 0;
  CLIENT *cl = nullptr;
  step result = step::kNext;
  uint32_t first_version = RPCBVERS4;
  if (inet) {
    cl = ksi_rpcb_client(host, rpc_getconfip("udp"));
    if (cl == nullptr) return false;
    result = ask_port_mapper(cl, prog, vers, params, addr, addrlen);
    if (result == step::kNext && !datagram) {
      result = ask_address_list(cl, prog, vers, nconf, addr, addrlen);
      first_version = RPCBVERS;
    }
  }
  if (result == step::kNext) {
    if (!(inet && datagram)) {
      if (cl != nullptr) KS_CLNT_DESTROY(cl);
      cl = ksi_rpcb_client(host, nconf);
      if (cl == nullptr) return false;
    }
    result = ask_getaddr(cl, first_version, prog, vers, nconf, addr, addrlen);
  }
  sockaddr_storage binder;
  if (result == step::kFound && ksi_clnt_server_addr(cl, &binder) != 0)
    ksi_copy_scope(binder, addr);
  if (result == step::kFound && datagram && clpp != nullptr)
    *clpp = cl;
  else
    KS_CLNT_DESTROY(cl);
  return result == step::kFound;
}
