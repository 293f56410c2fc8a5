// Rewriting the entries of an object's DACL in place.
#pragma once

#include <cstdint>

#include <orvexnt/nt_security.h>

// Decides for one entry: false drops it; the entry may be changed (its
// sid then pointing at storage that outlives the call).
using ksi_ace_edit_fn = bool (*)(void *arg, nt_ace_info_t *ace);

// Reads path's descriptor, passes every DACL entry through edit, replaces
// the descriptor's group by new_group when it equals old_group (both may be
// null), and writes owner, group and DACL back. *failed_call (may be null)
// names the step that failed. 0, or the platform code.
uint32_t ksi_edit_dacl(const char *path, ksi_ace_edit_fn edit, void *arg,
                       const nt_sid_t *old_group, const nt_sid_t *new_group,
                       const char **failed_call);
