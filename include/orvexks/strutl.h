/* String utilities aware of the process's multibyte code page. Status
 * results are 0 for success and 1 for failure unless stated otherwise. */
#ifndef ORVEXKS_STRUTL_H
#define ORVEXKS_STRUTL_H

#include <orvexks/ks_base.h>

#include <stdarg.h>
#include <stdio.h>

#include <orvexks/imsg.h>
#include <orvexks/list.h>
#include <orvexks/stg.h>

KS_BEGIN_DECLS

/* ---- Bounded printf, buffer copy and printf directives. */

/* printf into dst (size bytes, always terminated when size > 0). The result
 * is the length the complete text needs without its terminator: a result
 * >= size means the text was cut; -1 when the format cannot be handled.
 * "%I64d"-style conversions are accepted and mean a 64-bit argument. */
KS_API int strutl_snprintf(char *dst, size_t size, const char *fmt, ...);
KS_API int strutl_vsnprintf(char *dst, size_t size, const char *fmt,
                            va_list args);

/* Copies src into dst (size bytes, terminated): 0, or 1 when src was cut to
 * size - 1 bytes or size is 0. */
KS_API int strutl_cpy_buf(char *dst, const char *src, size_t size);

/* Classification of one printf directive. */
typedef enum strutl_printf_kind {
  strutl_printf_kind_null = 1,    /* not classified */
  strutl_printf_kind_percent = 2, /* %% */
  strutl_printf_kind_pointer = 3, /* %p */
  strutl_printf_kind_string = 4,  /* %s */
  strutl_printf_kind_double = 5,  /* %e %E %f %g %G */
  strutl_printf_kind_int = 6,     /* %d %i */
  strutl_printf_kind_uint = 7,    /* %c %o %u %x %X */
  strutl_printf_kind_long = 8,    /* %ld %li */
  strutl_printf_kind_ulong = 9,   /* %lo %lu %lx ... */
  strutl_printf_kind_int64 = 10,  /* %I64d %I64i */
  strutl_printf_kind_uint64 = 11, /* %I64u %I64x ... */
  strutl_printf_kind_end_marker = 12
} strutl_printf_kind_t;

/* Finds the next directive of format at or after byte position start.
 * Returns 1 when one was found: *next is the position after its conversion
 * character, *kind its strutl_printf_kind_t, *star_width and *star_precision
 * tell whether width/precision are '*', and the directive text (from '%'
 * through the conversion) is copied into dir_out (at most dir_size - 1
 * bytes, terminated). Returns 0 when there is none (*next at the
 * terminator) or it is malformed (*next at its '%'). */
KS_API int strutl_find_printf_directive(const char *format, size_t start,
                                        size_t dir_size, char *dir_out,
                                        size_t *next, int *kind,
                                        int *star_width, int *star_precision);

/* ---- Multibyte characters, encodings, copying, searching and editing. */

/* Wide texts are 16-bit code units (UTF-16), terminated by a 0 unit. */
typedef uint16_t strutl_wchar_t;

KS_API const ks_msg_table_t *strutl_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_strutl_ks_msg_table_adr(void);

/* Multibyte characters. Character boundaries come from the C library's
 * multibyte functions for the current locale; an invalid or incomplete
 * sequence counts as one byte. */

/* Byte length of the character at s, looking at most n bytes: 0 at the
 * terminator (or for n == 0), 1 for an invalid sequence. */
KS_API int strutl_mblen(const char *s, size_t n);
/* Number of characters of s. */
KS_API size_t strutl_mb_strlen(const char *s);
/* Copies the character at s into dst (dst_size bytes), terminated;
 * returns its byte length, or 0 at the terminator or when it does not fit. */
KS_API int strutl_mb_char_from_str(const char *s, char *dst, size_t dst_size);
/* Converts the character at s to one wide unit in *wc; returns its byte
 * length, 0 at the terminator, or -1 when it has no single 16-bit value
 * (invalid sequence, or a character beyond U+FFFF). */
