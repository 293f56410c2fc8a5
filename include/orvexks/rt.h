/* The event loop: timers, descriptor handlers and worker threads. */
#ifndef ORVEXKS_RT_H
#define ORVEXKS_RT_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>

KS_BEGIN_DECLS

/* The family's message table. */
KS_API const ks_msg_table_t *rt_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_rt_ks_msg_table_adr(void);

KS_END_DECLS

#endif
