// The recorded identity of a storage directory: its owner and primary
// group in "identity.sd" (whose layout also holds the directory's mode) and
// its supplementary groups in "groups.sd".
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/server.h>

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_error.h>
#include <orvexnt/nt_security.h>

#include <cerrno>
#include <cstring>

#include "protect/server_id_nt_msgs.h"
#include "protect/server_ids_codec.h"
#include "protect/server_internal.h"
#include "protect/server_layout.h"
#include "protect/server_owner_file.h"

namespace {

constexpr const char *kIdentityFile = "identity.sd";
constexpr const char *kGroupsFile = "groups.sd";

struct Paths {
  char identity[kKsiServerPathMax];
  char groups[kKsiServerPathMax];
};

bool paths_of(const char *dir, Paths *p) {
  return ksi_server_join(dir, kIdentityFile, p->identity) &&
         ksi_server_join(dir, kGroupsFile, p->groups);
}

void print_file_error(int position, const char *path, uint32_t code) {
  imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, position, path,
             nt_get_error_string(code, nullptr, 0));
}

// The owner and group that "identity.sd" records. 0, or the platform code.
uint32_t read_identity(const char *path, credutl_sid_t *user,
                       credutl_sid_t *group) {
  ksi_file_sd sd;
  uint32_t rc = ksi_read_file_sd(path, &sd);
  if (rc != 0) return rc;
  if (sd.info.owner != nullptr && sd.info.group != nullptr) {
    credutl_nt_sid_to_sid(sd.info.owner, user);
    credutl_nt_sid_to_sid(sd.info.group, group);
  } else {
    rc = NT_ERROR_INVALID_SECURITY_DESCR;
  }
  ksi_release_file_sd(&sd);
  return rc;
}

// Reads "groups.sd", printing failures. 0, or an errno value.
int read_groups(const char *path, ksi_groups_record *record) {
  nt_security_descriptor_t *sd = nullptr;
  size_t size = 0;
  uint32_t rc = static_cast<uint32_t>(
      nt_get_file_security(path, NT_ALL_SECURITY_INFORMATION, &sd, &size));
  if (rc != 0) {
    print_file_error(KSI_SERVER_CANT_READ_SECURITY_FILE, path, rc);
    return ksi_server_errno(rc);
  }
  rc = ksi_groups_decode(sd, size, record);
  nt_sd_free(sd);
  if (rc == 0) return 0;
  print_file_error(KSI_SERVER_CANT_GET_GROUP_LIST, path, rc);
  return ksi_server_errno(rc);
}

// Writes a record as the descriptor of "groups.sd", creating the file when
// create. Prints failures; 0, or an errno value.
int write_groups(const char *path, const ksi_groups_record &record,
                 bool create) {
  nt_security_descriptor_t *sd = nullptr;
  size_t size = 0;
  uint32_t rc = ksi_groups_encode(record, &sd, &size);
  if (rc != 0) {
    print_file_error(KSI_SERVER_CANT_CREATE_SD, path, rc);
    return ksi_server_errno(rc);
  }
  rc = create ? static_cast<uint32_t>(
                    nt_create_file_with_security(path, 0, sd, size))
              : ksi_set_security(path, NT_ALL_SECURITY_INFORMATION, sd, size);
  nt_sd_free(sd);
  if (rc == 0) return 0;
  print_file_error(KSI_SERVER_CANT_WRITE_SECURITY_FILE, path, rc);
  return ksi_server_errno(rc);
}

// Creates "identity.sd" with the layout of owner, group and the
// directory's mode. 0, or an errno value.
int write_identity(const char *path, const credutl_sid_credentials_t &ids,
                   int mode) {
  uint8_t user[NT_SID_MAX_LENGTH];
  uint8_t group[NT_SID_MAX_LENGTH];
  nt_security_descriptor_t *sd = nullptr;
  size_t size = 0;
  uint32_t rc = NT_ERROR_INVALID_SID;
  if (ksi_server_nt_sid(&ids.user, user) &&
      ksi_server_nt_sid(&ids.group, group))
    rc = static_cast<uint32_t>(nt_sd_build_layout(
        ksi_as_sid(user), ksi_as_sid(user), ksi_as_sid(group), mode, 0,
        ksi_network_write_enabled() ? 1 : 0, &sd, &size));
  if (rc != 0) {
    print_file_error(KSI_SERVER_CANT_CREATE_SD, path, rc);
    return ksi_server_errno(rc);
  }
  rc = static_cast<uint32_t>(nt_create_file_with_security(path, 0, sd, size));
  nt_sd_free(sd);
  if (rc == 0) return 0;
  print_file_error(KSI_SERVER_CANT_WRITE_SECURITY_FILE, path, rc);
  return ksi_server_errno(rc);
}

