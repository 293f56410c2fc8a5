/* RPC message scenarios of the foreign peer: call messages with AUTH_NONE
 * and AUTH_UNIX credentials, and accepted and rejected replies. The values
 * are fixed here and mirrored in rpc_msg_test.cpp; decode prints them in
 * the same "name=value" lines that the test expects. */
#include "tirpc_peer.h"

#include <string.h>

#define MSG_XID 0x12345678u
#define MSG_PROG 100003u
#define MSG_VERS 3u
#define MSG_PROC 7u
#define UNIX_TIME 1700000000u
#define UNIX_HOST "peerhost"
#define UNIX_UID 1000
#define UNIX_GID 100
#define RESULT_VALUE 42u

static void set_call(struct rpc_msg *msg) {
  memset(msg, 0, sizeof *msg);
  msg->rm_xid = MSG_XID;
  msg->rm_direction = CALL;
  msg->rm_call.cb_rpcvers = RPC_MSG_VERSION;
  msg->rm_call.cb_prog = MSG_PROG;
  msg->rm_call.cb_vers = MSG_VERS;
  msg->rm_call.cb_proc = MSG_PROC;
  msg->rm_call.cb_cred = _null_auth;
  msg->rm_call.cb_verf = _null_auth;
}

static void print_call(FILE *out, const struct rpc_msg *msg) {
  fprintf(out, "xid=%u\ndirection=%d\nrpcvers=%u\nprog=%u\nvers=%u\nproc=%u\n",
          msg->rm_xid, (int)msg->rm_direction, msg->rm_call.cb_rpcvers,
          msg->rm_call.cb_prog, msg->rm_call.cb_vers, msg->rm_call.cb_proc);
  fprintf(out, "cred=%d/%u\nverf=%d/%u\n", msg->rm_call.cb_cred.oa_flavor,
          msg->rm_call.cb_cred.oa_length, msg->rm_call.cb_verf.oa_flavor,
          msg->rm_call.cb_verf.oa_length);
}

static int encode_call_none(XDR *xdrs) {
  struct rpc_msg msg;
  set_call(&msg);
  PEER_CHECK(xdr_callmsg(xdrs, &msg));
  return 0;
}

static int decode_call(XDR *xdrs, FILE *out, struct rpc_msg *msg, char *cred) {
  memset(msg, 0, sizeof *msg);
  msg->rm_call.cb_cred.oa_base = cred;
  PEER_CHECK(xdr_callmsg(xdrs, msg));
  print_call(out, msg);
  return 0;
}

static int decode_call_none(XDR *xdrs, FILE *out) {
  struct rpc_msg msg;
  char cred[MAX_AUTH_BYTES];
  return decode_call(xdrs, out, &msg, cred);
}

PEER_SCENARIO(call_none, encode_call_none, decode_call_none)

static int encode_call_unix(XDR *xdrs) {
  gid_t gids[3] = {UNIX_GID, 4, 27};
  struct authunix_parms parms = {UNIX_TIME, UNIX_HOST, UNIX_UID,
                                 UNIX_GID,  3,         gids};
  char body[MAX_AUTH_BYTES];
  XDR mem;
  xdrmem_create(&mem, body, sizeof body, XDR_ENCODE);
  PEER_CHECK(xdr_authunix_parms(&mem, &parms));
  struct rpc_msg msg;
  set_call(&msg);
  msg.rm_call.cb_cred.oa_flavor = AUTH_UNIX;
  msg.rm_call.cb_cred.oa_base = body;
  msg.rm_call.cb_cred.oa_length = xdr_getpos(&mem);
  PEER_CHECK(xdr_callmsg(xdrs, &msg));
  return 0;
}

static int decode_call_unix(XDR *xdrs, FILE *out) {
  struct rpc_msg msg;
  char cred[MAX_AUTH_BYTES];
  if (decode_call(xdrs, out, &msg, cred) != 0) return 1;
  struct authunix_parms parms;
  memset(&parms, 0, sizeof parms);
  XDR mem;
  xdrmem_create(&mem, cred, msg.rm_call.cb_cred.oa_length, XDR_DECODE);
  PEER_CHECK(xdr_authunix_parms(&mem, &parms));
  fprintf(out, "time=%lu\nhost=%s\nuid=%d\ngid=%d\ngids=",
          (unsigned long)parms.aup_time, parms.aup_machname, parms.aup_uid,
          parms.aup_gid);
  for (u_int i = 0; i < parms.aup_len; ++i)
    fprintf(out, "%s%d", i == 0 ? "" : ",", (int)parms.aup_gids[i]);
  fprintf(out, "\n");
  xdr_free((xdrproc_t)xdr_authunix_parms, (char *)&parms);
  return 0;
}

