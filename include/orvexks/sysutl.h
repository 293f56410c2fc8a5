/* Hosts, sockets and addresses, process invocation and pipes. */
#ifndef ORVEXKS_SYSUTL_H
#define ORVEXKS_SYSUTL_H

#include <orvexks/imsg.h>
#include <orvexks/ks_base.h>

KS_BEGIN_DECLS

/* The family's message table. */
KS_API const ks_msg_table_t *sysutl_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_sysutl_ks_msg_table_adr(void);

KS_END_DECLS

#endif
