/* External Data Representation: the stream handle, the stream kinds
 * (memory, standard-I/O file, growing storage-area buffer) and the filters
 * that encode, decode and free values in the RFC 4506 wire forms.
 *
 * A filter takes the handle, the address of the object and sometimes
 * further arguments, and returns non-zero for success. The same filter
 * encodes, decodes or frees according to the handle's x_op.
 *
 * This header stands alone: it never includes another RPC library's
 * headers, and a program uses either it or those, not both. */
#ifndef ORVEXKS_RPC_XDR_H
#define ORVEXKS_RPC_XDR_H

#include <orvexks/ks_base.h>

#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <orvexks/qmthread.h>
#include <orvexks/stg.h>

KS_BEGIN_DECLS

/* ---- Basic types. */

typedef int32_t bool_t;
typedef int32_t enum_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Every item on the wire is a multiple of this many bytes. */
#define BYTES_PER_XDR_UNIT 4
#define RNDUP(x) \
  ((((x) + BYTES_PER_XDR_UNIT - 1) / BYTES_PER_XDR_UNIT) * BYTES_PER_XDR_UNIT)

enum xdr_op { XDR_ENCODE = 0, XDR_DECODE = 1, XDR_FREE = 2 };

/* ---- The stream handle and its operations table. */

typedef struct XDR XDR;

/* One table per stream kind; slots in this order. */
struct xdr_ops {
  /* Reads one big-endian word; false at the end of the data. */
  bool_t (*x_getlong)(XDR *xdrs, int32_t *lp);
  /* Writes one word big-endian; false when there is no room. */
  bool_t (*x_putlong)(XDR *xdrs, const int32_t *lp);
  /* Reads or writes n raw bytes, without padding. */
  bool_t (*x_getbytes)(XDR *xdrs, char *addr, uint32_t len);
  bool_t (*x_putbytes)(XDR *xdrs, const char *addr, uint32_t len);
  /* Byte offset from the start of the stream. */
  uint32_t (*x_getpostn)(XDR *xdrs);
  /* Moves to a byte offset; false when it lies outside the stream. */
  bool_t (*x_setpostn)(XDR *xdrs, uint32_t pos);
  /* n contiguous bytes of the buffer, stepped over; null when the stream
   * cannot give them (the caller then codes word by word). */
  int32_t *(*x_inline)(XDR *xdrs, uint32_t len);
  /* Releases what the stream owns. */
  void (*x_destroy)(XDR *xdrs);
};

/* Caller-owned; the stream creators fill it. */
struct XDR {
  enum xdr_op x_op;
  const struct xdr_ops *x_ops;
  void *x_public;   /* free for the stream's user */
  void *x_private;  /* memory/storage streams: position; stdio: the FILE */
  char *x_base;     /* memory/storage streams: start of the buffer */
  uint32_t x_handy; /* memory/storage streams: bytes left after position */
};

#define XDR_GETLONG(xdrs, lp) (*(xdrs)->x_ops->x_getlong)(xdrs, lp)
#define XDR_PUTLONG(xdrs, lp) (*(xdrs)->x_ops->x_putlong)(xdrs, lp)
#define XDR_GETBYTES(xdrs, addr, len) \
  (*(xdrs)->x_ops->x_getbytes)(xdrs, addr, len)
#define XDR_PUTBYTES(xdrs, addr, len) \
  (*(xdrs)->x_ops->x_putbytes)(xdrs, addr, len)
#define XDR_GETPOS(xdrs) (*(xdrs)->x_ops->x_getpostn)(xdrs)
#define XDR_SETPOS(xdrs, pos) (*(xdrs)->x_ops->x_setpostn)(xdrs, pos)
#define XDR_INLINE(xdrs, len) (*(xdrs)->x_ops->x_inline)(xdrs, len)
#define XDR_DESTROY(xdrs)                                            \
  do {                                                               \
    if ((xdrs)->x_ops->x_destroy) (*(xdrs)->x_ops->x_destroy)(xdrs); \
  } while (0)

/* Words read from or written to a buffer that XDR_INLINE gave out; the
 * buffer pointer steps past the word. */
#define IXDR_GET_INT32(buf) ((int32_t)ntohl((uint32_t) * (buf)++))
#define IXDR_PUT_INT32(buf, v) (*(buf)++ = (int32_t)htonl((uint32_t)(v)))
#define IXDR_GET_U_INT32(buf) ((uint32_t)IXDR_GET_INT32(buf))
#define IXDR_PUT_U_INT32(buf, v) IXDR_PUT_INT32(buf, (int32_t)(v))
#define IXDR_GET_BOOL(buf) ((bool_t)IXDR_GET_INT32(buf))
#define IXDR_PUT_BOOL(buf, v) IXDR_PUT_INT32(buf, v)
#define IXDR_GET_ENUM(buf) ((enum_t)IXDR_GET_INT32(buf))
#define IXDR_PUT_ENUM(buf, v) IXDR_PUT_INT32(buf, v)

