// The rpcbind client operations: registration on the local rpcbind,
// lookups, dumps, indirect calls, the binder's time and its address
// conversions.
#include <orvexks/sysutl.h>

#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "rpc/bind/findaddr.h"
#include "rpc/bind/netconfig.h"
#include "rpc/bind/rpcb_client.h"
#include "rpc/bind/rpcb_prot.h"
#include "rpc/bind/uaddr.h"
#include "rpc/clnt/clnt_internal.h"

namespace {

char kEmpty[] = "";
const uint32_t kVersions43[] = {RPCBVERS4, RPCBVERS, 0};

xdrproc_t as_proc(bool_t (*fn)(XDR *, char **)) {
  return reinterpret_cast<xdrproc_t>(fn);
}

// SET or UNSET on the local rpcbind: the boolean reply, false on failure.
bool_t set_or_unset(uint32_t proc, struct rpcb *map) {
  CLIENT *cl = ksi_rpcb_local_client();
  if (cl == nullptr) return FALSE;
  bool_t result = FALSE;
  enum clnt_stat stat = KS_CLNT_CALL(
      cl, proc, reinterpret_cast<xdrproc_t>(xdr_ks_rpcb), map,
      reinterpret_cast<xdrproc_t>(xdr_bool), &result, kRpcbTimeout);
  if (stat != RPC_SUCCESS) {
    ksi_rpcb_call_failed(cl, RPC_PMAPFAILURE);
    result = FALSE;
  }
  KS_CLNT_DESTROY(cl);
  return result;
}

char *owner_name() {
  const char *login = sysutl_myloginname();
  return login != nullptr ? const_cast<char *>(login) : kEmpty;
}

}  // namespace

extern "C" {

KS_API bool_t ks_rpcb_set(uint32_t prog, uint32_t vers,
                          const struct netconfig *nconf,
                          const struct netbuf *addr) {
  if (nconf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return FALSE;
  }
  if (addr == nullptr || addr->buf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNADDR, 0);
    return FALSE;
  }
  char *uaddr =
      ksi_taddr2uaddr(static_cast<const sockaddr *>(addr->buf), addr->len);
  if (uaddr == nullptr) {
    ksi_set_createerr(RPC_N2AXLATEFAILURE, 0);
    return FALSE;
  }
  struct rpcb map = {prog, vers, nconf->nc_netid, uaddr, owner_name()};
  bool_t ok = set_or_unset(kRpcbprocSet, &map);
  free(uaddr);
  return ok;
}

KS_API bool_t ks_rpcb_unset(uint32_t prog, uint32_t vers,
                            const struct netconfig *nconf) {
  struct rpcb map = {prog, vers, nconf != nullptr ? nconf->nc_netid : kEmpty,
                     kEmpty, owner_name()};
  return set_or_unset(kRpcbprocUnset, &map);
}

KS_API bool_t ks_rpcb_getaddr(uint32_t prog, uint32_t vers,
                              const struct netconfig *nconf,
                              struct netbuf *addr, const char *host) {
  sockaddr_storage found;
  uint32_t len = 0;
  if (!rpcb_findaddr(prog, vers, nconf, host, &found, &len, nullptr))
    return FALSE;
  if (addr == nullptr || addr->buf == nullptr || len > addr->maxlen) {
    ksi_set_createerr(RPC_FAILED, 0);
    return FALSE;
  }
  memcpy(addr->buf, &found, len);
  addr->len = len;
  return TRUE;
}

KS_API struct rpcblist *ks_rpcb_getmaps(const struct netconfig *nconf,
                                        const char *host) {
  CLIENT *cl = ksi_rpcb_client(host, nconf);
  if (cl == nullptr) return nullptr;
  struct rpcblist *list = nullptr;
  enum clnt_stat stat = ksi_rpcb_call_versions(
      cl, kVersions43, kRpcbprocDump, reinterpret_cast<xdrproc_t>(xdr_void),
      nullptr, reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &list,
      kRpcbTimeout);
  if (stat != RPC_SUCCESS) {
    ksi_rpcb_call_failed(cl, RPC_PMAPFAILURE);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &list);
    list = nullptr;
  }
  KS_CLNT_DESTROY(cl);
  return list;
}

