// The standard XDR filters of RFC 4506: integers, floating point, opaque
// data, strings, arrays, unions and pointers. Each filter encodes, decodes
// or frees according to the handle's op; under XDR_FREE it touches no
// field of the handle but x_op, so that xdr_free may run it on a bare
// handle.
#include "internal/alloc_fault.h"
#include "internal/report_line.h"
#include "rpc/xdr/xdr_stream.h"

#include <climits>
#include <cstdlib>
#include <type_traits>

namespace {

const char kZeroPad[BYTES_PER_XDR_UNIT] = {0, 0, 0, 0};
constexpr uint32_t kNoBound = 0xFFFFFFFFu;

uint32_t pad_of(uint32_t count) {
  return (BYTES_PER_XDR_UNIT - count % BYTES_PER_XDR_UNIT) % BYTES_PER_XDR_UNIT;
}

// One word holding a 32-bit value of any signedness; every integer filter
// narrower than 64 bits goes through here.
template <typename T>
bool_t code_word(XDR *xdrs, T *value) {
  // Encoding first: it is the hot direction of the record stream.
  if (xdrs->x_op == XDR_ENCODE) [[likely]]
    return ksi_xdr_put_u32(xdrs, static_cast<uint32_t>(*value));
  if (xdrs->x_op == XDR_DECODE) {
    uint32_t word;
    if (!ksi_xdr_get_u32(xdrs, &word)) return FALSE;
    // Narrow types keep the low bits; signed types sign-extend first.
    if constexpr (std::is_signed_v<T>)
      *value = static_cast<T>(static_cast<int32_t>(word));
    else
      *value = static_cast<T>(word);
    return TRUE;
  }
  return xdrs->x_op == XDR_FREE ? TRUE : FALSE;
}

// A 64-bit C type moved as one word: the value must fit on encode.
template <typename T>
bool_t code_wide_as_word(XDR *xdrs, T *value) {
  using Narrow = std::conditional_t<std::is_signed_v<T>, int32_t, uint32_t>;
  Narrow narrow = static_cast<Narrow>(*value);
  if (xdrs->x_op == XDR_ENCODE && static_cast<T>(narrow) != *value)
    return FALSE;
  if (!code_word(xdrs, &narrow)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) *value = narrow;
  return TRUE;
}

// Two words, high half first.
bool_t code_u64(XDR *xdrs, uint64_t *value) {
  switch (xdrs->x_op) {
    case XDR_ENCODE:
      return ksi_xdr_put_u32(xdrs, static_cast<uint32_t>(*value >> 32)) &&
             ksi_xdr_put_u32(xdrs, static_cast<uint32_t>(*value));
    case XDR_DECODE: {
      uint32_t high, low;
      if (!ksi_xdr_get_u32(xdrs, &high) || !ksi_xdr_get_u32(xdrs, &low))
        return FALSE;
      *value = (static_cast<uint64_t>(high) << 32) | low;
      return TRUE;
    }
    case XDR_FREE:
      return TRUE;
  }
  return FALSE;
}

bool_t code_i64(XDR *xdrs, int64_t *value) {
  uint64_t bits = static_cast<uint64_t>(*value);
  if (!code_u64(xdrs, &bits)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) *value = static_cast<int64_t>(bits);
  return TRUE;
}

// Moves `count` bytes then the zero padding to a word boundary, in one
// inline step where the stream allows it.
bool_t put_padded(XDR *xdrs, const char *bytes, uint32_t count) {
  uint32_t pad = pad_of(count);
  if (count <= UINT32_MAX - pad) {
    if (int32_t *dst = XDR_INLINE(xdrs, count + pad)) {
      char *out = reinterpret_cast<char *>(dst);
      std::memcpy(out, bytes, count);
      std::memset(out + count, 0, pad);
      return TRUE;
    }
  }
  if (!XDR_PUTBYTES(xdrs, bytes, count)) return FALSE;
  return pad == 0 || XDR_PUTBYTES(xdrs, kZeroPad, pad);
}

bool_t get_padded(XDR *xdrs, char *bytes, uint32_t count) {
  uint32_t pad = pad_of(count);
  if (count <= UINT32_MAX - pad) {
    if (int32_t *src = XDR_INLINE(xdrs, count + pad)) {
      std::memcpy(bytes, src, count);
      return TRUE;
    }
  }
  if (!XDR_GETBYTES(xdrs, bytes, count)) return FALSE;
  char scratch[BYTES_PER_XDR_UNIT];
  return pad == 0 || XDR_GETBYTES(xdrs, scratch, pad);
}

// Zero-filled memory for a decoded object, or the filter's out-of-memory
// text and null.
void *alloc_zeroed(size_t size, const char *filter) {
  void *p = nt_calloc(1, size);
  if (p == nullptr) ksi_xdr_out_of_memory(filter);
  return p;
}

// Filters whose element is one 32-bit word copied bit for bit, so that an
// array of them can be coded as one block on a buffer stream.
bool is_plain_word_filter(xdrproc_t proc) {
  return proc == reinterpret_cast<xdrproc_t>(xdr_int) ||
         proc == reinterpret_cast<xdrproc_t>(xdr_u_int) ||
         proc == reinterpret_cast<xdrproc_t>(xdr_int32_t) ||
         proc == reinterpret_cast<xdrproc_t>(xdr_u_int32_t) ||
         proc == reinterpret_cast<xdrproc_t>(xdr_enum) ||
         proc == reinterpret_cast<xdrproc_t>(xdr_float) ||
         proc == reinterpret_cast<xdrproc_t>(xdr_ks_uint32_t) ||
         proc == reinterpret_cast<xdrproc_t>(xdr_u_long_as_int) ||
         proc == reinterpret_cast<xdrproc_t>(xdr_ks_off32_t);
}

// Codes `count` plain words at `elements` in one inline block; false when
// the stream gives no inline pointer (the caller then goes element by
// element).
bool code_words_inline(XDR *xdrs, char *elements, uint32_t count) {
  int32_t *block = XDR_INLINE(xdrs, count * 4);
  if (block == nullptr) return false;
  auto *words = reinterpret_cast<uint32_t *>(elements);
  if (xdrs->x_op == XDR_ENCODE) {
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t v;
      std::memcpy(&v, words + i, 4);
      v = htonl(v);
      std::memcpy(reinterpret_cast<char *>(block) + 4 * i, &v, 4);
    }
  } else {
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t v;
      std::memcpy(&v, reinterpret_cast<char *>(block) + 4 * i, 4);
      v = ntohl(v);
      std::memcpy(words + i, &v, 4);
    }
  }
  return true;
}

