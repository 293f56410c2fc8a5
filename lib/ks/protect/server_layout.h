// Recognising the protection layout: the discretionary ACL that carries an
// object's UNIX owner, group and nine mode bits. The companion library
// builds the layout (nt_sd_build_layout); this reads it back.
#pragma once

#include <cstdint>

#include <orvexnt/nt_security.h>
#include <orvexnt/nt_sid.h>

// What recognising a DACL found.
struct ksi_layout {
  int mode;    // -1 when the list is not of the layout
  int reason;  // the server_id_nt position of the reason when mode is -1
  const nt_sid_t *owner;  // the UNIX owner (owner entry); null when mode -1
  const nt_sid_t *group;  // the group entry's SID; null when mode -1
};

// Recognises the layout in dacl (of a directory when is_dir). The SIDs
// point into the descriptor that dacl belongs to.
ksi_layout ksi_recognise_layout(const nt_acl_t *dacl, bool is_dir);

// Network writes are refused by the layout unless enabled process-wide
// (server_enable_network_write).
bool ksi_network_write_enabled();
