// The command history: the thread's command text and, when history is
// collected for this host (the marker file "collect_history" in the host
// configuration directory), one line per command appended to
// log\quillmere_history in the host-data directory. Each line is written
// whole by one write on a descriptor opened for appending, under an
// exclusive lock of the file, so lines of concurrent processes never mix.
#include "cli/clp_handle.h"
#include "cli/clp_state.h"

#include <orvexks/credutl.h>
#include <orvexks/date.h>
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/ks_product.h>
#include <orvexks/qmthread.h>
#include <orvexnt/nt_registry.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "internal/cli_log.h"

namespace {

constexpr size_t kLineSize = 8192;
constexpr size_t kCommandLimit = 256;

bool collecting() {
  char path[KS_DIR_BUF_SIZE], host_path[KS_DIR_BUF_SIZE];
  struct stat st;
  ks_host_config_dir(path, "collect_history");
  return nt_map_path(path, host_path, sizeof host_path) == 0 &&
         stat(host_path, &st) == 0;
}

bool collecting_once_value;
qmthread_once_t collecting_once = QMTHREAD_ONCE_INIT;
void check_collecting() { collecting_once_value = collecting(); }

// "%Y:%m:%d:%H:%M:%S." of the local time now, and the milliseconds.
int stamp(char *buf, size_t size) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  std::strftime(buf, size, "%Y:%m:%d:%H:%M:%S.", &local);
  return static_cast<int>(now.tv_usec / 1000);
}

// Appends the line to the history file; failures are not reported.
void append_line(const char *line, size_t length) {
  char path[KS_DIR_BUF_SIZE], host_path[KS_DIR_BUF_SIZE];
  ks_hostdata_dir(path, "log", "quillmere_history");
  if (nt_map_path(path, host_path, sizeof host_path) != 0) return;
  const int fd =
      open(host_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX) == 0) {
    const ssize_t written = write(fd, line, length);
    (void)written;
  }
  close(fd);
}

// Appends printf-style text to line (kLineSize bytes, *length used), cut
// at the end of the buffer.
void add(char *line, size_t *length, const char *format, const char *a,
         int b = 0) {
  if (*length >= kLineSize - 1) return;
  const int n =
      std::snprintf(line + *length, kLineSize - *length, format, a, b);
  if (n > 0)
    *length += static_cast<size_t>(n) < kLineSize - *length
                   ? n
                   : kLineSize - 1 - *length;
}

void write_command_line(const char *command, const char *took) {
  char line[kLineSize], time_text[64], sid_text[CREDUTL_SID_STR_SIZE],
      cwd[4096];
  size_t length = 0;
  const int ms = stamp(time_text, sizeof time_text);
  add(line, &length, "%s%03d ", time_text, ms);
  credutl_sid_to_str(credutl_getusid(), sid_text);
  const char *dash = std::strchr(sid_text, '-');
  char who[512];
  std::snprintf(who, sizeof who, "(uid=%s) (pid=%d) ",
                dash != nullptr ? dash + 1 : sid_text,
                static_cast<int>(getpid()));
  add(line, &length, "%s", who);
  add(line, &length, "%s ", command);
  if (fileutl_getcwd(cwd, sizeof cwd) == 0) add(line, &length, "in %s ", cwd);
  if (took != nullptr) add(line, &length, "took %s ", took);
  if (length >= kLineSize - 1) length = kLineSize - 2;
  line[length++] = '\n';
  append_line(line, length);
}

void write_datum(const char *name, const char *text) {
  qmthread_once(&collecting_once, check_collecting);
  if (!collecting_once_value) return;
  char line[kLineSize], time_text[64], cwd[4096];
  size_t length = 0;
  const int ms = stamp(time_text, sizeof time_text);
  char head[128];
  std::snprintf(head, sizeof head, "%s%03u ", time_text,
                static_cast<unsigned>(ms));
  add(line, &length, "%s", head);
  add(line, &length, "%s ", name);
  add(line, &length, "'%s': ", text);
  if (fileutl_getcwd(cwd, sizeof cwd) == 0) add(line, &length, "%s ", cwd);
  if (length >= kLineSize - 1) length = kLineSize - 2;
  line[length++] = '\n';
  append_line(line, length);
}

void log_words(const char *app, int first, int argc, char **argv,
               const char *took);

// The product's main tools log their command with the seconds since start.
void log_elapsed(int first, int argc, char **argv,
                 const struct timeval *start) {
  const char *app = imsg_get_app_name();
  if (std::strcmp(app, "qmtool") != 0 && std::strcmp(app, "qmmulti") != 0 &&
      std::strncmp(app, "qmmake", 6) != 0)
    return;
  struct timeval now;
  date_get_timeval(&now);
  const double seconds =
      static_cast<double>(now.tv_sec - start->tv_sec) +
      static_cast<double>(now.tv_usec - start->tv_usec) / 1e6;
  char took[64];
  std::snprintf(took, sizeof took, " %f s", seconds);
  log_words(app, first, argc, argv, took);
}

// The thread's command text becomes app and, while it stays within 256
// bytes, each word from argv[first] on in single quotes; then the line.
void log_words(const char *app, int first, int argc, char **argv,
               const char *took) {
  ksi_clp_tls *s = ksi_clp_state();
  std::snprintf(s->command, kCommandLimit + 1, "%s", app != nullptr ? app : "");
  size_t length = std::strlen(s->command);
  for (int i = first; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
    const size_t add_length = std::strlen(argv[i]) + 3;
    if (length + add_length > kCommandLimit) break;
    std::snprintf(s->command + length, sizeof s->command - length, " '%s'",
                  argv[i]);
    length += add_length;
  }
  s->has_command = true;
  if (collecting()) write_command_line(s->command, took);
}

}  // namespace

void ksi_clp_log_app_name(const char *name) {
  clp_log_cl_args(name, 0, nullptr, nullptr);
}

extern "C" {

void clp_log_cl_args(const char *app, int argc, char **argv, const char *took) {
  log_words(app, 1, argc, argv, took);
}

void clp_log_command(const char *app, clp_hdl_t *h, const char *took) {
  if (h == nullptr) return;
  log_words(app, 0, h->argc, h->argv, took);
}

const char *clp_get_command(void) {
  ksi_clp_tls *s = ksi_clp_state();
  return s->has_command ? s->command : "No command";
}

void clp_get_starttime(struct timeval *start) { date_get_timeval(start); }

void clp_exit_log_args(int argc, char **argv, const struct timeval *start) {
  log_elapsed(1, argc, argv, start);
}

void clp_exit_log_command(clp_hdl_t *h, const struct timeval *start) {
  if (h != nullptr) log_elapsed(0, h->argc, h->argv, start);
}

void clp_collectdatas(const char *name, const char *text) {
  write_datum(name != nullptr ? name : "", text != nullptr ? text : "");
}

void clp_collectdatai(const char *name, int number) {
  char text[1100];
  if (number != 0)
    std::snprintf(text, sizeof text, "%.1000s %20d",
                  name != nullptr ? name : "", number);
  else
    std::snprintf(text, sizeof text, "%s", name != nullptr ? name : "");
  write_datum(name != nullptr ? name : "", text);
}

}  // extern "C"
