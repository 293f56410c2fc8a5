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

/* ---- Prompts.
 *
 * Every prompt works in one of three settings: a window that installed its
 * prompt procedures (used while a writer serves redirection slot 0), the
 * prompting tool "qmprompt" of the installation's bin directory when the
 * forced-GUI switch is on, or else the console (questions on standard
 * error, answers from standard input). A daemon is never asked: it gets
 * IMSG_PROMPT_NO_ANSWER (for the proceed and yes/no prompts, abort).
 * Answers and choice arrays are heap blocks the caller frees with
 * stg_free. */

/* Answer bits of the proceed and yes/no prompts, and their masks. */
#define IMSG_ANSWER_ABORT 1
#define IMSG_ANSWER_PROCEED 2
#define IMSG_ANSWER_YES 4
#define IMSG_ANSWER_NO 8
/* Results of the other prompts. */
#define IMSG_PROMPT_NO_ANSWER 1
#define IMSG_PROMPT_ANSWERED 2

/* A window's prompt procedures; each receives the data pointer given to
 * imsg_use_prompt_procs last. The proceed and yes/no procedures receive the
 * mask and default already normalised. */
typedef struct imsg_prompt_procs {
  int (*text)(const char *text, const char *def, int multi_line, char **answer,
              void *data);
  int (*file)(const char *text, const char *def, const char *directory,
              const char *pattern, char **answer, void *data);
  int (*list)(const char *text, const char *const *items, void *reserved,
              int multi, int **choices, void *data);
  int (*proceed)(int kind, const char *text, int mask, int def, void *data);
  int (*yes_no)(int kind, const char *text, int mask, int def, void *data);
  int (*password)(const char *text, char **answer, void *data);
} imsg_prompt_procs_t;

/* Copies the six entries; a null procs or data clears them all. */
KS_API void imsg_use_prompt_procs(const imsg_prompt_procs_t *procs, void *data);

/* IMSG_PROMPT_ANSWERED with *answer set, or IMSG_PROMPT_NO_ANSWER. On the
 * console an empty answer takes a copy of def; without def *answer is null.
 * A multi-line answer ends at a line holding only ".". */
KS_API int imsg_prompt_text(const char *text, const char *def, int multi_line,
                            char **answer);
/* Read without echo when standard input is a terminal. */
KS_API int imsg_prompt_password(const char *text, char **answer);
KS_API int imsg_prompt_file(const char *text, const char *def,
                            const char *directory, const char *pattern,
                            char **answer);
/* items: ended by a null pointer. *choices: the chosen 1-based item
 * numbers (at most 128), ended by 0. reserved goes to a window's list
 * procedure only. */
KS_API int imsg_prompt_list(const char *text, const char *const *items,
                            void *reserved, int multi, int **choices);
/* Choices from the items of a text file, through the prompting tool only:
 * without the forced-GUI or dynamic change-tracking switch the result is
 * IMSG_PROMPT_ANSWERED at once with *choices null. */
KS_API int imsg_prompt_txt_list(const char *text, const char *item_file,
                                int multi, int **choices);
/* IMSG_ANSWER_ABORT or IMSG_ANSWER_PROCEED. mask: the allowed answers
 * (0: both); def: the answer of an empty line. */
KS_API int imsg_prompt_proceed(int kind, const char *text, int mask, int def);
/* IMSG_ANSWER_ABORT, IMSG_ANSWER_YES or IMSG_ANSWER_NO (mask 0: all). */
KS_API int imsg_prompt_yes_no(int kind, const char *text, int mask, int def);
/* The whole content of a file as a heap text, or null. */
KS_API char *imsg_read_outfile(const char *path);

/* ---- Message lists: several messages collected into one text. */

/* Owned by the caller; buffers from the guarded heap. */
typedef struct imsg_list {
  uint64_t one_msg_buf_size;
  char *one_msg_buf;  /* one formatted message */
  uint64_t grow_size; /* list_buf grows by multiples of this (512) */
  uint64_t list_buf_size;
  uint64_t list_buf_len; /* used length, without the NUL */
  char *list_buf;        /* the collected text */
  int tag_mode;          /* IMSG_TAG_* of the messages added */
  int reserved;
} imsg_list_t;

/* Running out of memory in these routines ends the process. */
KS_API void imsg_list_create(imsg_list_t *list, int reserved);
/* mode: IMSG_TAG_*; other values mean IMSG_TAG_ENABLED. */
KS_API void imsg_list_create_taggable(int mode, imsg_list_t *list,
                                      int reserved);
KS_API void imsg_list_reset(imsg_list_t *list);
/* Frees both buffers and clears the record; a null list is ignored. */
KS_API void imsg_list_destroy(imsg_list_t *list);
/* Null and empty texts are ignored. */
KS_API void imsg_list_add_str(imsg_list_t *list, const char *text);
KS_API void imsg_list_add_msg(imsg_list_t *list, const void *table, int index,
                              ...);
/* The collected text, also stored in *text when text is not null. */
KS_API char *imsg_list_get_buf(imsg_list_t *list, char **text);
KS_API void imsg_list_fprint(imsg_list_t *list, FILE *stream);
KS_API void imsg_list_print(imsg_list_t *list, int kind);

KS_END_DECLS

#endif
