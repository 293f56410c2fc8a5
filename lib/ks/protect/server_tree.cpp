// Protecting and removing whole trees: one walk each, going on after a
// failure and keeping the first error.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/ks_product.h>
#include <orvexks/server.h>

#include <sys/stat.h>

#include <cerrno>

#include "protect/server_id_nt_msgs.h"
#include "protect/server_internal.h"
#include "startup/ks_msgs.h"

namespace {

struct ProtectArgs {
  const credutl_sid_credentials_t *dir_creds, *file_creds;
  int dir_clear, dir_set, file_clear, file_set;
  bool quiet;
  int first_error;
};

int protect_entry(void *arg, const char *path, const char *, const char *,
                  const char *, const struct stat *st, int, int) {
  auto *a = static_cast<ProtectArgs *>(arg);
  // A link is not followed: what it points at belongs to another tree.
  if (S_ISLNK(st->st_mode)) return 0;
  // Objects are protected by their full names, which must fit the
  // library's directory buffers.
  char full[KS_DIR_BUF_SIZE];
  int err;
  if (fileutl_abspn(path, full, sizeof full) != 0) {
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_NO_ABSOLUTE_PATH, path);
    err = errno != 0 ? errno : ENAMETOOLONG;
  } else if (S_ISDIR(st->st_mode)) {
    if (!a->quiet)
      imsg_print(IMSG_INFO, &ksi_server_id_nt_msgs, KSI_SERVER_PROTECTING,
                 path);
    err = server_protect_fsobj(full, a->dir_creds, a->dir_clear, a->dir_set);
  } else {
    err = server_protect_fsobj(full, a->file_creds, a->file_clear, a->file_set);
  }
  if (err != 0 && a->first_error == 0) a->first_error = err;
  return 0;
}

struct RemoveArgs {
  int flags;
  int first_error;
};

int remove_entry(void *arg, const char *path, const char *, const char *,
                 const char *, const struct stat *, int, int) {
  auto *a = static_cast<RemoveArgs *>(arg);
  if ((a->flags & FILEUTL_RM_TRACE) != 0 || ksi_server_tracing())
    imsg_print(IMSG_TRACE, &ksi_server_id_nt_msgs, KSI_SERVER_TRACE_REMOVE,
               path);
  const int err = ksi_remove_object(path);
  if (err == 0) return 0;
  if ((a->flags & FILEUTL_WALK_QUIET) == 0)
    imsg_print(IMSG_ERROR, &ksi_server_id_nt_msgs, KSI_SERVER_PATH_ERROR, path,
               imsg_strerror(err));
  if (a->first_error == 0) a->first_error = err;
  return 0;
}

}  // namespace

extern "C" {

int server_protect_tree(const char *root,
                        const credutl_sid_credentials_t *dir_creds,
                        const credutl_sid_credentials_t *file_creds,
                        int dir_clear, int dir_set, int file_clear,
                        int file_set, int quiet) {
  if (root == nullptr || dir_creds == nullptr || file_creds == nullptr) {
    errno = EINVAL;
    return 0;
  }
  ProtectArgs a = {dir_creds,  file_creds, dir_clear,  dir_set,
                   file_clear, file_set,   quiet != 0, 0};
  fileutl_visitor_t v = {nullptr, FILEUTL_VISIT_BEFORE, protect_entry, &a};
  const int rc = fileutl_walk_tree(
      root, &v, FILEUTL_WALK_DESCEND | FILEUTL_WALK_LSTAT | FILEUTL_WALK_QUIET);
  if (a.first_error == 0 && rc != 0) a.first_error = errno != 0 ? errno : EIO;
  if (a.first_error == 0) return 1;
  errno = a.first_error;
  return 0;
}

int server_remove_tree(const char *root, int flags) {
  if (root == nullptr) return EINVAL;
  RemoveArgs a = {flags, 0};
  fileutl_visitor_t v = {nullptr, FILEUTL_VISIT_AFTER, remove_entry, &a};
  const int rc = fileutl_walk_tree(
      root, &v,
      (flags & FILEUTL_WALK_QUIET) | FILEUTL_WALK_DESCEND | FILEUTL_WALK_LSTAT);
  if (a.first_error == 0 && rc != 0) a.first_error = errno != 0 ? errno : EIO;
  if (a.first_error != 0) errno = a.first_error;
  return a.first_error;
}

}  // extern "C"
