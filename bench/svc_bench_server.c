/* The server side of svc_bench, built on liborvexks: program 0x20000301
 * version 1 (0 null, 1 echo of counted opaque data) on loopback UDP and
 * TCP ports of the system's choosing. Prints "udp PORT", "tcp PORT" and
 * "ready", then serves until killed.
 *
 *     svc_bench_server [threaded] */
#define _POSIX_C_SOURCE 200809L

#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

#include <orvexks/orvexks.h>

#define BENCH_PROG 0x20000301u

struct blob {
  char *data;
  uint32_t len;
};

static bool_t xdr_blob(XDR *xdrs, struct blob *b) {
  return xdr_bytes(xdrs, &b->data, &b->len, 65536);
}

static void dispatch(struct svc_req *rq, SVCXPRT *xprt) {
  struct blob b = {NULL, 0};
  if (rq->rq_proc == 0) {
    ks_svc_sendreply(xprt, (xdrproc_t)xdr_void, NULL);
  } else if (rq->rq_proc == 1) {
    if (KS_SVC_GETARGS(xprt, (xdrproc_t)xdr_blob, &b))
      ks_svc_sendreply(xprt, (xdrproc_t)xdr_blob, &b);
    else
      ks_svcerr_decode(xprt);
    KS_SVC_FREEARGS(xprt, (xdrproc_t)xdr_blob, &b);
  } else {
    ks_svcerr_noproc(xprt);
  }
}

static int loopback_socket(int type, uint16_t *port) {
  struct sockaddr_in at;
  socklen_t len = sizeof at;
  memset(&at, 0, sizeof at);
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = socket(AF_INET, type, 0);
  if (fd < 0 || bind(fd, (struct sockaddr *)&at, len) != 0) return -1;
  if (type == SOCK_STREAM && listen(fd, 128) != 0) return -1;
  getsockname(fd, (struct sockaddr *)&at, &len);
  *port = ntohs(at.sin_port);
  return fd;
}

int main(int argc, char **argv) {
  int32_t threaded = argc > 1 && strcmp(argv[1], "threaded") == 0;
  ks_rpc_control(KS_RPC_SVC_THREADED_SET, &threaded);
  uint16_t udp_port = 0, tcp_port = 0;
  SVCXPRT *udp = ks_svc_dg_create(loopback_socket(SOCK_DGRAM, &udp_port), 0, 0);
  SVCXPRT *tcp =
      ks_svc_vc_create(loopback_socket(SOCK_STREAM, &tcp_port), 0, 0);
  if (udp == NULL || tcp == NULL ||
      !ks_svc_register(udp, BENCH_PROG, 1, dispatch, 0))
    return 1;
  printf("udp %u\ntcp %u\nready\n", udp_port, tcp_port);
  fflush(stdout);
  ks_svc_run();
  return 1;
}
