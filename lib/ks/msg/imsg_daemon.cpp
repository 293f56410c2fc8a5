// Daemon mode: the process's standard output and error become the write
// end of a pipe whose reader thread forwards each line to the log file or
// the event log. A delivery first drains the pipe with a marker line, so
// text the daemon wrote itself comes before the library's own message.
#include <orvexks/imsg.h>

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "internal/report_line.h"
#include "msg/imsg_msgs.h"
#include "msg/msg_lock.h"
#include "msg/msg_out.h"
#include "msg/msg_state.h"
#include "thread/qmthread_internal.h"

namespace {

constexpr size_t kReadBlock = 200;
constexpr size_t kMaxLine = 200;
constexpr char kPipeMark[] = "*PIPEMARK*";
constexpr long kDrainTimeoutMs = 5000;

// The drain event: auto-reset, signalled by the reader at each marker line.
struct drain_event {
  qmthread_mutex_t mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
  pthread_cond_t cond;
  bool exists = false;  // set once by imsg_init_daemon
  bool signalled = false;
};
drain_event drain;
ksi_fork_guarded drain_fork_guarded(&drain.mutex, true);

int pipe_read_fd = -1;
int saved_stdout_fd = -1, saved_stderr_fd = -1;  // the real standard streams
FILE *real_stdout = nullptr, *real_stderr = nullptr;

void create_drain_event() {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&drain.cond, &attr);
  pthread_condattr_destroy(&attr);
  __atomic_store_n(&drain.exists, true, __ATOMIC_RELEASE);
}

void signal_drain() {
  qmthread_mutex_lock(&drain.mutex);
  drain.signalled = true;
  pthread_cond_signal(&drain.cond);
  qmthread_mutex_unlock(&drain.mutex);
}

void wait_drain() {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += kDrainTimeoutMs / 1000;
  qmthread_mutex_lock(&drain.mutex);
  while (!drain.signalled && qmthread_cond_timedwait(&drain.cond, &drain.mutex,
                                                     &deadline) != ETIMEDOUT) {
  }
  drain.signalled = false;
  qmthread_mutex_unlock(&drain.mutex);
}

bool blank(const char *line) {
  return line[std::strspn(line, " \t\r\n")] == '\0';
}

void forward_line(char *line, size_t len) {
  if (len > 0 && line[len - 1] == '\r') --len;
  line[len] = '\0';
  if (std::strncmp(line, kPipeMark, sizeof kPipeMark - 1) == 0) {
    signal_drain();
  } else if (!blank(line)) {
    ksi_sink_captured_line(line);
  }
}

// Splits the pipe's data into lines of at most kMaxLine bytes; the rest of
// a longer line is dropped. Ends when the pipe ends or fails.
void *pipe_reader(void *) {
  char block[kReadBlock];
  char line[kMaxLine + 1];
  size_t len = 0;
  for (;;) {
    ssize_t got = read(pipe_read_fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      if (block[i] == '\n') {
        forward_line(line, len);
        len = 0;
      } else if (len < kMaxLine) {
        line[len++] = block[i];
      }
    }
  }
  if (len > 0) forward_line(line, len);
  return nullptr;
}

// Starts the reader with every signal blocked: signals belong to the
// process's own handlers, never to this thread.
bool start_reader() {
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pthread_t tid;
  int rc = pthread_create(&tid, nullptr, pipe_reader, nullptr);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (rc != 0) return false;
  pthread_detach(tid);
  return true;
}

