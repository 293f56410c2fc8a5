/* The foreign side of rpc_msg_bench: a call message with an AUTH_UNIX
 * credential coded on memory streams, and a 1 MiB record through a
 * record-marking stream whose writes are discarded. */
#include <rpc/rpc.h>
#include <stdlib.h>
#include <string.h>

#include "rpc_msg_bench_rows.h"
#include "tirpc_bench.h"

static char buffer[1024] __attribute__((aligned(8)));
static char cred_body[MAX_AUTH_BYTES] __attribute__((aligned(8)));
static u_int cred_length;
static struct rpc_msg call;

static void prepare_call(void) {
  gid_t gids[RPC_MSG_BENCH_GROUPS];
  for (int i = 0; i < RPC_MSG_BENCH_GROUPS; ++i) gids[i] = 100 + i;
  struct authunix_parms parms = {1700000000u,          RPC_MSG_BENCH_HOST,
                                 RPC_MSG_BENCH_UID,    RPC_MSG_BENCH_GID,
                                 RPC_MSG_BENCH_GROUPS, gids};
  XDR xdrs;
  xdrmem_create(&xdrs, cred_body, sizeof cred_body, XDR_ENCODE);
  if (!xdr_authunix_parms(&xdrs, &parms)) abort();
  cred_length = xdr_getpos(&xdrs);
  memset(&call, 0, sizeof call);
  call.rm_xid = RPC_MSG_BENCH_XID;
  call.rm_direction = CALL;
  call.rm_call.cb_rpcvers = RPC_MSG_VERSION;
  call.rm_call.cb_prog = RPC_MSG_BENCH_PROG;
  call.rm_call.cb_vers = RPC_MSG_BENCH_VERS;
  call.rm_call.cb_proc = RPC_MSG_BENCH_PROC;
  call.rm_call.cb_cred.oa_flavor = AUTH_UNIX;
  call.rm_call.cb_cred.oa_base = cred_body;
  call.rm_call.cb_cred.oa_length = cred_length;
  call.rm_call.cb_verf = _null_auth;
}

static void encode_call(void *unused) {
  (void)unused;
  XDR xdrs;
  xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
  if (!xdr_callmsg(&xdrs, &call)) abort();
}

/* Server style: the bodies go to the caller's buffers. */
static void decode_call(void *unused) {
  (void)unused;
  static char cred[MAX_AUTH_BYTES], verf[MAX_AUTH_BYTES];
  struct rpc_msg msg;
  msg.rm_call.cb_cred.oa_base = cred;
  msg.rm_call.cb_verf.oa_base = verf;
  XDR xdrs;
  xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_DECODE);
  if (!xdr_callmsg(&xdrs, &msg)) abort();
}

static int discard_write(void *handle, void *buf, int len) {
  (void)handle;
  (void)buf;
  return len;
}

static int no_read(void *handle, void *buf, int len) {
  (void)handle;
  (void)buf;
  (void)len;
  return -1;
}

static void encode_record(void *unused) {
  (void)unused;
  XDR xdrs;
  xdrrec_create(&xdrs, RPC_MSG_BENCH_RECORD_BUFFER, RPC_MSG_BENCH_RECORD_BUFFER,
                NULL, no_read, discard_write);
  xdrs.x_op = XDR_ENCODE;
  for (u_int i = 0; i < RPC_MSG_BENCH_RECORD_WORDS; ++i)
    if (!xdr_u_int(&xdrs, &i)) abort();
  if (!xdrrec_endofrecord(&xdrs, TRUE)) abort();
  xdr_destroy(&xdrs);
}

int main(void) {
  prepare_call();
  tirpc_bench_row(RPC_MSG_BENCH_ROW_ENCODE_CALL, encode_call, NULL);
  encode_call(NULL); /* the buffer holds the call for the decode row */
  tirpc_bench_row(RPC_MSG_BENCH_ROW_DECODE_CALL, decode_call, NULL);
  tirpc_bench_row(RPC_MSG_BENCH_ROW_RECORD_1MIB, encode_record, NULL);
  return 0;
}
