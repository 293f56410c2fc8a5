// Message output state shared by delivery, log files, the event log and
// daemon mode, and the two helpers every family uses with imsg_print: the
// trace test and the message-table macro. Families print through
// imsg_print / imsg_print_shared directly.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include <orvexks/imsg.h>

#include "msg/msg_lock.h"

// The trace test every family uses before building a trace line.
inline bool ksi_trace_on(const char *subsys, int level) {
  return imsg_get_desired_verbosity() >= level &&
         imsg_should_trace(subsys, level) != 0;
}

// Where messages go. Guarded by the message lock, except the members the
// pipe reader reads, which are atomic or guarded by the event-log lock.
struct ksi_msg_output_t {
  FILE *err_stream;  // error kinds
  FILE *out_stream;  // output kinds 0 to 3
  // Slot k serves kind k: null is "none" (the console writer), the discard
  // writer's address marks discarding, anything else is a writer.
  imsg_writer_t slots[IMSG_REDIRECT_SLOTS];
  void *redirect_arg;
  imsg_writer_t out_writer, err_writer;  // as given to imsg_redirect_output
  void *out_arg, *err_arg;
  int current_kind;   // kind of the text being delivered
  bool interleave;    // IMSG_IO_INTERLEAVE was set
  int dup_output;     // IMSG_DUP_OUTPUT: -1 until read
  bool bold_allowed;  // the terminal takes bold (TERM, no-bold switch)
  FILE *last_stream;  // stream of the last imsg_fputs
  FILE *log_file;     // open log file; written under both locks
  int log_file_count;
  FILE *log_stream;           // a log stream is active (subsystem shown)
  int eventlog_users;         // event-log users; the handle is open while > 0
  std::atomic<int> category;  // event category of the program
  bool daemon;
  FILE *saved_err, *saved_out;  // while daemon logging is suspended
  imsg_clock_fn_t clock_fn;
  void *clock_arg;
};

extern ksi_msg_output_t ksi_msg_out;

// Sets the output state up; called once by ksi_msg_init.
void ksi_msg_output_init(void) KSI_REQUIRES(ksi_msg_lock);
// Keeps the prefix builder's "log stream active" in step with log_stream.
void ksi_msg_set_log_stream(FILE *stream) KSI_REQUIRES(ksi_msg_lock);

// Writes text through writer as message kind `kind`. A caller's writer
// runs with the lock released.
void ksi_msg_deliver(imsg_writer_t writer, int kind, void *arg,
                     const char *text) KSI_REQUIRES(ksi_msg_lock);

// The event log: a file named by ORVEX_EVENTLOG or else syslog. Open and
// close under the message lock; open returns false with errno set.
bool ksi_eventlog_open(void);
void ksi_eventlog_close(void);
bool ksi_eventlog_is_open(void);
// One record "[1024/category] text" of event type `type` (4, 2 or 1).
void ksi_eventlog_report(int type, const char *text);

// Serialises writes to the log file and the event log between delivering
// threads and the pipe reader, which never takes the message lock (a
// delivering thread holds it while it waits for the reader to drain).
extern qmthread_mutex_t ksi_sink_mutex;
void ksi_sink_lock(void) KSI_ACQUIRE(ksi_sink_mutex);
void ksi_sink_unlock(void) KSI_RELEASE(ksi_sink_mutex);
// Writes a captured line to the open log file or, without one, to the event
// log as a warning. Takes the event-log lock.
void ksi_sink_captured_line(const char *line);
