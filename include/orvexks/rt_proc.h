/* Child process tracking. */
#ifndef ORVEXKS_RT_PROC_H
#define ORVEXKS_RT_PROC_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>

KS_BEGIN_DECLS

/* The family's message table. */
KS_API const ks_msg_table_t *rt_proc_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_rt_proc_ks_msg_table_adr(void);

KS_END_DECLS

#endif
