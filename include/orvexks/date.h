/* Date and time texts: formatting times (seconds since 1970-01-01 UTC) in
 * the classic day-month-year style or in ISO 8601, and parsing user-typed
 * date-times in both styles. Keywords, separators and names come from the
 * ks/date message table, so catalogs can translate them. */
#ifndef ORVEXKS_DATE_H
#define ORVEXKS_DATE_H

#include <orvexks/ks_base.h>

#include <sys/time.h>
#include <time.h>

#include <orvexks/imsg.h>

KS_BEGIN_DECLS

/* Date styles. The process starts in ISO style; QUILL_ISO_DATE_FMT=0
 * selects the classic style. */
#define DATE_STYLE_DEFAULT 0
#define DATE_STYLE_CLASSIC 1
#define DATE_STYLE_ISO 2

/* Variants of date_fmt_token_general. */
#define DATE_TOKEN_DATE_TIME 0
#define DATE_TOKEN_DATE 1
#define DATE_TOKEN_SHORT 2 /* recent: without year; older: date only */
#define DATE_TOKEN_DATE_TIME_USEC 3

/* Year inference of the parsers: the most recent matching date, or the
 * next one. */
#define DATE_DIRECTION_PAST 0
#define DATE_DIRECTION_FUTURE 1

/* Time of day; returns its microseconds. */
KS_API long date_get_timeval(struct timeval *tv);
/* Broken-down local or UTC time of *t (null t: now) copied into *tm;
 * returns tm, or null when the time cannot be converted. */
KS_API struct tm *date_get_localtime(const time_t *t, struct tm *tm);
KS_API struct tm *date_get_gmtime(const time_t *t, struct tm *tm);

/* Local-time texts in a per-thread buffer, overwritten by the thread's
 * next call of the same routine; null for a negative time. */
KS_API char *date_fmt_long_date_time(time_t t);
KS_API char *date_fmt_short_date_time(time_t t);
KS_API char *date_fmt_short_date(time_t t);
KS_API char *date_fmt_short_time(time_t t);
/* "%b %d %H:%M" for a time within the past year, else "%b %d  %Y". */
KS_API char *date_fmt_ls_date_time(time_t t);
KS_API time_t date_one_year_ago(time_t t);

KS_API int date_fmt_get_default_date_style(void);
/* Sets the process's style (1 or 2); returns the previous one. */
KS_API int date_fmt_set_default_style(int style);

/* Token text of t, or null for a negative t, an unknown variant or style,
 * or no memory. The caller frees the text with stg_free. */
KS_API char *date_fmt_token_general(time_t t, int variant, int style, int usec,
                                    int utc, int pname);
/* Fixed cases of date_fmt_token_general. The text belongs to the calling
 * thread and is freed at its next call of the same routine. */
KS_API char *date_fmt_token_date(time_t t);
KS_API char *date_fmt_token_date_time(time_t t);
KS_API char *date_fmt_token_utc(time_t t);
KS_API char *date_fmt_token_date_time_pname(time_t t);
KS_API char *date_fmt_token_short_date_time(time_t t);
/* Numeric forms 0-8 (per-thread buffer); null for another form or a
 * negative time. */
KS_API char *date_fmt_token_numeric(int form, time_t t);

/* 0 with *t set on success, 1 on failure with *t unchanged. */
KS_API int date_str_to_time(const char *text, time_t *t);
KS_API int date_str_to_time2(const char *text, int direction, time_t *t);
/* Parses a numeric form back: 1 on success, 0 on failure. */
KS_API int date_numeric_str_to_time(int form, const char *text, time_t *t);
/* The grammar accepted by the parsers, in a per-thread buffer. */
KS_API char *date_usage_date_time(void);

KS_API const ks_msg_table_t *date_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_date_ks_msg_table_adr(void);

KS_END_DECLS

#endif
