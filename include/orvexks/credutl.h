/* Security identifiers, credentials and account lookups. */
#ifndef ORVEXKS_CREDUTL_H
#define ORVEXKS_CREDUTL_H

#include <orvexks/imsg.h>
#include <orvexks/ks_base.h>

KS_BEGIN_DECLS

/* The family's message table. */
KS_API const ks_msg_table_t *credutl_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_credutl_ks_msg_table_adr(void);

KS_END_DECLS

#endif
