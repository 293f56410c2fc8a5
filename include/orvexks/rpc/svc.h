/* RPC servers: the server transport handle, the request record handed to
 * dispatch functions, request authentication, the registered transports and
 * programs, replies, the service loop and the server transports. */
#ifndef ORVEXKS_RPC_SVC_H
#define ORVEXKS_RPC_SVC_H

#include <orvexks/ks_base.h>
#include <orvexks/rpc/auth.h>
#include <orvexks/rpc/rpc_msg.h>
#include <orvexks/rpc/xdr.h>

#include <sys/select.h>

KS_BEGIN_DECLS

struct netconfig; /* the binder's transport description, rpc/rpcb.h */

/* A transport address: buffer of maxlen bytes, len of them in use. */
#ifndef ORVEXKS_NETBUF_DEFINED
#define ORVEXKS_NETBUF_DEFINED
struct netbuf {
  uint32_t maxlen;
  uint32_t len;
  void *buf;
};
#endif

/* State of a server transport. */
enum xprt_stat { XPRT_DIED = 0, XPRT_MOREREQS = 1, XPRT_IDLE = 2 };

typedef struct SVCXPRT SVCXPRT;

/* A server transport's operations, in slot order. */
struct xp_ops {
  bool_t (*xp_recv)(SVCXPRT *xprt, struct rpc_msg *msg);
  enum xprt_stat (*xp_stat)(SVCXPRT *xprt);
  bool_t (*xp_getargs)(SVCXPRT *xprt, xdrproc_t xargs, void *argsp);
  bool_t (*xp_reply)(SVCXPRT *xprt, struct rpc_msg *msg);
  XDR *(*xp_reply_xdrs)(SVCXPRT *xprt);
  bool_t (*xp_reply_finish)(SVCXPRT *xprt);
  bool_t (*xp_freeargs)(SVCXPRT *xprt, xdrproc_t xargs, void *argsp);
  void (*xp_destroy)(SVCXPRT *xprt);
};

/* Extension operations. */
struct xp_ops2 {
  bool_t (*xp_control)(SVCXPRT *xprt, unsigned int request, void *info);
};

struct SVCXPRT {
  int xp_fd;
  uint16_t xp_port; /* local port, host order */
  const struct xp_ops *xp_ops;
  int32_t xp_addrlen; /* length of xp_raddr */
  char xp_raddr[16];  /* an IPv4 caller's address */
  const struct xp_ops2 *xp_ops2;
  char *xp_tp;                /* device name, owned */
  char *xp_netid;             /* network identifier, owned */
  struct netbuf xp_ltaddr;    /* local address */
  struct netbuf xp_rtaddr;    /* the current request's caller */
  struct opaque_auth xp_verf; /* verifier of the next reply */
  void *xp_p1;
  void *xp_p2;
  void *xp_p3;
  int32_t xp_type;              /* 1 datagram, 3 stream */
  bool_t xp_reply_in_progress;  /* a streamed reply is open */
  struct rpc_msg *xp_reply_msg; /* the streamed reply's message */
};

#define KS_SVC_GETARGS(xprt, xargs, argsp) \
  (*(xprt)->xp_ops->xp_getargs)(xprt, xargs, argsp)
#define KS_SVC_FREEARGS(xprt, xargs, argsp) \
  (*(xprt)->xp_ops->xp_freeargs)(xprt, xargs, argsp)

/* Room a request record's decoded-credential area must offer. */
#define KS_SVC_CLNTCRED_SIZE 1600

/* One request, as a dispatch function sees it. */
struct svc_req {
  uint32_t rq_prog;
  uint32_t rq_vers;
  uint32_t rq_proc;
  struct opaque_auth rq_cred; /* the call's credential */
  void *rq_clntcred;          /* decoded credential: KS_SVC_CLNTCRED_SIZE
                                 bytes, 8-byte aligned */
  SVCXPRT *rq_xprt;
};

/* A server-side authenticator of one flavour. */
typedef enum auth_stat (*ks_svc_authenticator_t)(struct svc_req *rqst,
                                                 struct rpc_msg *msg);

/* Checks a call's credential by its flavour. Copies the credential into
 * the request and sets the transport's reply verifier (AUTH_NONE unless
 * the authenticator says otherwise). */
KS_API enum auth_stat _ks_authenticate(struct svc_req *rqst,
                                       struct rpc_msg *msg);
/* Adds an authenticator for a flavour of 3 or more: 0 when registered, 1
 * when the flavour is below 3 or already registered, -1 without memory. */
KS_API int ks_svc_auth_reg(int flavor, ks_svc_authenticator_t handler);

/* ---- Registered transports and programs, dispatch and replies. */

/* Most transports registered at once. */
#define KS_SVC_MAX_XPRTS 1023

/* The sockets the service loop waits on: every registered transport's
 * socket except while a worker serves it. */
KS_API extern fd_set ks_svc_fdset;

