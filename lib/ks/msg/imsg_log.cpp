// Log files with their header line, and the event log: syslog under the
// source "Quillmere", or the file named by ORVEX_EVENTLOG, one record
// "[1024/category] text" per event.
#include <orvexks/date.h>
#include <orvexks/imsg.h>
#include <orvexks/pfm.h>

#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <orvexnt/nt_env.h>

#include "msg/imsg_msgs.h"
#include "msg/msg_lock.h"
#include "msg/msg_lookup.h"
#include "msg/msg_out.h"
#include "msg/msg_state.h"
#include "thread/qmthread_internal.h"

qmthread_mutex_t ksi_sink_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(ksi_sink_mutex);

namespace {

constexpr int kEventId = 1024;
constexpr int kEventWarning = 2;

FILE *eventlog_file = nullptr;  // ORVEX_EVENTLOG's file (event-log lock)
bool eventlog_syslog = false;   // syslog is open (event-log lock)

int syslog_priority(int type) {
  if (type == 4) return LOG_INFO;
  if (type == kEventWarning) return LOG_WARNING;
  return LOG_ERR;
}

// Event-log lock held.
void report_locked(int type, const char *text) {
  int category = ksi_msg_out.category.load();
  if (eventlog_file != nullptr) {
    std::fprintf(eventlog_file, "[%d/%d] %s\n", kEventId, category, text);
    std::fflush(eventlog_file);
  } else if (eventlog_syslog) {
    syslog(LOG_DAEMON | syslog_priority(type), "[%d/%d] %s", kEventId, category,
           text);
  }
}

const char *login_name() {
  const char *name = getlogin();
  if (name != nullptr) return name;
  const passwd *pw = getpwuid(geteuid());
  return pw != nullptr ? pw->pw_name : "unknown";
}

// "\n", 67 asterisks, "\n" and the line naming date, host, pid and user.
void write_header(FILE *stream) {
  static char *hdrfmt = nullptr;  // looked up once (message lock)
  if (hdrfmt == nullptr) {
    hdrfmt = strdup(ksi_msg_lookup(&ksi_imsg_msgs, KSI_IMSG_LOG_HEADER));
    PFM_ASSERT(hdrfmt != NULL);
  }
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  const char *date = date_fmt_long_date_time(std::time(nullptr));
  std::fputs(
      "\n*******************************************************************\n",
      stream);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::fprintf(stream, hdrfmt, date != nullptr ? date : "", host,
               static_cast<int>(getpid()), login_name());
#pragma GCC diagnostic pop
  std::fflush(stream);
}

void set_log_file(FILE *file) {
  ksi_sink_lock();
  ksi_msg_out.log_file = file;
  ksi_sink_unlock();
}

}  // namespace

void ksi_sink_lock(void) { qmthread_mutex_lock(&ksi_sink_mutex); }

void ksi_sink_unlock(void) { qmthread_mutex_unlock(&ksi_sink_mutex); }

bool ksi_eventlog_is_open(void) { return ksi_msg_out.eventlog_users > 0; }

bool ksi_eventlog_open(void) {
  if (ksi_msg_out.eventlog_users > 0) {
    ++ksi_msg_out.eventlog_users;
    return true;
  }
  const char *path = nt_getenv_safe("ORVEX_EVENTLOG");
  ksi_sink_lock();
  if (path != nullptr && path[0] != '\0') {
    eventlog_file = std::fopen(path, "a");
  } else {
    openlog("Quillmere", LOG_PID, LOG_DAEMON);
    eventlog_syslog = true;
  }
  bool opened = eventlog_file != nullptr || eventlog_syslog;
  ksi_sink_unlock();
  if (opened) ksi_msg_out.eventlog_users = 1;
  return opened;
}

void ksi_eventlog_close(void) {
  if (ksi_msg_out.eventlog_users < 1 || --ksi_msg_out.eventlog_users > 0)
    return;
  ksi_sink_lock();
  if (eventlog_file != nullptr) std::fclose(eventlog_file);
  if (eventlog_syslog) closelog();
  eventlog_file = nullptr;
  eventlog_syslog = false;
  ksi_sink_unlock();
}

void ksi_eventlog_report(int type, const char *text) {
  ksi_sink_lock();
  report_locked(type, text);
  ksi_sink_unlock();
}

void ksi_sink_captured_line(const char *line) {
  ksi_sink_lock();
  FILE *log = ksi_msg_out.log_file;
  if (log != nullptr) {
    std::fputs(line, log);
    std::fputs("\n", log);
    std::fflush(log);
  } else {
    report_locked(kEventWarning, line);
  }
  ksi_sink_unlock();
}

extern "C" {

FILE *imsg_start_log_file(const char *path) {
  ksi_msg_init();
  imsg_drain_pipes();
  qmthread_mutex_lock(&ksi_msg_lock);
  ksi_msg_output_t &out = ksi_msg_out;
  if (out.log_file == nullptr) {
    FILE *file = path != nullptr ? std::fopen(path, "r+") : nullptr;
    if (file == nullptr && path != nullptr) file = std::fopen(path, "w+");
    if (file != nullptr) {
      std::fseek(file, 0, SEEK_END);
    } else {
      file = out.err_stream;  // a log that cannot be opened goes to stderr
    }
    out.log_file_count = 1;
    set_log_file(file);
    ksi_msg_set_log_stream(file);
  } else {
    ++out.log_file_count;
  }
  write_header(out.log_file);
  FILE *stream = out.log_file;
  qmthread_mutex_unlock(&ksi_msg_lock);
  return stream;
}

void imsg_end_log_file(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  ksi_msg_output_t &out = ksi_msg_out;
  if (out.log_file_count < 1) {
    out.log_file_count = 0;
    qmthread_mutex_unlock(&ksi_msg_lock);
    return;
  }
  imsg_drain_pipes();
  if (--out.log_file_count == 0) {
    FILE *file = out.log_file;
    set_log_file(nullptr);
    if (file != nullptr && file != out.err_stream) std::fclose(file);
    ksi_msg_set_log_stream(nullptr);
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
}

FILE *imsg_start_log(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  if (ksi_msg_out.log_file == nullptr && ksi_eventlog_open())
    ksi_msg_set_log_stream(ksi_msg_out.err_stream);
  FILE *stream = ksi_msg_out.err_stream;
  qmthread_mutex_unlock(&ksi_msg_lock);
  return stream;
}

void imsg_end_log(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  if (ksi_eventlog_is_open()) {
    ksi_eventlog_close();
    if (!ksi_eventlog_is_open()) ksi_msg_set_log_stream(nullptr);
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
}

}  // extern "C"
