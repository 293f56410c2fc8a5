// The record-marking stream. Encoding fills an output buffer whose first
// four bytes are reserved for the current fragment's header; a full buffer
// leaves as a non-last fragment, and the end of a record either leaves at
// once or, when small, stays buffered behind a closed header so that
// several records share one write. Decoding either reads as it goes
// (blocking mode) or, in non-blocking mode, first assembles a whole record
// in the input buffer without its headers and then decodes it from there.
#include <orvexks/rpc/xdrrec.h>

#include "rpc/xdr/xdrrec_stream.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

#include "internal/report_line.h"

namespace {

constexpr uint32_t kLastFragment = 0x80000000u;
constexpr uint32_t kHeaderSize = 4;
constexpr int kStatusDead = 0;
constexpr int kStatusMoreRequests = 1;
constexpr int kStatusIdle = 2;

using rec_stream = ksi_rec_stream;

rec_stream *rec_of(XDR *xdrs) {
  return static_cast<rec_stream *>(xdrs->x_private);
}

uint32_t round_size(uint32_t size) {
  if (size < 100) size = 4000;
  return (size + 3) & ~3u;
}

// ---- Output.

// Writes the buffer up to the output position, closing the current
// fragment with its header; the last-fragment bit marks a record's end.
bool flush_out(rec_stream *rs, bool end_of_record) {
  uint32_t len =
      static_cast<uint32_t>(rs->out_pos - rs->frag_header) - kHeaderSize;
  uint32_t header = htonl(len | (end_of_record ? kLastFragment : 0));
  memcpy(rs->frag_header, &header, sizeof header);
  int total = static_cast<int>(rs->out_pos - rs->out_base);
  if (rs->writeit(rs->handle, rs->out_base, total) != total) return false;
  rs->frag_header = rs->out_base;
  rs->out_pos = rs->out_base + kHeaderSize;
  return true;
}

bool_t rec_putbytes(XDR *xdrs, const char *addr, uint32_t len) {
  rec_stream *rs = rec_of(xdrs);
  while (len > 0) {
    uint32_t room = static_cast<uint32_t>(rs->out_end - rs->out_pos);
    uint32_t n = len < room ? len : room;
    memcpy(rs->out_pos, addr, n);
    rs->out_pos += n;
    addr += n;
    len -= n;
    if (rs->out_pos == rs->out_end) {
      rs->frag_sent = true;
      if (!flush_out(rs, false)) return FALSE;
    }
  }
  return TRUE;
}

// A word that does not fit: the full buffer leaves as a non-last fragment
// and the word starts the next one.
[[gnu::noinline]] bool_t put_word_after_flush(XDR *xdrs, uint32_t value) {
  rec_stream *rs = rec_of(xdrs);
  rs->frag_sent = true;
  if (!flush_out(rs, false)) return FALSE;
  return ksi_xdrrec_put_fast(xdrs, value) ? TRUE : FALSE;
}

bool_t rec_putlong(XDR *xdrs, const int32_t *lp) {
  uint32_t value = static_cast<uint32_t>(*lp);
  if (ksi_xdrrec_put_fast(xdrs, value)) return TRUE;
  return put_word_after_flush(xdrs, value);
}

// ---- Blocking input.

// Refills the consumed input buffer with one read. The new data starts at
// the offset that keeps word boundaries where they were.
bool fill_input(rec_stream *rs) {
  if (rs->nonblock) return false;
  uint32_t offset = static_cast<uint32_t>(rs->in_end - rs->in_base) & 3u;
  char *where = rs->in_base + offset;
  int got =
      rs->readit(rs->handle, where, static_cast<int>(rs->in_size - offset));
  if (got < 0) return false;
  rs->in_pos = where;
  rs->in_end = where + got;
  return true;
}

// Copies len bytes of buffered input, reading more as needed; ignores
// fragment boundaries (used for headers and within a fragment).
bool get_input_bytes(rec_stream *rs, char *addr, uint32_t len) {
  while (len > 0) {
    uint32_t avail = static_cast<uint32_t>(rs->in_end - rs->in_pos);
    if (avail == 0) {
      if (!fill_input(rs)) return false;
      if (rs->in_end == rs->in_pos)
        return false;  // nothing came: the peer is gone
      continue;
    }
    uint32_t n = len < avail ? len : avail;
    memcpy(addr, rs->in_pos, n);
    rs->in_pos += n;
    addr += n;
    len -= n;
  }
  return true;
}

// Reads the next fragment header; a zero header is a broken stream.
bool next_fragment(rec_stream *rs) {
  uint32_t header;
  if (!get_input_bytes(rs, reinterpret_cast<char *>(&header), sizeof header))
    return false;
  header = ntohl(header);
  rs->last_frag = (header & kLastFragment) != 0;
  rs->frag_left = header & ~kLastFragment;
  return header != 0;
}

bool_t rec_getbytes(XDR *xdrs, char *addr, uint32_t len) {
  rec_stream *rs = rec_of(xdrs);
  while (len > 0) {
    if (rs->frag_left == 0) {
      if (rs->last_frag || rs->nonblock || !next_fragment(rs)) return FALSE;
      continue;
    }
    uint32_t n = len < rs->frag_left ? len : rs->frag_left;
    if (!get_input_bytes(rs, addr, n)) return FALSE;
    rs->frag_left -= n;
    addr += n;
    len -= n;
  }
  return TRUE;
}

bool_t rec_getlong(XDR *xdrs, int32_t *lp) {
  uint32_t word;
  if (!ksi_xdrrec_get_fast(xdrs, &word)) {
    if (!rec_getbytes(xdrs, reinterpret_cast<char *>(&word), sizeof word))
      return FALSE;
    word = ntohl(word);
  }
  *lp = static_cast<int32_t>(word);
  return TRUE;
}

// Consumes the rest of the current record, reading headers as needed, and
// stops at the record boundary (no fragment left, last fragment seen), so
// that asking again consumes nothing more.
bool skip_rest_of_record(rec_stream *rs) {
  for (;;) {
    while (rs->frag_left > 0) {
      uint32_t avail = static_cast<uint32_t>(rs->in_end - rs->in_pos);
      if (avail == 0) {
        if (!fill_input(rs) || rs->in_end == rs->in_pos) return false;
        continue;
      }
      uint32_t n = rs->frag_left < avail ? rs->frag_left : avail;
      rs->in_pos += n;
      rs->frag_left -= n;
    }
    if (rs->last_frag) return true;
    if (!next_fragment(rs)) return false;
  }
}

// Moves past the rest of the current record; the next read starts with
// the next record's header.
bool skip_record_blocking(rec_stream *rs) {
  if (!skip_rest_of_record(rs)) return false;
  rs->last_frag = false;
  return true;
}

// ---- Position, inline and destroy.

uint32_t rec_getpostn(XDR *) { return static_cast<uint32_t>(-1); }

bool_t rec_setpostn(XDR *, uint32_t) { return FALSE; }

int32_t *rec_inline(XDR *xdrs, uint32_t len) {
  rec_stream *rs = rec_of(xdrs);
  if (xdrs->x_op == XDR_ENCODE) {
    if (len > static_cast<uint32_t>(rs->out_end - rs->out_pos)) return nullptr;
    char *at = rs->out_pos;
    rs->out_pos += len;
    return reinterpret_cast<int32_t *>(at);
  }
  if (xdrs->x_op == XDR_DECODE) {
    if (len > rs->frag_left ||
        len > static_cast<uint32_t>(rs->in_end - rs->in_pos))
      return nullptr;
    char *at = rs->in_pos;
    rs->in_pos += len;
    rs->frag_left -= len;
    return reinterpret_cast<int32_t *>(at);
  }
  return nullptr;
}

void rec_destroy(XDR *xdrs) {
  rec_stream *rs = rec_of(xdrs);
  if (rs == nullptr) return;
  free(rs->out_base);
  free(rs->in_base);
  free(rs);
  xdrs->x_private = nullptr;
}

// ---- Non-blocking record assembly.

void reset_header(rec_stream *rs) {
  rs->header_done = false;
  rs->header_read = 0;
  rs->header_pos = reinterpret_cast<char *>(&rs->header);
}

// Status after a read that gave no bytes: a quiet connection is idle
// unless data was expected, a failed read is dead.
int status_after_empty_read(int got, bool expect_data) {
  if (got < 0) return kStatusDead;
  return expect_data ? kStatusDead : kStatusIdle;
}

// Enlarges the input buffer to at least size bytes, keeping its contents
// and the input position and end.
bool grow_input(rec_stream *rs, uint32_t size) {
  if (size <= rs->in_size) return true;
  size = (size + 3) & ~3u;
  if (size == 0) return false;  // rounding wrapped
  char *moved = static_cast<char *>(realloc(rs->in_base, size));
  if (moved == nullptr) return false;
  rs->in_pos = moved + (rs->in_pos - rs->in_base);
  rs->in_end = moved + (rs->in_end - rs->in_base);
  rs->in_base = moved;
  rs->in_size = size;
  return true;
}

// Checks a completed header against the limits and makes room for the
// record it extends.
bool accept_header(rec_stream *rs) {
  uint32_t header = ntohl(rs->header);
  uint32_t frag_len = header & ~kLastFragment;
  if (frag_len == 0 || frag_len > rs->max_record) return false;
  if (rs->received > rs->max_record - frag_len) return false;
  rs->record_len = rs->received + frag_len;
  rs->last_frag = (header & kLastFragment) != 0;
  rs->header_done = true;
  // Without room for the whole record it could never complete.
  return grow_input(rs, rs->record_len);
}

bool get_record(rec_stream *rs, int *status, bool expect_data) {
  if (!rs->header_done) {
    int want = static_cast<int>(kHeaderSize - rs->header_read);
    int got = rs->readit(rs->handle, rs->header_pos, want);
    if (got <= 0) {
      *status = status_after_empty_read(got, expect_data);
      return false;
    }
    rs->header_pos += got;
    rs->header_read += static_cast<uint32_t>(got);
    if (rs->header_read < kHeaderSize) {
      *status = kStatusMoreRequests;
      return false;
    }
    if (!accept_header(rs)) {
      *status = kStatusDead;
      return false;
    }
    // The header was the data this call expected; the body may follow in
    // a later read.
    expect_data = false;
  }
  int want = static_cast<int>(rs->record_len - rs->received);
  int got = rs->readit(rs->handle, rs->in_base + rs->received, want);
  if (got <= 0) {
    *status = status_after_empty_read(got, expect_data);
    return false;
  }
  rs->received += static_cast<uint32_t>(got);
  if (rs->received < rs->record_len) {
    *status = kStatusMoreRequests;
    return false;
  }
  reset_header(rs);
  *status = kStatusMoreRequests;
  if (!rs->last_frag) return false;
  rs->frag_left = rs->record_len;
  rs->in_pos = rs->in_base;
  rs->in_end = rs->in_base + rs->record_len;
  rs->record_len = 0;
  rs->received = 0;
  return true;
}

}  // namespace

