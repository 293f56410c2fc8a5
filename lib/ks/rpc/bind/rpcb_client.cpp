// Reaching a binder: the address cache of rpcbind clients, the local
// rpcbind, and the calls every binder client shares.
#include "rpc/bind/rpcb_client.h"

#include <netdb.h>
#include <unistd.h>

#include <orvexks/qmthread.h>
#include <orvexnt/nt_error.h>

#include <cstdlib>
#include <cstring>

#include "internal/thread_safety.h"
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

// Newest first; entries [0, cache_count) are in use. Lookups far outnumber
// changes, so the lock is held only to copy an address in or out, never
// while a client is made. It stays a mutex rather than a read-write lock:
// held that briefly a shared lock saves nothing, and the fork handlers can
// hand a mutex to the child, not a POSIX read-write lock (which knows its
// writer by a thread id the child no longer has).
qmthread_mutex_t cache_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(cache_mutex);
cache_entry cache[kCacheSize] KSI_GUARDED_BY(cache_mutex);
int cache_count KSI_GUARDED_BY(cache_mutex) = 0;

void free_entry(cache_entry *e) {
  free(e->host);
  free(e->netid);
  free(e->uaddr);
  memset(e, 0, sizeof *e);
}

void drop_entry(int i) KSI_REQUIRES(cache_mutex) {
  free_entry(&cache[i]);
  memmove(&cache[i], &cache[i + 1],
          sizeof(cache_entry) * static_cast<size_t>(cache_count - i - 1));
  cache_count--;
  memset(&cache[cache_count], 0, sizeof(cache_entry));
}

int find_entry(const char *host, const char *netid) KSI_REQUIRES(cache_mutex) {
  for (int i = 0; i < cache_count; i++)
    if (strcmp(cache[i].host, host) == 0 && strcmp(cache[i].netid, netid) == 0)
      return i;
  return -1;
}

void add_entry(const char *host, const char *netid,
               const sockaddr_storage &addr, uint32_t len)
    KSI_EXCLUDES(cache_mutex) {
  cache_entry e = {
      strdup(host), strdup(netid),
      ksi_taddr2uaddr(reinterpret_cast<const sockaddr *>(&addr), len), addr,
      len};
  if (e.host == nullptr || e.netid == nullptr || e.uaddr == nullptr) {
    free_entry(&e);
    return;
  }
  qmthread_mutex_lock(&cache_mutex);
  if (cache_count == kCacheSize) drop_entry(kCacheSize - 1);
  memmove(&cache[1], &cache[0],
          sizeof(cache_entry) * static_cast<size_t>(cache_count));
  cache[0] = e;
  cache_count++;
  qmthread_mutex_unlock(&cache_mutex);
}

CLIENT *client_to(const struct netconfig *nconf, sockaddr_storage *addr,
                  uint32_t len) {
  struct netbuf nb = {sizeof *addr, len, addr};
  return ks_clnt_tli_create(-1, nconf, &nb, RPCBPROG, RPCBVERS4, 0, 0);
}

// The cached client for host and netid, or null. An entry to which no
// client can be made is dropped, unless another thread replaced it since.
CLIENT *from_cache(const char *host, const struct netconfig *nconf)
    KSI_EXCLUDES(cache_mutex) {
  sockaddr_storage addr;
  uint32_t len = 0;
  qmthread_mutex_lock(&cache_mutex);
  int i = find_entry(host, nconf->nc_netid);
  if (i >= 0) {
    addr = cache[i].addr;
    len = cache[i].addrlen;
  }
  qmthread_mutex_unlock(&cache_mutex);
  if (len == 0) return nullptr;
  CLIENT *cl = client_to(nconf, &addr, len);
  if (cl != nullptr) return cl;
  qmthread_mutex_lock(&cache_mutex);
  i = find_entry(host, nconf->nc_netid);
  if (i >= 0 && cache[i].addrlen == len &&
      memcmp(&cache[i].addr, &addr, len) == 0)
    drop_entry(i);
  qmthread_mutex_unlock(&cache_mutex);
  return nullptr;
}

qmthread_mutex_t local_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(local_mutex);
const struct netconfig *local_nconf KSI_GUARDED_BY(local_mutex);
const char *local_host KSI_GUARDED_BY(local_mutex);

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
  CLIENT *cl = from_cache(host, nconf);
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
    if (cl != nullptr) add_entry(host, nconf->nc_netid, addr, len);
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
