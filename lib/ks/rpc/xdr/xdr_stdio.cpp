// Standard-I/O streams: words and bytes read from or written to an open
// FILE, which the stream flushes on destroy but never closes.
#include "rpc/xdr/xdr_stream.h"

#include <cstdio>

#include <sys/stat.h>

namespace {

FILE *file_of(const XDR *xdrs) { return static_cast<FILE *>(xdrs->x_private); }

bool_t stdio_getlong(XDR *xdrs, int32_t *lp) {
  uint32_t net;
  if (std::fread(&net, 4, 1, file_of(xdrs)) != 1) return FALSE;
  *lp = static_cast<int32_t>(ntohl(net));
  return TRUE;
}

bool_t stdio_putlong(XDR *xdrs, const int32_t *lp) {
  uint32_t net = htonl(static_cast<uint32_t>(*lp));
  return std::fwrite(&net, 4, 1, file_of(xdrs)) == 1;
}

bool_t stdio_getbytes(XDR *xdrs, char *addr, uint32_t len) {
  if (len == 0) return TRUE;
  return std::fread(addr, len, 1, file_of(xdrs)) == 1;
}

bool_t stdio_putbytes(XDR *xdrs, const char *addr, uint32_t len) {
  if (len == 0) return TRUE;
  return std::fwrite(addr, len, 1, file_of(xdrs)) == 1;
}

uint32_t stdio_getpostn(XDR *xdrs) {
  return static_cast<uint32_t>(std::ftell(file_of(xdrs)));
}

bool_t stdio_setpostn(XDR *xdrs, uint32_t pos) {
  return std::fseek(file_of(xdrs), static_cast<long>(pos), SEEK_SET) == 0;
}

int32_t *stdio_inline(XDR *, uint32_t) { return nullptr; }

void stdio_destroy(XDR *xdrs) { std::fflush(file_of(xdrs)); }

}  // namespace

const struct xdr_ops ksi_xdrstdio_ops = {
    stdio_getlong,  stdio_putlong,  stdio_getbytes, stdio_putbytes,
    stdio_getpostn, stdio_setpostn, stdio_inline,   stdio_destroy};

// A regular file holds its size minus the position; pipes and terminals
// do not say.
uint64_t ksi_xdrstdio_bytes_left(const XDR *xdrs) {
  FILE *file = file_of(xdrs);
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return UINT64_MAX;
  long pos = std::ftell(file);
  if (pos < 0 || pos > st.st_size) return UINT64_MAX;
  return static_cast<uint64_t>(st.st_size - pos);
}

extern "C" {

void xdrstdio_create(XDR *xdrs, FILE *file, enum xdr_op op) {
  xdrs->x_op = op;
  xdrs->x_ops = &ksi_xdrstdio_ops;
  xdrs->x_private = file;
  xdrs->x_base = nullptr;
  xdrs->x_handy = 0;
}

}  // extern "C"
