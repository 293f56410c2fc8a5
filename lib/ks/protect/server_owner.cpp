// Handing a storage tree to a new owner ("new.owner", then
// server_take_ownership) and moving it to another administrative group.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/server.h>

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_security.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file/fileutl_internal.h"
#include "protect/server_id_nt_msgs.h"
#include "protect/server_internal.h"
#include "protect/server_owner_file.h"
#include "protect/server_sd_edit.h"

namespace {

constexpr const char *kOwnerFile = "new.owner";
// Field widths of the file's line: the name and the SID text.
constexpr size_t kNameField = 64;
constexpr size_t kSidField = 100;

// Gives one object to owner: a protection layout keeps its group and mode
// under the new owner entry; any other descriptor gets the new descriptor
// owner. 0, or the errno value.
int assign_owner(const char *path, bool is_dir, const nt_sid_t *owner) {
  ksi_prot prot;
  int err = ksi_read_protections(path, &prot);
  if (err == 0 && prot.mode >= 0) {
    uint8_t group[NT_SID_MAX_LENGTH];
    err = ksi_server_nt_sid(&prot.group, group)
              ? ksi_write_layout(path, owner, ksi_as_sid(group), prot.mode,
                                 is_dir, true)
              : EINVAL;
  } else if (err == 0) {
    nt_security_descriptor_t *sd = nullptr;
    size_t size = 0;
    uint32_t rc = static_cast<uint32_t>(
        nt_sd_build(owner, nullptr, nullptr, 0, &sd, &size));
    if (rc == 0)
      rc = ksi_set_security(path, NT_OWNER_SECURITY_INFORMATION, sd, size);
    nt_sd_free(sd);
    err = rc == 0 ? 0 : ksi_server_errno(rc);
  }
  if (!ksi_server_tracing()) return err;
  if (err == 0)
    imsg_print(IMSG_TRACE, &ksi_server_id_nt_msgs,
               KSI_SERVER_TRACE_TOOK_OWNERSHIP, path);
  else
    imsg_print(IMSG_TRACE, &ksi_server_id_nt_msgs,
               KSI_SERVER_TRACE_OWNERSHIP_FAILED, path, imsg_strerror(err));
  return err;
}

struct OwnerWalk {
  const nt_sid_t *owner;
  int first_error;
};

int take_entry(void *arg, const char *path, const char *, const char *,
               const char *, const struct stat *st, int, int) {
  auto *w = static_cast<OwnerWalk *>(arg);
  if (S_ISLNK(st->st_mode)) return 0;
  const bool is_dir = S_ISDIR(st->st_mode);
  if (is_dir)
    imsg_print(IMSG_INFO, &ksi_server_id_nt_msgs, KSI_SERVER_PROTECTING, path);
  const int err = assign_owner(path, is_dir, w->owner);
  if (err != 0 && w->first_error == 0) w->first_error = err;
  return 0;
}

// Reads "new.owner": the name and the SID. 0, or an errno value (printed).
int read_owner_file(const char *path, char *name, nt_sid_t **sid_out) {
  char host[ksi_host_path_max];
  int err = ksi_map_host_path(path, host);
  FILE *f = err == 0 ? fopen(host, "r") : nullptr;
  if (f == nullptr) {
    if (err == 0) err = errno;
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_CANT_READ_OWNERSHIP_FILE, path, imsg_strerror(err));
    return err;
  }
  char sid_text[kSidField];
  const int fields = fscanf(f, "%63s %99s\n", name, sid_text);
  fclose(f);
  if (fields != 2) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_CORRUPT_OWNERSHIP_FILE, path);
    return EINVAL;
  }
  *sid_out = nt_str_to_sid(sid_text);
  if (*sid_out == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_CANT_CONVERT_SID,
               sid_text);
    return EINVAL;
  }
  return 0;
}

// The group recorded for dir and its recorded mode.
struct Recorded {
  credutl_sid_credentials_t ids;
  int mode;
};

int read_recorded(const char *dir, Recorded *r) {
  const int err = server_get_ids(dir, &r->ids);
  if (err != 0) return err;
  char identity[kKsiServerPathMax];
  ksi_prot prot;
  r->mode = ksi_server_join(dir, "identity.sd", identity) &&
                    fileutl_exists(identity, 1) &&
                    ksi_read_protections(identity, &prot) == 0
                ? prot.mode
                : 0755;
  return 0;
}

struct GroupSwap {
  const nt_sid_t *from;
  const nt_sid_t *to;
  int first_error;
};

bool swap_entry(void *arg, nt_ace_info_t *ace) {
  const auto *s = static_cast<const GroupSwap *>(arg);
  if (ace->sid != nullptr && nt_sid_equal(ace->sid, s->from)) ace->sid = s->to;
  return true;
}

int swap_in_object(void *arg, const char *path, const char *, const char *,
                   const char *, const struct stat *st, int, int) {
  auto *s = static_cast<GroupSwap *>(arg);
  if (S_ISLNK(st->st_mode)) return 0;
  const uint32_t rc =
      ksi_edit_dacl(path, swap_entry, s, s->from, s->to, nullptr);
  if (rc != 0 && s->first_error == 0) s->first_error = ksi_server_errno(rc);
  return 0;
}

}  // namespace

