// AUTH_NONE: one shared handle whose empty credential and verifier are
// marshalled once and copied into every call.
#include <orvexks/qmthread.h>
#include <orvexks/rpc/auth.h>

#include "internal/thread_safety.h"
#include "thread/qmthread_internal.h"

namespace {

struct none_handle {
  AUTH auth;
  char marshalled[20];
  uint32_t marshalled_len;
};

// Filled once under none_mutex; read without it once ks_authnone_create
// has returned the handle.
none_handle shared_none;
qmthread_mutex_t none_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(none_mutex);
bool shared_none_ready KSI_GUARDED_BY(none_mutex) = false;

void none_nextverf(AUTH *) {}

bool_t none_marshal(AUTH *, XDR *xdrs) {
  return XDR_PUTBYTES(xdrs, shared_none.marshalled, shared_none.marshalled_len);
}

bool_t none_validate(AUTH *, struct opaque_auth *) { return TRUE; }

bool_t none_refresh(AUTH *) { return FALSE; }

void none_destroy(AUTH *) {}

const struct auth_ops none_ops = {none_nextverf, none_marshal, none_validate,
                                  none_refresh, none_destroy};

}  // namespace

extern "C" {

KS_API AUTH *ks_authnone_create(void) {
  qmthread_mutex_lock(&none_mutex);
  if (!shared_none_ready) {
    AUTH *auth = &shared_none.auth;
    auth->ah_cred.oa_flavor = AUTH_NONE;
    auth->ah_verf.oa_flavor = AUTH_NONE;
    auth->ah_ops = &none_ops;
    XDR xdrs;
    xdrmem_create(&xdrs, shared_none.marshalled, sizeof shared_none.marshalled,
                  XDR_ENCODE);
    xdr_ks_opaque_auth(&xdrs, &auth->ah_cred);
    xdr_ks_opaque_auth(&xdrs, &auth->ah_verf);
    shared_none.marshalled_len = XDR_GETPOS(&xdrs);
    shared_none_ready = true;
  }
  qmthread_mutex_unlock(&none_mutex);
  return &shared_none.auth;
}

}  // extern "C"
