// The copy entry points: a file or link is copied by ksi_copy_file; a
// directory is created with its source's mode and, with the descend flag,
// its contents are copied by a tree walk.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/pfm.h>
#include <orvexnt/nt_registry.h>

#include <sys/stat.h>

#include <cerrno>

#include "file/fileutl_copy_internal.h"
#include "msg/msg_out.h"
#include "startup/ks_msgs.h"

namespace {

constexpr size_t kPathMax = 4096;
constexpr int kWalkNoFollow = 8;
constexpr int kWalkQuiet = 16;
constexpr int kFailed = -4;

int copy_held(const char *from, const char *to, int flags, bool progress) {
  const ksi_copy_job job = {(flags & kWalkQuiet) != 0,
                            (flags & kWalkNoFollow) == 0, progress};
  char from_host[kPathMax];
  struct stat st;
  int err = nt_map_path(from, from_host, sizeof from_host);
  if (err == 0 && (job.follow ? stat(from_host, &st) : lstat(from_host, &st)))
    err = errno;
  if (err != 0)
    ksi_copy_report(job, from, err);
  else if (S_ISDIR(st.st_mode))
    err = ksi_copy_directory(job, from, to, st, flags);
  else
    err = ksi_copy_file(job, from, to);
  return err;
}

// Asynchronous raises are held off for the whole copy: messages are
// delivery points, and a raise there would leave descriptors open and a
// temporary file behind.
int copy(const char *from, const char *to, int flags, bool progress) {
  if (from == nullptr || to == nullptr) {
    errno = EINVAL;
    return kFailed;
  }
  pfm_inhibit();
  const int err = copy_held(from, to, flags, progress);
  pfm_enable();
  if (err == 0) return 0;
  errno = err;
  return kFailed;
}

}  // namespace

extern "C" {

int fileutl_cp(const char *from, const char *to, int flags) {
  return copy(from, to, flags, false);
}

int fileutl_copy_with_progress(const char *from, const char *to, int flags) {
  return copy(from, to, flags, true);
}

}  // extern "C"
