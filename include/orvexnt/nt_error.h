/* Error numbers of the platform layer: Windows system error codes and
 * Windows Sockets codes mapped onto the host's errno values and back. */
#ifndef ORVEXNT_NT_ERROR_H
#define ORVEXNT_NT_ERROR_H

#include <orvexnt/nt_base.h>

#include <stddef.h>
#include <stdint.h>

NT_BEGIN_DECLS

/* Size of the per-thread buffer nt_get_error_string uses when the caller
 * passes none; texts longer than this are cut. */
#define NT_ERROR_STRING_MAX 256

/* The errno value for a Windows system error code (ERROR_FILE_NOT_FOUND 2
 * gives ENOENT, ERROR_ACCESS_DENIED 5 gives EACCES, ...). A Windows Sockets
 * code (10004 and up) maps as nt_wsa2errno does. 0 gives 0; a code without
 * an errno twin gives EINVAL. The table is in nt_error.cpp. */
NT_API int nt_win32error2errno(uint32_t win32_error);

/* The Windows Sockets code that reports the errno value err of a socket
 * call (ECONNRESET gives 10054, EAGAIN/EWOULDBLOCK 10035, ...). Results are
 * always 10000 or above for a mapped value; an errno value without a socket
 * twin (and 0) comes back unchanged, so it still reads as an errno value. */
NT_API int nt_errno2wsa(int err);

/* The reverse: the errno value of a Windows Sockets code. A code without an
 * errno twin (10091, 11001, ...) and any value below 10000 come back
 * unchanged, so nt_wsa2errno(nt_errno2wsa(e)) == e for every e. */
NT_API int nt_wsa2errno(int wsa_error);

/* The Windows Sockets code for a getaddrinfo result (EAI_NONAME gives 11001,
 * EAI_AGAIN 11002, EAI_FAIL 11003, EAI_NODATA 11004, EAI_SYSTEM the socket
 * twin of errno, ...). 0 gives 0; an unknown value gives 11003. */
NT_API int nt_eai2wsa(int eai_error);

/* The text of a Windows system error code or Windows Sockets code (the host's
 * text of the errno twin; "Unknown error N" for a code without one). It is
 * written into buf (size bytes, cut to fit, always terminated) and buf is
 * returned; with buf null the text goes into a per-thread buffer of
 * NT_ERROR_STRING_MAX bytes that stays valid until the same thread calls
 * again. Returns null only when buf is given with size 0. */
NT_API const char *nt_get_error_string(uint32_t code, char *buf, size_t size);

NT_END_DECLS

#endif
