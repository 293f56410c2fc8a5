// Copying a directory: the target directory is created with its source's
// mode (kept writable by its owner until its contents are in place) and,
// when asked, the tree below it is copied by a walk: directories before
// their contents, their final mode after them, every other entry by
// ksi_copy_file.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexnt/nt_registry.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "file/fileutl_copy_internal.h"
#include "msg/msg_out.h"
#include "startup/ks_msgs.h"

namespace {

constexpr size_t kPathMax = 4096;
constexpr const char *kTraceClass = "ks/fileutl";
constexpr int kTraceLevel = 2;

// Creates directory `to` for the source directory `from` of mode `mode`;
// an existing directory is used as it is.
int make_directory(const ksi_copy_job &job, const char *from, const char *to,
                   mode_t mode) {
  char to_host[kPathMax];
  const int err = nt_map_path(to, to_host, sizeof to_host);
  if (err != 0) return ksi_copy_report(job, to, err);
  if (ksi_trace_on(kTraceClass, kTraceLevel))
    imsg_print(IMSG_TRACE, &ksi_ks_msgs, KSI_KS_TRACE_MKDIR, to,
               static_cast<unsigned>(mode & 07777), from);
  if (mkdir(to_host, (mode & 07777) | S_IRWXU) == 0) return 0;
  struct stat st;
  if (errno == EEXIST && stat(to_host, &st) == 0 && S_ISDIR(st.st_mode))
    return 0;
  return ksi_copy_report(job, to, errno);
}

// Gives a copied directory its source's mode.
int finish_directory(const ksi_copy_job &job, const char *to, mode_t mode) {
  char to_host[kPathMax];
  int err = nt_map_path(to, to_host, sizeof to_host);
  if (err == 0 && chmod(to_host, mode & 07777) != 0) err = errno;
  return err == 0 ? 0 : ksi_copy_report(job, to, err);
}

struct TreeCopy {
  const ksi_copy_job *job;
  const char *to;
  int last_error;
};

// The copy's path for an entry: the target root, then the entry's
// directory relative to the source root and its name, joined with '\'.
bool target_of(const TreeCopy &copy, const char *reldir, const char *name,
               int depth, char *out, size_t size) {
  const int len =
      depth == 0 ? std::snprintf(out, size, "%s", copy.to)
      : reldir[0] == '\0'
          ? std::snprintf(out, size, "%s\\%s", copy.to, name)
          : std::snprintf(out, size, "%s\\%s\\%s", copy.to, reldir, name);
  return len >= 0 && static_cast<size_t>(len) < size;
}

int visit(void *arg, const char *path, const char *, const char *reldir,
          const char *name, const struct stat *st, int phase, int depth) {
  auto *copy = static_cast<TreeCopy *>(arg);
  char target[kPathMax];
  int err;
  if (!target_of(*copy, reldir, name, depth, target, sizeof target))
    err = ksi_copy_report(*copy->job, path, ENAMETOOLONG);
  else if (!S_ISDIR(st->st_mode))
    err = ksi_copy_file(*copy->job, path, target);
  else if (phase == 1)
    err = make_directory(*copy->job, path, target, st->st_mode);
  else
    err = finish_directory(*copy->job, target, st->st_mode);
  if (err == 0) return 0;
  copy->last_error = err;
  // A directory that could not be made is not entered.
  return FILEUTL_CB_FAILED | (S_ISDIR(st->st_mode) ? FILEUTL_CB_NO_DESCEND : 0);
}

}  // namespace

int ksi_copy_directory(const ksi_copy_job &job, const char *from,
                       const char *to, const struct stat &st, int flags) {
  if ((flags & FILEUTL_WALK_DESCEND) == 0) {
    const int err = make_directory(job, from, to, st.st_mode);
    return err != 0 ? err : finish_directory(job, to, st.st_mode);
  }
  TreeCopy copy = {&job, to, 0};
  fileutl_visitor_t visitor = {
      nullptr, FILEUTL_VISIT_BEFORE | FILEUTL_VISIT_AFTER, visit, &copy};
  const int result = fileutl_walk_tree(from, &visitor, flags);
  if (result == 0) return 0;
  // The walk itself reports entries it cannot examine, without an errno.
  return copy.last_error != 0 ? copy.last_error : (errno != 0 ? errno : EIO);
}
