/* The drive prefix map. */
#ifndef ORVEXKS_NTPFXMAP_H
#define ORVEXKS_NTPFXMAP_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>

KS_BEGIN_DECLS

/* The family's message table. */
KS_API const ks_msg_table_t *ntpfxmap_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_ntpfxmap_ks_msg_table_adr(void);

KS_END_DECLS

#endif