KSI_XDR_CALLS_FILTERS
bool_t code_elements(XDR *xdrs, char *elements, uint32_t count, uint32_t elsize,
                     xdrproc_t elproc) {
  if (elsize == 4 && count != 0 && xdrs->x_op != XDR_FREE &&
      is_plain_word_filter(elproc) && code_words_inline(xdrs, elements, count))
    return TRUE;
  bool_t stat = TRUE;
  for (uint32_t i = 0; i < count && stat; ++i)
    stat = elproc(xdrs, elements + static_cast<size_t>(i) * elsize, kNoBound);
  return stat;
}

}  // namespace

uint64_t ksi_xdr_bytes_left(const XDR *xdrs) {
  const xdr_ops *ops = xdrs->x_ops;
  if (ops == &ksi_xdrmem_aligned_ops || ops == &ksi_xdrmem_unaligned_ops ||
      ops == &ksi_xdrstg_ops)
    return xdrs->x_handy;
  if (ops == &ksi_xdrstdio_ops) return ksi_xdrstdio_bytes_left(xdrs);
  return UINT64_MAX;
}

[[gnu::noinline]] bool_t ksi_xdr_put_u32_table(XDR *xdrs, uint32_t value) {
  int32_t word = static_cast<int32_t>(value);
  return XDR_PUTLONG(xdrs, &word);
}

[[gnu::noinline]] bool_t ksi_xdr_get_u32_table(XDR *xdrs, uint32_t *value) {
  int32_t word;
  if (!XDR_GETLONG(xdrs, &word)) return FALSE;
  *value = static_cast<uint32_t>(word);
  return TRUE;
}

void ksi_xdr_out_of_memory(const char *filter) {
  ksi_report("%s: out of memory", filter);
}

