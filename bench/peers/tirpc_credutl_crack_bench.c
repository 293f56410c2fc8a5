/* The foreign side of credutl_crack_bench: the same AUTH_UNIX credential
 * bodies decoded (and freed) by the system's ONC RPC library. Plain
 * decoding is all that library offers a server for this credential, so it
 * is the peer of every row. */
#include <rpc/rpc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "credutl_crack_bench_rows.h"
#include "tirpc_bench.h"

struct body {
  char bytes[MAX_AUTH_BYTES] __attribute__((aligned(8)));
  u_int len;
};
static struct body remote, here;

static void decode(void *arg) {
  struct body *b = arg;
  XDR xdrs;
  struct authunix_parms parms;
  memset(&parms, 0, sizeof parms);
  xdrmem_create(&xdrs, b->bytes, b->len, XDR_DECODE);
  if (!xdr_authunix_parms(&xdrs, &parms)) abort();
  xdr_free((xdrproc_t)xdr_authunix_parms, (char *)&parms);
}

static void encode(char *machname, struct body *b) {
  gid_t gids[CREDUTL_CRACK_BENCH_GROUPS];
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
  if (!xdr_authunix_parms(&xdrs, &parms)) abort();
  b->len = xdr_getpos(&xdrs);
}

int main(void) {
  char host[128], machname[MAX_MACHINE_NAME + 1];
  char other[] = CREDUTL_CRACK_BENCH_MACHNAME;
  if (gethostname(host, sizeof host) != 0) abort();
  host[sizeof host - 1] = '\0';
  snprintf(machname, sizeof machname, "HOST/%s", host);
  encode(other, &remote);
  encode(machname, &here);
  tirpc_bench_row(CREDUTL_CRACK_BENCH_ROW_CRACK, decode, &remote);
  tirpc_bench_row(CREDUTL_CRACK_BENCH_ROW_CRACK_HERE, decode, &here);
  tirpc_bench_row(CREDUTL_CRACK_BENCH_ROW_DECODE, decode, &remote);
  return 0;
}