PEER_SCENARIO(call_unix, encode_call_unix, decode_call_unix)

/* Replies: one of each kind, chosen by the scenario. */
enum reply_kind {
  REPLY_SUCCESS,
  REPLY_PROG_MISMATCH,
  REPLY_AUTH_ERROR,
  REPLY_RPC_MISMATCH
};

static void set_reply(struct rpc_msg *msg, enum reply_kind kind,
                      u_int *result) {
  memset(msg, 0, sizeof *msg);
  msg->rm_xid = MSG_XID;
  msg->rm_direction = REPLY;
  switch (kind) {
    case REPLY_SUCCESS:
    case REPLY_PROG_MISMATCH:
      msg->rm_reply.rp_stat = MSG_ACCEPTED;
      msg->acpted_rply.ar_verf = _null_auth;
      if (kind == REPLY_SUCCESS) {
        msg->acpted_rply.ar_stat = SUCCESS;
        msg->acpted_rply.ar_results.where = (caddr_t)result;
        msg->acpted_rply.ar_results.proc = (xdrproc_t)xdr_u_int;
      } else {
        msg->acpted_rply.ar_stat = PROG_MISMATCH;
        msg->acpted_rply.ar_vers.low = 2;
        msg->acpted_rply.ar_vers.high = 4;
      }
      break;
    case REPLY_AUTH_ERROR:
      msg->rm_reply.rp_stat = MSG_DENIED;
      msg->rjcted_rply.rj_stat = AUTH_ERROR;
      msg->rjcted_rply.rj_why = AUTH_TOOWEAK;
      break;
    case REPLY_RPC_MISMATCH:
      msg->rm_reply.rp_stat = MSG_DENIED;
      msg->rjcted_rply.rj_stat = RPC_MISMATCH;
      msg->rjcted_rply.rj_vers.low = 2;
      msg->rjcted_rply.rj_vers.high = 2;
      break;
  }
}

static int encode_reply(XDR *xdrs, enum reply_kind kind) {
  u_int result = RESULT_VALUE;
  struct rpc_msg msg;
  set_reply(&msg, kind, &result);
  PEER_CHECK(xdr_replymsg(xdrs, &msg));
  return 0;
}

static int decode_reply(XDR *xdrs, FILE *out) {
  u_int result = 0;
  struct rpc_msg msg;
  memset(&msg, 0, sizeof msg);
  msg.acpted_rply.ar_results.where = (caddr_t)&result;
  msg.acpted_rply.ar_results.proc = (xdrproc_t)xdr_u_int;
  PEER_CHECK(xdr_replymsg(xdrs, &msg));
  fprintf(out, "xid=%u\ndirection=%d\nstat=%d\n", msg.rm_xid,
          (int)msg.rm_direction, (int)msg.rm_reply.rp_stat);
  if (msg.rm_reply.rp_stat == MSG_ACCEPTED) {
    fprintf(out, "verf=%d/%u\naccept=%d\n", msg.acpted_rply.ar_verf.oa_flavor,
            msg.acpted_rply.ar_verf.oa_length, (int)msg.acpted_rply.ar_stat);
    if (msg.acpted_rply.ar_stat == SUCCESS) fprintf(out, "result=%u\n", result);
    if (msg.acpted_rply.ar_stat == PROG_MISMATCH)
      fprintf(out, "low=%lu\nhigh=%lu\n",
              (unsigned long)msg.acpted_rply.ar_vers.low,
              (unsigned long)msg.acpted_rply.ar_vers.high);
    xdr_free((xdrproc_t)xdr_opaque_auth, (char *)&msg.acpted_rply.ar_verf);
  } else {
    fprintf(out, "reject=%d\n", (int)msg.rjcted_rply.rj_stat);
    if (msg.rjcted_rply.rj_stat == AUTH_ERROR)
      fprintf(out, "why=%d\n", (int)msg.rjcted_rply.rj_why);
    else
      fprintf(out, "low=%lu\nhigh=%lu\n",
              (unsigned long)msg.rjcted_rply.rj_vers.low,
              (unsigned long)msg.rjcted_rply.rj_vers.high);
  }
  return 0;
}

#define REPLY_SCENARIO(name, kind)                                         \
  static int encode_##name(XDR *xdrs) { return encode_reply(xdrs, kind); } \
  PEER_SCENARIO(name, encode_##name, decode_reply)

REPLY_SCENARIO(reply_success, REPLY_SUCCESS)
REPLY_SCENARIO(reply_prog_mismatch, REPLY_PROG_MISMATCH)
REPLY_SCENARIO(reply_auth_error, REPLY_AUTH_ERROR)
REPLY_SCENARIO(reply_rpc_mismatch, REPLY_RPC_MISMATCH)
