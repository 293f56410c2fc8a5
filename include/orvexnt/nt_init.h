/* Start-up of the companion library. */
#ifndef ORVEXNT_NT_INIT_H
#define ORVEXNT_NT_INIT_H

#include <orvexnt/nt_base.h>

NT_BEGIN_DECLS

/* Prepares the library's process-wide state (fork handlers that keep the
 * environment lock and the cached thread ids right in a child). Runs once
 * per process; later and concurrent calls wait for the first and return its
 * result. Returns 0 on success, an errno value otherwise. Every other call
 * of the library also works before nt_init. */
NT_API int nt_init(void);

NT_END_DECLS

#endif
