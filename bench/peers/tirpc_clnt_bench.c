/* The foreign side of clnt_bench: the system library's clients calling
 * the null procedure of the benchmark server, and its rpcb_getaddr.
 * Usage: tirpc_clnt_bench UDP_PORT TCP_PORT [rpcb] */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/rpc.h>
#include <stdlib.h>
#include <string.h>

#include "clnt_bench_rows.h"
#include "tirpc_bench.h"

static struct timeval timeout = {10, 0};

static void null_call(void *arg) {
  if (clnt_call((CLIENT *)arg, 0, (xdrproc_t)xdr_void, NULL,
                (xdrproc_t)xdr_void, NULL, timeout) != RPC_SUCCESS)
    abort();
}

static struct netconfig *tcp_nconf;

static void getaddr(void *unused) {
  (void)unused;
  struct sockaddr_storage ss;
  struct netbuf nb = {sizeof ss, 0, &ss};
  if (!rpcb_getaddr(100000, 4, tcp_nconf, &nb, "127.0.0.1")) abort();
}

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  struct sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons((unsigned short)atoi(argv[1]));
  int sock = RPC_ANYSOCK;
  struct timeval wait = {5, 0};
  CLIENT *udp =
      clntudp_create(&sin, CLNT_BENCH_PROG, CLNT_BENCH_VERS, wait, &sock);
  sin.sin_port = htons((unsigned short)atoi(argv[2]));
  sock = RPC_ANYSOCK;
  CLIENT *tcp =
      clnttcp_create(&sin, CLNT_BENCH_PROG, CLNT_BENCH_VERS, &sock, 0, 0);
  if (udp == NULL || tcp == NULL) return 1;
  tirpc_bench_row(CLNT_BENCH_ROW_NULL_UDP, null_call, udp);
  tirpc_bench_row(CLNT_BENCH_ROW_NULL_TCP, null_call, tcp);
  if (argc > 3 && (tcp_nconf = getnetconfigent("tcp")) != NULL)
    tirpc_bench_row(CLNT_BENCH_ROW_RPCB_GETADDR, getaddr, NULL);
  clnt_destroy(udp);
  clnt_destroy(tcp);
  return 0;
}