KS_API int strutl_wide_char_from_str(const char *s, strutl_wchar_t *wc);
/* Number of 16-bit units of a wide text before its terminator. */
KS_API size_t strutl_wide_strlen(const strutl_wchar_t *ws);
/* Writes the character at ch (at most n bytes) in upper case (upper
 * non-zero) or lower case into dst (MB_LEN_MAX bytes of room, no
 * terminator); returns the bytes written. A character without a case
 * mapping is copied unchanged. */
KS_API int strutl_cvt_case_char(const char *ch, size_t n, int upper, char *dst);
/* Case-converts the whole of src into dst (dst_size bytes, may be src
 * itself); returns 1 when all of it fitted, else 0 with dst cut at a
 * character boundary and terminated. */
KS_API int strutl_cvt_case_string(const char *src, int upper, size_t dst_size,
                                  char *dst);
/* Compares without regard to case in the locale's collation order. */
KS_API int strutl_stricoll(const char *a, const char *b);
/* 1 in a single-byte code page, 0 in a multibyte one. */
KS_API int strutl_get_sys_char_type(void);
/* One Shift-JIS double-byte character (hi, lo) to its EUC-JP bytes. */
KS_API void strutl_cvt_sjis_to_euc(unsigned char hi, unsigned char lo,
                                   unsigned char *hi2, unsigned char *lo2);

/* Character classes of strutl_test_char. */
#define STRUTL_CHAR_ALPHA 0x001
#define STRUTL_CHAR_UPPER 0x002
#define STRUTL_CHAR_LOWER 0x004
#define STRUTL_CHAR_DIGIT 0x008
#define STRUTL_CHAR_XDIGIT 0x010
#define STRUTL_CHAR_ALNUM 0x020
#define STRUTL_CHAR_SPACE 0x040
#define STRUTL_CHAR_PUNCT 0x080
#define STRUTL_CHAR_PRINT 0x100
#define STRUTL_CHAR_GRAPH 0x200
/* 1 when the character at ch (at most n bytes) belongs to every class of
 * classes; *len (may be null) receives its byte length, 0 at the
 * terminator. An invalid sequence is one byte, tested as a single byte. */
KS_API int strutl_test_char(const char *ch, size_t n, uint32_t classes,
                            int *len);

/* Conversions between UTF-16 and UTF-8, and between the locale's multibyte
 * texts and wide texts. Both UTF converters stop early at a 0 unit/byte. */

/* 0, or 3 when dst is too small (cut at the last whole character). */
KS_API int strutl_utf16to8(char *dst, const strutl_wchar_t *src,
                           size_t src_units, size_t dst_size);
/* 0 when all input was converted, 1 when it ends inside a character, 3
 * when dst (dst_units units) is full; *consumed gets the bytes used. */
KS_API int strutl_utf8to16(strutl_wchar_t *dst, const char *src,
                           size_t src_bytes, size_t dst_units,
                           size_t *consumed);
/* Copies allocated from area (STG_AREA_HEAP: release with stg_free). */
KS_API strutl_wchar_t *strutl_cvt_str_to_wide_str(const char *text,
                                                  stg_area_t area);
KS_API char *strutl_cvt_wide_str_to_str(const strutl_wchar_t *wide,
                                        stg_area_t area);

/* Copying with bounds: every routine terminates its destination. */

/* Copies n bytes of src (fewer at its terminator): 0 when n < size, else
 * the first size - 1 bytes and 1. */
KS_API int strutl_ncpy_buf(char *dst, const char *src, size_t n, size_t size);
/* Copies whole characters of src up to the first one in stop_chars; 1
 * when cut by size. *end (may be null) gets where copying stopped. */
KS_API int strutl_ccpy_buf(char *dst, const char *src, size_t size,
                           const char *stop_chars, const char **end);
