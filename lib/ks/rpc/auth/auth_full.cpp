// Client handles that send a full credential (AUTH_UNIX, AUTH_NT). The
// credential and the AUTH_NONE verifier are marshalled once into the
// private record, so that each call copies them with a single putbytes.
// A server may answer with a short-hand credential in its verifier; the
// handle then sends that until the server refuses it, and falls back to
// the full credential with a fresh time stamp.
#include "internal/report_line.h"
#include "rpc/auth/rpc_auth.h"

#include <sys/time.h>

#include <cstdlib>
#include <cstring>

namespace {

ksi_auth_private *private_of(AUTH *auth) {
  return static_cast<ksi_auth_private *>(auth->ah_private);
}

// Marshals credential and verifier into the private buffer. On failure the
// previous length stays.
void marshal_cred(AUTH *auth) {
  ksi_auth_private *ap = private_of(auth);
  XDR xdrs;
  xdrmem_create(&xdrs, ap->marshalled, ap->flavor->marshal_capacity,
                XDR_ENCODE);
  if (!xdr_ks_opaque_auth(&xdrs, &auth->ah_cred) ||
      !xdr_ks_opaque_auth(&xdrs, &auth->ah_verf)) {
    ksi_report("%s", ap->flavor->marshal_failure);
    return;
  }
  ap->marshalled_len = XDR_GETPOS(&xdrs);
}

}  // namespace

uint32_t ksi_auth_time_now(void) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<uint32_t>(now.tv_sec);
}

AUTH *ksi_auth_full_create(const struct auth_ops *ops,
                           const ksi_auth_flavor *flavor, enum_t cred_flavor,
                           const char *body, uint32_t length,
                           const char *oom_text) {
  auto *auth = static_cast<AUTH *>(calloc(1, sizeof(AUTH)));
  auto *ap =
      auth
          ? static_cast<ksi_auth_private *>(calloc(1, sizeof(ksi_auth_private)))
          : nullptr;
  char *copy =
      ap ? static_cast<char *>(malloc(length > 0 ? length : 1)) : nullptr;
  if (copy == nullptr) {
    ksi_report("%s", oom_text);
    free(ap);
    free(auth);
    return nullptr;
  }
  memcpy(copy, body, length);
  ap->flavor = flavor;
  ap->orig_cred.oa_flavor = cred_flavor;
  ap->orig_cred.oa_base = copy;
  ap->orig_cred.oa_length = length;
  auth->ah_cred = ap->orig_cred;
  auth->ah_verf.oa_flavor = AUTH_NONE;
  auth->ah_ops = ops;
  auth->ah_private = ap;
  marshal_cred(auth);
  return auth;
}

void ksi_auth_full_nextverf(AUTH *) {}

bool_t ksi_auth_full_marshal(AUTH *auth, XDR *xdrs) {
  ksi_auth_private *ap = private_of(auth);
  return XDR_PUTBYTES(xdrs, ap->marshalled, ap->marshalled_len);
}

bool_t ksi_auth_full_validate(AUTH *auth, struct opaque_auth *verf) {
  if (verf->oa_flavor != AUTH_SHORT) return TRUE;
  ksi_auth_private *ap = private_of(auth);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_opaque_auth), &ap->short_cred);
  XDR xdrs;
  xdrmem_create(&xdrs, verf->oa_base, verf->oa_length, XDR_DECODE);
  if (xdr_ks_opaque_auth(&xdrs, &ap->short_cred)) {
    auth->ah_cred = ap->short_cred;
  } else {
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_opaque_auth), &ap->short_cred);
    auth->ah_cred = ap->orig_cred;
  }
  marshal_cred(auth);
  return TRUE;
}

bool_t ksi_auth_full_refresh(AUTH *auth) {
  ksi_auth_private *ap = private_of(auth);
  if (auth->ah_cred.oa_base == ap->orig_cred.oa_base) return FALSE;
  ap->short_faults++;
  bool_t ok =
      ap->flavor->restamp(ap->orig_cred.oa_base, ap->orig_cred.oa_length);
  auth->ah_cred = ap->orig_cred;
  marshal_cred(auth);
  return ok;
}

void ksi_auth_full_destroy(AUTH *auth) {
  ksi_auth_private *ap = private_of(auth);
  free(ap->orig_cred.oa_base);
  free(ap->short_cred.oa_base);
  free(ap);
  free(auth->ah_verf.oa_base);
  free(auth);
}