extern "C" {

KSI_XDR_CALLS_FILTERS
void xdr_free(xdrproc_t proc, void *objp) {
  XDR handle;
  std::memset(&handle, 0, sizeof handle);
  handle.x_op = XDR_FREE;
  proc(&handle, objp);
}

bool_t xdr_void(XDR *, void *) { return TRUE; }

bool_t xdr_int(XDR *xdrs, int *ip) { return code_word(xdrs, ip); }
bool_t xdr_u_int(XDR *xdrs, unsigned int *up) { return code_word(xdrs, up); }
bool_t xdr_long(XDR *xdrs, long *lp) { return code_wide_as_word(xdrs, lp); }
bool_t xdr_u_long(XDR *xdrs, unsigned long *ulp) {
  return code_wide_as_word(xdrs, ulp);
}
bool_t xdr_enum(XDR *xdrs, enum_t *ep) { return code_word(xdrs, ep); }
bool_t xdr_int32_t(XDR *xdrs, int32_t *ip) { return code_word(xdrs, ip); }
bool_t xdr_u_int32_t(XDR *xdrs, uint32_t *up) { return code_word(xdrs, up); }
bool_t xdr_short(XDR *xdrs, short *sp) { return code_word(xdrs, sp); }
bool_t xdr_u_short(XDR *xdrs, unsigned short *usp) {
  return code_word(xdrs, usp);
}
bool_t xdr_int16_t(XDR *xdrs, int16_t *ip) { return code_word(xdrs, ip); }
bool_t xdr_u_int16_t(XDR *xdrs, uint16_t *up) { return code_word(xdrs, up); }
bool_t xdr_char(XDR *xdrs, char *cp) {
  signed char c = static_cast<signed char>(*cp);
  if (!code_word(xdrs, &c)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) *cp = static_cast<char>(c);
  return TRUE;
}
bool_t xdr_u_char(XDR *xdrs, unsigned char *ucp) {
  return code_word(xdrs, ucp);
}

bool_t xdr_bool(XDR *xdrs, bool_t *bp) {
  bool_t word = (xdrs->x_op == XDR_ENCODE && *bp) ? TRUE : FALSE;
  if (!code_word(xdrs, &word)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) *bp = word != 0 ? TRUE : FALSE;
  return TRUE;
}

bool_t xdr_int64_t(XDR *xdrs, int64_t *llp) { return code_i64(xdrs, llp); }
bool_t xdr_u_int64_t(XDR *xdrs, uint64_t *ullp) { return code_u64(xdrs, ullp); }
bool_t xdr_hyper(XDR *xdrs, int64_t *llp) { return code_i64(xdrs, llp); }
bool_t xdr_u_hyper(XDR *xdrs, uint64_t *ullp) { return code_u64(xdrs, ullp); }
bool_t xdr_longlong_t(XDR *xdrs, int64_t *llp) { return code_i64(xdrs, llp); }
bool_t xdr_u_longlong_t(XDR *xdrs, uint64_t *ullp) {
  return code_u64(xdrs, ullp);
}

bool_t xdr_float(XDR *xdrs, float *fp) {
  static_assert(sizeof(float) == 4);
  uint32_t bits;
  std::memcpy(&bits, fp, 4);
  if (!code_word(xdrs, &bits)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) std::memcpy(fp, &bits, 4);
  return TRUE;
}

// The half at the lower address travels first.
bool_t xdr_double(XDR *xdrs, double *dp) {
  static_assert(sizeof(double) == 8);
  uint32_t halves[2];
  std::memcpy(halves, dp, 8);
  if (!code_word(xdrs, &halves[0]) || !code_word(xdrs, &halves[1]))
    return FALSE;
  if (xdrs->x_op == XDR_DECODE) std::memcpy(dp, halves, 8);
  return TRUE;
}

bool_t xdr_timeval(XDR *xdrs, struct timeval *tvp) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  int32_t sec = static_cast<int32_t>(tvp->tv_sec);
  int32_t usec = static_cast<int32_t>(tvp->tv_usec);
  if (xdrs->x_op == XDR_ENCODE && (sec != tvp->tv_sec || usec != tvp->tv_usec))
    return FALSE;
  if (!code_word(xdrs, &sec) || !code_word(xdrs, &usec)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) {
    tvp->tv_sec = sec;
    tvp->tv_usec = usec;
  }
  return TRUE;
}

bool_t xdr_opaque(XDR *xdrs, char *cp, uint32_t cnt) {
  switch (xdrs->x_op) {
    case XDR_ENCODE:
      return cnt == 0 || put_padded(xdrs, cp, cnt);
    case XDR_DECODE:
      return cnt == 0 || get_padded(xdrs, cp, cnt);
    case XDR_FREE:
      return TRUE;
  }
  return FALSE;
}

bool_t xdr_bytes(XDR *xdrs, char **cpp, uint32_t *sizep, uint32_t maxsize) {
  if (!xdr_u_int(xdrs, sizep)) return FALSE;
  uint32_t count = *sizep;
  switch (xdrs->x_op) {
    case XDR_ENCODE:
      return count <= maxsize && xdr_opaque(xdrs, *cpp, count);
    case XDR_DECODE:
      if (count > maxsize) return FALSE;
      if (count == 0) return TRUE;
      if (count > ksi_xdr_bytes_left(xdrs)) return FALSE;
      if (*cpp == nullptr) {
        *cpp = static_cast<char *>(alloc_zeroed(count, "xdr_bytes"));
        if (*cpp == nullptr) return FALSE;
      }
      return xdr_opaque(xdrs, *cpp, count);
    case XDR_FREE:
      std::free(*cpp);
      *cpp = nullptr;
      return TRUE;
  }
  return FALSE;
}