/* A filter: (handle, object address[, further arguments]) -> success.
 * Element filters called by xdr_array, xdr_vector and xdr_reference get
 * 0xFFFFFFFF as a third argument; union arms get only two. */
typedef bool_t (*xdrproc_t)(XDR *xdrs, void *objp, ...);

/* One arm of a union: the discriminant value and its filter. A table of
 * arms ends with an entry whose proc is null. */
struct xdr_discrim {
  int32_t value;
  xdrproc_t proc;
};

/* Counted bytes. */
#define MAX_NETOBJ_SZ 1024
typedef struct netobj {
  uint32_t n_len;
  char *n_bytes;
} netobj;

/* ---- Stream creation. */

KS_API void xdrmem_create(XDR *xdrs, char *addr, uint32_t size, enum xdr_op op);
KS_API void xdrstdio_create(XDR *xdrs, FILE *file, enum xdr_op op);
/* A buffer of the storage heap that grows as it is written. 0 on success,
 * 1 when the first buffer cannot be allocated. */
KS_API int xdrstg_create(XDR *xdrs, uint32_t size, enum xdr_op op);
/* Decodes a stg_malloc buffer that the stream takes over and frees. */
KS_API int xdrstg_create_decode_buf(XDR *xdrs, char *buf, uint32_t len);
KS_API void xdrstg_destroy(XDR *xdrs);

/* Runs a filter on a handle whose op is XDR_FREE. */
KS_API void xdr_free(xdrproc_t proc, void *objp);

/* ---- Standard filters. */

/* Codes nothing; always true. Takes a filter's two arguments so that it
 * converts to xdrproc_t like any other filter. */
KS_API bool_t xdr_void(XDR *xdrs, void *objp);
KS_API bool_t xdr_int(XDR *xdrs, int *ip);
KS_API bool_t xdr_u_int(XDR *xdrs, unsigned int *up);
/* long is 64 bits here: one word on the wire, and encoding fails when the
 * value does not fit in 32 bits. */
KS_API bool_t xdr_long(XDR *xdrs, long *lp);
KS_API bool_t xdr_u_long(XDR *xdrs, unsigned long *ulp);
KS_API bool_t xdr_enum(XDR *xdrs, enum_t *ep);
KS_API bool_t xdr_int32_t(XDR *xdrs, int32_t *ip);
KS_API bool_t xdr_u_int32_t(XDR *xdrs, uint32_t *up);
KS_API bool_t xdr_short(XDR *xdrs, short *sp);
KS_API bool_t xdr_u_short(XDR *xdrs, unsigned short *usp);
KS_API bool_t xdr_int16_t(XDR *xdrs, int16_t *ip);
KS_API bool_t xdr_u_int16_t(XDR *xdrs, uint16_t *up);
KS_API bool_t xdr_char(XDR *xdrs, char *cp);
KS_API bool_t xdr_u_char(XDR *xdrs, unsigned char *ucp);
KS_API bool_t xdr_bool(XDR *xdrs, bool_t *bp);
KS_API bool_t xdr_int64_t(XDR *xdrs, int64_t *llp);
KS_API bool_t xdr_u_int64_t(XDR *xdrs, uint64_t *ullp);
KS_API bool_t xdr_hyper(XDR *xdrs, int64_t *llp);
KS_API bool_t xdr_u_hyper(XDR *xdrs, uint64_t *ullp);
KS_API bool_t xdr_longlong_t(XDR *xdrs, int64_t *llp);
KS_API bool_t xdr_u_longlong_t(XDR *xdrs, uint64_t *ullp);
KS_API bool_t xdr_float(XDR *xdrs, float *fp);
/* Two words: the half at the lower address first (on little-endian hosts
 * the low-order half, unlike RFC 4506). */
KS_API bool_t xdr_double(XDR *xdrs, double *dp);
/* Seconds and microseconds, one 32-bit word each. */
KS_API bool_t xdr_timeval(XDR *xdrs, struct timeval *tvp);

KS_API bool_t xdr_opaque(XDR *xdrs, char *cp, uint32_t cnt);
KS_API bool_t xdr_bytes(XDR *xdrs, char **cpp, uint32_t *sizep,
                        uint32_t maxsize);
KS_API bool_t xdr_string(XDR *xdrs, char **cpp, uint32_t maxsize);
KS_API bool_t xdr_wrapstring(XDR *xdrs, char **cpp);
KS_API bool_t xdr_netobj(XDR *xdrs, netobj *np);
KS_API bool_t xdr_array(XDR *xdrs, char **addrp, uint32_t *sizep,
                        uint32_t maxsize, uint32_t elsize, xdrproc_t elproc);
