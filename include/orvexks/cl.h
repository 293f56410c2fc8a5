/* The option scanner: command words from an argument vector or a command
 * line, handed out as single-letter options, option arguments, long
 * options, operands and sub-command names. */
#ifndef ORVEXKS_CL_H
#define ORVEXKS_CL_H

#include <orvexks/ks_base.h>

KS_BEGIN_DECLS

/* A scanner handle; it belongs to one thread. */
typedef struct cl_handle cl_handle_t;

#define CL_MAGIC 0xDEADBEEFu

/* Error codes of cl_errno and cl_strerror (0: no error). */
#define CL_ERR_NOMEM 301
#define CL_ERR_BADOPT 302
#define CL_ERR_DUPOPT 303
#define CL_ERR_BADARG 304

/* A handle over argv[0 .. argc-1]; scanning starts at argv[1]. Null with
 * *status CL_ERR_NOMEM when memory runs out, else *status 0. */
KS_API cl_handle_t *cl_parse_argv(int argc, char **argv, int *status);
/* A handle over the words of a command line (up to its first newline),
 * split at blanks outside quotes, '^' making the next character literal;
 * scanning starts at the first word. */
KS_API cl_handle_t *cl_parse_line(const char *text, int *status);
/* Frees the handle and sets *handle to null. */
KS_API void cl_destroy(cl_handle_t **handle);

/* The next option letter of spec (letters; ':' ignored; "[...]" a group
 * of mutually exclusive letters), '?' on an error, 0 when the options are
 * used up ("--", an operand or the end). */
KS_API int cl_getopt(cl_handle_t *handle, const char *spec);
/* As cl_getopt; a word "--name" gives 0 with *long_name a copy of "name"
 * (release with stg_free). Set *long_name to null before the call. */
KS_API int cl_getopt_long(cl_handle_t *handle, const char *spec,
                          char **long_name);

/* The next whole word (inside the handle), or null at the end; error
 * CL_ERR_BADARG when the cursor is inside a word. */
KS_API char *cl_getarg(cl_handle_t *handle);
/* As cl_getarg, but a word beginning with '-' is left (null, no error). */
KS_API char *cl_getarg_noopt(cl_handle_t *handle);
KS_API char *cl_getname(cl_handle_t *handle);
/* Takes the next word: the index of the first of names[0 .. n-1] that
 * cl_match accepts, or -1. */
KS_API int cl_get_subcommand(cl_handle_t *handle, int n,
                             const char *const names[]);
/* 1 when word abbreviates pattern, whose '[' follows the shortest accepted
 * abbreviation ("co[mment]"); case is ignored. */
KS_API int cl_match(const char *word, const char *pattern);

/* The cursor as a byte offset into the handle's words; moving it there. */
KS_API int cl_getoffset(cl_handle_t *handle);
KS_API void cl_setoffset(cl_handle_t *handle, int offset);

/* The last step's error: its code, the word at which it happened ("" when
 * none), the offending option letter as a text; the text of a code. */
KS_API int cl_errno(cl_handle_t *handle);
KS_API const char *cl_estr(cl_handle_t *handle);
KS_API const char *cl_eopt(cl_handle_t *handle);
KS_API const char *cl_strerror(int code);

KS_END_DECLS

#endif