bool_t xdr_netobj(XDR *xdrs, netobj *np) {
  return xdr_bytes(xdrs, &np->n_bytes, &np->n_len, MAX_NETOBJ_SZ);
}

bool_t xdr_string(XDR *xdrs, char **cpp, uint32_t maxsize) {
  uint32_t len = 0;
  switch (xdrs->x_op) {
    case XDR_ENCODE:
      if (*cpp == nullptr) return FALSE;
      len = static_cast<uint32_t>(std::strlen(*cpp));
      return len <= maxsize && ksi_xdr_put_u32(xdrs, len) &&
             xdr_opaque(xdrs, *cpp, len);
    case XDR_DECODE:
      if (!ksi_xdr_get_u32(xdrs, &len) || len > maxsize) return FALSE;
      // Length + 1 wraps to 0: nothing to allocate and nothing to read.
      if (len == UINT32_MAX) return TRUE;
      if (len > ksi_xdr_bytes_left(xdrs)) return FALSE;
      if (*cpp == nullptr) {
        *cpp = static_cast<char *>(alloc_zeroed(len + 1u, "xdr_string"));
        if (*cpp == nullptr) return FALSE;
      }
      (*cpp)[len] = '\0';
      return xdr_opaque(xdrs, *cpp, len);
    case XDR_FREE:
      std::free(*cpp);
      *cpp = nullptr;
      return TRUE;
  }
  return FALSE;
}

bool_t xdr_wrapstring(XDR *xdrs, char **cpp) {
  return xdr_string(xdrs, cpp, kNoBound);
}

// Every element of an XDR array takes at least one word on the wire, so a
// buffer stream holding fewer than 4 x count bytes cannot deliver them.
bool_t xdr_array(XDR *xdrs, char **addrp, uint32_t *sizep, uint32_t maxsize,
                 uint32_t elsize, xdrproc_t elproc) {
  if (!xdr_u_int(xdrs, sizep)) return FALSE;
  uint32_t count = *sizep;
  if (xdrs->x_op != XDR_FREE &&
      (count > maxsize || (elsize != 0 && UINT32_MAX / elsize < count)))
    return FALSE;
  char *elements = *addrp;
  if (elements == nullptr) {
    switch (xdrs->x_op) {
      case XDR_DECODE:
        if (count == 0) return TRUE;
        if (count > ksi_xdr_bytes_left(xdrs) / 4) return FALSE;
        elements = static_cast<char *>(alloc_zeroed(
            static_cast<size_t>(count) * elsize + (elsize == 0), "xdr_array"));
        if (elements == nullptr) return FALSE;
        *addrp = elements;
        break;
      case XDR_FREE:
        return TRUE;
      default:
        if (count != 0) return FALSE;
        break;
    }
  }
  bool_t stat = code_elements(xdrs, elements, count, elsize, elproc);
  if (xdrs->x_op == XDR_FREE) {
    std::free(elements);
    *addrp = nullptr;
  }
  return stat;
}

bool_t xdr_vector(XDR *xdrs, char *basep, uint32_t nelem, uint32_t elemsize,
                  xdrproc_t elproc) {
  return code_elements(xdrs, basep, nelem, elemsize, elproc);
}

KSI_XDR_CALLS_FILTERS
bool_t xdr_union(XDR *xdrs, enum_t *dscmp, char *unp,
                 const struct xdr_discrim *choices, xdrproc_t dfault) {
  if (!xdr_enum(xdrs, dscmp)) return FALSE;
  for (; choices->proc != nullptr; ++choices)
    if (choices->value == *dscmp) return choices->proc(xdrs, unp);
  return dfault != nullptr && dfault(xdrs, unp);
}

KSI_XDR_CALLS_FILTERS
bool_t xdr_reference(XDR *xdrs, char **pp, uint32_t size, xdrproc_t proc) {
  char *object = *pp;
  if (object == nullptr) {
    if (xdrs->x_op == XDR_FREE) return TRUE;
    if (xdrs->x_op == XDR_DECODE) {
      object = static_cast<char *>(
          alloc_zeroed(size == 0 ? 1 : size, "xdr_reference"));
      if (object == nullptr) return FALSE;
      *pp = object;
    } else {
      return FALSE;
    }
  }
  bool_t stat = proc(xdrs, object, kNoBound);
  if (xdrs->x_op == XDR_FREE) {
    std::free(object);
    *pp = nullptr;
  }
  return stat;
}

bool_t xdr_pointer(XDR *xdrs, char **objpp, uint32_t objsize, xdrproc_t proc) {
  bool_t present = *objpp != nullptr;
  if (!xdr_bool(xdrs, &present)) return FALSE;
  if (!present) {
    *objpp = nullptr;
    return TRUE;
  }
  return xdr_reference(xdrs, objpp, objsize, proc);
}

}  // extern "C"
