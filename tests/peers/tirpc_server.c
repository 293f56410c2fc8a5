/* A foreign RPC server for the client tests and benchmarks: a program
 * linked only with the system's ONC RPC library. It serves program
 * 0x20000101, versions 2 and 3, on loopback over udp, tcp, udp6 and tcp6
 * (ephemeral ports, not registered with any binder), prints one line
 * "NETID PORT" per transport and then "ready", and runs until killed.
 *
 * Procedures: 0 null; 1 takes an unsigned int and returns it plus one;
 * 2 takes an unsigned int n and returns n bytes as counted opaque data. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <rpc/rpc.h>

#define PEER_PROG 0x20000101

static bool_t xdr_counted(XDR *xdrs, u_int *n) {
  static char zeros[65536];
  char *p = zeros;
  return xdr_bytes(xdrs, &p, n, sizeof zeros);
}

static void dispatch(struct svc_req *rq, SVCXPRT *xprt) {
  u_int value = 0;
  switch (rq->rq_proc) {
    case 0:
      svc_sendreply(xprt, (xdrproc_t)xdr_void, NULL);
      return;
    case 1:
    case 2:
      if (!svc_getargs(xprt, (xdrproc_t)xdr_u_int, (caddr_t)&value)) {
        svcerr_decode(xprt);
        return;
      }
      if (rq->rq_proc == 1) {
        value++;
        svc_sendreply(xprt, (xdrproc_t)xdr_u_int, (caddr_t)&value);
      } else {
        if (value > 65536) value = 65536;
        svc_sendreply(xprt, (xdrproc_t)xdr_counted, (caddr_t)&value);
      }
      return;
    default:
      svcerr_noproc(xprt);
  }
}

static int serve(int family, int type, const char *netid) {
  int fd = socket(family, type, 0);
  struct sockaddr_in sin = {.sin_family = AF_INET,
                            .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
  struct sockaddr_in6 sin6 = {.sin6_family = AF_INET6,
                              .sin6_addr = IN6ADDR_LOOPBACK_INIT};
  int v4 = family == AF_INET;
  struct sockaddr *sa = v4 ? (struct sockaddr *)&sin : (struct sockaddr *)&sin6;
  socklen_t len = v4 ? sizeof sin : sizeof sin6;
  if (fd < 0 || bind(fd, sa, len) != 0) return 1;
  if (type == SOCK_STREAM && listen(fd, 16) != 0) return 1;
  getsockname(fd, sa, &len);
  SVCXPRT *xprt =
      type == SOCK_DGRAM ? svc_dg_create(fd, 0, 0) : svc_vc_create(fd, 0, 0);
  if (xprt == NULL || !svc_reg(xprt, PEER_PROG, 2, dispatch, NULL) ||
      !svc_reg(xprt, PEER_PROG, 3, dispatch, NULL))
    return 1;
  printf("%s %u\n", netid, ntohs(v4 ? sin.sin_port : sin6.sin6_port));
  return 0;
}

int main(void) {
  if (serve(AF_INET, SOCK_DGRAM, "udp") || serve(AF_INET, SOCK_STREAM, "tcp") ||
      serve(AF_INET6, SOCK_DGRAM, "udp6") ||
      serve(AF_INET6, SOCK_STREAM, "tcp6")) {
    fprintf(stderr, "tirpc_server: cannot set up its transports\n");
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  svc_run();
  return 0;
}