/* At most size - 1 bytes of src; returns dst. */
KS_API char *strutl_ncpy(char *dst, const char *src, size_t size);
/* Moves text (which may lie in buf) to the end of buf (size bytes,
 * terminator in the last byte); returns the offset of its start. A text
 * too long keeps its first size - 1 bytes, at offset 0. */
KS_API size_t strutl_prepend(char *buf, size_t size, const char *text);
/* Copies n bytes to *p, terminates, and advances *p past them. */
KS_API void strutl_cpy_and_advance(char **p, const char *src, size_t n);
/* As strutl_cpy_buf for wide texts; size counts units. */
KS_API int strutl_wide_cpy_buf(strutl_wchar_t *dst, const strutl_wchar_t *src,
                               size_t size);
/* Concatenates count texts (null counts as empty; one may be dst itself)
 * into dst: 0, or 1 when cut by size. */
KS_API int strutl_concat(char *dst, size_t size, int count, ...);
/* New concatenations on the heap (stg_free) or in area; null when memory
 * ran out. */
KS_API char *strutl_concat_heap(int count, ...);
KS_API char *strutl_concat_area(stg_area_t area, int count, ...);
KS_API int strutl_wide_concat(strutl_wchar_t *dst, size_t size, int count, ...);

/* Searching: positions are byte offsets; the scans step over whole
 * characters, so a trail byte never matches. Results are found flags. */

/* First ch at or after start. */
KS_API int strutl_find_char(const char *s, size_t start, int ch, size_t *pos);
/* First character at or after start that is in set; *len (may be null)
 * gets its byte length. */
KS_API int strutl_find_char_from(const char *s, size_t start, const char *set,
                                 size_t *pos, int *len);
/* Last ch at or after start. */
KS_API int strutl_find_last_char(const char *s, size_t start, int ch,
                                 size_t *pos);
/* Non-zero when the last character of s is ch; *pos gets its place. */
KS_API int strutl_match_last_char(const char *s, int ch, size_t *pos);
/* Position of the last character of s; 0 for an empty text. */
KS_API int strutl_right_char(const char *s, size_t *pos);
/* First needle beginning at or after start; on failure *pos is the
 * terminator's position. */
KS_API int strutl_find_str(const char *s, size_t start, const char *needle,
                           size_t *pos);
/* As strutl_find_str, but the match must begin before end (0: no limit);
 * on failure *pos is where the search stopped. */
KS_API int strutl_find_str_range(const char *s, size_t start, size_t end,
                                 const char *needle, size_t *pos);
/* From start, just after an opening open, the matching close, with nested
 * pairs skipped. */
KS_API int strutl_find_end_delim(const char *s, size_t start, int open,
                                 int close, size_t *pos);
/* The last character of s that is in set, or null. */
KS_API char *strutl_strrpbrk(const char *s, const char *set);

/* Editing in place. */

/* Moves the text from pos (terminator included) by shift bytes: right to
 * make room, left to delete the bytes before pos. */
KS_API void strutl_slide_tail(char *s, size_t pos, ptrdiff_t shift);
/* Replaces old_len bytes at pos by new_text; size is the capacity of s.
 * 1, with s unchanged, when the result would not fit. */
KS_API int strutl_replace_substr(char *s, size_t pos, size_t size,
                                 size_t old_len, const char *new_text);
/* Replaces the first old_text at or after start by new_text: 0, or 1 when
 * it is absent or the result would not fit. *next (may be null) gets the
 * position after the inserted text. */
KS_API int strutl_find_replace_substr(char *s, size_t start, size_t size,
                                      const char *old_text,
                                      const char *new_text, size_t *next);
/* Reversible scrambling into the characters [a-zA-Z0-9_@] and its reverse:
 * 0, or 1 when out is too small or (restoring) the text is malformed. */
