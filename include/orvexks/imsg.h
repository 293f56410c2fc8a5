/* Numbered messages: message tables and message kinds. */
#ifndef ORVEXKS_IMSG_H
#define ORVEXKS_IMSG_H

#include <orvexks/ks_base.h>

#include <stdarg.h>
#include <stdio.h>

KS_BEGIN_DECLS

/* One constant record per family. A caller names a message by its 0-based
 * index; (set, ids[index]) is the key of its translation in a catalog. */
typedef struct ks_msg_table {
  const char *catalog;
  const char *subsys;
  int16_t set;
  int16_t count;
  const char *const *texts;
  const int16_t *ids;
} ks_msg_table_t;

/* Message kinds: they choose the prefix and the default stream. */
enum {
  IMSG_OK = 0,
  IMSG_OUTPUT = 1,
  IMSG_INFO = 2,
  IMSG_OUTPUT_ALT = 3,
  IMSG_WARNING = 4,
  IMSG_WARNING_PLAIN = 5,
  IMSG_ERROR = 6,
  IMSG_ERROR_PLAIN = 7,
  IMSG_TRACE = 8,
  IMSG_TRACE_PLAIN = 9,
  IMSG_OTHER = 10
};

/* Tracing: a line of subsystem S at level N is wanted when
 * imsg_get_desired_verbosity() >= N && imsg_should_trace(S, N). */
KS_API int imsg_get_desired_verbosity(void);
KS_API int imsg_get_verbosity_ev(void);
KS_API void imsg_set_trace_verbosity(int level);
KS_API void imsg_set_trace_subsys(const char *list);
KS_API int imsg_should_trace(const char *subsys, int level);

/* ---- Message formatting and error texts. */

/* Formatting routines take (table, index); index -1 makes `table` a printf
 * format text instead of a table record. A size of 0 means unbounded. They
 * return the length the complete text needs (a result >= size means it was
 * cut; the buffer is always terminated), or -1 on a bad table or index. */
KS_API int imsg_vsnprintf(char *buf, size_t size, const void *table, int index,
                          va_list args);
KS_API int imsg_vsprintf(char *buf, const void *table, int index, va_list args);
KS_API int imsg_sprintf(char *buf, const void *table, int index, ...);
KS_API int imsg_snprintf(char *buf, size_t size, const void *table, int index,
                         ...);

/* Tagging modes of the _taggable routines. */
#define IMSG_TAG_NEVER 1   /* never tagged */
#define IMSG_TAG_ENABLED 2 /* tagged while tagging is enabled */
#define IMSG_TAG_ALWAYS 3  /* tagged for this call even when disabled */
KS_API int imsg_snprintf_taggable(int mode, char *buf, size_t size,
                                  const void *table, int index, ...);
KS_API int imsg_vsnprintf_taggable(int mode, char *buf, size_t size,
                                   const void *table, int index, va_list args);

/* The kind's prefix (application name, kind words, timestamp for kind 8),
 * then the message. -1 when the prefix alone does not fit. */
KS_API int imsg_snprintf_type(char *buf, size_t size, int kind,
                              const void *table, int index, ...);

/* Formats into a malloc'ed buffer grown from start_size up to max_size; the
 * caller frees *result. Returns the text length, or -1 (*result null). */
KS_API int imsg_dynamic_len_snprintf(char **result, int start_size,
                                     int max_size, const void *table, int index,
                                     ...);

/* Text of a C library, system or socket error number, in a per-thread
 * buffer of the library's thread-local block. Per-thread results of this
 * header (this text, imsg_get_app_name's copy) stay valid until the first
 * of: the same thread's next call of the same function; that thread's
 * outermost leave of the library lock (qmthread_leave_critical_section at
 * depth 1), its qmthread_exit or its end, which free the block. */
KS_API const char *imsg_strerror(int err);

/* The process-wide tagging switch of test harnesses. */
KS_API void imsg_ate_enable_tagging(void);
KS_API void imsg_ate_disable_tagging(void);
KS_API int imsg_ate_tagging_is_enabled(void);

/* ---- The imsg message table, display width and tab expansion. */

/* The ks/imsg message table. */
KS_API const ks_msg_table_t *imsg_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_imsg_ks_msg_table_adr(void);

/* Widths count display columns. A character is as wide as its byte length;
 * in a single-byte code page every character is one column wide. An invalid
 * byte counts as a character of its own. */

/* Copies src to dst without the four-byte style markers (0x01 0x01, '0' or
 * '1', 'B', 'I' or 'U'); dst holds at least strlen(src)+1 bytes. */
KS_API void imsg_strip_style_chars(char *dst, const char *src);
/* Cuts str to at most max_bytes bytes at a character boundary: 1 when it
 * was cut, 0 when it already fitted or str is null. */
