/* A small key-value server on liborvexks: GET, PUT, DELETE and LIST over
 * UDP and TCP, served by the threaded service loop. It always listens on
 * the fixed port KV_PORT and, when a binder (rpcbind) accepts it, also
 * registers there, so that clients find it by name.
 *
 *     kv_server [-p PORT]
 *
 * SIGINT or SIGTERM unregisters it from the binder and ends it. */
#define _POSIX_C_SOURCE 200809L

#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include "kv_proto.h"

/* The store: a list of pairs under one lock. */
struct entry {
  struct entry *next;
  char *key;
  char *value;
};
static struct entry *store;
static pthread_mutex_t store_lock = PTHREAD_MUTEX_INITIALIZER;
static bool_t registered;

static struct entry **find(const char *key) {
  struct entry **at = &store;
  while (*at != NULL && strcmp((*at)->key, key) != 0) at = &(*at)->next;
  return at;
}

static bool_t put(const char *key, const char *value) {
  char *copy = strdup(value);
  if (copy == NULL) return FALSE;
  pthread_mutex_lock(&store_lock);
  struct entry *e = *find(key);
  if (e == NULL && (e = calloc(1, sizeof *e)) != NULL &&
      (e->key = strdup(key)) != NULL) {
    e->next = store;
    store = e;
  } else if (e != NULL && e->key == NULL) {
    free(e);
    e = NULL;
  }
  if (e != NULL) {
    free(e->value);
    e->value = copy;
  } else {
    free(copy);
  }
  pthread_mutex_unlock(&store_lock);
  return e != NULL;
}

static void get(const char *key, struct kv_value *out) {
  pthread_mutex_lock(&store_lock);
  struct entry *e = *find(key);
  out->found = e != NULL;
  out->value = strdup(e != NULL ? e->value : "");
  pthread_mutex_unlock(&store_lock);
}

static bool_t delete (const char *key) {
  pthread_mutex_lock(&store_lock);
  struct entry **at = find(key);
  struct entry *e = *at;
  if (e != NULL) *at = e->next;
  pthread_mutex_unlock(&store_lock);
  if (e == NULL) return FALSE;
  free(e->key);
  free(e->value);
  free(e);
  return TRUE;
}

/* Copies of the keys, so that the reply needs no lock. */
static bool_t list(struct kv_keys *out) {
  pthread_mutex_lock(&store_lock);
  uint32_t n = 0;
  for (struct entry *e = store; e != NULL && n < KV_MAX_KEYS; e = e->next) n++;
  out->keys = calloc(n + 1, sizeof(char *));
  out->count = 0;
  bool_t ok = out->keys != NULL;
  for (struct entry *e = store; ok && e != NULL && out->count < n; e = e->next)
    ok = (out->keys[out->count++] = strdup(e->key)) != NULL;
  pthread_mutex_unlock(&store_lock);
  return ok;
}

static void free_keys(struct kv_keys *keys) {
  for (uint32_t i = 0; keys->keys != NULL && i < keys->count; i++)
    free(keys->keys[i]);
  free(keys->keys);
}

static void dispatch(struct svc_req *rq, SVCXPRT *xprt) {
  struct kv_pair pair = {NULL, NULL};
  char *key = NULL;
  bool_t done;
  switch (rq->rq_proc) {
    case KV_NULL:
      ks_svc_sendreply(xprt, (xdrproc_t)xdr_void, NULL);
      return;
    case KV_PUT:
      if (!KS_SVC_GETARGS(xprt, (xdrproc_t)xdr_kv_pair, &pair)) break;
      done = put(pair.key, pair.value);
      ks_svc_sendreply(xprt, (xdrproc_t)xdr_bool, &done);
      KS_SVC_FREEARGS(xprt, (xdrproc_t)xdr_kv_pair, &pair);
      return;
    case KV_GET:
    case KV_DELETE:
      if (!KS_SVC_GETARGS(xprt, (xdrproc_t)xdr_kv_text, &key)) break;
      if (rq->rq_proc == KV_GET) {
        struct kv_value value;
        get(key, &value);
        if (value.value == NULL)
          ks_svcerr_systemerr(xprt);
        else
          ks_svc_sendreply(xprt, (xdrproc_t)xdr_kv_value, &value);
        free(value.value);
      } else {
        done = delete (key);
        ks_svc_sendreply(xprt, (xdrproc_t)xdr_bool, &done);
      }
      KS_SVC_FREEARGS(xprt, (xdrproc_t)xdr_kv_text, &key);
      return;
    case KV_LIST: {
      struct kv_keys keys;
      if (list(&keys))
        ks_svc_sendreply(xprt, (xdrproc_t)xdr_kv_keys, &keys);
      else
        ks_svcerr_systemerr(xprt);
      free_keys(&keys);
      return;
    }
    default:
      ks_svcerr_noproc(xprt);
      return;
  }
  ks_svcerr_decode(xprt);
}

/* A transport on the fixed port of every local address. */
static SVCXPRT *fixed_transport(const char *netid, int type, uint16_t port) {
  struct netconfig nconf = {(char *)netid,
                            type == SOCK_STREAM ? NC_TPI_COTS_ORD : NC_TPI_CLTS,
                            0,
                            "inet",
                            type == SOCK_STREAM ? "tcp" : "udp",
                            "-",
                            0,
                            NULL};
  struct sockaddr_in at;
  memset(&at, 0, sizeof at);
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  at.sin_addr.s_addr = htonl(INADDR_ANY);
  struct t_bind bind_at = {{sizeof at, sizeof at, &at}, 64};
  int fd = socket(AF_INET, type, 0);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  return ks_svc_tli_create(fd, &nconf, &bind_at, 0, 0);
}

/* Waits for SIGINT or SIGTERM, leaves the binder and ends the process. */
static void *stopper(void *arg) {
  sigset_t *set = arg;
  int sig = 0;
  sigwait(set, &sig);
  if (registered) ks_pmap_unset(KV_PROG, KV_VERS);
  printf("kv_server: stopped\n");
  exit(0);
}

int main(int argc, char **argv) {
  uint16_t port = argc == 3 && strcmp(argv[1], "-p") == 0
                      ? (uint16_t)atoi(argv[2])
                      : KV_PORT;
  static sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, NULL);
  pthread_t stop_thread;
  pthread_create(&stop_thread, NULL, stopper, &stop_signals);

  int32_t on = 1;
  ks_rpc_control(KS_RPC_SVC_THREADED_SET, &on);
  SVCXPRT *udp = fixed_transport("udp", SOCK_DGRAM, port);
  SVCXPRT *tcp = fixed_transport("tcp", SOCK_STREAM, port);
  if (udp == NULL || tcp == NULL ||
      !ks_svc_register(udp, KV_PROG, KV_VERS, dispatch, 0)) {
    fprintf(stderr, "kv_server: cannot serve on port %u\n", port);
    return 1;
  }
  /* Replace any stale registration, then register both transports. */
  ks_pmap_unset(KV_PROG, KV_VERS);
  registered = ks_pmap_set(KV_PROG, KV_VERS, IPPROTO_UDP, port) &&
               ks_pmap_set(KV_PROG, KV_VERS, IPPROTO_TCP, port);
  printf("kv_server: port %u, %s\n", port,
         registered ? "registered with rpcbind" : "standalone (no binder)");
  fflush(stdout);
  ks_svc_run();
  return 1;
}
