/* Wildcard patterns: compiling file-name patterns, matching names and path
 * names against them, and expanding them over the file system.
 *
 * Pattern syntax: '*' any run of characters (in path-name mode never a
 * separator); '?' any one character; [items] one character of a class of
 * single characters and ranges a-b (a '-' first is literal, no negation,
 * [] matches nothing); "..." at the start or right after a separator, and
 * followed by a separator or the end: zero or more whole directory levels;
 * '^' takes the next character literally (a '^' at the end is itself);
 * '\' and '/' are separators (in path-name mode they match each other and
 * runs of them count as one); anything else matches itself byte for byte,
 * case-sensitively. Multibyte characters are always taken whole.
 *
 * Compiled form: a NUL-terminated byte string; ordinary characters stand
 * for themselves and every special token starts with the byte 0x01:
 * 0x01 0x01 a literal 0x01, 0x01 0x02 '*', 0x01 0x03 '?', 0x01 0x04 items
 * 0x01 a class, 0x01 0x05 "...". A byte 0x01 inside a class is malformed. */
#ifndef ORVEXKS_WILD_H
#define ORVEXKS_WILD_H

#include <orvexks/ks_base.h>

#include <stddef.h>
#include <stdint.h>

KS_BEGIN_DECLS

/* Results of wild_compile_pattern and the globbing functions. */
#define WILD_BAD_PATTERN (-1)
#define WILD_NO_ROOM (-3)

/* Globbing flags (0 = defaults): a directory that cannot be read
 * contributes nothing instead of ending the expansion with its error. */
#define WILD_GLOB_IGNORE_UNREADABLE 0x1u

/* 1 when text holds '[', '?', '*', '~' or "..."; 0 for null or none. */
KS_API int wild_contains_wildcard_symbols(const char *text);

/* Compiles pattern into out (size bytes, 4 of them kept in reserve).
 * Returns the compiled length including the terminator and sets *wild_out
 * (when given) to 1 when the pattern holds '*', '?', a class or "...";
 * WILD_BAD_PATTERN for an open class, a '[' inside a class, a ']' outside
 * one or a 0x01 inside one; WILD_NO_ROOM when out is too small (then
 * *wild_out is left alone). */
KS_API int wild_compile_pattern(const char *pattern, size_t size, char *out,
                                int *wild_out);

/* 1 when the compiled pattern is exactly '*'. */
KS_API int wild_is_any_pat(const char *compiled);

/* 1 when name matches the compiled pattern, else 0. In path-name mode
 * (pathname_mode non-zero) '*' does not cross a separator, separators of
 * the pattern match either separator and runs of them, a '*' right after a
 * separator needs a character, and trailing separators of name are
 * ignored. Time is polynomial in the lengths whatever the pattern. */
KS_API int wild_match(const char *compiled, const char *name,
                      int pathname_mode);

/* Expands the words of text against the file system. With multi set the
 * text is split into words at blanks, tabs and newlines, except inside
 * single or double quotes (which group and are removed) and after a '^';
 * without it the whole text is one word. A word that starts with '~' has
 * the home directory of the current user ("~", "~\...") or of the named
 * user ("~name...") put in its place. A word without wildcards is kept
 * (less its '^' quoting) without looking at the file system; a word with
 * wildcards becomes the existing names it matches
 * (per directory in byte order; "." and ".." only for a component that
 * starts with '.'), written with the word's own spelling and separators;
 * "..." descends into every subdirectory (links are not followed). A
 * malformed pattern is kept as written. Relative words are looked up under
 * base (null: the current directory) and reported as written.
 *
 * The names go to *result_out, a heap text (release with stg_free), one
 * blank between names; a name holding blanks, quotes or other characters a
 * command line treats specially is written in double quotes with each '"'
 * preceded by '\'. With no name at all *result_out stays null.
 *
 * Returns 0 (also when nothing matched), WILD_NO_ROOM when memory runs out
 * or a directory holds more than 4095 matches, ENAMETOOLONG for a name
 * longer than a path may be, or the error number of a directory that could
 * not be read (unless flags hold WILD_GLOB_IGNORE_UNREADABLE); *result_out
 * is null after a failure. An interrupt raised while a directory is read
 * passes through after the directory is closed and the storage freed. */
KS_API int wild_glob_ext(const char *text, uint32_t flags, const char *base,
                         int multi, char **result_out);
/* wild_glob_ext with multi set and no base. */
KS_API int wild_glob(const char *text, uint32_t flags, char **result_out);
/* wild_glob_ext of one word and no base. */
KS_API int wild_glob_single(const char *text, uint32_t flags,
                            char **result_out);

KS_END_DECLS

#endif