KS_API int imsg_truncate(char *str, size_t max_bytes);
/* Number of characters of str. */
KS_API int imsg_charcount(const char *str);
/* Width of the one character of nbytes bytes at ch; 0 for NUL. */
KS_API int imsg_disp_width(const char *ch, int nbytes);
/* Width of the whole text. */
KS_API int imsg_strwidth(const char *str);
/* Writes str cut to max_width columns (-1: no limit; keep_tail keeps its
 * end instead of its start) and padded with blanks to width columns
 * (before the text when right_align). Returns 1 with *out_width set to the
 * padded width, or 0 leaving dst alone when dst_size is too small. */
KS_API int imsg_make_width(const char *str, int width, int max_width,
                           int keep_tail, int right_align, size_t dst_size,
                           char *dst, int *out_width);
/* Copies one line of src to dst, expanding tabs to multiples of tab_size
 * (0: the process tab size, $QUILLMERE_TAB_SIZE or 8) counted from
 * start_column. Stops after a newline (copied), at a carriage return (not
 * copied), at the end of src, or before exceeding max_width columns (-1: no
 * limit) or dst_size bytes with the NUL. Sets the columns and bytes used;
 * returns 1 when the whole line was taken, 0 when a limit stopped it. */
KS_API int imsg_detabify_general(int tab_size, int start_column,
                                 const char *src, int max_width,
                                 size_t dst_size, char *dst, int *out_width,
                                 size_t *out_bytes);
/* imsg_detabify_general with the process tab size from column 0. */
KS_API int imsg_detabify(const char *src, int max_width, size_t dst_size,
                         char *dst, int *out_width, size_t *out_bytes);

/* ---- Message output. */

/* A writer receives every delivered text of the kinds it serves. */
typedef void (*imsg_writer_t)(void *arg, const char *text);
/* One writer and its argument, as a window installs them. */
typedef struct imsg_window_writers {
  imsg_writer_t writer;
  void *arg;
} imsg_window_writers_t;
/* The slot of kind k serves message kind k. */
#define IMSG_REDIRECT_SLOTS 11

/* Formats message `index` of `table` (index -1: `table` is a printf format)
 * with the kind's prefix and delivers it. `subsys`, when not null, replaces
 * the table's subsystem. Never exits. */
KS_API void imsg_print(int kind, const void *table, int index, ...);
KS_API void imsg_vprint(int kind, const void *table, int index, va_list args);
KS_API void imsg_print_shared(int kind, const char *subsys, const void *table,
                              int index, ...);
KS_API void imsg_print_sharedv(int kind, const char *subsys, const void *table,
                               int index, va_list args);

/* Writes text to stream, rendering style markers as bold on a terminal and
 * dropping them elsewhere. 0, or -1 on a write error. */
KS_API int imsg_fputs(const char *text, FILE *stream);

/* The application name prefixing messages ("noname" until set); a path and
 * an ".exe" ending are dropped. The getter returns a per-thread copy
 * (valid as imsg_strerror's text). */
KS_API void imsg_set_app_name(const char *name);
KS_API const char *imsg_get_app_name(void);
/* Both return the previous setting. */
KS_API int imsg_output_subsys(int on);
KS_API int imsg_suppress_prefix(int on);

/* The built-in writers: the console (standard streams, the log file or the
 * event log) and the one that drops everything. */
KS_API void imsg_console_writer(void *arg, const char *text);
KS_API void imsg_discard_writer(void *arg, const char *text);
/* Redirection of output kinds (0, 1) and error kinds (4 to 9). */
KS_API void imsg_redirect_output(imsg_writer_t out_writer, void *out_arg,
                                 imsg_writer_t err_writer, void *err_arg);
KS_API void imsg_use_window(const imsg_window_writers_t *writers);
KS_API void imsg_get_redirect_info(imsg_writer_t *out_writer, void **out_arg,
                                   imsg_writer_t *err_writer, void **err_arg);
/* Whole slot tables, to save and restore them. */
KS_API void imsg_set_redirect_procs(const imsg_writer_t *writers, int n,
                                    void *arg);
KS_API void imsg_get_redirect_procs(int n, imsg_writer_t *writers, void **arg);
KS_API int imsg_in_gui(void);

/* Log files and the event log; every start needs its end. */
KS_API FILE *imsg_start_log(void);
KS_API void imsg_end_log(void);
KS_API FILE *imsg_start_log_file(const char *path);
KS_API void imsg_end_log_file(void);

/* Daemon mode: standard output and error go through a pipe to the event log
 * (or the log file). 0, or -1 when it cannot be set up. */
KS_API int imsg_init_daemon(void);
KS_API int imsg_init_abe(void);
KS_API int imsg_am_daemon(void);
KS_API void imsg_suspend_daemon_logging(void);
KS_API void imsg_resume_daemon_logging(void);
KS_API void imsg_drain_pipes(void);

/* Event type of a kind: 4 information, 2 warning, 1 error. */
KS_API int imsg_nt_event_type(int kind);
KS_API void imsg_nt_set_category(const char *name);

typedef long (*imsg_clock_fn_t)(void *arg);
KS_API void imsg_set_clock_callback(imsg_clock_fn_t fn, void *arg);
/* fn(arg) of the callback, or 0 when none is set. */
KS_API long imsg_clock(void);
KS_API void imsg_starting_process(void);

KS_END_DECLS

#endif
