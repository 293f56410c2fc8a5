// Memory streams: encode into or decode from a caller's buffer. Two tables
// that differ only in inline: a buffer at an address that is a multiple of
// 4 hands out word pointers, any other buffer never does.
#include "rpc/xdr/xdr_stream.h"

namespace {

bool_t mem_putlong(XDR *xdrs, const int32_t *lp) {
  if (xdrs->x_handy < 4) return FALSE;
  uint32_t net = htonl(static_cast<uint32_t>(*lp));
  std::memcpy(ksi_xdrbuf_pos(xdrs), &net, 4);
  ksi_xdrbuf_step(xdrs, 4);
  return TRUE;
}

bool_t mem_putbytes(XDR *xdrs, const char *addr, uint32_t len) {
  if (xdrs->x_handy < len) return FALSE;
  if (len != 0) std::memmove(ksi_xdrbuf_pos(xdrs), addr, len);
  ksi_xdrbuf_step(xdrs, len);
  return TRUE;
}

int32_t *mem_no_inline(XDR *, uint32_t) { return nullptr; }

void mem_destroy(XDR *) {}

}  // namespace

bool_t ksi_xdrbuf_getlong(XDR *xdrs, int32_t *lp) {
  if (xdrs->x_handy < 4) return FALSE;
  uint32_t net;
  std::memcpy(&net, ksi_xdrbuf_pos(xdrs), 4);
  *lp = static_cast<int32_t>(ntohl(net));
  ksi_xdrbuf_step(xdrs, 4);
  return TRUE;
}

bool_t ksi_xdrbuf_getbytes(XDR *xdrs, char *addr, uint32_t len) {
  if (xdrs->x_handy < len) return FALSE;
  if (len != 0) std::memmove(addr, ksi_xdrbuf_pos(xdrs), len);
  ksi_xdrbuf_step(xdrs, len);
  return TRUE;
}

uint32_t ksi_xdrbuf_getpostn(XDR *xdrs) {
  return static_cast<uint32_t>(ksi_xdrbuf_pos(xdrs) - xdrs->x_base);
}

// The end of the buffer stays where it is; only the position moves.
bool_t ksi_xdrbuf_setpostn(XDR *xdrs, uint32_t pos) {
  char *end = ksi_xdrbuf_pos(xdrs) + xdrs->x_handy;
  if (pos > static_cast<uint64_t>(end - xdrs->x_base)) return FALSE;
  char *target = xdrs->x_base + pos;
  xdrs->x_private = target;
  xdrs->x_handy = static_cast<uint32_t>(end - target);
  return TRUE;
}

int32_t *ksi_xdrbuf_inline(XDR *xdrs, uint32_t len) {
  if (xdrs->x_handy < len) return nullptr;
  auto *start = reinterpret_cast<int32_t *>(ksi_xdrbuf_pos(xdrs));
  ksi_xdrbuf_step(xdrs, len);
  return start;
}

const struct xdr_ops ksi_xdrmem_aligned_ops = {
    ksi_xdrbuf_getlong,  mem_putlong,         ksi_xdrbuf_getbytes, mem_putbytes,
    ksi_xdrbuf_getpostn, ksi_xdrbuf_setpostn, ksi_xdrbuf_inline,   mem_destroy};

const struct xdr_ops ksi_xdrmem_unaligned_ops = {
    ksi_xdrbuf_getlong,  mem_putlong,         ksi_xdrbuf_getbytes, mem_putbytes,
    ksi_xdrbuf_getpostn, ksi_xdrbuf_setpostn, mem_no_inline,       mem_destroy};

extern "C" {

void xdrmem_create(XDR *xdrs, char *addr, uint32_t size, enum xdr_op op) {
  xdrs->x_op = op;
  xdrs->x_ops = (reinterpret_cast<uintptr_t>(addr) % 4 == 0)
                    ? &ksi_xdrmem_aligned_ops
                    : &ksi_xdrmem_unaligned_ops;
  xdrs->x_private = addr;
  xdrs->x_base = addr;
  xdrs->x_handy = size;
}

}  // extern "C"
