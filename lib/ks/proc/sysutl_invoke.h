// Starting programs: the pieces the invocation, editing and shell files
// share.
#pragma once

#include <orvexks/sysutl.h>

#include <sys/types.h>

// The interpreter's path into out (SYSUTL_PATH_SIZE bytes): $COMSPEC when
// it was set and shorter than SYSUTL_PATH_SIZE at the first call, else
// /bin/sh; with system_only always /bin/sh.
void ksi_shell_path(char *out, int system_only);

// A started child: its pid, its pidfd (-1 when none could be had) and the
// read end of the pipe holding its standard output and error (-1 when its
// output is not captured).
struct ksi_child {
  pid_t pid;
  int pidfd;
  int out_fd;
};

// Starts path with argv and the process's environment, serialised with
// other starts by the sysutl mutex. capture: standard output and error go
// into a pipe. 0, or the error number (nothing is left open).
int ksi_child_start(const char *path, char *const argv[], bool capture,
                    ksi_child *child);
// Waits for the child, printing captured output line by line and calling
// the listener's ticks; closes its descriptors and reaps it. Its exit code
// (128 + the signal when a signal ended it), or -1 with errno.
int ksi_child_wait(ksi_child *child, const sysutl_listener_t *listener);

// The common routine of the sysutl_*_redirect calls. quiet: a start
// failure is not reported (the caller reports it its own way).
int ksi_invoke(int mode, const char *prog_or_cmd, char *const argv[],
               const sysutl_listener_t *listener, int *err_out, bool quiet);
