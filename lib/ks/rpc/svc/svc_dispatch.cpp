// Request processing and the service loop. A request's call message, its
// credential and verifier bodies, the request record and the decoded-
// credential area live on the processing thread's stack for one request.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "rpc/svc/svc_internal.h"
#include "rpc/svc/svc_programs.h"
#include "rpc/svc/svc_workers.h"

namespace {

constexpr int kLoopSeconds = 30;
constexpr int kIdleLimitSeconds = 30;

struct request_area {
  struct rpc_msg msg;
  struct svc_req req;
  char cred_body[MAX_AUTH_BYTES];
  char verf_body[MAX_AUTH_BYTES];
  alignas(8) char clntcred[KS_SVC_CLNTCRED_SIZE];

  void prepare() {
    msg.rm_call.cb_cred.oa_base = cred_body;
    msg.rm_call.cb_verf.oa_base = verf_body;
  }
};

// Authenticates a decoded call and hands it to its dispatch function, or
// sends the error reply that fits.
void dispatch(SVCXPRT *xprt, struct rpc_msg *msg, request_area *area) {
  if (msg->rm_call.cb_rpcvers != RPC_MSG_VERSION) {
    struct rpc_msg reply;
    reply.rm_direction = REPLY;
    reply.rm_reply.rp_stat = MSG_DENIED;
    reply.rjcted_rply.rj_stat = RPC_MISMATCH;
    reply.rjcted_rply.rj_vers.low = RPC_MSG_VERSION;
    reply.rjcted_rply.rj_vers.high = RPC_MSG_VERSION;
    xprt->xp_ops->xp_reply(xprt, &reply);
    return;
  }
  struct svc_req *req = &area->req;
  req->rq_prog = msg->rm_call.cb_prog;
  req->rq_vers = msg->rm_call.cb_vers;
  req->rq_proc = msg->rm_call.cb_proc;
  req->rq_cred = msg->rm_call.cb_cred;
  req->rq_clntcred = area->clntcred;
  req->rq_xprt = xprt;
  enum auth_stat why = _ks_authenticate(req, msg);
  if (why != AUTH_OK) {
    ks_svcerr_auth(xprt, why);
    return;
  }
  ksi_svc_lookup found = ksi_svc_find_program(req->rq_prog, req->rq_vers);
  if (found.dispatch != nullptr)
    found.dispatch(req, xprt);
  else if (found.prog_known)
    ks_svcerr_progvers(xprt, found.low, found.high);
  else
    ks_svcerr_noprog(xprt);
}

bool still_registered(const SVCXPRT *xprt) {
  qmthread_rwlock_rdlock(ksi_svc_table_lock());
  bool registered = ksi_svc_is_registered_locked(xprt);
  qmthread_rwlock_unlock(ksi_svc_table_lock());
  return registered;
}

void report_errno(const char *text) {
  fprintf(stderr, "%s:%s\n", text, strerror(errno));
}

}  // namespace

void ksi_svc_dispatch_decoded(SVCXPRT *clone) {
  struct rpc_msg *msg = nullptr;
  KS_SVC_CONTROL(clone, KS_SVC_GETMSG, &msg);
  request_area area;
  dispatch(clone, msg, &area);
}

void ksi_svc_clean_idle(const fd_set *set, int limit) {
  static SVCXPRT *idle[KS_SVC_MAX_XPRTS];  // the loop thread's only
  int n = ksi_svc_collect_idle(set, ksi_svc_now() - limit, idle);
  for (int i = 0; i < n; ++i) idle[i]->xp_ops->xp_destroy(idle[i]);
}

bool ksi_svc_run_once(struct timeval timeout) {
  // Marked before the copy: a socket put back after it wakes the select.
  ksi_svc_set_in_select(true);
  fd_set ready, waited;
  int nfds = ksi_svc_copy_fdset(&ready, &waited);
  int n = select(nfds, &ready, nullptr, nullptr, &timeout);
  if (n < 0) {
    ksi_svc_set_in_select(false);
    return errno == EINTR;
  }
  if (n == 0) {
    ksi_svc_set_in_select(false);
    ksi_svc_clean_idle(&waited, kIdleLimitSeconds);
    return true;
  }
  ks_svc_getreqset(&ready);
  return true;
}

extern "C" {

KS_API void ks_svc_process_request(SVCXPRT *xprt) {
  request_area area;
  for (;;) {
    area.prepare();
    if (xprt->xp_ops->xp_recv(xprt, &area.msg))
      dispatch(xprt, &area.msg, &area);
    if (!still_registered(xprt)) return;
    switch (xprt->xp_ops->xp_stat(xprt)) {
      case XPRT_DIED:
        xprt->xp_ops->xp_destroy(xprt);
        return;
      case XPRT_MOREREQS:
        continue;
      default:
        return;
    }
  }
}

KS_API void ks_svc_getreqset(fd_set *readfds) {
  ksi_svc_set_in_select(false);
  fd_set ready = *readfds;
  bool threaded = ksi_svc_threaded();
  while (SVCXPRT *xprt = ksi_svc_take_ready(&ready)) {
    if (!threaded || ksi_svc_is_pipe(xprt))
      ks_svc_process_request(xprt);
    else
      ksi_svc_hand_to_worker(xprt);
  }
}

KS_API void ks_svc_run(void) {
  if (!ks_svc_setup_threads()) {
    report_errno("ks_svc_run: could not initiate thread state");
    return;
  }
  for (;;) {
    if (!ksi_svc_run_once({kLoopSeconds, 0})) {
      report_errno("ks_svc_run: - select failed");
      return;
    }
  }
}

}  // extern "C"
