/* Command-line parsing handles, flag descriptors, the per-thread command
 * stack, the product's quoting rules and the command history. */
#ifndef ORVEXKS_CLP_H
#define ORVEXKS_CLP_H

#include <orvexks/ks_base.h>

#include <orvexks/imsg.h>
#include <orvexks/stg.h>

#include <sys/time.h>

KS_BEGIN_DECLS

/* A flag descriptor: the flag as typed with '[' after its shortest
 * accepted abbreviation ("-c[omment]"), the value returned for it, and
 * attribute bits. Tables end with { NULL, 0, 0 }. */
typedef struct clp_flag {
  const char *name;
  int32_t value;
  uint16_t attributes;
} clp_flag_t;

#define CLP_MULTIPLE_FLAG 1 /* may be repeated */
#define CLP_ALIAS_FLAG 2    /* an alias of the non-alias flag of its value */
#define CLP_OBSOLETE_FLAG                            \
  4 /* obsolete: warns or fails (QUILLMERE_OBSO_SYN) \
     */

/* Whole entries that bracket a group of which one command may use at most
 * one flag. */
#define CLP_START_MUTUAL_EXCLUSION \
  { "Start Mutual Exclusion", -2, 0 }
#define CLP_END_MUTUAL_EXCLUSION \
  { "End Mutual Exclusion", -3, 0 }

#define CLP_MAX_STACK_STRING 250
#define CLP_HDL_MAGIC 0x17171717u

/* A parsing handle; it belongs to one thread. */
typedef struct clp_hdl clp_hdl_t;

/* Results of the handle routines: 0 success, 1 an error (reported unless
 * quiet), 2 nothing more. */

/* A handle over the words argv[0 .. argc-1] (argv[0] the command name;
 * scanning starts at argv[0]); the words are the caller's, and
 * clp_get_next_subarg cuts them in place. A null area makes the handle own
 * a new one. Null when the descriptors are bad. */
KS_API clp_hdl_t *clp_create_hdl_using_argv(int argc, char **argv,
                                            const clp_flag_t *flags,
                                            stg_area_t area);
/* The same over text split by clp_parse_string. */
KS_API clp_hdl_t *clp_create_hdl_using_string(const char *text,
                                              const clp_flag_t *flags,
                                              stg_area_t area);
/* Deletes the owned area (and the handle in it); *handle becomes null. */
KS_API void clp_destroy_hdl(clp_hdl_t **handle);

/* The value of the next flag (0), an error (1), or 2 when the next word is
 * no flag, "--" was met or the words are used up; *value is -1 unless 0 is
 * returned. */
KS_API int clp_get_next_flag_value(clp_hdl_t *handle, int quiet, int *value);
KS_API int clp_get_next_arg(clp_hdl_t *handle, char **arg);
KS_API int clp_unget_arg(clp_hdl_t *handle);
KS_API int clp_get_argc(clp_hdl_t *handle);
/* The comma-separated pieces of the word after the last flag. */
KS_API int clp_get_next_subarg(clp_hdl_t *handle, char **subarg);

/* A copy of the handle's state in its area; copying it back. */
KS_API clp_hdl_t *clp_save_hdl(clp_hdl_t *handle);
KS_API void clp_restore_hdl(clp_hdl_t *handle, const clp_hdl_t *copy);
/* Replaces the descriptors (constraints in area, or the owned area). */
KS_API int clp_switch_flags(clp_hdl_t *handle, const clp_flag_t *flags,
                            stg_area_t area);

/* The name of the last matched descriptor (without '[' and ']' when
 * strip), at most size-1 bytes; 2 when no flag has matched. */
KS_API int clp_get_last_flag_name(clp_hdl_t *handle, int strip, size_t size,
                                  char *buf);
/* argv[0]; returns 0. */
KS_API int clp_get_command_name(clp_hdl_t *handle, char **name);

/* 1 when word abbreviates pattern ("-c[omment]"), case-sensitive. */
KS_API int clp_match(const char *word, const char *pattern);
/* Splits text into words allocated in area: blanks separate words outside
 * quotes; '...' and "..." quote (a closing quote ends the word); '^' before
 * a quote or '\' stands for it. 0, or 1 on an unterminated quote or a word
 * over 8,192 bytes (reported). */
KS_API int clp_parse_string(const char *text, stg_area_t area, int *argc,
                            char ***argv);
/* Joins words with blanks, double-quoting those with blanks or pattern
 * characters; a word in quotes of its own gets escape before each of its
 * quotes. 0, or 1 when such a word lacks its closing quote. */
KS_API int clp_argv_to_string(int argc, char **argv, stg_area_t area,
                              int escape, char **text);
/* 0, or 1 when QUILLMERE_OBSO_SYN makes obsolete syntax fail. */
KS_API int clp_check_obsolete(void);

/* The calling thread's stack of nested command names (10 kept). The stack
 * text is each name followed by ':'; null when *seen already names its
 * latest change, which it is then set to. */
KS_API void clp_push_cmd(const char *name);
KS_API void clp_pop_cmd(void);
KS_API const char *clp_get_cmd_stack(int *seen);

/* The command history: the thread's command text is app and the quoted
 * arguments; when the host configuration directory holds
 * "collect_history", one line per command is appended to
 * log\quillmere_history in the host-data directory. */
KS_API void clp_log_cl_args(const char *app, int argc, char **argv,
                            const char *took);
KS_API void clp_log_command(const char *app, clp_hdl_t *handle,
                            const char *took);
/* The thread's command text, or "No command". */
KS_API const char *clp_get_command(void);
KS_API void clp_get_starttime(struct timeval *start);
/* Log the command with its elapsed time, for the applications "qmtool",
 * "qmmulti" and "qmmake...". */
KS_API void clp_exit_log_args(int argc, char **argv,
                              const struct timeval *start);
KS_API void clp_exit_log_command(clp_hdl_t *handle,
                                 const struct timeval *start);
/* Append a named datum to the history when it is collected. */
KS_API void clp_collectdatas(const char *name, const char *text);
KS_API void clp_collectdatai(const char *name, int number);

/* The family's message table. */
KS_API const ks_msg_table_t *clp_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_clp_ks_msg_table_adr(void);

KS_END_DECLS

#endif
