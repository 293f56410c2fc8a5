/* Library start-up, installation directories and switches. */
#ifndef ORVEXKS_KS_PRODUCT_H
#define ORVEXKS_KS_PRODUCT_H

#include <orvexks/imsg.h>
#include <orvexks/ks_base.h>

KS_BEGIN_DECLS

/* The family's message table. */
KS_API const ks_msg_table_t *ks_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_ks_ks_msg_table_adr(void);

KS_END_DECLS

#endif
