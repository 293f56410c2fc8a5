/* ONC RPC version 2 call and reply messages and their filters. */
#ifndef ORVEXKS_RPC_RPC_MSG_H
#define ORVEXKS_RPC_RPC_MSG_H

#include <orvexks/ks_base.h>
#include <orvexks/rpc/auth.h>
#include <orvexks/rpc/xdr.h>

KS_BEGIN_DECLS

#define RPC_MSG_VERSION 2

enum msg_type { CALL = 0, REPLY = 1 };

enum reply_stat { MSG_ACCEPTED = 0, MSG_DENIED = 1 };

enum accept_stat {
  SUCCESS = 0,       /* the call ran */
  PROG_UNAVAIL = 1,  /* program not exported */
  PROG_MISMATCH = 2, /* version not supported */
  PROC_UNAVAIL = 3,  /* procedure not supported */
  GARBAGE_ARGS = 4,  /* arguments did not decode */
  SYSTEM_ERR = 5     /* the server failed otherwise */
};

enum reject_stat { RPC_MISMATCH = 0, AUTH_ERROR = 1 };

/* An accepted reply: the verifier, the status and its data. */
struct accepted_reply {
  struct opaque_auth ar_verf;
  enum accept_stat ar_stat;
  union {
    struct {
      uint32_t low;
      uint32_t high;
    } AR_versions; /* PROG_MISMATCH */
    struct {
      void *where;
      xdrproc_t proc;
    } AR_results; /* SUCCESS: the caller's result and its filter */
  } ru;
};
#define ar_results ru.AR_results
#define ar_vers ru.AR_versions

/* A denied reply. */
struct rejected_reply {
  enum reject_stat rj_stat;
  union {
    struct {
      uint32_t low;
      uint32_t high;
    } RJ_versions;         /* RPC_MISMATCH */
    enum auth_stat RJ_why; /* AUTH_ERROR */
  } ru;
};
#define rj_vers ru.RJ_versions
#define rj_why ru.RJ_why

struct reply_body {
  enum reply_stat rp_stat;
  union {
    struct accepted_reply RP_ar;
    struct rejected_reply RP_dr;
  } ru;
};
#define rp_acpt ru.RP_ar
#define rp_rjct ru.RP_dr

struct call_body {
  uint32_t cb_rpcvers; /* must be RPC_MSG_VERSION */
  uint32_t cb_prog;
  uint32_t cb_vers;
  uint32_t cb_proc;
  struct opaque_auth cb_cred;
  struct opaque_auth cb_verf;
};

struct rpc_msg {
  uint32_t rm_xid;
  enum msg_type rm_direction;
  union {
    struct call_body RM_cmb;
    struct reply_body RM_rmb;
  } ru;
};
#define rm_call ru.RM_cmb
#define rm_reply ru.RM_rmb
#define acpted_rply ru.RM_rmb.ru.RP_ar
#define rjcted_rply ru.RM_rmb.ru.RP_dr

/* A whole call message. Decoding fails unless the direction is CALL; a
 * credential or verifier whose body pointer is set is decoded into it
 * (room for MAX_AUTH_BYTES), otherwise the body is allocated. */
KS_API bool_t xdr_ks_callmsg(XDR *xdrs, struct rpc_msg *msg);
/* Encode only: sets direction CALL and RPC version 2 in the message, then
 * writes xid, direction, version, program and program version. */
KS_API bool_t xdr_ks_callhdr(XDR *xdrs, struct rpc_msg *msg);
/* A whole reply message; the direction must be REPLY. For an accepted
 * reply with status SUCCESS the results go through ar_results.proc. */
KS_API bool_t xdr_ks_replymsg(XDR *xdrs, struct rpc_msg *msg);
KS_API bool_t xdr_ks_accepted_reply(XDR *xdrs, struct accepted_reply *ar);
KS_API bool_t xdr_ks_rejected_reply(XDR *xdrs, struct rejected_reply *rr);

KS_END_DECLS

#endif
