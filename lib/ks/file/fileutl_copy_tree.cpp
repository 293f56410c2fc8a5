// Copying a directory: the target directory is created with its source's
// mode (kept writable by its owner while it is being filled). Copying the
// tree below it needs the tree walker, which this build does not have yet:
// such a copy fails with ENOSYS before anything is made.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexnt/nt_registry.h>

#include <sys/stat.h>

#include <cerrno>

#include "file/fileutl_copy_internal.h"
#include "msg/msg_out.h"
#include "startup/ks_msgs.h"

namespace {

constexpr size_t kPathMax = 4096;
constexpr const char *kTraceClass = "ks/fileutl";
constexpr int kTraceLevel = 2;

// Creates directory `to` for the source directory `from` of mode `mode`;
// an existing directory is used as it is. *created tells which.
int make_directory(const ksi_copy_job &job, const char *from, const char *to,
                   mode_t mode, bool *created) {
  char to_host[kPathMax];
  const int err = nt_map_path(to, to_host, sizeof to_host);
  if (err != 0) return ksi_copy_report(job, to, err);
  if (ksi_trace_on(kTraceClass, kTraceLevel))
    imsg_print(IMSG_TRACE, &ksi_ks_msgs, KSI_KS_TRACE_MKDIR, to,
               static_cast<unsigned>(mode), from);
  *created = mkdir(to_host, (mode & 07777) | S_IRWXU) == 0;
  if (*created) return 0;
  struct stat st;
  if (errno == EEXIST && stat(to_host, &st) == 0 && S_ISDIR(st.st_mode))
    return 0;
  return ksi_copy_report(job, to, errno);
}

// Gives a directory made by make_directory its source's mode.
int finish_directory(const ksi_copy_job &job, const char *to, mode_t mode) {
  char to_host[kPathMax];
  int err = nt_map_path(to, to_host, sizeof to_host);
  if (err == 0 && chmod(to_host, mode & 07777) != 0) err = errno;
  return err == 0 ? 0 : ksi_copy_report(job, to, err);
}

}  // namespace

int ksi_copy_directory(const ksi_copy_job &job, const char *from,
                       const char *to, const struct stat &st, bool descend) {
  if (descend) return ksi_copy_report(job, from, ENOSYS);
  bool created = false;
  int err = make_directory(job, from, to, st.st_mode, &created);
  if (err == 0 && created) err = finish_directory(job, to, st.st_mode);
  return err;
}
