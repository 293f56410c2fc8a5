// Non-blocking record assembly fed arbitrary bytes in arbitrary read
// chunks, then decoding each ready record word by word. Records are
// capped at 64 KiB so that nothing grows without bound.
#include <cstdint>
#include <cstring>

#include <orvexks/rpc/xdrrec.h>

namespace {

// A byte source that hands out at most `chunk` bytes per read; the chunk
// sizes come from the input as well.
struct Source {
  const uint8_t *data;
  size_t size;
  size_t pos;
  const uint8_t *chunks;
  size_t chunk_count;
  size_t next_chunk;
};

int source_read(void *handle, char *buf, int len) {
  auto *src = static_cast<Source *>(handle);
  if (src->pos >= src->size) return -1;
  size_t chunk =
      src->chunk_count ? src->chunks[src->next_chunk++ % src->chunk_count] : 7;
  if (chunk == 0) return 0;  // nothing available this time
  size_t n =
      chunk < static_cast<size_t>(len) ? chunk : static_cast<size_t>(len);
  if (n > src->size - src->pos) n = src->size - src->pos;
  memcpy(buf, src->data + src->pos, n);
  src->pos += n;
  return static_cast<int>(n);
}

int sink_write(void *, char *, int len) { return len; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  size_t chunk_count = data[0] % 16;
  if (size < 1 + chunk_count) return 0;
  Source src = {data + 1 + chunk_count,
                size - 1 - chunk_count,
                0,
                data + 1,
                chunk_count,
                0};
  XDR xdrs;
  xdrs.x_op = XDR_DECODE;
  ks_xdrrec_create(&xdrs, 0, 0, &src, source_read, sink_write);
  if (xdrs.x_ops == nullptr) return 0;
  xdrrec_setnonblock(&xdrs, 0x10000);
  int status = 1;
  for (int rounds = 0; status != 0 && rounds < 100000; ++rounds) {
    if (!xdrrec_getrec(&xdrs, &status, rounds & 1)) continue;
    uint32_t word;
    while (xdr_u_int32_t(&xdrs, &word)) {
    }
  }
  XDR_DESTROY(&xdrs);
  return 0;
}
