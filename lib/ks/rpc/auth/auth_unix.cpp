// AUTH_UNIX client handles and the filter of their credential body.
#include <unistd.h>

#include <cstdlib>

#include "rpc/auth/rpc_auth.h"

namespace {

constexpr const char *kOutOfMemory = "ks_authunix_create: out of memory";

bool_t restamp_unix(char *body, uint32_t length) {
  struct authunix_parms parms = {};
  XDR xdrs;
  xdrmem_create(&xdrs, body, length, XDR_DECODE);
  if (!xdr_ks_authunix_parms(&xdrs, &parms)) {
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_authunix_parms), &parms);
    return FALSE;
  }
  parms.aup_time = ksi_auth_time_now();
  xdrmem_create(&xdrs, body, length, XDR_ENCODE);
  bool_t ok = xdr_ks_authunix_parms(&xdrs, &parms);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_authunix_parms), &parms);
  return ok;
}

const ksi_auth_flavor unix_flavor = {
    MAX_AUTH_BYTES, "auth_none.c - Fatal marshalling problem", restamp_unix};

const struct auth_ops unix_ops = {ksi_auth_full_nextverf, ksi_auth_full_marshal,
                                  ksi_auth_full_validate, ksi_auth_full_refresh,
                                  ksi_auth_full_destroy};

}  // namespace

extern "C" {

KS_API bool_t xdr_ks_authunix_parms(XDR *xdrs, struct authunix_parms *p) {
  return xdr_u_int32_t(xdrs, &p->aup_time) &&
         xdr_string(xdrs, &p->aup_machname, MAX_MACHINE_NAME) &&
         xdr_int32_t(xdrs, &p->aup_uid) && xdr_int32_t(xdrs, &p->aup_gid) &&
         xdr_array(xdrs, reinterpret_cast<char **>(&p->aup_gids), &p->aup_len,
                   NGRPS, sizeof(int32_t),
                   reinterpret_cast<xdrproc_t>(xdr_int32_t));
}

KS_API AUTH *ks_authunix_create(const char *machname, int32_t uid, int32_t gid,
                                int32_t len, const int32_t *gids) {
  struct authunix_parms parms;
  parms.aup_time = ksi_auth_time_now();
  parms.aup_machname = const_cast<char *>(machname);
  parms.aup_uid = uid;
  parms.aup_gid = gid;
  parms.aup_len =
      len < 0 ? 0 : (len > NGRPS ? NGRPS : static_cast<uint32_t>(len));
  parms.aup_gids = const_cast<int32_t *>(gids);
  char body[MAX_AUTH_BYTES];
  XDR xdrs;
  xdrmem_create(&xdrs, body, sizeof body, XDR_ENCODE);
  // A name longer than MAX_MACHINE_NAME is a caller's bug.
  if (!xdr_ks_authunix_parms(&xdrs, &parms)) abort();
  return ksi_auth_full_create(&unix_ops, &unix_flavor, AUTH_UNIX, body,
                              XDR_GETPOS(&xdrs), kOutOfMemory);
}

KS_API AUTH *ks_authunix_create_default(void) {
  char host[256];
  if (gethostname(host, sizeof host) != 0) abort();
  host[sizeof host - 1] = '\0';
  return ks_authunix_create(host, 0, 0, 0, nullptr);
}

}  // extern "C"
