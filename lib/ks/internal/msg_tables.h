// Every message table of the library. Each table has one source of truth:
// its file under msg_tables/ (or, for the foundation families, the
// family's own source).
#pragma once

#include <orvexks/imsg.h>

extern const ks_msg_table_t ksi_clp_msgs;
extern const ks_msg_table_t ksi_credutl_msgs;
extern const ks_msg_table_t ksi_date_msgs;
extern const ks_msg_table_t ksi_imsg_msgs;
extern const ks_msg_table_t ksi_ks_msgs;
extern const ks_msg_table_t ksi_ntpfxmap_msgs;
extern const ks_msg_table_t ksi_rt_msgs;
extern const ks_msg_table_t ksi_rt_proc_msgs;
extern const ks_msg_table_t ksi_server_id_nt_msgs;
extern const ks_msg_table_t ksi_strutl_msgs;
extern const ks_msg_table_t ksi_sysutl_msgs;
