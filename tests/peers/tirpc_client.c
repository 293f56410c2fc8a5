/* A foreign RPC client for the server tests: a program linked only with
 * the system's ONC RPC library. One call per run:
 *
 *   tirpc_client NETID PORT PROG VERS PROC [none|unix|bogus] [ARG]
 *
 * NETID is udp, tcp, udp6 or tcp6 (loopback). ARG is a text sent as
 * counted opaque data (the echo procedure's argument), or "#N" for a bare
 * unsigned int N. The credential "bogus" has flavour 300, which no server
 * knows. Prints "stat S", then " low L high H" for a version mismatch,
 * " why W" for an authentication error, " echo TEXT" for echoed data. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <rpc/rpc.h>

static bool_t bogus_marshal(AUTH *auth, XDR *xdrs) {
  struct opaque_auth cred = {300, NULL, 0};
  (void)auth;
  return xdr_opaque_auth(xdrs, &cred) && xdr_opaque_auth(xdrs, &_null_auth);
}

static AUTH *bogus_auth(void) {
  static struct auth_ops ops;
  AUTH *auth = authnone_create();
  ops = *auth->ah_ops;
  ops.ah_marshal = bogus_marshal;
  auth->ah_ops = &ops;
  return auth;
}

struct blob {
  char *data;
  u_int len;
};

static bool_t xdr_blob(XDR *xdrs, struct blob *b) {
  return xdr_bytes(xdrs, &b->data, &b->len, 1 << 20);
}

int main(int argc, char **argv) {
  if (argc < 6) {
    fprintf(stderr,
            "usage: tirpc_client NETID PORT PROG VERS PROC [none|unix|bogus] "
            "[ARG]\n");
    return 2;
  }
  const char *netid = argv[1];
  int v6 = strchr(netid, '6') != NULL;
  int stream = strncmp(netid, "tcp", 3) == 0;
  uint16_t port = htons((uint16_t)atoi(argv[2]));
  struct sockaddr_in sin = {.sin_family = AF_INET,
                            .sin_port = port,
                            .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
  struct sockaddr_in6 sin6 = {.sin6_family = AF_INET6,
                              .sin6_port = port,
                              .sin6_addr = IN6ADDR_LOOPBACK_INIT};
  struct sockaddr *sa = v6 ? (struct sockaddr *)&sin6 : (struct sockaddr *)&sin;
  socklen_t len = v6 ? sizeof sin6 : sizeof sin;
  int fd =
      socket(v6 ? AF_INET6 : AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, 0);
  if (stream && connect(fd, sa, len) != 0) {
    perror("connect");
    return 1;
  }
  struct netbuf addr = {len, len, sa};
  rpcprog_t prog = strtoul(argv[3], NULL, 0);
  rpcvers_t vers = strtoul(argv[4], NULL, 0);
  CLIENT *cl = stream ? clnt_vc_create(fd, &addr, prog, vers, 0, 0)
                      : clnt_dg_create(fd, &addr, prog, vers, 0, 0);
  if (cl == NULL) {
    clnt_pcreateerror("tirpc_client");
    return 1;
  }
  const char *flavor = argc > 6 ? argv[6] : "none";
  if (strcmp(flavor, "unix") == 0) {
    auth_destroy(cl->cl_auth);
    cl->cl_auth = authunix_create_default();
  } else if (strcmp(flavor, "bogus") == 0) {
    cl->cl_auth = bogus_auth();
  }
  struct timeval tv = {10, 0};
  struct blob in = {NULL, 0}, out = {NULL, 0};
  u_int number = 0;
  xdrproc_t xargs = (xdrproc_t)xdr_void;
  void *args = NULL;
  if (argc > 7 && argv[7][0] == '#') {
    number = (u_int)strtoul(argv[7] + 1, NULL, 0);
    xargs = (xdrproc_t)xdr_u_int;
    args = &number;
  } else if (argc > 7) {
    in.data = argv[7];
    in.len = (u_int)strlen(argv[7]);
    xargs = (xdrproc_t)xdr_blob;
    args = &in;
  }
  xdrproc_t xres = argc > 7 ? (xdrproc_t)xdr_blob : (xdrproc_t)xdr_void;
  enum clnt_stat stat =
      clnt_call(cl, (rpcproc_t)strtoul(argv[5], NULL, 0), xargs, args, xres,
                argc > 7 ? (caddr_t)&out : NULL, tv);
  struct rpc_err err;
  clnt_geterr(cl, &err);
  printf("stat %d", (int)stat);
  if (stat == RPC_PROGVERSMISMATCH)
    printf(" low %lu high %lu", (unsigned long)err.re_vers.low,
           (unsigned long)err.re_vers.high);
  if (stat == RPC_AUTHERROR) printf(" why %d", (int)err.re_why);
  if (stat == RPC_SUCCESS && out.data != NULL)
    printf(" echo %.*s", (int)out.len, out.data);
  printf("\n");
  fflush(stdout);
  xdr_free((xdrproc_t)xdr_blob, (char *)&out);
  auth_destroy(cl->cl_auth);
  clnt_destroy(cl);
  close(fd);
  return 0;
}
