/* Common definitions of the companion library's public headers. */
#ifndef ORVEXNT_NT_BASE_H
#define ORVEXNT_NT_BASE_H

#if !defined(_POSIX_C_SOURCE) && !defined(_XOPEN_SOURCE) && \
    !defined(_GNU_SOURCE) && !defined(_DEFAULT_SOURCE)
#define _POSIX_C_SOURCE 200809L
#endif

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define NT_BEGIN_DECLS extern "C" {
#define NT_END_DECLS }
#else
#define NT_BEGIN_DECLS
#define NT_END_DECLS
#endif

#define NT_API __attribute__((visibility("default")))

#endif
