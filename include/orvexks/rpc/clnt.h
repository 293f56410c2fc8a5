/* RPC clients: call status codes, the client error records, the client
 * handle and the texts with which clients report failures. */
#ifndef ORVEXKS_RPC_CLNT_H
#define ORVEXKS_RPC_CLNT_H

#include <orvexks/ks_base.h>
#include <orvexks/qmthread.h>
#include <orvexks/rpc/auth.h>
#include <orvexks/rpc/rpc_msg.h>
#include <orvexks/rpc/xdr.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

KS_BEGIN_DECLS

/* A transport address: buffer of maxlen bytes, len of them in use. */
#ifndef ORVEXKS_NETBUF_DEFINED
#define ORVEXKS_NETBUF_DEFINED
struct netbuf {
  uint32_t maxlen;
  uint32_t len;
  void *buf;
};
#endif

/* A transport description (rpc/rpcb.h). */
struct netconfig;

/* Outcome of a call or of a client creation. */
enum clnt_stat {
  RPC_SUCCESS = 0,
  RPC_CANTENCODEARGS = 1,
  RPC_CANTDECODERES = 2,
  RPC_CANTSEND = 3,
  RPC_CANTRECV = 4,
  RPC_TIMEDOUT = 5,
  RPC_VERSMISMATCH = 6,
  RPC_AUTHERROR = 7,
  RPC_PROGUNAVAIL = 8,
  RPC_PROGVERSMISMATCH = 9,
  RPC_PROCUNAVAIL = 10,
  RPC_CANTDECODEARGS = 11,
  RPC_SYSTEMERROR = 12,
  RPC_UNKNOWNHOST = 13,
  RPC_PMAPFAILURE = 14,
  RPC_PROGNOTREGISTERED = 15,
  RPC_FAILED = 16,
  RPC_UNKNOWNPROTO = 17,
  RPC_INTR = 18,            /* interrupted */
  RPC_UNKNOWNADDR = 19,     /* no usable server address */
  RPC_TLIERROR = 20,        /* transport information unavailable */
  RPC_N2AXLATEFAILURE = 22, /* address translation failed */
  RPC_DGRAM_CONNRESET = 23  /* datagram answered by a connection reset */
};

/* The detail of a client's last error. */
struct rpc_err {
  enum clnt_stat re_status;
  union {
    int RE_errno;          /* system or socket error number */
    enum auth_stat RE_why; /* RPC_AUTHERROR */
    struct {
      uint32_t low;
      uint32_t high;
    } RE_vers; /* RPC_VERSMISMATCH, RPC_PROGVERSMISMATCH */
    struct {
      int32_t s1;
      int32_t s2;
    } RE_lb; /* anything else */
  } ru;
};
#define re_errno ru.RE_errno
#define re_why ru.RE_why
#define re_vers ru.RE_vers
#define re_lb ru.RE_lb

/* Why the last client creation of a thread failed: its status, and the
 * status and error number of the underlying binder call. */
struct rpc_createerr {
  enum clnt_stat cf_stat;
  struct rpc_err cf_error;
};

typedef struct CLIENT CLIENT;

/* A transport's operations, in slot order. */
struct clnt_ops {
  enum clnt_stat (*cl_call)(CLIENT *cl, uint32_t proc, xdrproc_t xargs,
                            void *argsp, xdrproc_t xres, void *resp,
                            struct timeval timeout);
  void (*cl_abort)(CLIENT *cl);
  void (*cl_geterr)(CLIENT *cl, struct rpc_err *errp);
  bool_t (*cl_freeres)(CLIENT *cl, xdrproc_t xres, void *resp);
  void (*cl_destroy)(CLIENT *cl);
  bool_t (*cl_control)(CLIENT *cl, unsigned int request, void *info);
};

struct CLIENT {
  AUTH *cl_auth;
  const struct clnt_ops *cl_ops;
  void *cl_private;
  char *cl_netid;
  char *cl_tp;
  qmthread_mutex_t cl_lock; /* serialises every operation on the handle */
};

#define KS_CLNT_CALL(cl, proc, xargs, argsp, xres, resp, timeout) \
  (*(cl)->cl_ops->cl_call)(cl, proc, xargs, argsp, xres, resp, timeout)
#define KS_CLNT_ABORT(cl) (*(cl)->cl_ops->cl_abort)(cl)
#define KS_CLNT_GETERR(cl, errp) (*(cl)->cl_ops->cl_geterr)(cl, errp)
#define KS_CLNT_FREERES(cl, xres, resp) \
  (*(cl)->cl_ops->cl_freeres)(cl, xres, resp)
#define KS_CLNT_CONTROL(cl, rq, in) (*(cl)->cl_ops->cl_control)(cl, rq, in)
#define KS_CLNT_DESTROY(cl) (*(cl)->cl_ops->cl_destroy)(cl)

/* This thread's creation error, zeroed when first reached. */
KS_API struct rpc_createerr *ks_rpc_get_createerr(void);

/* Fills an error record from a reply that did not succeed. */
KS_API void _ks_seterr_reply(struct rpc_msg *msg, struct rpc_err *error);

/* Error texts. Every returned text but ks_clnt_sperrno's lives in one
 * 256-byte buffer per thread, overwritten by the next call of the same
 * thread; null when that buffer cannot be allocated. The p-functions
 * write the text and a newline to standard error. */
KS_API const char *ks_clnt_sperrno(enum clnt_stat stat);
KS_API void ks_clnt_perrno(enum clnt_stat stat);
KS_API char *ks_clnt_sperror(CLIENT *cl, const char *prefix);
KS_API void ks_clnt_perror(CLIENT *cl, const char *prefix);
KS_API char *ks_clnt_spcreateerror(const char *prefix);
KS_API void ks_clnt_pcreateerror(const char *prefix);

