/* RPC clients: call status codes, the client error records, the client
 * handle and the texts with which clients report failures. */
#ifndef ORVEXKS_RPC_CLNT_H
#define ORVEXKS_RPC_CLNT_H

#include <orvexks/ks_base.h>
#include <orvexks/qmthread.h>
#include <orvexks/rpc/auth.h>
#include <orvexks/rpc/rpc_msg.h>
#include <orvexks/rpc/xdr.h>

#include <sys/time.h>

KS_BEGIN_DECLS

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
    } RE_vers;             /* RPC_VERSMISMATCH, RPC_PROGVERSMISMATCH */
    struct {
      int32_t s1;
      int32_t s2;
    } RE_lb;               /* anything else */
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

KS_END_DECLS

#endif
