/* The record-marking XDR stream: records made of fragments, each behind a
 * 4-byte big-endian header whose top bit marks the record's last fragment
 * and whose other 31 bits give the fragment's length. The stream reads
 * and writes through caller-supplied functions; a server may switch it to
 * non-blocking mode, in which a whole record is assembled before it is
 * decoded. */
#ifndef ORVEXKS_RPC_XDRREC_H
#define ORVEXKS_RPC_XDRREC_H

#include <orvexks/ks_base.h>
#include <orvexks/rpc/xdr.h>

KS_BEGIN_DECLS

/* Reads at most len bytes into buf: the count read, 0 when nothing came,
 * -1 on failure. */
typedef int (*ks_xdrrec_read_t)(void *handle, char *buf, int len);
/* Writes len bytes: len when all were written, anything else on failure. */
typedef int (*ks_xdrrec_write_t)(void *handle, char *buf, int len);

/* Sizes below 100 mean 4000; each is rounded up to a multiple of 4. On
 * failure "ks_xdrrec_create: out of memory" goes to standard error and the
 * handle's x_ops and x_private are set to null. */
KS_API void ks_xdrrec_create(XDR *xdrs, uint32_t sendsize, uint32_t recvsize,
                             void *handle, ks_xdrrec_read_t readit,
                             ks_xdrrec_write_t writeit);
/* Closes the record being encoded. Without send_now a small record may stay
 * in the buffer so that several leave in one write. */
KS_API bool_t ks_xdrrec_endofrecord(XDR *xdrs, bool_t send_now);
/* Moves past the rest of the current record; call before each new record
 * is decoded. */
KS_API bool_t ks_xdrrec_skiprecord(XDR *xdrs);
/* True when no more data is available or the current record is exhausted
 * with no further record buffered. */
KS_API bool_t ks_xdrrec_eof(XDR *xdrs);

/* Switches to non-blocking record assembly; records larger than
 * max_record bytes (the receive size when 0) kill the transport. */
KS_API bool_t xdrrec_setnonblock(XDR *xdrs, uint32_t max_record);
/* Advances the assembly of one record without blocking; true when a whole
 * record is ready to decode. *status becomes XPRT_DIED (0),
 * XPRT_MOREREQS (1) or XPRT_IDLE (2). */
KS_API bool_t xdrrec_getrec(XDR *xdrs, int *status, bool_t expect_data);
/* Makes the input buffer at least size bytes, keeping its contents. */
KS_API bool_t xdrrec_grow_input(XDR *xdrs, uint32_t size);

KS_END_DECLS

#endif
