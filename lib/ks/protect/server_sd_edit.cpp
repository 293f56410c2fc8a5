// Rewriting the entries of an object's DACL: read the descriptor, edit or
// drop entries, build a new descriptor and write it back.
#include "protect/server_sd_edit.h"

#include <cstdlib>

#include "protect/server_internal.h"

uint32_t ksi_edit_dacl(const char *path, ksi_ace_edit_fn edit, void *arg,
                       const nt_sid_t *old_group, const nt_sid_t *new_group,
                       const char **failed_call) {
  const char *unused = nullptr;
  const char *&failed = failed_call != nullptr ? *failed_call : unused;
  ksi_file_sd sd;
  uint32_t rc = ksi_read_file_sd(path, &sd);
  if (rc != 0) {
    failed = "nt_get_file_security";
    return rc;
  }
  const int count = nt_acl_count(sd.info.dacl);
  auto *aces = static_cast<nt_ace_info_t *>(
      malloc(sizeof(nt_ace_info_t) * (count > 0 ? count : 1)));
  int kept = 0;
  if (aces == nullptr) rc = 8;
  for (int i = 0; rc == 0 && i < count; ++i) {
    if (nt_acl_get_ace(sd.info.dacl, i, &aces[kept]) != 0)
      rc = NT_ERROR_INVALID_ACL;
    else if (edit(arg, &aces[kept]))
      ++kept;
  }
  const nt_sid_t *group = sd.info.group;
  if (old_group != nullptr && new_group != nullptr && group != nullptr &&
      nt_sid_equal(group, old_group))
    group = new_group;
  nt_security_descriptor_t *built = nullptr;
  size_t size = 0;
  if (rc == 0) {
    rc = static_cast<uint32_t>(
        nt_sd_build(sd.info.owner, group, aces, kept, &built, &size));
    if (rc != 0) failed = "nt_sd_build";
  } else {
    failed = "nt_acl_get_ace";
  }
  free(aces);
  ksi_release_file_sd(&sd);
  if (rc != 0) return rc;
  rc = ksi_set_security(path, NT_ALL_SECURITY_INFORMATION, built, size);
  if (rc != 0) failed = "nt_set_file_security";
  nt_sd_free(built);
  return rc;
}
