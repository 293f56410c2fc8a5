// Delivery of one message: the kind's prefix and the formatted text are
// composed in the shared output buffer, then handed to the writer of the
// kind's redirection slot. The console writer writes standard streams, the
// log file or the event log; imsg_fputs renders style markers.
#include <orvexks/imsg.h>
#include <orvexks/pfm.h>

#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "msg/imsg_msgs.h"
#include "msg/msg_lock.h"
#include "msg/msg_out.h"
#include "msg/msg_state.h"

namespace {

constexpr size_t kFirstBufferSize = 16384;
constexpr int kMaxEventLineBreaks = 100;

// The shared output buffer (message lock). It comes from the C heap, never
// from a storage area, because storage areas print through this code.
char *shared_buf = nullptr;
size_t shared_size = 0;
bool composing = false;  // the lock's holder is composing into shared_buf

enum style_bit { kBold = 1, kItalic = 2, kUnderline = 4 };

// Grows *buf to size + size/2 (one byte more allocated), keeping the first
// `keep` bytes. Running out of memory here is fatal.
void grow(char **buf, size_t *size, size_t keep) {
  size_t bigger = *size + *size / 2;
  char *out_buf_p = static_cast<char *>(std::malloc(bigger + 1));
  PFM_ASSERT(out_buf_p != NULL);
  std::memcpy(out_buf_p, *buf, keep);
  std::free(*buf);
  *buf = out_buf_p;
  *size = bigger;
}

// Prefix and message into *buf, grown as needed. Returns false when the
// message cannot be formatted (a bad index, already reported).
bool compose(char **buf, size_t *size, int kind, const char *subsys,
             const void *table, int index, va_list args) {
  size_t prefix =
      static_cast<size_t>(ksi_msg_prefix_locked(*buf, *size, kind, subsys));
  while (prefix >= *size) {
    grow(buf, size, 0);
    ksi_msg_prefix_locked(*buf, *size, kind, subsys);
  }
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    int len = imsg_vsnprintf_taggable(IMSG_TAG_ENABLED, *buf + prefix,
                                      *size - prefix, table, index, copy);
    va_end(copy);
    if (len < 0) return false;
    if (static_cast<size_t>(len) < *size - prefix) return true;
    grow(buf, size, prefix);
  }
}

// The slot that serves `kind`; its number is the kind delivery goes on with.
int choose_slot(int kind) {
  if (kind < IMSG_OK || kind > IMSG_OTHER) return IMSG_ERROR;
  if (kind == IMSG_INFO && ksi_msg_out.slots[IMSG_INFO] == nullptr)
    return IMSG_OK;
  if (kind == IMSG_OUTPUT_ALT && ksi_msg_out.slots[IMSG_OUTPUT_ALT] == nullptr)
    return IMSG_OUTPUT;
  return kind;
}

bool dup_output_on() {
  int &flag = ksi_msg_out.dup_output;
  if (flag < 0) {
    const char *value = std::getenv("IMSG_DUP_OUTPUT");
    int number = 0;
    flag = value != nullptr && std::sscanf(value, "%d", &number) == 1 &&
           number != 0;
  }
  return flag != 0;
}

// The event log's form of a message: inner newlines become CR LF (up to a
// limit), a lone final newline goes, style markers go.
char *event_text(const char *text) {
  size_t len = std::strlen(text);
  const char *inner = static_cast<const char *>(std::memchr(text, '\n', len));
  bool multi_line = inner != nullptr && inner < text + len - 1;
  char *copy = static_cast<char *>(std::malloc(len + kMaxEventLineBreaks + 1));
  if (copy == nullptr) return nullptr;
  size_t out = 0;
  int breaks = 0;
  for (size_t i = 0; i < len; ++i) {
    if (text[i] == '\n' && multi_line && breaks < kMaxEventLineBreaks) {
      copy[out++] = '\r';
      ++breaks;
    }
    copy[out++] = text[i];
  }
  if (!multi_line && out > 0 && copy[out - 1] == '\n') --out;
  copy[out] = '\0';
  char *plain = static_cast<char *>(std::malloc(out + 1));
  if (plain != nullptr) imsg_strip_style_chars(plain, copy);
  std::free(copy);
  return plain;
}

// Style marker at p (0x01 0x01 '0'|'1' 'B'|'I'|'U'): sets *bit and *on.
bool style_marker(const char *p, int *bit, bool *on) {
  if (p[0] != 1 || p[1] != 1 || (p[2] != '0' && p[2] != '1')) return false;
  switch (p[3]) {
    case 'B':
      *bit = kBold;
      break;
    case 'I':
      *bit = kItalic;
      break;
    case 'U':
      *bit = kUnderline;
      break;
    default:
      return false;
  }
  *on = p[2] == '1';
  return true;
}

bool write_run(const char *text, size_t len, FILE *stream) {
  return len == 0 || std::fwrite(text, 1, len, stream) == len;
}

