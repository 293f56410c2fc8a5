// Creation of clients from a host name and a network type, a transport
// description, or an open socket.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <orvexks/sysutl.h>
#include <orvexnt/nt_error.h>

#include <cerrno>
#include <cstring>

#include "rpc/bind/findaddr.h"
#include "rpc/bind/netconfig.h"
#include "rpc/clnt/clnt_internal.h"

namespace {

void set_nodelay(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool is_created_error(enum clnt_stat stat) { return stat != RPC_SUCCESS; }

}  // namespace

extern "C" {

KS_API CLIENT *ks_clnt_tli_create(int fd, const struct netconfig *nconf,
                                  struct netbuf *svcaddr, uint32_t prog,
                                  uint32_t vers, uint32_t sendsz,
                                  uint32_t recvsz) {
  bool opened = false;
  ksi_sockparams params;
  if (fd == -1) {
    if (nconf == nullptr || !ksi_netconfig_sockparams(nconf, &params)) {
      ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
      return nullptr;
    }
    fd = socket(params.family, params.type | SOCK_CLOEXEC, params.protocol);
    if (fd < 0) {
      ksi_set_createerr(RPC_SYSTEMERROR, ksi_sock_error());
      return nullptr;
    }
    opened = true;
    if (ks_bindresvport(fd, nullptr) != 0) {
      ksi_set_createerr(RPC_SYSTEMERROR, errno);
      close(fd);
      return nullptr;
    }
    sysutl_set_cloexec_other(fd, 1);
  } else {
    if (!ksi_socket_params(fd, &params)) {
      ksi_set_createerr(RPC_SYSTEMERROR, ksi_sock_error());
      return nullptr;
    }
    if (params.type != SOCK_STREAM && params.type != SOCK_DGRAM &&
        params.type != SOCK_RAW) {
      ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
      return nullptr;
    }
  }
  CLIENT *cl = nullptr;
  if (svcaddr == nullptr || svcaddr->buf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNADDR, 0);
  } else if (svcaddr->len < sizeof(sa_family_t) ||
             static_cast<const sockaddr *>(svcaddr->buf)->sa_family !=
                 params.family) {
    ksi_set_createerr(RPC_UNKNOWNHOST, 0);
  } else {
    uint32_t semantics = nconf != nullptr ? nconf->nc_semantics
                                          : ksi_socktype_semantics(params.type);
    if (semantics == NC_TPI_CLTS) {
      cl = ks_clnt_dg_create(fd, svcaddr, prog, vers, sendsz, recvsz);
    } else if (semantics == NC_TPI_COTS || semantics == NC_TPI_COTS_ORD) {
      cl = ks_clnt_vc_create(fd, svcaddr, prog, vers, sendsz, recvsz);
      if (cl != nullptr &&
          (params.family == AF_INET || params.family == AF_INET6))
        set_nodelay(fd);
    } else {
      ksi_set_createerr(RPC_SYSTEMERROR, 0);
    }
  }
  if (cl == nullptr) {
    if (opened) close(fd);
    return nullptr;
  }
  if (opened) KS_CLNT_CONTROL(cl, CLSET_FD_CLOSE, nullptr);
  if (nconf != nullptr && (!ksi_clnt_set_text(&cl->cl_netid, nconf->nc_netid) ||
                           !ksi_clnt_set_text(&cl->cl_tp, nconf->nc_device))) {
    KS_CLNT_DESTROY(cl);
    ksi_set_createerr(RPC_SYSTEMERROR, nt_errno2wsa(ENOMEM));
    return nullptr;
  }
  return cl;
}

KS_API CLIENT *ks_clnt_tp_create(const char *host, uint32_t prog, uint32_t vers,
                                 const struct netconfig *nconf) {
  if (nconf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return nullptr;
  }
  sockaddr_storage addr;
  uint32_t addrlen = 0;
  CLIENT *binder = nullptr;
  if (!rpcb_findaddr(prog, vers, nconf, host, &addr, &addrlen, &binder)) {
    if (binder != nullptr) KS_CLNT_DESTROY(binder);
    return nullptr;
  }
  struct netbuf nb = {sizeof addr, addrlen, &addr};
  if (binder != nullptr) {
    if (KS_CLNT_CONTROL(binder, CLSET_SVC_ADDR, &nb)) {
      if ((binder->cl_netid[0] == '\0' &&
           !ksi_clnt_set_text(&binder->cl_netid, nconf->nc_netid)) ||
          (binder->cl_tp[0] == '\0' &&
           !ksi_clnt_set_text(&binder->cl_tp, nconf->nc_device))) {
        KS_CLNT_DESTROY(binder);
        ksi_set_createerr(RPC_SYSTEMERROR, nt_errno2wsa(ENOMEM));
        return nullptr;
      }
      KS_CLNT_CONTROL(binder, CLSET_PROG, &prog);
      KS_CLNT_CONTROL(binder, CLSET_VERS, &vers);
      return binder;
    }
    KS_CLNT_DESTROY(binder);
  }
  return ks_clnt_tli_create(-1, nconf, &nb, prog, vers, 0, 0);
}

KS_API CLIENT *ks_clnt_create(const char *host, uint32_t prog, uint32_t vers,
                              const char *nettype) {
  void *walk = rpc_setconf(nettype);
  if (walk == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return nullptr;
  }
  struct rpc_createerr *ce = ks_rpc_get_createerr();
  memset(ce, 0, sizeof *ce);
  struct rpc_createerr remembered;
  memset(&remembered, 0, sizeof remembered);
  CLIENT *cl = nullptr;
  while (const struct netconfig *nconf = rpc_getconf(walk)) {
    cl = ks_clnt_tp_create(host, prog, vers, nconf);
    if (cl != nullptr) break;
    if (ce->cf_stat != RPC_N2AXLATEFAILURE) remembered = *ce;
  }
  rpc_endconf(walk);
  if (cl != nullptr) return cl;
  if (!is_created_error(ce->cf_stat))
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
  else if (ce->cf_stat == RPC_N2AXLATEFAILURE &&
           is_created_error(remembered.cf_stat))
    *ce = remembered;
  return nullptr;
}

KS_API CLIENT *ks_clnt_create_vers(const char *host, uint32_t prog,
                                   uint32_t *vers_out, uint32_t vers_low,
                                   uint32_t vers_high, const char *nettype) {
  CLIENT *cl = ks_clnt_create(host, prog, vers_high, nettype);
  if (cl == nullptr) return nullptr;
  struct timeval tv = {10, 0};
  auto xvoid = reinterpret_cast<xdrproc_t>(xdr_void);
  enum clnt_stat stat = KS_CLNT_CALL(cl, 0, xvoid, nullptr, xvoid, nullptr, tv);
  if (stat == RPC_SUCCESS) {
    *vers_out = vers_high;
    return cl;
  }
  struct rpc_err err;
  KS_CLNT_GETERR(cl, &err);
  if (stat == RPC_PROGVERSMISMATCH) {
    uint32_t high = err.re_vers.high < vers_high ? err.re_vers.high : vers_high;
    uint32_t low = err.re_vers.low > vers_low ? err.re_vers.low : vers_low;
    if (low <= high) {
      KS_CLNT_CONTROL(cl, CLSET_VERS, &high);
      stat = KS_CLNT_CALL(cl, 0, xvoid, nullptr, xvoid, nullptr, tv);
      if (stat == RPC_SUCCESS) {
        *vers_out = high;
        return cl;
      }
      KS_CLNT_GETERR(cl, &err);
    }
  }
  KS_CLNT_DESTROY(cl);
  struct rpc_createerr *ce = ks_rpc_get_createerr();
  ce->cf_stat = stat;
  ce->cf_error = err;
  ce->cf_error.re_status = stat;
  return nullptr;
}

}  // extern "C"
