// The eight-bit string and optional-pointer filters of the RPC helper
// layer. They keep the wire forms of the plain filters, so a peer that
// uses xdr_string and xdr_pointer reads and writes the same bytes.
#include <orvexks/rpc/xdr.h>

extern "C" {

bool_t xdr_ez_string8(XDR *xdrs, char **cpp) {
  return xdr_string(xdrs, cpp, XDR_EZ_STRING8_MAX);
}

bool_t xdr_ez_pointer(XDR *xdrs, char **objpp, uint32_t objsize,
                      xdrproc_t proc) {
  return xdr_pointer(xdrs, objpp, objsize, proc);
}

}  // extern "C"
