// Reaching a binder: the address cache of rpcbind clients, the local
// rpcbind, and the calls every binder client shares.
#include "rpc/bind/rpcb_client.h"

#include <netdb.h>
#include <unistd.h>

#include <orvexks/qmthread.h>
#include <orvexnt/nt_error.h>

#include <cstdlib>
#include <cstring>

#include "rpc/bind/netconfig.h"
#include "rpc/bind/uaddr.h"
#include "rpc/clnt/clnt_internal.h"
#include "thread/qmthread_internal.h"

namespace {

constexpr int kCacheSize = 6;

struct cache_entry {
  char *host;
  char *netid;
  char *uaddr;
  sockaddr_storage addr;
  uint32_t addrlen;
};

// Newest first; entries [0, cache_count) are in use.
qmthread_mutex_t cache_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(cache_mutex);
cache_entry cache[kCacheSize];
int cache_count = 0;

void free_entry(cache_entry *e) {
  free(e->host);
  free(e->netid);
  free(e->uaddr);
  memset(e, 0, sizeof *e);
}

void drop_entry(int i) {
  free_entry(&cache[i]);
  memmove(&cache[i], &cache[i + 1],
          sizeof(cache_entry) * static_cast<size_t>(cache_count - i - 1));
  cache_count--;
  memset(&cache[cache_count], 0, sizeof(cache_entry));
}

void add_entry(const char *host, const char *netid,
               const sockaddr_storage &addr, uint32_t len) {
  cache_entry e = {
      strdup(host), strdup(netid),
      ksi_taddr2uaddr(reinterpret_cast<const sockaddr *>(&addr), len), addr,
      len};
  if (e.host == nullptr || e.netid == nullptr || e.uaddr == nullptr) {
    free_entry(&e);
    return;
  }
  if (cache_count == kCacheSize) drop_entry(kCacheSize - 1);
  memmove(&cache[1], &cache[0],
          sizeof(cache_entry) * static_cast<size_t>(cache_count));
  cache[0] = e;
  cache_count++;
}

CLIENT *client_to(const struct netconfig *nconf, sockaddr_storage *addr,
                  uint32_t len) {
  struct netbuf nb = {sizeof *addr, len, addr};
  return ks_clnt_tli_create(-1, nconf, &nb, RPCBPROG, RPCBVERS4, 0, 0);
}

// The cached client for host and netid, or null (the entry dropped when
// a client to it cannot be made).
CLIENT *from_cache(const char *host, const struct netconfig *nconf) {
  for (int i = 0; i < cache_count; i++) {
    if (strcmp(cache[i].host, host) != 0 ||
        strcmp(cache[i].netid, nconf->nc_netid) != 0)
      continue;
    CLIENT *cl = client_to(nconf, &cache[i].addr, cache[i].addrlen);
    if (cl == nullptr) drop_entry(i);
    return cl;
  }
  return nullptr;
}

qmthread_mutex_t local_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(local_mutex);
const struct netconfig *local_nconf;
const char *local_host;

}  // namespace

CLIENT *ksi_rpcb_client(const char *host, const struct netconfig *nconf) {
  ksi_sockparams params;
  if (!ksi_netconfig_sockparams(nconf, &params)) {
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return nullptr;
  }
  if (host == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNHOST, 0);
    return nullptr;
  }
  qmthread_mutex_lock(&cache_mutex);
  CLIENT *cl = from_cache(host, nconf);
  qmthread_mutex_unlock(&cache_mutex);
  if (cl != nullptr) return cl;

  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = params.family;
  hints.ai_socktype = params.type;
  hints.ai_protocol = params.protocol;
  struct addrinfo *res = nullptr;
  int rc = getaddrinfo(host, "sunrpc", &hints, &res);
  if (rc != 0 || res == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNHOST, nt_eai2wsa(rc));
    return nullptr;
  }
  for (struct addrinfo *ai = res; ai != nullptr && cl == nullptr;
       ai = ai->ai_next) {
    if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
    sockaddr_storage addr;
    memcpy(&addr, ai->ai_addr, ai->ai_addrlen);
    uint32_t len = static_cast<uint32_t>(ai->ai_addrlen);
    cl = client_to(nconf, &addr, len);
    if (cl != nullptr) {
      qmthread_mutex_lock(&cache_mutex);
      add_entry(host, nconf->nc_netid, addr, len);
      qmthread_mutex_unlock(&cache_mutex);
    }
  }
  freeaddrinfo(res);
  return cl;
}

CLIENT *ksi_rpcb_local_client() {
  qmthread_mutex_lock(&local_mutex);
  if (local_nconf == nullptr) {
    void *walk = rpc_setconf("tcp");
    while (const struct netconfig *nc = rpc_getconf(walk)) {
      ksi_sockparams params;
      if (!ksi_netconfig_sockparams(nc, &params)) continue;
      int fd =
          socket(params.family, params.type | SOCK_CLOEXEC, params.protocol);
      if (fd < 0) continue;
      close(fd);
      local_nconf = nc;
      local_host = params.family == AF_INET6 ? "::1" : "127.0.0.1";
    }
    rpc_endconf(walk);
  }
  const struct netconfig *nconf = local_nconf;
  const char *host = local_host;
  qmthread_mutex_unlock(&local_mutex);
  if (nconf == nullptr) {
    ksi_set_createerr(RPC_UNKNOWNPROTO, 0);
    return nullptr;
  }
  return ksi_rpcb_client(host, nconf);
}

void ksi_rpcb_call_failed(CLIENT *cl, enum clnt_stat stat) {
  struct rpc_createerr *ce = ks_rpc_get_createerr();
  ce->cf_stat = stat;
  KS_CLNT_GETERR(cl, &ce->cf_error);
}

uint32_t ksi_clnt_server_addr(CLIENT *cl, struct sockaddr_storage *out) {
  struct netbuf nb = {0, 0, nullptr};
  if (!KS_CLNT_CONTROL(cl, CLGET_SVC_ADDR, &nb) || nb.len > sizeof *out)
    return 0;
  memcpy(out, nb.buf, nb.len);
  return nb.len;
}

enum clnt_stat ksi_rpcb_call_versions(CLIENT *cl, const uint32_t *versions,
                                      uint32_t proc, xdrproc_t xargs,
                                      void *argsp, xdrproc_t xres, void *resp,
                                      struct timeval tout) {
  enum clnt_stat stat = RPC_PROGVERSMISMATCH;
  for (const uint32_t *v = versions; *v != 0; v++) {
    uint32_t vers = *v;
    KS_CLNT_CONTROL(cl, CLSET_VERS, &vers);
    stat = KS_CLNT_CALL(cl, proc, xargs, argsp, xres, resp, tout);
    if (stat != RPC_PROGUNAVAIL && stat != RPC_PROGVERSMISMATCH) break;
  }
  return stat;
}