KS_API int strutl_extract_head(const char *text, char *out, size_t out_size);
KS_API int strutl_extract_tail(const char *text, char *out, size_t out_size);
/* Removes blanks and tabs at the start and/or end. */
KS_API void strutl_strip_whitespace(char *s, int leading, int trailing);
/* Compares with each run of white space taken as one blank. */
KS_API int strutl_cmp_ignore_whitespace(const char *a, const char *b);
/* 0 when the texts are equal, else 1; *pos gets the byte position in s of
 * the first difference. */
KS_API int strutl_match_prefix(const char *s, const char *other, size_t *pos);
/* 1 when an element (a text) of list equals s. */
KS_API int strutl_str_in_list(list_t *list, const char *s);
/* 0 when s is decimal digits only, else 1 (null and empty included). */
KS_API int strutl_match_numeric_string(const char *s);

/* strtok with a per-thread cursor: a non-null text starts a new scan. The
 * cursor, like the buffers of strutl_u32tostr and strutl_flags_to_str,
 * lives in the library's thread-local block: it lasts until the first of
 * the same thread's next call of the same function, and that thread's
 * outermost leave of the library lock (qmthread_leave_critical_section at
 * depth 1), its qmthread_exit or its end, which free the block. A scan
 * that spans such a leave ends there: the next call with a null text
 * returns null. */
KS_API char *strutl_tokenize(char *text, const char *delims);
/* 1 when name is acceptable as a name: non-empty, first character not in
 * bad_first, every character printable and not a control, ASCII
 * punctuation or white space unless it is in extra_ok. */
KS_API int strutl_is_ok_name(const char *name, const char *bad_first,
                             const char *extra_ok);
/* Turns every character of seps in src into new_sep. With dst != src, dst
 * is written only when something changes (*changed). 0, or 1 when dst is
 * too small. */
KS_API int strutl_xlate_pname_sep(char *src, const char *seps, int new_sep,
                                  char *dst, size_t dst_size, int *changed);
/* Copies src, replacing each character of chars by the text at the same
 * position of strings; returns the length written (dst must be large
 * enough). */
KS_API size_t strutl_xlate_chars_to_strings(char *dst, const char *src,
                                            const char *chars,
                                            const char *const *strings);
/* Decodes a C string literal (with quoted, enclosed in double quotes): 0
 * with *result on the heap (stg_free), or 1. */
KS_API int strutl_cstr_to_str(const char *text, int quoted, char **result);

/* ---- Numbers, environment references, flags, hashing and files. */

/* Conversions in the manner of strtol/strtoul/strtod (leading white space
 * and a sign are accepted). 0 when a number was read and the whole text was
 * used; 1 when nothing could be read or the value overflowed (*value 0);
 * a number followed by other characters also gives 1 but sets *value. The
 * _extended forms accept trailing text: 0 when a number was read, and *end
 * (when not null) receives where it ended. */
KS_API int strutl_strtol(const char *s, int base, long *value);
KS_API int strutl_strtoul(const char *s, int base, unsigned long *value);
KS_API int strutl_strtod(const char *s, double *value);
KS_API int strutl_strtol_extended(const char *s, int base, long *value,
                                  char **end);
KS_API int strutl_strtoul_extended(const char *s, int base,
                                   unsigned long *value, char **end);
KS_API int strutl_strtod_extended(const char *s, double *value, char **end);

/* The decimal value of text clamped to [min, max]; def when text is null,
 * not wholly a number, or out of range of long. */
KS_API long strutl_process_long_param(const char *text, long def, long min,
                                      long max);

/* A non-negative floating-point number with an optional one-letter suffix
 * (none = bytes, k/K, m/M, g/G) converted to kilobytes (kstr_to_long) or
 * bytes (kstr_or_str_to_long), truncated to 32 bits; a non-zero value that
 * truncates to 0 becomes 1. 1 for any other suffix, more than one suffix
 * character, a negative value or one that does not fit in 32 bits. */
KS_API int strutl_kstr_to_long(const char *text, uint32_t *kbytes);
KS_API int strutl_kstr_or_str_to_long(const char *text, uint32_t *bytes);

