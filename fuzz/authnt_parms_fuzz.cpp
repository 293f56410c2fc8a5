// AUTH_NT credential bodies on arbitrary bytes: decode into allocated
// records and free them, then re-encode whatever decoded.
#include <cstdint>
#include <cstring>

#include <orvexks/rpc/auth.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > MAX_AUTH_BYTES) return 0;
  alignas(8) char body[MAX_AUTH_BYTES];
  memcpy(body, data, size);
  XDR xdrs;
  xdrmem_create(&xdrs, body, static_cast<uint32_t>(size), XDR_DECODE);
  authnt_parms parms = {};
  if (xdr_authnt_parms(&xdrs, &parms)) {
    alignas(8) char out[MAX_AUTH_BYTES * 2];
    xdrmem_create(&xdrs, out, sizeof out, XDR_ENCODE);
    xdr_authnt_parms(&xdrs, &parms);
  }
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_authnt_parms), &parms);
  return 0;
}
