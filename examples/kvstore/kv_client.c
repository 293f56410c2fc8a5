/* The client of kv_server:
 *
 *     kv_client [-p PORT] HOST put KEY VALUE | get KEY | delete KEY | list
 *
 * Without -p it tries the server's fixed port, then asks HOST's binder
 * where the server is. Exits with 0 when the call
 * succeeded (for get and delete: when the key was there). */
#define _POSIX_C_SOURCE 200809L

#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include "kv_proto.h"

static CLIENT *connect_port(const char *host, uint16_t port) {
  struct addrinfo hints, *found = NULL;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(host, NULL, &hints, &found) != 0) return NULL;
  struct sockaddr_in at;
  memcpy(&at, found->ai_addr, sizeof at);
  freeaddrinfo(found);
  at.sin_port = htons(port);
  int fd = -1; /* the client opens its own socket */
  return ks_clnttcp_create(&at, KV_PROG, KV_VERS, &fd, 0, 0);
}

static int usage(void) {
  fprintf(stderr,
          "usage: kv_client [-p PORT] HOST put KEY VALUE | get KEY | delete "
          "KEY | list\n");
  return 2;
}

int main(int argc, char **argv) {
  int arg = 1;
  int port = 0;
  if (argc > 2 && strcmp(argv[1], "-p") == 0) {
    port = atoi(argv[2]);
    arg = 3;
  }
  if (argc - arg < 2) return usage();
  const char *host = argv[arg];
  const char *op = argv[arg + 1];
  char **rest = argv + arg + 2;
  int nrest = argc - arg - 2;

  /* The fixed port answers at once when the server is there; only then is
   * the binder asked, whose lookups wait out their time-outs when no
   * binder runs. */
  CLIENT *cl = connect_port(host, port != 0 ? (uint16_t)port : KV_PORT);
  if (cl == NULL && port == 0)
    cl = ks_clnt_create(host, KV_PROG, KV_VERS, "tcp");
  if (cl == NULL) {
    fprintf(stderr, "%s", ks_clnt_spcreateerror("kv_client"));
    return 1;
  }
  struct timeval tv = {10, 0};
  enum clnt_stat stat;
  int rc = 0;
  if (strcmp(op, "put") == 0 && nrest == 2) {
    struct kv_pair pair = {rest[0], rest[1]};
    bool_t done = FALSE;
    stat = KS_CLNT_CALL(cl, KV_PUT, (xdrproc_t)xdr_kv_pair, &pair,
                        (xdrproc_t)xdr_bool, &done, tv);
    if (stat == RPC_SUCCESS) printf("%s = %s\n", rest[0], rest[1]);
    rc = done ? 0 : 1;
  } else if (strcmp(op, "get") == 0 && nrest == 1) {
    struct kv_value value = {FALSE, NULL};
    stat = KS_CLNT_CALL(cl, KV_GET, (xdrproc_t)xdr_kv_text, &rest[0],
                        (xdrproc_t)xdr_kv_value, &value, tv);
    if (stat == RPC_SUCCESS)
      printf(value.found ? "%s = %s\n" : "%s: no such key\n", rest[0],
             value.value);
    rc = value.found ? 0 : 1;
    xdr_free((xdrproc_t)xdr_kv_value, &value);
  } else if (strcmp(op, "delete") == 0 && nrest == 1) {
    bool_t done = FALSE;
    stat = KS_CLNT_CALL(cl, KV_DELETE, (xdrproc_t)xdr_kv_text, &rest[0],
                        (xdrproc_t)xdr_bool, &done, tv);
    if (stat == RPC_SUCCESS)
      printf(done ? "%s deleted\n" : "%s: no such key\n", rest[0]);
    rc = done ? 0 : 1;
  } else if (strcmp(op, "list") == 0 && nrest == 0) {
    struct kv_keys keys = {0, NULL};
    stat = KS_CLNT_CALL(cl, KV_LIST, (xdrproc_t)xdr_void, NULL,
                        (xdrproc_t)xdr_kv_keys, &keys, tv);
    for (uint32_t i = 0; stat == RPC_SUCCESS && i < keys.count; i++)
      printf("%s\n", keys.keys[i]);
    xdr_free((xdrproc_t)xdr_kv_keys, &keys);
  } else {
    KS_CLNT_DESTROY(cl);
    return usage();
  }
  if (stat != RPC_SUCCESS) {
    fprintf(stderr, "%s\n", ks_clnt_sperror(cl, "kv_client"));
    rc = 1;
  }
  KS_CLNT_DESTROY(cl);
  return rc;
}
