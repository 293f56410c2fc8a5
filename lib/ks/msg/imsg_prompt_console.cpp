// The console side of prompts: questions go to the error stream, answers
// come from standard input, read in pieces of at most 127 bytes. The
// message lock is held throughout, so other threads' messages wait and no
// asynchronous raise arrives while the terminal's echo is off.
#include <orvexks/stg.h>

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "msg/imsg_prompt.h"
#include "msg/msg_out.h"
#include "msg/msg_state.h"
#include "thread/qmthread_internal.h"

namespace {

constexpr int kPieceSize = 128;  // 127 bytes and the NUL

// Serialises password reads: the terminal's modes are saved and restored
// around each one.
qmthread_mutex_t password_lock = QMTHREAD_MUTEX_INITIALIZER;
KSI_FORK_GUARDED(password_lock);

// A text growing on the guarded heap; `failed` once memory ran out.
struct growing_text {
  char *text = nullptr;
  size_t len = 0, size = 0;
  bool failed = false;

  void append(const char *part, size_t n) {
    if (failed) return;
    if (len + n + 1 > size) {
      size_t bigger = size == 0 ? kPieceSize : size;
      while (len + n + 1 > bigger) bigger *= 2;
      char *grown = static_cast<char *>(stg_realloc(text, bigger));
      if (grown == nullptr) {
        failed = true;
        return;
      }
      text = grown;
      size = bigger;
    }
    std::memcpy(text + len, part, n);
    len += n;
    text[len] = '\0';
  }
  void release() {
    stg_free(text);
    *this = growing_text();
  }
};

enum class line_status { line, end, failed };

// Appends one input line, without its newline, to *out. `end` when input
// ended before any byte of the line.
line_status read_line(growing_text *out) {
  char piece[kPieceSize];
  bool any = false;
  for (;;) {
    if (std::fgets(piece, sizeof piece, stdin) == nullptr) {
      const bool error = std::ferror(stdin) != 0;
      const int err = errno;
      // A terminal can be read again after an end of input (Ctrl-D).
      std::clearerr(stdin);
      if (error && err == EINTR) continue;
      if (error) return line_status::failed;
      return any ? line_status::line : line_status::end;
    }
    any = true;
    size_t n = std::strlen(piece);
    const bool newline = n > 0 && piece[n - 1] == '\n';
    if (newline) --n;
    out->append(piece, n);
    if (newline) return line_status::line;
  }
}

ksi_prompt_read read_single(char **answer) {
  growing_text line;
  line.append("", 0);
  const line_status status = read_line(&line);
  if (status != line_status::line || line.failed || line.len == 0) {
    line.release();
    if (status == line_status::end) return ksi_prompt_read::end;
    if (status == line_status::failed || line.failed)
      return ksi_prompt_read::failed;
    return ksi_prompt_read::empty;
  }
  *answer = line.text;
  return ksi_prompt_read::answer;
}

ksi_prompt_read read_multi(char **answer) {
  growing_text all, line;
  line_status status;
  bool any_line = false;
  while ((status = read_line(&line)) == line_status::line) {
    any_line = true;
    if (line.len == 1 && line.text[0] == '.') break;
    if (line.len > 0) all.append(line.text, line.len);
    all.append("\n", 1);
    line.len = 0;
  }
  line.release();
  if (status == line_status::failed || all.failed) {
    all.release();
    return ksi_prompt_read::failed;
  }
  if (all.len == 0) {
    all.release();
    return any_line ? ksi_prompt_read::empty : ksi_prompt_read::end;
  }
  *answer = all.text;
  return ksi_prompt_read::answer;
}

}  // namespace

void ksi_prompt_console_begin(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  if (ksi_msg_out.interleave) {
    std::fflush(ksi_msg_out.out_stream);
    std::fflush(ksi_msg_out.err_stream);
  }
}

void ksi_prompt_console_end(void) { qmthread_mutex_unlock(&ksi_msg_lock); }

void ksi_prompt_write(const char *text) {
  if (ksi_msg_out.interleave) std::fflush(ksi_msg_out.out_stream);
  // imsg_fputs flushes the stream it wrote.
  imsg_fputs(text, ksi_msg_out.err_stream);
}

ksi_prompt_read ksi_prompt_read_answer(bool multi_line, char **answer) {
  *answer = nullptr;
  return multi_line ? read_multi(answer) : read_single(answer);
}

ksi_prompt_read ksi_prompt_read_password(const char *text, char **answer) {
  *answer = nullptr;
  qmthread_mutex_lock(&password_lock);
  // Echo goes off before the question is shown, so nothing typed after it
  // can appear.
  struct termios saved;
  const bool terminal =
      isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ksi_prompt_write(text);
  growing_text line;
  line.append("", 0);
  const line_status status = read_line(&line);
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSADRAIN, &saved);
    ksi_prompt_write("\n");  // the user's newline was not echoed
  }
  qmthread_mutex_unlock(&password_lock);
  if (status != line_status::line || line.failed) {
    line.release();
    return status == line_status::end ? ksi_prompt_read::end
                                      : ksi_prompt_read::failed;
  }
  *answer = line.text;
  return ksi_prompt_read::answer;
}
