// Line readers: a backward reader that returns a stream's lines from its
// end towards its start, and fgets with a time limit.
#include <orvexks/fileutl.h>
#include <orvexks/stg.h>

#include <poll.h>
#include <sys/types.h>
#include <time.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr size_t kWindow = 4095;

int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

// Bytes the stream has read ahead and not yet handed out (glibc's FILE
// exposes its read pointers): while there are some, the next character
// needs no wait on the descriptor.
bool has_buffered_input(FILE *stream) {
  return stream->_IO_read_ptr < stream->_IO_read_end;
}

// Waits until the stream's descriptor is readable or the deadline passes.
// 1 readable (or at its end), 0 timed out, -1 failed (errno).
int wait_readable(FILE *stream, int64_t deadline) {
  for (;;) {
    int64_t left = deadline - now_ms();
    if (left < 0) left = 0;
    struct pollfd pfd = {fileno(stream), POLLIN, 0};
    const int ready =
        poll(&pfd, 1, left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left));
    if (ready > 0) return 1;
    if (ready == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

}  // namespace

// The reader keeps a window of the stream's bytes before its position.
struct fileutl_bw {
  FILE *stream;
  off_t pos;        // bytes before pos have not been returned yet
  off_t win_start;  // stream offset of window[0]
  size_t win_len;
  char window[kWindow];
};

namespace {

// The byte at offset off (< reader->pos), loading the window of up to
// kWindow bytes that ends with it when it is not held. -1 on a read
// failure (errno; EIO when the stream ended early).
int byte_at(fileutl_bw_t *reader, off_t off) {
  if (off >= reader->win_start &&
      off < reader->win_start + static_cast<off_t>(reader->win_len))
    return static_cast<unsigned char>(reader->window[off - reader->win_start]);
  const off_t start = off + 1 > static_cast<off_t>(kWindow)
                          ? off + 1 - static_cast<off_t>(kWindow)
                          : 0;
  const size_t want = static_cast<size_t>(off + 1 - start);
  reader->win_len = 0;
  if (fseeko(reader->stream, start, SEEK_SET) != 0) return -1;
  if (std::fread(reader->window, 1, want, reader->stream) != want) {
    if (!std::ferror(reader->stream)) errno = EIO;
    return -1;
  }
  reader->win_start = start;
  reader->win_len = want;
  return static_cast<unsigned char>(reader->window[off - start]);
}

}  // namespace

extern "C" {

fileutl_bw_t *fileutl_bw_start(FILE *stream, int at_end) {
  if (stream == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  if (at_end && fseeko(stream, 0, SEEK_END) != 0) return nullptr;
  const off_t pos = ftello(stream);
  if (pos < 0) return nullptr;
  auto *reader = static_cast<fileutl_bw_t *>(stg_malloc(sizeof(fileutl_bw_t)));
  if (reader == nullptr) return nullptr;
  reader->stream = stream;
  reader->pos = pos;
  reader->win_start = pos;
  reader->win_len = 0;
  return reader;
}

char *fileutl_bw_fgets(char *buf, int size, fileutl_bw_t *reader, int *full_out,
                       int *bof_out) {
  if (full_out != nullptr) *full_out = 0;
  if (bof_out != nullptr) *bof_out = 0;
  if (buf == nullptr || reader == nullptr || size < 2) {
    errno = EINVAL;
    return nullptr;
  }
  if (reader->pos == 0) {
    if (bof_out != nullptr) *bof_out = 1;
    return nullptr;
  }
  char *dst = buf + size - 1;
  *dst = '\0';
  // The first byte taken may be the line's own newline; the next newline
  // ends the previous line and stays for the next call.
  for (bool first = true; reader->pos > 0; first = false) {
    const int c = byte_at(reader, reader->pos - 1);
    if (c < 0) return nullptr;
    if (c == '\n' && !first) break;
    if (dst == buf) {
      if (full_out != nullptr) *full_out = 1;
      break;
    }
    *--dst = static_cast<char>(c);
    --reader->pos;
  }
  return dst;
}

void fileutl_bw_stop(fileutl_bw_t *reader) { stg_free(reader); }

int fileutl_fgets_or_timeout(FILE *stream, int size, int timeout_ms, char *buf,
                             int *eof_out, int *timeout_out) {
  if (eof_out != nullptr) *eof_out = 0;
  if (timeout_out != nullptr) *timeout_out = 0;
  if (stream == nullptr || buf == nullptr || size < 1) {
    errno = EINVAL;
    return 1;
  }
  const int64_t deadline = timeout_ms >= 0 ? now_ms() + timeout_ms : 0;
  int n = 0;
  while (n < size - 1) {
    if (timeout_ms >= 0 && !has_buffered_input(stream)) {
      const int ready = wait_readable(stream, deadline);
      if (ready <= 0) {
        buf[n] = '\0';
        if (ready < 0) return 1;
        if (timeout_out != nullptr) *timeout_out = 1;
        errno = ETIMEDOUT;
        return 1;
      }
    }
    const int c = std::getc(stream);
    if (c == EOF) {
      if (std::ferror(stream) && errno == EINTR) {
        std::clearerr(stream);
        continue;
      }
      if (std::ferror(stream)) {
        buf[n] = '\0';
        return 1;
      }
      break;
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  if (n == 0 && size > 1 && eof_out != nullptr) *eof_out = 1;
  return 0;
}

}  // extern "C"