int remove_old(const char *path) {
  const int err = ksi_remove_object(path);
  if (err == 0 || err == ENOENT) return 0;
  imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_REMOVE, path,
             imsg_strerror(err));
  return err;
}

bool is_dontcare(const credutl_sid_t &sid) {
  return sid.type == CREDUTL_SID_TYPE_DONTCARE;
}

// The identity to record: DONTCARE parts keep what is recorded now.
int identity_to_record(const char *dir, const credutl_sid_credentials_t &given,
                       credutl_sid_credentials_t *ids) {
  *ids = given;
  if (!is_dontcare(given.user) && !is_dontcare(given.group)) return 0;
  credutl_sid_credentials_t now;
  const int err = server_get_ids(dir, &now);
  if (err != 0) return err;
  if (is_dontcare(given.user)) ids->user = now.user;
  if (is_dontcare(given.group)) ids->group = now.group;
  if (is_dontcare(given.user) && is_dontcare(given.group) &&
      given.ngroups == 0) {
    ids->ngroups = now.ngroups;
    memcpy(ids->groups, now.groups, sizeof ids->groups);
  }
  return 0;
}

// Applies edit to the record of dir's "groups.sd" and writes it back.
template <typename Edit>
int edit_groups(const char *dir, Edit edit) {
  Paths p;
  if (dir == nullptr || !paths_of(dir, &p)) return EINVAL;
  ksi_groups_record record;
  int err = read_groups(p.groups, &record);
  if (err != 0) return err;
  bool changed = false;
  err = edit(&record, &changed);
  if (err != 0 || !changed) return err;
  return write_groups(p.groups, record, false);
}

int find_group(const credutl_sid_credentials_t &ids, const credutl_sid_t &sid) {
  for (int i = 0; i < ids.ngroups; ++i)
    if (credutl_sid_eq(&ids.groups[i], &sid)) return i;
  return -1;
}

bool is_well_known(const credutl_sid_t &sid, int n) {
  uint8_t nt[NT_SID_MAX_LENGTH];
  const nt_sid_t *known = nt_get_enum_sid(n);
  return known != nullptr && ksi_server_nt_sid(&sid, nt) &&
         nt_sid_equal(ksi_as_sid(nt), known);
}

}  // namespace

extern "C" {

int server_get_ids(const char *dir, credutl_sid_credentials_t *sid_creds_out) {
  Paths p;
  if (dir == nullptr || sid_creds_out == nullptr || !paths_of(dir, &p))
    return EINVAL;
  int has_acl = 0;
  if (nt_fs_has_acl(dir, &has_acl) != 0) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_CANT_TELL_ACL_SUPPORT, dir);
    return EINVAL;
  }
  credutl_sid_credentials_t ids;
  memset(&ids, 0, sizeof ids);
  const bool identity = has_acl && fileutl_exists(p.identity, 1);
  const bool groups = has_acl && fileutl_exists(p.groups, 1);
  if (identity) {
    const uint32_t rc = read_identity(p.identity, &ids.user, &ids.group);
    if (rc != 0) {
      print_file_error(KSI_SERVER_CANT_READ_SECURITY_FILE, p.identity, rc);
      return ksi_server_errno(rc);
    }
  } else {
    ksi_prot prot;
    const int err = ksi_read_protections(dir, &prot);
    if (err != 0) return err;
    ids.user = prot.owner;
    ids.group = prot.group;
  }
  if (groups) {
    ksi_groups_record record;
    const int err = read_groups(p.groups, &record);
    if (err != 0) return err;
    if (identity && (!credutl_sid_eq(&record.ids.user, &ids.user) ||
                     !credutl_sid_eq(&record.ids.group, &ids.group)))
      imsg_print(IMSG_WARNING, &ksi_server_id_nt_msgs, KSI_SERVER_OUT_OF_SYNCH,
                 dir, p.identity, p.groups);
    ids.ngroups = record.ids.ngroups;
    memcpy(ids.groups, record.ids.groups, sizeof ids.groups);
  }
  *sid_creds_out = ids;
  return 0;
}