/* Control requests (KS_CLNT_CONTROL). Timeouts take a struct timeval *;
 * CLGET_FD an int *; transaction id, version and program a uint32_t *;
 * CLGET_SERVER_ADDR a buffer of at least 128 bytes; CLGET_SVC_ADDR and
 * CLSET_SVC_ADDR a struct netbuf *. CLSET_FD_CLOSE and CLSET_FD_NCLOSE
 * take no argument. */
#define CLSET_TIMEOUT 1
#define CLGET_TIMEOUT 2
#define CLGET_SERVER_ADDR 3
#define CLSET_RETRY_TIMEOUT 4
#define CLGET_RETRY_TIMEOUT 5
#define CLGET_FD 6
#define CLGET_SVC_ADDR 7
#define CLSET_FD_CLOSE 8
#define CLSET_FD_NCLOSE 9
#define CLGET_XID 10
#define CLSET_XID 11
#define CLGET_VERS 12
#define CLSET_VERS 13
#define CLGET_PROG 14
#define CLSET_PROG 15
#define CLSET_SVC_ADDR 16

/* Observes every client made by the address-based creation functions. */
typedef void (*ks_client_metering_hook_t)(uint32_t prog, uint32_t vers,
                                          CLIENT *clnt);

/* Creation. Each returns null on failure and leaves the reason in the
 * thread's creation error (ks_rpc_get_createerr). A nettype of null or ""
 * means "netpath". */
KS_API CLIENT *ks_clnt_create(const char *host, uint32_t prog, uint32_t vers,
                              const char *nettype);
/* A client on the highest version in [vers_low, vers_high] that the server
 * also offers; that version goes to *vers_out. */
KS_API CLIENT *ks_clnt_create_vers(const char *host, uint32_t prog,
                                   uint32_t *vers_out, uint32_t vers_low,
                                   uint32_t vers_high, const char *nettype);
KS_API CLIENT *ks_clnt_tp_create(const char *host, uint32_t prog, uint32_t vers,
                                 const struct netconfig *nconf);
/* fd -1 opens a socket for nconf (owned by the client). Sizes of 0 take
 * the transport's default. */
KS_API CLIENT *ks_clnt_tli_create(int fd, const struct netconfig *nconf,
                                  struct netbuf *svcaddr, uint32_t prog,
                                  uint32_t vers, uint32_t sendsz,
                                  uint32_t recvsz);
KS_API CLIENT *ks_clnt_dg_create(int fd, const struct netbuf *svcaddr,
                                 uint32_t prog, uint32_t vers, uint32_t sendsz,
                                 uint32_t recvsz);
KS_API CLIENT *ks_clnt_vc_create(int fd, const struct netbuf *raddr,
                                 uint32_t prog, uint32_t vers, uint32_t sendsz,
                                 uint32_t recvsz);
/* IPv4 address-based creation: port 0 asks the host's port mapper; *sockp
 * of -1 makes the client open (and own) a socket, returned through sockp. */
KS_API CLIENT *ks_clnttcp_create(struct sockaddr_in *raddr, uint32_t prog,
                                 uint32_t vers, int *sockp, uint32_t sendsz,
                                 uint32_t recvsz);
KS_API CLIENT *ks_clntudp_bufcreate(struct sockaddr_in *raddr, uint32_t prog,
                                    uint32_t vers, struct timeval wait,
                                    int *sockp, uint32_t sendsz,
                                    uint32_t recvsz);
KS_API CLIENT *ks_clntudp_create(struct sockaddr_in *raddr, uint32_t prog,
                                 uint32_t vers, struct timeval wait,
                                 int *sockp);
/* IPv4 or IPv6; an IPv6 address must carry its port. */
KS_API CLIENT *ks_clnttcp_create_sockaddr(struct sockaddr *raddr, uint32_t prog,
                                          uint32_t vers, int *sockp,
                                          uint32_t sendsz, uint32_t recvsz);
KS_API CLIENT *ks_clntudp_create_sockaddr(struct sockaddr *raddr, uint32_t prog,
                                          uint32_t vers, struct timeval wait,
                                          int *sockp);
/* The same clients under the sysutl family's names. */
KS_API CLIENT *sysutl_clnttcp_create(struct sockaddr *raddr, uint32_t prog,
                                     uint32_t vers, int *sockp, uint32_t sendsz,
                                     uint32_t recvsz);
KS_API CLIENT *sysutl_clnttcp_create_ext(struct sockaddr *raddr, uint32_t prog,
                                         uint32_t vers, int *sockp,
                                         uint32_t sendsz, uint32_t recvsz);
KS_API CLIENT *sysutl_clntudp_create(struct sockaddr *raddr, uint32_t prog,
                                     uint32_t vers, struct timeval wait,
                                     int *sockp);

/* One call through a client cached per thread (total timeout 25 s). */
KS_API enum clnt_stat ks_rpc_call(const char *host, uint32_t prog,
                                  uint32_t vers, uint32_t proc,
                                  xdrproc_t inproc, const void *in,
                                  xdrproc_t outproc, void *out,
                                  const char *nettype);
/* ks_rpc_call over "udp". */
KS_API enum clnt_stat ks_callrpc(const char *host, uint32_t prog, uint32_t vers,
                                 uint32_t proc, xdrproc_t inproc,
                                 const void *in, xdrproc_t outproc, void *out);

KS_API void ks_client_metering_enable(ks_client_metering_hook_t tcp_hook,
                                      ks_client_metering_hook_t udp_hook);
KS_API void ks_client_metering_disable(void);

KS_END_DECLS

#endif
