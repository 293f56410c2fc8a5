// Replies: results, every error reply, and the streamed reply whose record
// stays open while the dispatch function encodes more results into it.
#include <cstdlib>

#include "rpc/svc/svc_internal.h"
#include "rpc/xdr/xdr_stream.h"

namespace {

void accepted(struct rpc_msg *msg, const SVCXPRT *xprt, enum accept_stat stat) {
  msg->rm_direction = REPLY;
  msg->rm_reply.rp_stat = MSG_ACCEPTED;
  msg->acpted_rply.ar_verf = xprt->xp_verf;
  msg->acpted_rply.ar_stat = stat;
}

bool_t send_accepted(SVCXPRT *xprt, enum accept_stat stat) {
  struct rpc_msg msg;
  accepted(&msg, xprt, stat);
  return xprt->xp_ops->xp_reply(xprt, &msg);
}

}  // namespace

extern "C" {

KS_API bool_t ks_svc_sendreply(SVCXPRT *xprt, xdrproc_t xdr_results,
                               void *results) {
  struct rpc_msg msg;
  accepted(&msg, xprt, SUCCESS);
  msg.acpted_rply.ar_results.where = results;
  msg.acpted_rply.ar_results.proc = xdr_results;
  return xprt->xp_ops->xp_reply(xprt, &msg);
}

KS_API bool_t ks_svcerr_noprog(SVCXPRT *xprt) {
  return send_accepted(xprt, PROG_UNAVAIL);
}
KS_API bool_t ks_svcerr_noproc(SVCXPRT *xprt) {
  return send_accepted(xprt, PROC_UNAVAIL);
}
KS_API bool_t ks_svcerr_decode(SVCXPRT *xprt) {
  return send_accepted(xprt, GARBAGE_ARGS);
}
KS_API bool_t ks_svcerr_systemerr(SVCXPRT *xprt) {
  return send_accepted(xprt, SYSTEM_ERR);
}

KS_API bool_t ks_svcerr_progvers(SVCXPRT *xprt, uint32_t low, uint32_t high) {
  struct rpc_msg msg;
  accepted(&msg, xprt, PROG_MISMATCH);
  msg.acpted_rply.ar_vers.low = low;
  msg.acpted_rply.ar_vers.high = high;
  return xprt->xp_ops->xp_reply(xprt, &msg);
}

KS_API bool_t ks_svcerr_auth(SVCXPRT *xprt, enum auth_stat why) {
  struct rpc_msg msg;
  msg.rm_direction = REPLY;
  msg.rm_reply.rp_stat = MSG_DENIED;
  msg.rjcted_rply.rj_stat = AUTH_ERROR;
  msg.rjcted_rply.rj_why = why;
  return xprt->xp_ops->xp_reply(xprt, &msg);
}

KS_API bool_t ks_svcerr_weakauth(SVCXPRT *xprt) {
  return ks_svcerr_auth(xprt, AUTH_TOOWEAK);
}

KS_API bool_t ks_svc_sendreply_start(SVCXPRT *xprt, xdrproc_t xdr_results,
                                     void *results) {
  auto *msg = static_cast<struct rpc_msg *>(malloc(sizeof(struct rpc_msg)));
  if (msg == nullptr) return FALSE;
  accepted(msg, xprt, SUCCESS);
  msg->acpted_rply.ar_results.where = results;
  msg->acpted_rply.ar_results.proc = xdr_results;
  xprt->xp_reply_msg = msg;
  xprt->xp_reply_in_progress = TRUE;
  if (xprt->xp_ops->xp_reply(xprt, msg)) return TRUE;
  xprt->xp_reply_in_progress = FALSE;
  xprt->xp_reply_msg = nullptr;
  free(msg);
  return FALSE;
}

KS_API XDR *ks_svc_sendreply_get_xdrs(SVCXPRT *xprt) {
  return xprt->xp_reply_in_progress ? xprt->xp_ops->xp_reply_xdrs(xprt)
                                    : nullptr;
}

KSI_XDR_CALLS_FILTERS KS_API bool_t ks_svc_sendreply_finish(SVCXPRT *xprt,
                                                            xdrproc_t xdr_obj,
                                                            void *obj) {
  bool_t ok = TRUE;
  if (obj != nullptr) {
    XDR *xdrs = ks_svc_sendreply_get_xdrs(xprt);
    ok = xdrs != nullptr && (*xdr_obj)(xdrs, obj);
  }
  if (ok) {
    ok = xprt->xp_ops->xp_reply_finish(xprt);
  } else if (xprt->xp_reply_in_progress && ksi_svc_is_connection(xprt)) {
    // Part of the reply may have left already and the rest cannot be
    // encoded: the record can be neither completed nor recalled, so the
    // connection ends rather than carry the next reply inside it.
    ksi_svc_conn_mark_dead(xprt);
  }
  xprt->xp_reply_in_progress = FALSE;
  free(xprt->xp_reply_msg);
  xprt->xp_reply_msg = nullptr;
  return ok;
}

}  // extern "C"
