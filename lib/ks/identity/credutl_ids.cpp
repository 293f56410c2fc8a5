// Numeric ids and SIDs through the platform's account mapping.
//
// The reserved ids and the placeholders map onto each other directly; every
// other id is asked of the platform, which gives users and groups SIDs of
// their own because host uid and gid numbers overlap. Nothing here fails:
// whatever cannot be mapped becomes NOBODY.
#include <cstdlib>

#include <orvexnt/nt_accounts.h>

#include "identity/credutl_internal.h"

namespace {

using platform_id_to_sid = int (*)(uint32_t, nt_sid_t **);

credutl_sid_t *id_to_sid(credutl_sid_t *sid_out, uint32_t id,
                         platform_id_to_sid to_sid) {
  if (id == CREDUTL_ID_NOBODY) {
    *sid_out = CREDUTL_SID_NOBODY;
  } else if (id == CREDUTL_ID_DONTCARE) {
    *sid_out = CREDUTL_SID_DONTCARE;
  } else {
    nt_sid_t *nt = nullptr;
    if (to_sid(id, &nt) == 0 && nt != nullptr) {
      credutl_nt_sid_to_sid(nt, sid_out);
      std::free(nt);
    } else {
      *sid_out = CREDUTL_SID_NOBODY;
    }
  }
  return sid_out;
}

// The platform id of an NT record; the platform's "no id" and anything
// above it read as the NOBODY id.
uint32_t nt_record_to_id(const credutl_sid_t *sid) {
  unsigned char nt[CREDUTL_NT_SID_BUF_SIZE];
  credutl_sid_to_nt_sid(sid, sizeof nt, nt);
  uint32_t id = nt_sid_to_uid(reinterpret_cast<const nt_sid_t *>(nt));
  return id > CREDUTL_ID_NOBODY ? CREDUTL_ID_NOBODY : id;
}

uint32_t sid_to_id(const credutl_sid_t *sid, bool is_user) {
  switch (sid->type) {
    case CREDUTL_SID_TYPE_NOBODY:
      return CREDUTL_ID_NOBODY;
    case CREDUTL_SID_TYPE_DONTCARE:
      return CREDUTL_ID_DONTCARE;
    case CREDUTL_SID_TYPE_NT:
      // A damaged record (from the wire, say) names no account.
      return ksi_sid_has_nt_form(sid) ? nt_record_to_id(sid)
                                      : CREDUTL_ID_NOBODY;
    case CREDUTL_SID_TYPE_UNIX:
      return is_user ? credutl_sid_to_unix_uid(sid)
                     : credutl_sid_to_unix_gid(sid);
    default:
      return CREDUTL_ID_NOBODY;
  }
}

}  // namespace

extern "C" {

credutl_sid_t *credutl_uid_to_sid(credutl_sid_t *sid_out, credutl_uid_t uid) {
  return id_to_sid(sid_out, uid, ntx_uid_to_sid);
}

credutl_sid_t *credutl_gid_to_sid(credutl_sid_t *sid_out, credutl_gid_t gid) {
  return id_to_sid(sid_out, gid, ntx_gid_to_sid);
}

credutl_uid_t credutl_sid_to_uid(const credutl_sid_t *sid) {
  return sid_to_id(sid, true);
}

credutl_gid_t credutl_sid_to_gid(const credutl_sid_t *sid) {
  return sid_to_id(sid, false);
}

}  // extern "C"
