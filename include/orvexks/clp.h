/* Command-line parsing handles, flag descriptors and command history. */
#ifndef ORVEXKS_CLP_H
#define ORVEXKS_CLP_H

#include <orvexks/imsg.h>
#include <orvexks/ks_base.h>

KS_BEGIN_DECLS

/* The family's message table. */
KS_API const ks_msg_table_t *clp_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_clp_ks_msg_table_adr(void);

KS_END_DECLS

#endif
