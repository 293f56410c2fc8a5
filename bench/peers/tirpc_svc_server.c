/* The libtirpc side of svc_bench: the same program as svc_bench_server
 * (0x20000301 version 1: 0 null, 1 echo of counted opaque data) served by
 * the system's ONC RPC library with svc_run, on loopback UDP and TCP.
 * Prints "udp PORT", "tcp PORT" and "ready", then serves until killed. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

#include <rpc/rpc.h>

#define BENCH_PROG 0x20000301u

struct blob {
  char *data;
  u_int len;
};

static bool_t xdr_blob(XDR *xdrs, struct blob *b) {
  return xdr_bytes(xdrs, &b->data, &b->len, 65536);
}

static void dispatch(struct svc_req *rq, SVCXPRT *xprt) {
  struct blob b = {NULL, 0};
  if (rq->rq_proc == 0) {
    svc_sendreply(xprt, (xdrproc_t)xdr_void, NULL);
  } else if (rq->rq_proc == 1) {
    if (svc_getargs(xprt, (xdrproc_t)xdr_blob, (caddr_t)&b))
      svc_sendreply(xprt, (xdrproc_t)xdr_blob, (caddr_t)&b);
    else
      svcerr_decode(xprt);
    svc_freeargs(xprt, (xdrproc_t)xdr_blob, (caddr_t)&b);
  } else {
    svcerr_noproc(xprt);
  }
}

static int loopback_socket(int type, unsigned *port) {
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

int main(void) {
  unsigned udp_port = 0, tcp_port = 0;
  SVCXPRT *udp =
      svcudp_bufcreate(loopback_socket(SOCK_DGRAM, &udp_port), 8800, 8800);
  SVCXPRT *tcp = svctcp_create(loopback_socket(SOCK_STREAM, &tcp_port), 0, 0);
  if (udp == NULL || tcp == NULL ||
      !svc_register(udp, BENCH_PROG, 1, dispatch, 0) ||
      !svc_register(tcp, BENCH_PROG, 1, dispatch, 0))
    return 1;
  printf("udp %u\ntcp %u\nready\n", udp_port, tcp_port);
  fflush(stdout);
  svc_run();
  return 1;
}
