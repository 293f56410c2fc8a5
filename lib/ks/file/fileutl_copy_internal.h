// Copying files, links and directories, shared by the copy entry points
// and the recursive copy.
#pragma once

#include <sys/stat.h>

struct ksi_copy_job {
  bool quiet;     // no error messages
  bool follow;    // copy what a symbolic link points to, not the link
  bool progress;  // print a progress line per tenth of each file
};

// Copies the file or symbolic link `from` to `to` (paths in any form). 0,
// or an errno value after its message (unless quiet); `to` is then as it
// was before.
int ksi_copy_file(const ksi_copy_job &job, const char *from, const char *to);

// Creates directory `to` for the source directory `from` (status st) with
// the source's mode, and with the walk flag FILEUTL_WALK_DESCEND in flags
// copies its contents by a walk with those flags. 0, or an errno value
// after its message.
int ksi_copy_directory(const ksi_copy_job &job, const char *from,
                       const char *to, const struct stat &st, int flags);

// Prints "<path>: <error text>" unless the job is quiet; returns err.
int ksi_copy_report(const ksi_copy_job &job, const char *path, int err);