typedef void (*ks_svc_dispatch_t)(struct svc_req *rqst, SVCXPRT *xprt);

/* Registers a dispatch function for program and version; protocol must be
 * 0 (binder registration is the caller's business). */
KS_API bool_t ks_svc_register(SVCXPRT *xprt, uint32_t prog, uint32_t vers,
                              ks_svc_dispatch_t dispatch, int protocol);
KS_API void ks_svc_unregister(uint32_t prog, uint32_t vers);
/* Adds a transport to the table and its socket to ks_svc_fdset; false when
 * the table is full or the socket cannot be waited on (1024 or more). */
KS_API bool_t ks_xprt_register(SVCXPRT *xprt);
KS_API void ks_xprt_unregister(SVCXPRT *xprt);
/* Serves the registered transports whose sockets are in readfds. */
KS_API void ks_svc_getreqset(fd_set *readfds);
/* Receives and dispatches the transport's calls until it is idle. */
KS_API void ks_svc_process_request(SVCXPRT *xprt);
/* The service loop; returns only when waiting fails. */
KS_API void ks_svc_run(void);
/* Starts the worker pool in threaded mode; false when already started. */
KS_API bool_t ks_svc_setup_threads(void);

KS_API bool_t ks_svc_sendreply(SVCXPRT *xprt, xdrproc_t xdr_results,
                               void *results);
/* A reply sent in parts (connection transports): start with the first
 * results, encode more into ks_svc_sendreply_get_xdrs, end with finish
 * (obj null: nothing more to encode). */
KS_API bool_t ks_svc_sendreply_start(SVCXPRT *xprt, xdrproc_t xdr_results,
                                     void *results);
KS_API XDR *ks_svc_sendreply_get_xdrs(SVCXPRT *xprt);
KS_API bool_t ks_svc_sendreply_finish(SVCXPRT *xprt, xdrproc_t xdr_obj,
                                      void *obj);
KS_API bool_t ks_svcerr_noprog(SVCXPRT *xprt);
KS_API bool_t ks_svcerr_noproc(SVCXPRT *xprt);
KS_API bool_t ks_svcerr_decode(SVCXPRT *xprt);
KS_API bool_t ks_svcerr_systemerr(SVCXPRT *xprt);
KS_API bool_t ks_svcerr_weakauth(SVCXPRT *xprt);
KS_API bool_t ks_svcerr_progvers(SVCXPRT *xprt, uint32_t low, uint32_t high);
KS_API bool_t ks_svcerr_auth(SVCXPRT *xprt, enum auth_stat why);

/* ks_rpc_control requests; the argument is an int32_t *. */
#define KS_RPC_SVC_CONNMAXREC_SET 0
#define KS_RPC_SVC_CONNMAXREC_GET 1
#define KS_RPC_SVC_THREADED_SET 2
#define KS_RPC_SVC_THREADED_GET 3
#define KS_RPC_SVC_NWORKERS_SET 4
#define KS_RPC_SVC_NWORKERS_GET 5
KS_API bool_t ks_rpc_control(int request, void *info);

/* ---- Transport control requests. */

#define KS_SVC_CONTROL(xprt, rq, info) \
  (*(xprt)->xp_ops2->xp_control)(xprt, rq, info)
#define KS_SVCGET_CONNMAXREC 3 /* listener: int32_t * */
#define KS_SVCSET_CONNMAXREC 4 /* listener: int32_t * */
#define KS_SVC_CLONE 5         /* datagram: SVCXPRT ** out */
#define KS_SVC_IS_CLONE 6      /* datagram: the result */
#define KS_SVC_GETMSG 7        /* datagram clone: struct rpc_msg ** out */

/* ---- Server transports. */

/* Bind address of ks_svc_tli_create: address and listen queue length. */
struct t_bind {
  struct netbuf addr;
  unsigned int qlen;
};

KS_API SVCXPRT *ks_svc_dg_create(int fd, uint32_t sendsz, uint32_t recvsz);
KS_API SVCXPRT *ks_svc_vc_create(int fd, uint32_t sendsz, uint32_t recvsz);
KS_API SVCXPRT *ks_svc_fd_create(int fd, uint32_t sendsz, uint32_t recvsz);
KS_API SVCXPRT *ks_svcfd_create(int fd, uint32_t sendsz, uint32_t recvsz);
KS_API SVCXPRT *ks_svc_tli_create(int fd, const struct netconfig *nconf,
                                  const struct t_bind *bindaddr,
                                  uint32_t sendsz, uint32_t recvsz);
KS_API SVCXPRT *ks_svcudp_create(int fd);
KS_API SVCXPRT *ks_svcudp_bufcreate(int fd, uint32_t sendsz, uint32_t recvsz);
KS_API SVCXPRT *ks_svctcp_create(int fd, uint32_t sendsz, uint32_t recvsz);

KS_END_DECLS

#endif
