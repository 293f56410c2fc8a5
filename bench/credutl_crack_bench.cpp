// Cracking an AUTH_UNIX credential as a server does (the authenticator
// decodes the body into the request, then credutl_crack_rpc_auth maps user
// and groups to SIDs), and decoding the body alone, against the system's
// ONC RPC library decoding the same body in a separate program.
#include <orvexks/credutl.h>
#include <orvexks/rpc/svc.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "peer_ratio.h"
#include "peers/credutl_crack_bench_rows.h"

namespace {

struct body {
  alignas(8) char bytes[MAX_AUTH_BYTES];
  uint32_t len;
};
body remote, here;

void encode(const char *name, body *b) {
  char machname[MAX_MACHINE_NAME + 1];
  snprintf(machname, sizeof machname, "%s", name);
  int32_t gids[CREDUTL_CRACK_BENCH_GROUPS];
  for (int i = 0; i < CREDUTL_CRACK_BENCH_GROUPS; ++i)
    gids[i] = CREDUTL_CRACK_BENCH_FIRST_GROUP + i;
  struct authunix_parms parms = {0,
                                 machname,
                                 CREDUTL_CRACK_BENCH_UID,
                                 CREDUTL_CRACK_BENCH_GID,
                                 CREDUTL_CRACK_BENCH_GROUPS,
                                 gids};
  XDR xdrs;
  xdrmem_create(&xdrs, b->bytes, sizeof b->bytes, XDR_ENCODE);
  if (!xdr_ks_authunix_parms(&xdrs, &parms)) std::abort();
  b->len = XDR_GETPOS(&xdrs);
}

void prepare() {
  char host[128], machname[MAX_MACHINE_NAME + 1];
  if (gethostname(host, sizeof host) != 0) std::abort();
  host[sizeof host - 1] = '\0';
  snprintf(machname, sizeof machname, "HOST/%s", host);
  encode(CREDUTL_CRACK_BENCH_MACHNAME, &remote);
  encode(machname, &here);
}

// A credential from another host costs a look-up of the product group,
// whose membership is then not believed.
void crack(benchmark::State &state, const body *b) {
  alignas(8) static char area[KS_SVC_CLNTCRED_SIZE];
  SVCXPRT xprt = {};
  struct rpc_msg msg = {};
  msg.rm_call.cb_cred = {AUTH_UNIX, const_cast<char *>(b->bytes), b->len};
  struct svc_req req = {};
  req.rq_clntcred = area;
  req.rq_xprt = &xprt;
  char domain[256], host[256];
  for (auto _ : state) {
    credutl_sid_credentials_t sids;
    if (_ks_authenticate(&req, &msg) != AUTH_OK ||
        credutl_crack_rpc_auth(&req, &sids, sizeof domain, domain, sizeof host,
                               host) != 0)
      std::abort();
    benchmark::DoNotOptimize(sids);
  }
}

// As the peer does: the filter allocates the name and the group array,
// and the row frees them.
void decode(benchmark::State &state) {
  for (auto _ : state) {
    struct authunix_parms parms = {};
    XDR xdrs;
    xdrmem_create(&xdrs, remote.bytes, remote.len, XDR_DECODE);
    if (!xdr_ks_authunix_parms(&xdrs, &parms)) std::abort();
    benchmark::DoNotOptimize(parms);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_authunix_parms), &parms);
  }
}

}  // namespace

BENCHMARK_CAPTURE(crack, remote, &remote)->Name(CREDUTL_CRACK_BENCH_ROW_CRACK);
BENCHMARK_CAPTURE(crack, here, &here)->Name(CREDUTL_CRACK_BENCH_ROW_CRACK_HERE);
BENCHMARK(decode)->Name(CREDUTL_CRACK_BENCH_ROW_DECODE);

int main(int argc, char **argv) {
  prepare();
#ifdef TIRPC_BENCH_PATH
  return run_against_peer(argc, argv, TIRPC_BENCH_PATH);
#else
  return run_against_peer(argc, argv, nullptr);
#endif
}
