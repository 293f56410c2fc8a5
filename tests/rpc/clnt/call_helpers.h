// Short forms of the calls the client tests make: time values, the void and
// unsigned-word filters, calls without data or with one word each way, and
// a client's last error.
#pragma once

#include <orvexks/rpc/clnt.h>

inline struct timeval tv(time_t sec, suseconds_t usec = 0) {
  return timeval{sec, usec};
}
inline xdrproc_t xvoid() { return reinterpret_cast<xdrproc_t>(xdr_void); }
inline xdrproc_t xu32() { return reinterpret_cast<xdrproc_t>(xdr_u_int32_t); }

inline enum clnt_stat call_void(CLIENT *cl, uint32_t proc,
                                struct timeval timeout = tv(5)) {
  return KS_CLNT_CALL(cl, proc, xvoid(), nullptr, xvoid(), nullptr, timeout);
}
inline enum clnt_stat call_u32(CLIENT *cl, uint32_t proc, uint32_t in,
                               uint32_t *out) {
  return KS_CLNT_CALL(cl, proc, xu32(), &in, xu32(), out, tv(5));
}

inline struct rpc_err err_of(CLIENT *cl) {
  struct rpc_err err;
  KS_CLNT_GETERR(cl, &err);
  return err;
}