const struct xdr_ops ksi_xdrrec_ops = {rec_getlong,  rec_putlong,  rec_getbytes,
                                       rec_putbytes, rec_getpostn, rec_setpostn,
                                       rec_inline,   rec_destroy};

extern "C" {

KS_API void ks_xdrrec_create(XDR *xdrs, uint32_t sendsize, uint32_t recvsize,
                             void *handle, ks_xdrrec_read_t readit,
                             ks_xdrrec_write_t writeit) {
  auto *rs = static_cast<rec_stream *>(calloc(1, sizeof(rec_stream)));
  uint32_t send_size = round_size(sendsize);
  uint32_t recv_size = round_size(recvsize);
  char *out = rs ? static_cast<char *>(malloc(send_size)) : nullptr;
  char *in = out ? static_cast<char *>(malloc(recv_size)) : nullptr;
  if (in == nullptr) {
    ksi_report("ks_xdrrec_create: out of memory");
    free(out);
    free(rs);
    // A caller that did not clear the handle can still tell the failure.
    xdrs->x_ops = nullptr;
    xdrs->x_private = nullptr;
    return;
  }
  rs->handle = handle;
  rs->readit = readit;
  rs->writeit = writeit;
  rs->send_size = send_size;
  rs->recv_size = recv_size;
  rs->out_base = out;
  rs->out_end = out + send_size;
  rs->frag_header = out;
  rs->out_pos = out + kHeaderSize;
  rs->in_base = in;
  rs->in_size = recv_size;
  rs->in_pos = rs->in_end = in + recv_size;
  rs->frag_left = 0;
  rs->last_frag = true;
  reset_header(rs);
  xdrs->x_ops = &ksi_xdrrec_ops;
  xdrs->x_private = rs;
}

KS_API bool_t ks_xdrrec_endofrecord(XDR *xdrs, bool_t send_now) {
  rec_stream *rs = rec_of(xdrs);
  if (!send_now && !rs->frag_sent && rs->out_end - rs->out_pos > 4) {
    // Close the record in place and reserve the next header behind it.
    uint32_t len =
        static_cast<uint32_t>(rs->out_pos - rs->frag_header) - kHeaderSize;
    uint32_t header = htonl(len | kLastFragment);
    memcpy(rs->frag_header, &header, sizeof header);
    rs->frag_header = rs->out_pos;
    rs->out_pos += kHeaderSize;
    return TRUE;
  }
  rs->frag_sent = false;
  return flush_out(rs, true) ? TRUE : FALSE;
}

KS_API bool_t ks_xdrrec_skiprecord(XDR *xdrs) {
  rec_stream *rs = rec_of(xdrs);
  if (!rs->nonblock) return skip_record_blocking(rs) ? TRUE : FALSE;
  int status = kStatusDead;
  if (get_record(rs, &status, false)) {
    rs->frag_left = 0;  // the ready record is discarded
    return TRUE;
  }
  return status == kStatusMoreRequests && rs->in_pos == rs->in_end;
}

KS_API bool_t ks_xdrrec_eof(XDR *xdrs) {
  rec_stream *rs = rec_of(xdrs);
  // Stays at the record boundary: a following skiprecord must not pass
  // over a record that is already buffered.
  if (!skip_rest_of_record(rs)) return TRUE;
  return rs->in_pos == rs->in_end;
}

KS_API bool_t xdrrec_setnonblock(XDR *xdrs, uint32_t max_record) {
  rec_stream *rs = rec_of(xdrs);
  rs->nonblock = true;
  rs->max_record = max_record != 0 ? max_record : rs->recv_size;
  return TRUE;
}

KS_API bool_t xdrrec_getrec(XDR *xdrs, int *status, bool_t expect_data) {
  return get_record(rec_of(xdrs), status, expect_data != 0) ? TRUE : FALSE;
}

KS_API bool_t xdrrec_grow_input(XDR *xdrs, uint32_t size) {
  return grow_input(rec_of(xdrs), size) ? TRUE : FALSE;
}

}  // extern "C"

bool ksi_xdrrec_prefetch(XDR *xdrs) {
  rec_stream *rs = rec_of(xdrs);
  if (rs->nonblock) return false;
  if (rs->in_pos != rs->in_end) return true;
  return fill_input(rs) && rs->in_pos != rs->in_end;
}
