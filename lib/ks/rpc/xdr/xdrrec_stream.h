// The record-marking stream's private record, shared with the word filters
// so that a word which fits in the buffer is stored or taken inline, without
// a call through the operations table (the 32-bit filters are the bulk of
// every RPC message).
#pragma once

#include <cstdint>
#include <cstring>

#include <arpa/inet.h>

#include <orvexks/rpc/xdrrec.h>

struct ksi_rec_stream {
  void *handle;
  ks_xdrrec_write_t writeit;
  char *out_base;
  char *out_pos;
  char *out_end;
  char *frag_header;  // where the current fragment's header goes
  bool frag_sent;     // part of the current record has been written
  ks_xdrrec_read_t readit;
  uint32_t in_size;
  char *in_base;
  char *in_pos;
  char *in_end;        // end of the valid input
  uint32_t frag_left;  // bytes of the current fragment not yet consumed
  bool last_frag;
  uint32_t send_size;
  uint32_t recv_size;
  bool nonblock;
  bool header_done;  // non-blocking: the fragment header is complete
  uint32_t header;   // non-blocking: the header being read
  char *header_pos;
  uint32_t header_read;
  uint32_t
      record_len;  // non-blocking: assembled bytes plus the announced fragment
  uint32_t received;  // non-blocking: bytes of the record read so far
  uint32_t max_record;
};

// Reads once into the input buffer of a blocking stream that has no input
// left, through its read function, so that a caller can wait for the next
// record before decoding it; true when input is buffered. A read that gives
// nothing leaves the stream as it was.
bool ksi_xdrrec_prefetch(XDR *xdrs);

// Hidden, so that the filters compare against its address directly rather
// than through the global offset table.
[[gnu::visibility("hidden")]] extern const struct xdr_ops ksi_xdrrec_ops;

// Stores one word when the output buffer has room for it; false leaves the
// stream untouched for the table's putlong, which flushes first.
inline bool ksi_xdrrec_put_fast(XDR *xdrs, uint32_t value) {
  auto *rs = static_cast<ksi_rec_stream *>(xdrs->x_private);
  if (rs->out_end - rs->out_pos < 4) return false;
  uint32_t net = htonl(value);
  std::memcpy(rs->out_pos, &net, 4);
  rs->out_pos += 4;
  return true;
}

// Takes one word when the current fragment and the buffered input both
// hold it; false leaves the stream untouched for the table's getlong.
inline bool ksi_xdrrec_get_fast(XDR *xdrs, uint32_t *value) {
  auto *rs = static_cast<ksi_rec_stream *>(xdrs->x_private);
  if (rs->frag_left < 4 || rs->in_end - rs->in_pos < 4) return false;
  uint32_t net;
  std::memcpy(&net, rs->in_pos, 4);
  rs->in_pos += 4;
  rs->frag_left -= 4;
  *value = ntohl(net);
  return true;
}
