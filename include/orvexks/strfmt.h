/* Formatted texts whose conversion characters the caller defines. */
#ifndef ORVEXKS_STRFMT_H
#define ORVEXKS_STRFMT_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>

KS_BEGIN_DECLS

/* Expands one directive of strfmt_gsprintf: writes a terminated text of at
 * most room bytes (the terminator included) at dst and returns 0, or
 * non-zero when the directive is bad. width and precision are 2147483647
 * when the directive gives none (a leading '-' makes them negative). arg
 * and arg2 are the bracketed argument text and the part of it after its
 * first ':' (null when absent; arg then ends before the ':'); modifiers
 * holds the directive's other non-blank characters (possibly empty) and
 * conversion the conversion character as a one-character text. */
typedef int (*strfmt_convert_t)(void *data, char *dst, size_t room, int width,
                                int precision, const char *arg,
                                const char *arg2, const char *modifiers,
                                const char *conversion);

/* Expands format into dst (at most size bytes, always terminated):
 *   "%%" gives '%'. Other directives are
 *   '%' [-digits] ['.' [-digits]] {modifier | "[" arg [":" arg2] "]"} conv
 *   where conv is the first character that is one of conversions. The
 *   conversion 't' (when listed) moves to the 1-based column given as arg:
 *   blanks up to it, or when the line already reaches it, modifier 'N' a
 *   newline and column-1 blanks, 'S' a blank, 'T' a tab. Every other
 *   conversion calls convert with data.
 *   A backslash gives newline, carriage return or tab before 'n', 'r' or
 *   't', the byte of up to three octal digits, or else the next character.
 * 0 on success (also for a null dst or format or a size of 0, which do
 * nothing); 1 after printing a message for a bad directive, a failed
 * conversion or a full dst. */
KS_API int strfmt_gsprintf(char *dst, size_t size, const char *conversions,
                           const char *format, void *data,
                           strfmt_convert_t convert);

/* strfmt_gsprintf with the format taken from message index of table (the
 * catalog's translation first, the default text second); index -1 makes
 * table itself the format text. The format is copied first, so convert
 * may look up messages of its own. */
KS_API int strfmt_gsprintf_fmt(char *dst, size_t size, const char *conversions,
                               const void *table, int index, void *data,
                               strfmt_convert_t convert);

KS_END_DECLS

#endif
