/* Server identity and file-system object protection. */
#ifndef ORVEXKS_SERVER_H
#define ORVEXKS_SERVER_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>

KS_BEGIN_DECLS

/* The family's message table. */
KS_API const ks_msg_table_t *server_id_nt_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_server_id_nt_ks_msg_table_adr(void);

KS_END_DECLS

#endif
