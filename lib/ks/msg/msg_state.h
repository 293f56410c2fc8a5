// Process-wide message state shared by formatting and output, set up on
// first use, and the kind prefixes built from it.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>

#include <orvexks/imsg.h>

struct ksi_msg_state_t {
  const char *app_name;  // "noname" until the application names itself
  bool print_subsys;     // PRINT_SUBSYS or PRINT_SUBSYS_OK was set
  bool info_prefix;      // prefixes of kinds 0 and 2 (PRINT_SUBSYS_OK)
  bool suppress_prefix;  // every prefix is empty
  bool log_active;       // a log stream is active: the subsystem is shown
  bool print_status;     // QUILLMERE_PRINT_WIN32_STATUS was non-empty
  char *capture_log;     // capture log path ("%s.%d"), or null
  // "Ok: ", "Warning: ", "Error: ", "System message: " as looked up once.
  const char *kind_words[4];
};

// Guarded by the message lock; valid once ksi_msg_init has run.
extern ksi_msg_state_t ksi_msg_state;

// Read on every formatting call, so kept outside the lock.
extern std::atomic<bool> ksi_msg_tagging;         // the tagging switch
extern std::atomic<bool> ksi_msg_taggable;        // a taggable call is running
extern std::atomic<bool> ksi_msg_capturing;       // a capturing call is running
extern std::atomic<bool> ksi_msg_capture_active;  // the capture log is open

// Sets the state up once per process (environment, kind words, capture
// log). Cheap after the first call.
void ksi_msg_init(void);

// Writes the expanded prefix of message kind `kind` into out (size bytes,
// terminated) and returns its length (>= size when cut). The subsystem is
// shown when subsys is not empty and the print-subsystem flag is on or a
// log stream is active; null subsys never shows one. Takes the message lock.
int ksi_msg_prefix(char *out, size_t size, int kind, const char *subsys);
// The same for a caller that holds the message lock (message delivery).
int ksi_msg_prefix_locked(char *out, size_t size, int kind, const char *subsys);

// Appends the capture-log line of message `index` of `table`.
void ksi_msg_capture(const ks_msg_table_t *table, int index);

// The tagged form of `text` (see imsg_vsnprintf): identity, raw format and
// each argument value. Returns the length the complete form needs.
int ksi_msg_tagged(char *buf, size_t size, const ks_msg_table_t *table,
                   int index, const char *text, va_list args);

// Formats a text with numbered inserts ("%1!d!"). Returns the length the
// complete text needs, or 0 after reporting a failure.
int ksi_msg_inserts(char *buf, size_t size, const char *text, va_list args);