KS_API double uint64_to_double(uint64_t value);

/* value in base 2..36 (lower-case digits) in a 33-byte per-thread buffer;
 * null for another base. A negative width gives the minimal digits ("0" for
 * 0); otherwise exactly width digits (at most 32): padded with '0', or the
 * low-order digits when the value needs more. */
KS_API const char *strutl_u32tostr(uint32_t value, int base, int width);

/* h = seed; for each byte b: h = rotl32(h, 5) + b. */
KS_API uint32_t strutl_str_to_hash32(uint32_t seed, const char *text);

/* Environment references: "$NAME" (letters, digits, '_') and "${NAME}" are
 * replaced by the variable's value (nothing when unset); a backslash makes
 * the next character literal; any other '$' is copied. Results are heap
 * texts (release with stg_free). _status sets *expanded (when not null) to
 * 1 when a reference was replaced, else 0; null with errno ENOMEM when
 * memory ran out. _iterate expands again while a pass replaced something:
 * null with errno EINVAL when `limit` expanding passes (0 or less: 8) were
 * not enough. */
KS_API char *strutl_expand_evs_status(const char *text, int *expanded);
KS_API char *strutl_expand_evs(const char *text);
KS_API char *strutl_expand_evs_iterate(const char *text, int limit);

/* One entry of a flag name table. */
typedef struct strutl_flag_name {
  const char *name;
  uint32_t mask;
} strutl_flag_name_t;

/* Names of the entries sharing a bit with the flags not yet explained, in
 * table order, joined by sep (a blank when null or empty); leftover bits
 * give " UNKNOWN(0x%x)". The text lives in a 1,024-byte per-thread buffer
 * (cut to fit). */
KS_API const char *strutl_flags_to_str(uint32_t flags, const char *sep,
                                       const strutl_flag_name_t *table,
                                       int count);
/* The same as *n heap texts in a heap vector (release each and the vector
 * with stg_free; null when *n is 0), taking an entry only when all its bits
 * are left; leftover bits give a last element " UNKNOWN(0x%x)". 0, or 1
 * when memory ran out (nothing is returned then). */
KS_API int strutl_flags_to_str_list(uint32_t flags,
                                    const strutl_flag_name_t *table, int count,
                                    char ***vector, int *n);
/* The OR of the masks of the pieces of text (its first 1,023 bytes) split
 * at sep (a blank when null or empty), each matched against the names in
 * table order, exactly or (case_sensitive 0) with strutl_stricoll. A piece
 * that matches nothing gives 0 with *bad at its start in text; otherwise
 * *bad is null. An empty text gives 0. */
KS_API uint32_t strutl_flags_from_str(const char *text, int case_sensitive,
                                      const char *sep,
                                      const strutl_flag_name_t *table,
                                      int count, const char **bad);

/* The whole file as a text allocated from area (STG_AREA_HEAP: the heap),
 * or null. A file that cannot be examined gives an empty text when it is
 * absent and missing_ok is set; otherwise a message (unless quiet) and
 * null. A file that grows while read gives null with errno EFBIG. */
KS_API char *strutl_read(stg_area_t area, const char *path, int binary,
                         int quiet, int missing_ok);
/* The rest of stream as a text from area. With size non-zero, a buffer of
 * size bytes: a longer stream sets *changed (when not null) and gives what
 * fitted. With size 0, a buffer that grows 8,192 bytes at a time. Null
 * after a read error or when memory ran out. */
KS_API char *strutl_read_fp(stg_area_t area, uint32_t size, FILE *stream,
                            int quiet, int *changed);
/* Creates or truncates path and writes text: 0, or 1 after a failed open
 * or write (with a message unless quiet). A null text gives 0 at once. */
KS_API int strutl_write(const char *text, const char *path, int binary,
                        int quiet);

KS_END_DECLS

#endif
