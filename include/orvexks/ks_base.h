/* Common definitions shared by every public header of liborvexks. */
#ifndef ORVEXKS_KS_BASE_H
#define ORVEXKS_KS_BASE_H

/* The interface uses POSIX types (threads, select). A strict ISO C
 * compilation that named no feature set gets POSIX.1-2008. */
#if !defined(_POSIX_C_SOURCE) && !defined(_XOPEN_SOURCE) && \
    !defined(_GNU_SOURCE) && !defined(_DEFAULT_SOURCE)
#define _POSIX_C_SOURCE 200809L
#endif

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define KS_BEGIN_DECLS extern "C" {
#define KS_END_DECLS }
#else
#define KS_BEGIN_DECLS
#define KS_END_DECLS
#endif

/* Symbols of the library's C interface; everything else stays hidden. */
#define KS_API __attribute__((visibility("default")))

#if defined(__cplusplus)
#define KS_NORETURN [[noreturn]]
#else
#define KS_NORETURN _Noreturn
#endif

/* Clang's thread-safety analysis sees the library's mutex types as locks;
 * the library's own build checks its locking with it. */
#if defined(__clang__)
#define KS_CAPABILITY(name) __attribute__((capability(name)))
#else
#define KS_CAPABILITY(name)
#endif

#define KS_PRINTF(fmt_index, first_arg) \
  __attribute__((format(printf, fmt_index, first_arg)))

#endif
