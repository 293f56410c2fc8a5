// ks_rpc_call: one call to a host's program through a client that each
// thread keeps between calls to the same host, program, version and
// network type.
#include <sys/socket.h>
#include <unistd.h>

#include <orvexks/sysutl.h>
#include <orvexnt/nt_error.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "rpc/clnt/clnt_internal.h"
#include "thread/tls_impl.h"

namespace {

// The thread's cached client; the record lives in the thread's block.
struct rpc_call_cache {
  bool valid;
  CLIENT *client;
  pid_t pid;
  uint32_t prog;
  uint32_t vers;
  char host[64];
  char nettype[32];
};

void destroy_cached_client(void *record) {
  auto *cache = static_cast<rpc_call_cache *>(record);
  if (cache->client != nullptr) KS_CLNT_DESTROY(cache->client);
  cache->client = nullptr;
}

ksi_tls_slot_t rpc_call_slot =
    KSI_TLS_SLOT_INIT(rpc_call_cache, destroy_cached_client);

bool matches(const rpc_call_cache *c, const char *host, uint32_t prog,
             uint32_t vers, const char *nettype) {
  return c->valid && c->pid == getpid() && c->prog == prog && c->vers == vers &&
         strcmp(c->host, host) == 0 && strcmp(c->nettype, nettype) == 0;
}

}  // namespace

extern "C" {

KS_API enum clnt_stat ks_rpc_call(const char *host, uint32_t prog,
                                  uint32_t vers, uint32_t proc,
                                  xdrproc_t inproc, const void *in,
                                  xdrproc_t outproc, void *out,
                                  const char *nettype) {
  if (nettype == nullptr || nettype[0] == '\0') nettype = "netpath";
  if (host == nullptr) host = "";
  rpc_call_cache *cache = ksi_tls_record<rpc_call_cache>(&rpc_call_slot);
  if (cache == nullptr) {
    ksi_set_createerr(RPC_SYSTEMERROR, nt_errno2wsa(ENOMEM));
    return RPC_SYSTEMERROR;
  }
  if (!matches(cache, host, prog, vers, nettype)) {
    cache->valid = false;
    if (cache->client != nullptr) {
      KS_CLNT_DESTROY(cache->client);
      cache->client = nullptr;
    }
    CLIENT *cl = ks_clnt_create(host, prog, vers, nettype);
    if (cl == nullptr) return ks_rpc_get_createerr()->cf_stat;
    struct timeval wait = {5, 0};
    KS_CLNT_CONTROL(cl, CLSET_RETRY_TIMEOUT, &wait);
    int fd;
    if (KS_CLNT_CONTROL(cl, CLGET_FD, &fd)) sysutl_set_cloexec_other(fd, 1);
    cache->client = cl;
    cache->pid = getpid();
    cache->prog = prog;
    cache->vers = vers;
    if (strlen(host) < sizeof cache->host &&
        strlen(nettype) < sizeof cache->nettype) {
      strcpy(cache->host, host);
      strcpy(cache->nettype, nettype);
      cache->valid = true;
    }
  }
  struct timeval total = {25, 0};
  enum clnt_stat stat = KS_CLNT_CALL(
      cache->client, proc, inproc, const_cast<void *>(in), outproc, out, total);
  if (stat != RPC_SUCCESS) cache->valid = false;
  return stat;
}

KS_API enum clnt_stat ks_callrpc(const char *host, uint32_t prog, uint32_t vers,
                                 uint32_t proc, xdrproc_t inproc,
                                 const void *in, xdrproc_t outproc, void *out) {
  return ks_rpc_call(host, prog, vers, proc, inproc, in, outproc, out, "udp");
}

}  // extern "C"