KS_API enum clnt_stat ks_rpcb_rmtcall(const struct netconfig *nconf,
                                      const char *host, uint32_t prog,
                                      uint32_t vers, uint32_t proc,
                                      xdrproc_t xdrargs, void *argsp,
                                      xdrproc_t xdrres, void *resp,
                                      struct timeval tout,
                                      struct netbuf *addr_ptr) {
  CLIENT *cl = ksi_rpcb_client(host, nconf);
  if (cl == nullptr) return ks_rpc_get_createerr()->cf_stat;
  struct timeval retry = {3, 0};
  KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &retry);
  ksi_rmtcallargs args = {prog, vers, proc, xdrargs, argsp};
  ksi_rmtcallres res = {nullptr, xdrres, resp};
  enum clnt_stat stat = ksi_rpcb_call_versions(
      cl, kVersions43, kRpcbprocCallit,
      reinterpret_cast<xdrproc_t>(ksi_xdr_rmtcallargs), &args,
      reinterpret_cast<xdrproc_t>(ksi_xdr_rmtcallres), &res, tout);
  sockaddr_storage server;
  uint32_t server_len = 0;
  if (stat == RPC_PROGUNAVAIL || stat == RPC_PROGVERSMISMATCH) {
    // The port mapper's form: the reply carries the port.
    ksi_pmap_rmtcallres pres = {0, xdrres, resp};
    uint32_t v2 = PMAPVERS;
    KS_CLNT_CONTROL(cl, CLSET_VERS, &v2);
    stat = KS_CLNT_CALL(cl, kPmapprocCallit,
                        reinterpret_cast<xdrproc_t>(ksi_xdr_rmtcallargs), &args,
                        reinterpret_cast<xdrproc_t>(ksi_xdr_pmap_rmtcallres),
                        &pres, tout);
    if (stat == RPC_SUCCESS &&
        (server_len = ksi_clnt_server_addr(cl, &server)) != 0)
      sysutl_sockaddr_set_port(reinterpret_cast<sockaddr *>(&server),
                               htons(static_cast<uint16_t>(pres.port)));
  } else if (stat == RPC_SUCCESS) {
    server_len = ksi_uaddr2taddr(nconf, res.addr, &server);
  }
  if (stat == RPC_SUCCESS && addr_ptr != nullptr) {
    if (server_len == 0 || server_len > addr_ptr->maxlen ||
        addr_ptr->buf == nullptr) {
      stat = RPC_FAILED;
    } else {
      memcpy(addr_ptr->buf, &server, server_len);
      addr_ptr->len = server_len;
    }
  }
  free(res.addr);
  KS_CLNT_DESTROY(cl);
  return stat;
}

KS_API bool_t ks_rpcb_gettime(const char *host, time_t *timep) {
  if (host == nullptr || host[0] == '\0') {
    time(timep);
    return TRUE;
  }
  void *walk = rpc_setconf("netpath");
  CLIENT *cl = nullptr;
  while (walk != nullptr && cl == nullptr) {
    const struct netconfig *nc = rpc_getconf(walk);
    if (nc == nullptr) break;
    cl = ksi_rpcb_client(host, nc);
  }
  rpc_endconf(walk);
  if (cl == nullptr) {
    if (ks_rpc_get_createerr()->cf_stat == RPC_SUCCESS)
      ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return FALSE;
  }
  uint32_t seconds = 0;
  enum clnt_stat stat = ksi_rpcb_call_versions(
      cl, kVersions43, kRpcbprocGettime, reinterpret_cast<xdrproc_t>(xdr_void),
      nullptr, reinterpret_cast<xdrproc_t>(xdr_u_int32_t), &seconds,
      kRpcbTimeout);
  if (stat != RPC_SUCCESS) ksi_rpcb_call_failed(cl, stat);
  KS_CLNT_DESTROY(cl);
  if (stat != RPC_SUCCESS) return FALSE;
  *timep = static_cast<time_t>(seconds);
  return TRUE;
}

KS_API char *ks_rpcb_taddr2uaddr(const struct netconfig *nconf,
                                 const struct netbuf *taddr) {
  if (nconf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return nullptr;
  }
  if (taddr == nullptr || taddr->buf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNADDR, 0);
    return nullptr;
  }
  CLIENT *cl = ksi_rpcb_local_client();
  if (cl == nullptr) return nullptr;
  char *uaddr = nullptr;
  struct netbuf copy = *taddr;
  enum clnt_stat stat = KS_CLNT_CALL(
      cl, kRpcbprocTaddr2uaddr, reinterpret_cast<xdrproc_t>(ksi_xdr_netbuf),
      &copy, as_proc(ksi_xdr_uaddr), &uaddr, kRpcbTimeout);
  if (stat != RPC_SUCCESS) {
    ksi_rpcb_call_failed(cl, stat);
    free(uaddr);
    uaddr = nullptr;
  }
  KS_CLNT_DESTROY(cl);
  return uaddr;
}

KS_API struct netbuf *ks_rpcb_uaddr2taddr(const struct netconfig *nconf,
                                          const char *uaddr) {
  if (nconf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return nullptr;
  }
  if (uaddr == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNADDR, 0);
    return nullptr;
  }
  CLIENT *cl = ksi_rpcb_local_client();
  if (cl == nullptr) return nullptr;
  auto *nb = static_cast<struct netbuf *>(calloc(1, sizeof(struct netbuf)));
  char *text = const_cast<char *>(uaddr);
  enum clnt_stat stat =
      nb == nullptr
          ? RPC_SYSTEMERROR
          : KS_CLNT_CALL(cl, kRpcbprocUaddr2taddr, as_proc(ksi_xdr_uaddr),
                         &text, reinterpret_cast<xdrproc_t>(ksi_xdr_netbuf), nb,
                         kRpcbTimeout);
  if (stat != RPC_SUCCESS) {
    ksi_rpcb_call_failed(cl, stat);
    if (nb != nullptr) free(nb->buf);
    free(nb);
    nb = nullptr;
  }
  KS_CLNT_DESTROY(cl);
  return nb;
}

}  // extern "C"