int ksi_write_owner_file(const char *dir,
                         const credutl_sid_credentials_t &ids) {
  char path[kKsiServerPathMax];
  if (!ksi_server_join(dir, kOwnerFile, path)) return ENAMETOOLONG;
  uint8_t sid[NT_SID_MAX_LENGTH];
  char name[CREDUTL_CACHE_NAME_SIZE];
  char sid_text[NT_SID_STRING_MAX];
  if (!ksi_server_nt_sid(&ids.user, sid) ||
      nt_sid_to_str(ksi_as_sid(sid), sid_text, sizeof sid_text) == nullptr)
    return EINVAL;
  ksi_server_sid_name(ids.user, name, sizeof name);
  ksi_remove_object(path);
  int err = server_create_fsobj(path, &ids, 0664, 0);
  if (err != 0) return err;
  char host[ksi_host_path_max];
  err = ksi_map_host_path(path, host);
  FILE *f = err == 0 ? fopen(host, "w") : nullptr;
  if (f == nullptr && err == 0) err = errno;
  if (f != nullptr) {
    fprintf(f, "%s %s\n", name, sid_text);
    if (fclose(f) != 0) err = errno;
  }
  if (err != 0) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_CANT_WRITE_OWNERSHIP_FILE, path, imsg_strerror(err));
    return err;
  }
  return server_protect_fsobj(path, &ids, -1, 0444);
}

extern "C" {

int server_take_ownership(const char *dir, int *done_out) {
  if (done_out != nullptr) *done_out = 0;
  char path[kKsiServerPathMax];
  if (dir == nullptr || !ksi_server_join(dir, kOwnerFile, path)) return EINVAL;
  int has_acl = 0;
  if (nt_fs_has_acl(dir, &has_acl) != 0 || !has_acl) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_CANT_TELL_ACL_SUPPORT, dir);
    return EINVAL;
  }
  char name[kNameField];
  nt_sid_t *owner = nullptr;
  int err = read_owner_file(path, name, &owner);
  if (err != 0) return err;
  // The SID is copied to this frame: messages below may leave it by a
  // raise.
  uint8_t new_owner[NT_SID_MAX_LENGTH] = {};
  memcpy(new_owner, owner, nt_sid_length(owner));
  nt_sid_free(owner);
  ksi_prot prot;
  if (ksi_read_protections(path, &prot) != 0 || prot.mode < 0) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_MISPROTECTED_OWNERSHIP_FILE, path);
    return EINVAL;
  }
  nt_sid_t *self = nt_get_user_sid();
  // The new owner completes the hand-over; so may a server that can give
  // files to other owners.
  const bool may =
      (self != nullptr && nt_sid_equal(self, ksi_as_sid(new_owner))) ||
      nt_is_chown_privileged();
  nt_sid_free(self);
  if (!may) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_RELOGIN_EMPHASIZED, name);
    return 0;
  }
  OwnerWalk w = {ksi_as_sid(new_owner), 0};
  fileutl_visitor_t v = {nullptr, FILEUTL_VISIT_BEFORE, take_entry, &w};
  const int rc = fileutl_walk_tree(
      dir, &v, FILEUTL_WALK_DESCEND | FILEUTL_WALK_LSTAT | FILEUTL_WALK_QUIET);
  err = w.first_error != 0 ? w.first_error : rc != 0 ? EIO : 0;
  if (err == 0 && done_out != nullptr) *done_out = 1;
  return err;
}

int server_replace_server_process_group(const char *dir,
                                        const credutl_sid_t *old_sid,
                                        const credutl_sid_t *new_sid) {
  if (dir == nullptr) {
    errno = EINVAL;
    return FILEUTL_CB_FAILED;
  }
  Recorded r;
  int err = read_recorded(dir, &r);
  if (err != 0) {
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs,
               KSI_SERVER_CANT_READ_SECURITY_FILE, dir, imsg_strerror(err));
    errno = err;
    return FILEUTL_CB_FAILED;
  }
  uint8_t from[NT_SID_MAX_LENGTH];
  uint8_t to[NT_SID_MAX_LENGTH];
  const nt_sid_t *product = nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP);
  const bool have_from =
      ksi_server_nt_sid(old_sid != nullptr ? old_sid : &r.ids.group, from);
  bool have_to = false;
  if (new_sid != nullptr) {
    have_to = ksi_server_nt_sid(new_sid, to);
  } else if (product != nullptr) {
    memcpy(to, product, nt_sid_length(product));
    have_to = true;
  }
  if (!have_from || !have_to) {
    errno = EINVAL;
    return FILEUTL_CB_FAILED;
  }
  GroupSwap s = {ksi_as_sid(from), ksi_as_sid(to), 0};
  fileutl_visitor_t v = {nullptr, FILEUTL_VISIT_BEFORE, swap_in_object, &s};
  fileutl_walk_tree(
      dir, &v, FILEUTL_WALK_DESCEND | FILEUTL_WALK_LSTAT | FILEUTL_WALK_QUIET);
  credutl_sid_credentials_t ids = r.ids;
  if (credutl_sid_eq(&ids.group, old_sid != nullptr ? old_sid : &r.ids.group))
    credutl_nt_sid_to_sid(ksi_as_sid(to), &ids.group);
  err = server_set_ids_flag(dir, &ids, (r.mode & 020) != 0);
  if (s.first_error == 0) s.first_error = err;
  if (s.first_error == 0) return 0;
  errno = s.first_error;
  return FILEUTL_CB_FAILED;
}

}  // extern "C"
