/* Thread identities of the platform layer. */
#ifndef ORVEXNT_NT_THREAD_H
#define ORVEXNT_NT_THREAD_H

#include <orvexnt/nt_base.h>

#include <stdint.h>

NT_BEGIN_DECLS

/* The calling thread's 32-bit numeric id (the kernel thread id). It is the
 * id that traces print and that mutex owner fields hold; never 0. */
NT_API uint32_t nt_get_current_thread_id(void);

NT_END_DECLS

#endif
