/* String utilities aware of the process's multibyte code page. Status
 * results are 0 for success and 1 for failure unless stated otherwise. */
#ifndef ORVEXKS_STRUTL_H
#define ORVEXKS_STRUTL_H

#include <stdarg.h>

#include <orvexks/imsg.h>
#include <orvexks/ks_base.h>
#include <orvexks/list.h>
#include <orvexks/stg.h>

KS_BEGIN_DECLS

/* ---- Bounded printf, buffer copy and printf directives. */

/* ---- Multibyte characters, encodings, copying, searching and editing. */

/* ---- Numbers, environment references, flags, hashing and files. */

KS_END_DECLS

#endif
