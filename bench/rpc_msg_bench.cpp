// RPC messages against the system's ONC RPC library, which runs as a
// separate program in the same run: a call message with an AUTH_UNIX
// credential encoded and decoded on memory streams, and a 1 MiB record
// through the record-marking stream.
#include <orvexks/rpc/rpc_msg.h>
#include <orvexks/rpc/xdrrec.h>

#include <cstdlib>

#include "peer_ratio.h"
#include "peers/rpc_msg_bench_rows.h"

namespace {

alignas(8) char buffer[1024];
alignas(8) char cred_body[MAX_AUTH_BYTES];
rpc_msg call;

void prepare_call() {
  int32_t gids[RPC_MSG_BENCH_GROUPS];
  for (int i = 0; i < RPC_MSG_BENCH_GROUPS; ++i) gids[i] = 100 + i;
  char host[] = RPC_MSG_BENCH_HOST;
  authunix_parms parms = {1700000000u,          host,
                          RPC_MSG_BENCH_UID,    RPC_MSG_BENCH_GID,
                          RPC_MSG_BENCH_GROUPS, gids};
  XDR xdrs;
  xdrmem_create(&xdrs, cred_body, sizeof cred_body, XDR_ENCODE);
  if (!xdr_ks_authunix_parms(&xdrs, &parms)) std::abort();
  call = {};
  call.rm_xid = RPC_MSG_BENCH_XID;
  call.rm_direction = CALL;
  call.rm_call.cb_rpcvers = RPC_MSG_VERSION;
  call.rm_call.cb_prog = RPC_MSG_BENCH_PROG;
  call.rm_call.cb_vers = RPC_MSG_BENCH_VERS;
  call.rm_call.cb_proc = RPC_MSG_BENCH_PROC;
  call.rm_call.cb_cred = {AUTH_UNIX, cred_body, XDR_GETPOS(&xdrs)};
}

void encode_call(benchmark::State &state) {
  for (auto _ : state) {
    XDR xdrs;
    xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
    if (!xdr_ks_callmsg(&xdrs, &call)) std::abort();
    benchmark::ClobberMemory();
  }
}

// Server style: the bodies go to the caller's buffers.
void decode_call(benchmark::State &state) {
  XDR fill;
  xdrmem_create(&fill, buffer, sizeof buffer, XDR_ENCODE);
  if (!xdr_ks_callmsg(&fill, &call)) std::abort();
  static char cred[MAX_AUTH_BYTES], verf[MAX_AUTH_BYTES];
  for (auto _ : state) {
    rpc_msg msg;
    msg.rm_call.cb_cred.oa_base = cred;
    msg.rm_call.cb_verf.oa_base = verf;
    XDR xdrs;
    xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_DECODE);
    if (!xdr_ks_callmsg(&xdrs, &msg)) std::abort();
    benchmark::DoNotOptimize(msg);
  }
}

int discard_write(void *, char *, int len) { return len; }
int no_read(void *, char *, int) { return -1; }

void encode_record(benchmark::State &state) {
  for (auto _ : state) {
    XDR xdrs;
    xdrs.x_op = XDR_ENCODE;
    ks_xdrrec_create(&xdrs, RPC_MSG_BENCH_RECORD_BUFFER,
                     RPC_MSG_BENCH_RECORD_BUFFER, nullptr, no_read,
                     discard_write);
    for (uint32_t i = 0; i < RPC_MSG_BENCH_RECORD_WORDS; ++i)
      if (!xdr_u_int32_t(&xdrs, &i)) std::abort();
    if (!ks_xdrrec_endofrecord(&xdrs, TRUE)) std::abort();
    XDR_DESTROY(&xdrs);
  }
}

}  // namespace

BENCHMARK(encode_call)->Name(RPC_MSG_BENCH_ROW_ENCODE_CALL);
BENCHMARK(decode_call)->Name(RPC_MSG_BENCH_ROW_DECODE_CALL);
BENCHMARK(encode_record)->Name(RPC_MSG_BENCH_ROW_RECORD_1MIB);

int main(int argc, char **argv) {
  prepare_call();
#ifdef TIRPC_BENCH_PATH
  return run_against_peer(argc, argv, TIRPC_BENCH_PATH);
#else
  return run_against_peer(argc, argv, nullptr);
#endif
}
