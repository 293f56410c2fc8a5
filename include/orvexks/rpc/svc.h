/* RPC servers: the server transport handle, the request record handed to
 * dispatch functions, and request authentication. */
#ifndef ORVEXKS_RPC_SVC_H
#define ORVEXKS_RPC_SVC_H

#include <orvexks/ks_base.h>
#include <orvexks/rpc/auth.h>
#include <orvexks/rpc/rpc_msg.h>
#include <orvexks/rpc/xdr.h>

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
  uint16_t xp_port;               /* local port, host order */
  const struct xp_ops *xp_ops;
  int32_t xp_addrlen;             /* length of xp_raddr */
  char xp_raddr[16];              /* an IPv4 caller's address */
  const struct xp_ops2 *xp_ops2;
  char *xp_tp;                    /* device name, owned */
  char *xp_netid;                 /* network identifier, owned */
  struct netbuf xp_ltaddr;        /* local address */
  struct netbuf xp_rtaddr;        /* the current request's caller */
  struct opaque_auth xp_verf;     /* verifier of the next reply */
  void *xp_p1;
  void *xp_p2;
  void *xp_p3;
  int32_t xp_type;                /* 1 datagram, 3 stream */
  bool_t xp_reply_in_progress;    /* a streamed reply is open */
  struct rpc_msg *xp_reply_msg;   /* the streamed reply's message */
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
  struct opaque_auth rq_cred;  /* the call's credential */
  void *rq_clntcred;           /* decoded credential: KS_SVC_CLNTCRED_SIZE
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

KS_END_DECLS

#endif