// Writes len bytes of text straight to the stream's descriptor when the
// stream holds nothing buffered and is not reading, so that the copy into
// its buffer and the flush add nothing to the one write(2) that delivery
// needs: 0 when written, -1 when writing failed, 1 when the stream must
// be written through its buffer (no descriptor, data buffered, reading).
int write_unbuffered(const char *text, size_t len, FILE *stream) {
  if (__fpending(stream) != 0 || __freading(stream) != 0) return 1;
  int fd = fileno(stream);
  if (fd < 0) return 1;
  while (len > 0) {
    ssize_t n = write(fd, text, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    text += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}

// imsg_fputs with the message lock held.
int fputs_locked(const char *text, FILE *stream) {
  ksi_msg_out.last_stream = stream;
  const char *end = strchrnul(text, '\001');
  if (*end == '\0') {
    int direct =
        write_unbuffered(text, static_cast<size_t>(end - text), stream);
    if (direct <= 0) return direct;
  }
  // Whether the stream is a terminal is asked only when a marker shows up:
  // most messages carry none, and the question costs a system call.
  int bold_terminal = -1;
  static int style = 0;  // bold, italic, underline bits across calls
  int result = 0;
  const char *run = text;
  const char *p = text;
  // Markers start with byte 0x01; the text between them goes out whole.
  while ((p = std::strchr(p, '\001')) != nullptr) {
    int bit;
    bool on;
    if (!style_marker(p, &bit, &on)) {
      ++p;
      continue;
    }
    if (!write_run(run, static_cast<size_t>(p - run), stream)) {
      result = -1;
      break;
    }
    int was_bold = style & kBold;
    style = on ? (style | bit) : (style & ~bit);
    if (bold_terminal < 0) {
      int fd = fileno(stream);
      bold_terminal = fd >= 0 && isatty(fd) == 1 && ksi_msg_out.bold_allowed;
    }
    if (bold_terminal != 0 && (style & kBold) != was_bold) {
      std::fflush(ksi_msg_out.out_stream);
      std::fputs((style & kBold) != 0 ? "\033[1m" : "\033[22m", stream);
    }
    p += 4;
    run = p;
  }
  if (result == 0 && !write_run(run, std::strlen(run), stream)) result = -1;
  if (std::fflush(stream) != 0) result = -1;
  return result;
}

// The console writer with the message lock held.
void console_write_locked(const char *text) {
  const ksi_msg_output_t &out = ksi_msg_out;
  int kind = out.current_kind;
  if (ksi_eventlog_is_open() && out.log_file == nullptr) {
    imsg_drain_pipes();
    char *event = event_text(text);
    if (event != nullptr) ksi_eventlog_report(imsg_nt_event_type(kind), event);
    std::free(event);
  } else {
    FILE *stream = out.log_file;
    if (stream == nullptr)
      stream = kind >= IMSG_OK && kind <= IMSG_OUTPUT_ALT ? out.out_stream
                                                          : out.err_stream;
    fputs_locked(text, stream);
  }
}

}  // namespace

void ksi_msg_deliver(imsg_writer_t writer, int kind, void *arg,
                     const char *text) {
  ksi_msg_out.current_kind = kind;
  bool console = writer == imsg_console_writer;
  bool log_open = ksi_msg_out.log_file != nullptr;
  if (log_open || console || dup_output_on()) console_write_locked(text);
  if (!log_open && !console && writer != imsg_discard_writer) {
    qmthread_mutex_unlock(&ksi_msg_lock);
    writer(arg, text);
    qmthread_mutex_lock(&ksi_msg_lock);
  }
}

extern "C" {

void imsg_console_writer(void *, const char *text) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  console_write_locked(text);
  qmthread_mutex_unlock(&ksi_msg_lock);
}

int imsg_fputs(const char *text, FILE *stream) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  int result = fputs_locked(text, stream);
  qmthread_mutex_unlock(&ksi_msg_lock);
  return result;
}

void imsg_print_sharedv(int kind, const char *subsys, const void *table,
                        int index, va_list args) {
  pfm_test_raise(nullptr);
  ksi_msg_init();
  if (index != -1 && table == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_imsg_msgs, KSI_IMSG_BAD_TABLE_INDEX,
               "print_sharedv", 0L, index);
    return;
  }
  const char *shown = "";
  if (index != -1)
    shown = subsys != nullptr
                ? subsys
                : static_cast<const ks_msg_table_t *>(table)->subsys;
  qmthread_mutex_lock(&ksi_msg_lock);
  imsg_drain_pipes();
  // A message printed while one is being composed (a formatting error, a
  // storage trace) gets a buffer of its own.
  bool nested = composing;
  char *buf = shared_buf;
  size_t size = shared_size;
  if (nested || buf == nullptr) {
    size = nested ? 512 : kFirstBufferSize;
    char *out_buf_p = static_cast<char *>(std::malloc(size + 1));
    PFM_ASSERT(out_buf_p != NULL);
    buf = out_buf_p;
  }
  composing = true;
  bool ok = compose(&buf, &size, kind, shown, table, index, args);
  composing = nested;
  if (!nested) {
    shared_buf = buf;
    shared_size = size;
  }
  if (ok) {
    int slot = choose_slot(kind);
    imsg_writer_t writer = ksi_msg_out.slots[slot];
    if (writer == nullptr) writer = imsg_console_writer;
    // Delivery may release the lock to call a caller's writer, so it works
    // on a text that no other thread can overwrite meanwhile.
    char *text = writer == imsg_console_writer || writer == imsg_discard_writer
                     ? buf
                     : strdup(buf);
    if (text != nullptr)
      ksi_msg_deliver(writer, slot, ksi_msg_out.redirect_arg, text);
    if (text != buf) std::free(text);
  }
  if (nested) std::free(buf);
  qmthread_mutex_unlock(&ksi_msg_lock);
}

void imsg_print_shared(int kind, const char *subsys, const void *table,
                       int index, ...) {
  va_list args;
  va_start(args, index);
  imsg_print_sharedv(kind, subsys, table, index, args);
  va_end(args);
}

void imsg_vprint(int kind, const void *table, int index, va_list args) {
  imsg_print_sharedv(kind, nullptr, table, index, args);
}

void imsg_print(int kind, const void *table, int index, ...) {
  va_list args;
  va_start(args, index);
  imsg_print_sharedv(kind, nullptr, table, index, args);
  va_end(args);
}

}  // extern "C"
