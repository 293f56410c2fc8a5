// Storage-area streams: a stg_malloc buffer that grows as it is written
// (doubling up to 4096 bytes, then 4096 bytes at a time or the shortfall
// when larger), and that the stream frees on destroy.
#include "rpc/xdr/xdr_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <orvexks/stg.h>

#include "msg/msg_out.h"
#include "startup/ks_msgs.h"

namespace {

constexpr uint64_t LINEAR_GROWTH = 4096;

// "Operation <operation>: <system error text>" for an allocation failure.
void report_failure(const char *operation) {
  imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_OPERATION_FAILED, operation,
             imsg_strerror(errno));
}

// Makes room for `needed` bytes after the position.
bool grow(XDR *xdrs, uint32_t needed) {
  uint64_t used = ksi_xdrbuf_pos(xdrs) - xdrs->x_base;
  uint64_t size = used + xdrs->x_handy;
  uint64_t shortfall = needed - xdrs->x_handy;
  uint64_t step = std::max(shortfall, std::min(size, LINEAR_GROWTH));
  if (size + step > UINT32_MAX) return false;
  auto *buf = static_cast<char *>(
      stg_realloc(xdrs->x_base, static_cast<size_t>(size + step)));
  if (buf == nullptr) {
    report_failure("stg_realloc");
    return false;
  }
  xdrs->x_base = buf;
  xdrs->x_private = buf + used;
  xdrs->x_handy += static_cast<uint32_t>(step);
  return true;
}

bool_t stg_putlong(XDR *xdrs, const int32_t *lp) {
  if (xdrs->x_handy < 4 && !grow(xdrs, 4)) return FALSE;
  uint32_t net = htonl(static_cast<uint32_t>(*lp));
  std::memcpy(ksi_xdrbuf_pos(xdrs), &net, 4);
  ksi_xdrbuf_step(xdrs, 4);
  return TRUE;
}

bool_t stg_putbytes(XDR *xdrs, const char *addr, uint32_t len) {
  if (xdrs->x_handy < len && !grow(xdrs, len)) return FALSE;
  if (len != 0) std::memmove(ksi_xdrbuf_pos(xdrs), addr, len);
  ksi_xdrbuf_step(xdrs, len);
  return TRUE;
}

}  // namespace

const struct xdr_ops ksi_xdrstg_ops = {ksi_xdrbuf_getlong,  stg_putlong,
                                       ksi_xdrbuf_getbytes, stg_putbytes,
                                       ksi_xdrbuf_getpostn, ksi_xdrbuf_setpostn,
                                       ksi_xdrbuf_inline,   xdrstg_destroy};

extern "C" {

int xdrstg_create(XDR *xdrs, uint32_t size, enum xdr_op op) {
  xdrs->x_op = op;
  if (op == XDR_ENCODE || op == XDR_DECODE) {
    auto *buf = static_cast<char *>(stg_malloc(size == 0 ? 1 : size));
    if (buf == nullptr) {
      report_failure("stg_malloc");
      return 1;
    }
    xdrs->x_private = buf;
    xdrs->x_base = buf;
    xdrs->x_handy = size;
  } else {
    xdrs->x_private = nullptr;
    xdrs->x_base = nullptr;
    xdrs->x_handy = 0;
  }
  xdrs->x_ops = &ksi_xdrstg_ops;
  return 0;
}

int xdrstg_create_decode_buf(XDR *xdrs, char *buf, uint32_t len) {
  xdrs->x_op = XDR_DECODE;
  xdrs->x_ops = &ksi_xdrstg_ops;
  xdrs->x_private = buf;
  xdrs->x_base = buf;
  xdrs->x_handy = len;
  return 0;
}

void xdrstg_destroy(XDR *xdrs) {
  if (xdrs->x_op != XDR_ENCODE && xdrs->x_op != XDR_DECODE) return;
  if (xdrs->x_base != nullptr) stg_free(xdrs->x_base);
  xdrs->x_base = nullptr;
  xdrs->x_private = nullptr;
  xdrs->x_handy = 0;
}

}  // extern "C"