// A standard descriptor that is closed is reopened on the null device.
void give_standard_descriptors() {
  for (int fd = STDOUT_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
}

// Reports a set-up failure: the text of message `index`, ": " and the text
// of the system error, as perror writes it.
void report_failure(int index) {
  int err = errno;
  char text[256];
  imsg_snprintf(text, sizeof text, &ksi_imsg_msgs, index);
  ksi_report("%s: %s", text, std::strerror(err));
}

// Opens the event log for a daemon; writes the failure to the error stream.
bool open_event_log() {
  if (ksi_eventlog_open()) return true;
  int err = errno;
  char text[256];
  imsg_snprintf(text, sizeof text, &ksi_imsg_msgs, KSI_IMSG_CANT_OPEN_EVENT_LOG,
                err);
  imsg_fputs(text, ksi_msg_out.err_stream);
  return false;
}

// Steps after the pipe exists; on failure everything is put back.
int capture_standard_streams(int fds[2]) {
  std::fflush(stdout);
  std::fflush(stderr);
  saved_stdout_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  saved_stderr_fd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  int failed = -1;
  if (saved_stdout_fd < 0 || saved_stderr_fd < 0 ||
      dup2(fds[1], STDOUT_FILENO) < 0 || dup2(fds[1], STDERR_FILENO) < 0) {
    failed = KSI_IMSG_CANT_DUP_PIPES;
  } else {
    close(fds[1]);
    fds[1] = -1;
    pipe_read_fd = fds[0];
    create_drain_event();
    if (!start_reader()) failed = KSI_IMSG_CANT_CREATE_PIPE_READER;
  }
  if (failed < 0) return 0;
  if (fds[1] >= 0) close(fds[1]);
  if (saved_stdout_fd >= 0) dup2(saved_stdout_fd, STDOUT_FILENO);
  if (saved_stderr_fd >= 0) dup2(saved_stderr_fd, STDERR_FILENO);
  if (saved_stdout_fd >= 0) close(saved_stdout_fd);
  if (saved_stderr_fd >= 0) close(saved_stderr_fd);
  saved_stdout_fd = saved_stderr_fd = -1;
  __atomic_store_n(&drain.exists, false, __ATOMIC_RELEASE);
  close(fds[0]);
  pipe_read_fd = -1;
  report_failure(failed);
  return -1;
}

FILE *real_stream(FILE **cache, int saved_fd, FILE *fallback) {
  if (saved_fd < 0) return fallback;
  if (*cache == nullptr) {
    int fd = fcntl(saved_fd, F_DUPFD_CLOEXEC, 3);
    if (fd >= 0) *cache = fdopen(fd, "w");
  }
  return *cache != nullptr ? *cache : fallback;
}

}  // namespace

extern "C" {

int imsg_init_daemon(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  int result = 0;
  if (!ksi_msg_out.daemon) {
    int fds[2];
    if (!open_event_log()) {
      result = -1;
    } else if (pipe2(fds, O_CLOEXEC) != 0) {
      report_failure(KSI_IMSG_CANT_CREATE_PIPE);
      result = -1;
    } else {
      result = capture_standard_streams(fds);
    }
    if (result == 0) ksi_msg_out.daemon = true;
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
  return result;
}

int imsg_init_abe(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  int result = 0;
  if (!ksi_msg_out.daemon) {
    if (open_event_log()) {
      give_standard_descriptors();
      ksi_msg_out.daemon = true;
    } else {
      result = -1;
    }
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
  return result;
}

int imsg_am_daemon(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  int daemon = ksi_msg_out.daemon ? 1 : 0;
  qmthread_mutex_unlock(&ksi_msg_lock);
  return daemon;
}

void imsg_drain_pipes(void) {
  if (!__atomic_load_n(&drain.exists, __ATOMIC_ACQUIRE)) return;
  std::fflush(stderr);
  std::fputs(kPipeMark, stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);
  wait_drain();
}

void imsg_suspend_daemon_logging(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  ksi_msg_output_t &out = ksi_msg_out;
  if (!out.daemon) {
    qmthread_mutex_unlock(&ksi_msg_lock);
    ksi_report("Can't suspend daemon logging, process not a daemon: %s",
               std::strerror(errno));
    return;
  }
  if (out.saved_err == nullptr) {
    out.saved_err = out.err_stream;
    out.saved_out = out.out_stream;
  }
  ksi_msg_state.info_prefix = false;
  out.err_stream = real_stream(&real_stderr, saved_stderr_fd, stderr);
  out.out_stream = real_stream(&real_stdout, saved_stdout_fd, stdout);
  qmthread_mutex_unlock(&ksi_msg_lock);
}

void imsg_resume_daemon_logging(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  ksi_msg_output_t &out = ksi_msg_out;
  if (!out.daemon) {
    qmthread_mutex_unlock(&ksi_msg_lock);
    ksi_report("Can't resume daemon logging, process not a daemon: %s",
               std::strerror(errno));
    return;
  }
  if (out.saved_err != nullptr) {
    out.err_stream = out.saved_err;
    out.out_stream = out.saved_out;
    out.saved_err = out.saved_out = nullptr;
  }
  ksi_msg_state.info_prefix = true;
  qmthread_mutex_unlock(&ksi_msg_lock);
}

}  // extern "C"