KS_API bool_t xdr_vector(XDR *xdrs, char *basep, uint32_t nelem,
                         uint32_t elemsize, xdrproc_t elproc);
KS_API bool_t xdr_union(XDR *xdrs, enum_t *dscmp, char *unp,
                        const struct xdr_discrim *choices, xdrproc_t dfault);
KS_API bool_t xdr_reference(XDR *xdrs, char **pp, uint32_t size,
                            xdrproc_t proc);
KS_API bool_t xdr_pointer(XDR *xdrs, char **objpp, uint32_t objsize,
                          xdrproc_t proc);

/* ---- The library's own filters. */

KS_API bool_t xdr_ks_boolean_t(XDR *xdrs, int32_t *bp);
KS_API bool_t xdr_ks_off32_t(XDR *xdrs, int32_t *op);
KS_API bool_t xdr_ks_uint32_t(XDR *xdrs, uint32_t *up);
KS_API bool_t xdr_u_long_as_int(XDR *xdrs, uint32_t *up);
KS_API bool_t xdr_ks_byte_t(XDR *xdrs, uint8_t *bp);
KS_API bool_t xdr_ks_char_t(XDR *xdrs, int8_t *cp);
KS_API bool_t xdr_ks_int64_t(XDR *xdrs, int64_t *llp);
KS_API bool_t xdr_ks_off64_t(XDR *xdrs, int64_t *llp);
KS_API bool_t xdr_ks_uint64_t(XDR *xdrs, uint64_t *ullp);
/* Storage areas never cross the wire: a 0 word out, a null pointer in. */
KS_API bool_t xdr_stg_area_rpc_ptr_t(XDR *xdrs, stg_area_t *areap);
/* A presence word, then the string when present. */
KS_API bool_t xdr_string_pointer(XDR *xdrs, char **cpp, uint32_t maxsize);

/* A name and its flag value (string utilities' flag lists). */
#ifndef KS_STRUTL_FLAG_ITEM_DEFINED
#define KS_STRUTL_FLAG_ITEM_DEFINED
typedef struct strutl_flag_item {
  char *name;
  uint32_t value;
} strutl_flag_item_t;
#endif
KS_API bool_t xdr_strutl_flag_item_t(XDR *xdrs, strutl_flag_item_t *item);

/* Socket addresses. In memory the host's records; on the wire the address,
 * the port and, for xdr_ks_sockaddr_storage_t, the library's family code
 * first (1 IPv4, 2 IPv6). */
KS_API bool_t xdr_sockaddr_in(XDR *xdrs, struct sockaddr_in *sin);
KS_API bool_t xdr_sockaddr_in6(XDR *xdrs, struct sockaddr_in6 *sin6);
KS_API bool_t xdr_ks_sockaddr_storage_t(XDR *xdrs, struct sockaddr_storage *ss);

/* Path names: "\" separators in memory travel as "/"; a null pointer
 * travels as length -1. */
KS_API bool_t xdr_ks_canon_pname_p_t(XDR *xdrs, char **pnamep);
KS_API bool_t xdr_ks_canon_pname_c_p_t(XDR *xdrs, const char **pnamep);
/* The buffer itself; decode fills it, so it must be large enough. */
KS_API bool_t xdr_ks_canon_pname_t(XDR *xdrs, char *pname);

/* An in-process cursor value carried as a small slot number of a
 * caller-owned table: slots points behind a 16-byte header {capacity,
 * slot width 8, storage area}; slot 0 is never used; mutex guards slots
 * and slot_count. */
KS_API bool_t xdr_ks_generic_cursor_t(XDR *xdrs, void **cursor,
                                      uint32_t *slot_index, uint64_t **slots,
                                      uint32_t *slot_count,
                                      qmthread_mutex_t *mutex);

/* Copies a terminated string; returns dst. */
KS_API char *ez_strcpy8(char *dst, const char *src);

/* The eight-bit string and optional-pointer filters that credential and
 * export-list forms are written with. */
#define XDR_EZ_STRING8_MAX 1023
/* An XDR string of at most XDR_EZ_STRING8_MAX bytes, as xdr_string. */
KS_API bool_t xdr_ez_string8(XDR *xdrs, char **cpp);
/* A presence word, then the object through proc when present; decoding
 * allocates a zeroed object of objsize bytes when *objpp is null, freeing
 * releases it and sets *objpp null (as xdr_pointer). */
KS_API bool_t xdr_ez_pointer(XDR *xdrs, char **objpp, uint32_t objsize,
                             xdrproc_t proc);

KS_END_DECLS

#endif