int server_set_ids_flag(const char *dir,
                        const credutl_sid_credentials_t *sid_creds, int flag) {
  Paths p;
  if (dir == nullptr || sid_creds == nullptr || !paths_of(dir, &p))
    return EINVAL;
  credutl_sid_credentials_t ids;
  int err = identity_to_record(dir, *sid_creds, &ids);
  if (err != 0) return err;
  int has_acl = 0;
  if (nt_fs_has_acl(dir, &has_acl) != 0) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_CANT_TELL_ACL_SUPPORT, dir);
    return EINVAL;
  }
  // Without descriptors there is nowhere to record an identity.
  if (!has_acl) return 0;
  if (nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP) == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_NO_PRODUCT_GROUP);
    return EINVAL;
  }
  nt_sid_t *self = nt_get_user_sid();
  if (self == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_NO_USER_SID);
    return EIO;
  }
  uint8_t user[NT_SID_MAX_LENGTH];
  uint8_t group[NT_SID_MAX_LENGTH];
  const bool usable = ksi_server_nt_sid(&ids.user, user) &&
                      ksi_server_nt_sid(&ids.group, group);
  const bool hand_over = usable && !nt_sid_equal(self, ksi_as_sid(user));
  nt_sid_free(self);
  if (!usable) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_CREATE_SD,
               dir, imsg_strerror(EINVAL));
    return EINVAL;
  }
  const int mode = flag ? 0775 : 0755;
  if ((err = remove_old(p.identity)) != 0 || (err = remove_old(p.groups)) != 0)
    return err;
  // A server that cannot give the directory away leaves the new owner a
  // note to complete the change under their own login.
  if (hand_over && !nt_is_chown_privileged() &&
      (err = ksi_write_owner_file(dir, ids)) != 0)
    return err;
  if ((err = write_identity(p.identity, ids, mode)) != 0) return err;
  const ksi_groups_record record = {ids, kKsiGroupsReadOnly};
  if ((err = write_groups(p.groups, record, true)) != 0) return err;
  err = ksi_write_layout(dir, ksi_as_sid(user), ksi_as_sid(group), mode, true,
                         true);
  // Without the privilege the directory keeps its owner on disk even when
  // the descriptor was written: the new owner has to finish the change.
  if (hand_over && (err != 0 || !nt_is_chown_privileged())) {
    char name[CREDUTL_CACHE_NAME_SIZE];
    ksi_server_sid_name(ids.user, name, sizeof name);
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_RELOGIN, name);
  }
  return err;
}

int server_set_ids(const char *dir,
                   const credutl_sid_credentials_t *sid_creds) {
  return server_set_ids_flag(dir, sid_creds, 0);
}

int server_save_ids_flag(const char *dir, int flag) {
  credutl_sid_credentials_t ids;
  if (credutl_get_sid_credentials(&ids) != 0) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_NO_USER_SID);
    return EIO;
  }
  return server_set_ids_flag(dir, &ids, flag);
}

int server_save_ids(const char *dir) { return server_save_ids_flag(dir, 0); }

int server_allow_add_group_id(const char *dir, int allow) {
  return edit_groups(dir, [allow](ksi_groups_record *r, bool *changed) {
    r->everyone_mask = allow ? kKsiGroupsWritable : kKsiGroupsReadOnly;
    *changed = true;
    return 0;
  });
}

int server_add_group_id(const char *dir, const credutl_sid_t *group_sid) {
  if (group_sid == nullptr || is_well_known(*group_sid, NT_ENUM_SID_EVERYONE) ||
      is_well_known(*group_sid, NT_ENUM_SID_CREATOR_OWNER) ||
      is_well_known(*group_sid, NT_ENUM_SID_PRODUCT_GROUP))
    return EINVAL;
  return edit_groups(dir, [group_sid](ksi_groups_record *r, bool *changed) {
    char name[CREDUTL_CACHE_NAME_SIZE];
    ksi_server_sid_name(*group_sid, name, sizeof name);
    if (find_group(r->ids, *group_sid) >= 0) {
      imsg_print(IMSG_WARNING, &ksi_server_id_nt_msgs,
                 KSI_SERVER_GROUP_ALREADY_ADDED, name);
      return 0;
    }
    if (r->ids.ngroups >= CREDUTL_MAX_GROUPS) {
      imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_TOO_MANY_GROUPS,
                 name);
      return EINVAL;
    }
    r->ids.groups[r->ids.ngroups++] = *group_sid;
    *changed = true;
    return 0;
  });
}

int server_remove_group_id(const char *dir, const credutl_sid_t *group_sid) {
  if (group_sid == nullptr) return EINVAL;
  return edit_groups(dir, [group_sid](ksi_groups_record *r, bool *changed) {
    const int at = find_group(r->ids, *group_sid);
    if (at < 0) {
      char name[CREDUTL_CACHE_NAME_SIZE];
      ksi_server_sid_name(*group_sid, name, sizeof name);
      imsg_print(IMSG_WARNING, &ksi_server_id_nt_msgs,
                 KSI_SERVER_GROUP_NOT_THERE, name);
      return 0;
    }
    // The recorded order of the others is kept.
    memmove(&r->ids.groups[at], &r->ids.groups[at + 1],
            sizeof r->ids.groups[0] * (r->ids.ngroups - at - 1));
    --r->ids.ngroups;
    *changed = true;
    return 0;
  });
}

}  // extern "C"
