// Removing a file or a tree, and adding up the sizes in a tree: each one
// walk with a single visitor.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file/fileutl_internal.h"
#include "startup/ks_msgs.h"

namespace {

// Removes one entry: directories after their contents, links themselves.
// A file that cannot be unlinked because it is a directory is removed as
// one.
int remove_entry(void *arg, const char *path, const char *, const char *,
                 const char *, const struct stat *st, int, int) {
  const int flags = *static_cast<const int *>(arg);
  if ((flags & FILEUTL_RM_TRACE) != 0)
    imsg_print(IMSG_TRACE, &ksi_ks_msgs, KSI_KS_TRACE_UNLINK, path);
  char host[ksi_host_path_max];
  int err = ksi_map_host_path(path, host);
  if (err == 0) {
    const bool dir = S_ISDIR(st->st_mode);
    err = (dir ? rmdir(host) : unlink(host)) == 0 ? 0 : errno;
    if (!dir && (err == EISDIR || err == EPERM) && rmdir(host) == 0) err = 0;
  }
  if (err == 0) return 0;
  if ((flags & FILEUTL_WALK_QUIET) == 0) ksi_print_path_error(path, err);
  return FILEUTL_CB_FAILED;
}

int add_size(void *arg, const char *, const char *, const char *, const char *,
             const struct stat *st, int, int) {
  *static_cast<double *>(arg) += static_cast<double>(st->st_size);
  return 0;
}

}  // namespace

extern "C" {

int fileutl_rm(const char *path, int flags) {
  int visitor_flags = flags;
  fileutl_visitor_t remover = {nullptr, FILEUTL_VISIT_AFTER, remove_entry,
                               &visitor_flags};
  // A link is removed, never followed: following one would empty the
  // directory it points at.
  return fileutl_walk_tree(path, &remover,
                           (flags & ~FILEUTL_WALK_STAT) | FILEUTL_WALK_LSTAT);
}

int fileutl_du(const char *root, int flags, double *total_out) {
  *total_out = 0;
  fileutl_visitor_t adder = {nullptr, FILEUTL_VISIT_AFTER, add_size, total_out};
  return fileutl_walk_tree(root, &adder, flags);
}

}  // extern "C"
