// Pieces shared by the XDR stream kinds and the filters.
#pragma once

#include <cstdint>
#include <cstring>

#include <arpa/inet.h>

#include <orvexks/rpc/xdr.h>

#include "rpc/xdr/xdrrec_stream.h"

// Streams over one contiguous buffer (memory and storage-area streams):
// x_private is the position, x_base the start and x_handy the bytes left
// after the position.
inline char *ksi_xdrbuf_pos(const XDR *xdrs) {
  return static_cast<char *>(xdrs->x_private);
}
inline void ksi_xdrbuf_step(XDR *xdrs, uint32_t len) {
  xdrs->x_private = ksi_xdrbuf_pos(xdrs) + len;
  xdrs->x_handy -= len;
}

bool_t ksi_xdrbuf_getlong(XDR *xdrs, int32_t *lp);
bool_t ksi_xdrbuf_getbytes(XDR *xdrs, char *addr, uint32_t len);
uint32_t ksi_xdrbuf_getpostn(XDR *xdrs);
bool_t ksi_xdrbuf_setpostn(XDR *xdrs, uint32_t pos);
int32_t *ksi_xdrbuf_inline(XDR *xdrs, uint32_t len);

extern const struct xdr_ops ksi_xdrmem_aligned_ops;
extern const struct xdr_ops ksi_xdrmem_unaligned_ops;
extern const struct xdr_ops ksi_xdrstg_ops;

// Bytes a decoding stream can still deliver when the stream knows them
// (buffer streams, and stdio streams over regular files), otherwise
// UINT64_MAX. Decoders compare a decoded count against it before
// allocating, so that a garbage length fails at once instead of allocating
// for data that cannot follow.
uint64_t ksi_xdr_bytes_left(const XDR *xdrs);
uint64_t ksi_xdrstdio_bytes_left(const XDR *xdrs);
extern const struct xdr_ops ksi_xdrstdio_ops;

// One 32-bit word through the stream, as an unsigned value. A record
// stream with room for the word codes it inline; everything else, a record
// stream at a buffer or fragment boundary included, goes through the table.
// The table calls are out of line so that the inline path needs no stack
// frame of its own.
bool_t ksi_xdr_put_u32_table(XDR *xdrs, uint32_t value);
bool_t ksi_xdr_get_u32_table(XDR *xdrs, uint32_t *value);
inline bool_t ksi_xdr_put_u32(XDR *xdrs, uint32_t value) {
  if (xdrs->x_ops == &ksi_xdrrec_ops && ksi_xdrrec_put_fast(xdrs, value))
      [[likely]]
    return TRUE;
  return ksi_xdr_put_u32_table(xdrs, value);
}
inline bool_t ksi_xdr_get_u32(XDR *xdrs, uint32_t *value) {
  if (xdrs->x_ops == &ksi_xdrrec_ops && ksi_xdrrec_get_fast(xdrs, value))
      [[likely]]
    return TRUE;
  return ksi_xdr_get_u32_table(xdrs, value);
}

// Filters are stored as xdrproc_t and called through it with the
// arguments the caller knows; the callee's own type differs by design.
#if defined(__clang__)
#define KSI_XDR_CALLS_FILTERS __attribute__((no_sanitize("function")))
#else
#define KSI_XDR_CALLS_FILTERS
#endif

// The text "<filter>: out of memory" and a newline on standard error.
void ksi_xdr_out_of_memory(const char *filter);
