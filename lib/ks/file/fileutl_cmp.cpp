// Comparing two files' contents: sizes first, then the same file by name,
// then block by block.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/pfm.h>
#include <orvexnt/nt_registry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "startup/ks_msgs.h"

namespace {

constexpr size_t kBlock = 8192;
constexpr size_t kPathMax = 4096;

// Reads the status of the file named path into *st and its host path
// into host_path (kPathMax bytes). False after the message (unless quiet)
// with errno set.
bool examine(const char *path, bool quiet, struct stat *st, char *host_path) {
  int rc = nt_map_path(path, host_path, kPathMax);
  if (rc == 0 && stat(host_path, st) != 0) rc = errno;
  if (rc == 0) return true;
  if (!quiet)
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_PATH_ERROR, path,
               imsg_strerror(rc));
  errno = rc;
  return false;
}

// Opens an examined file read-only; -1 after the message (unless quiet)
// with errno set.
int open_examined(const char *path, const char *host_path, bool quiet) {
  const int fd = open(host_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int rc = errno;
    if (!quiet)
      imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_CANT_OPEN, path,
                 imsg_strerror(rc));
    errno = rc;
  }
  return fd;
}

// Reads up to a block, retrying interrupted and short reads; the count,
// or -1 with errno.
ssize_t read_block(int fd, char *buf) {
  size_t have = 0;
  while (have < kBlock) {
    const ssize_t got = read(fd, buf + have, kBlock - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(have);
}

bool same_path(const char *a, const char *b) {
  char full_a[kPathMax], full_b[kPathMax];
  return fileutl_abspn(a, full_a, sizeof full_a) == 0 &&
         fileutl_abspn(b, full_b, sizeof full_b) == 0 &&
         fileutl_pname_equal(full_a, full_b);
}

// 1 equal, 0 different, -1 failed (errno).
int compare_open(const char *a, int fd_a, const char *b, int fd_b, bool quiet) {
  char block_a[kBlock], block_b[kBlock];
  for (;;) {
    const ssize_t got_a = read_block(fd_a, block_a);
    const ssize_t got_b = got_a < 0 ? 0 : read_block(fd_b, block_b);
    if (got_a < 0 || got_b < 0) {
      const int err = errno;
      if (!quiet)
        imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_CANT_READ_FILE,
                   got_a < 0 ? a : b, imsg_strerror(err));
      errno = err;
      return -1;
    }
    if (got_a != got_b) {
      // The sizes agreed a moment ago: one of the files changed since.
      if (!quiet)
        imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_COMPARE_SIZE_DIFFERS, a, b);
      return 0;
    }
    if (got_a == 0) return 1;
    if (std::memcmp(block_a, block_b, static_cast<size_t>(got_a)) != 0)
      return 0;
  }
}

int compare(const char *a, const char *b, bool quiet, int *equal_out) {
  // Both statuses first, then both opens.
  struct stat st_a, st_b;
  char host_a[kPathMax], host_b[kPathMax];
  if (!examine(a, quiet, &st_a, host_a) || !examine(b, quiet, &st_b, host_b))
    return -1;
  const int fd_a = open_examined(a, host_a, quiet);
  if (fd_a < 0) return -1;
  const int fd_b = open_examined(b, host_b, quiet);
  if (fd_b < 0) {
    const int err = errno;
    close(fd_a);
    errno = err;
    return -1;
  }
  int result;
  if (st_a.st_size != st_b.st_size)
    result = 0;
  else if (same_path(a, b))
    result = 1;
  else
    result = compare_open(a, fd_a, b, fd_b, quiet);
  const int err = errno;
  close(fd_a);
  close(fd_b);
  if (result < 0) {
    errno = err;
    return -1;
  }
  *equal_out = result;
  return 0;
}

}  // namespace

extern "C" {

// Asynchronous raises are held off while descriptors are open: messages
// are delivery points.
int fileutl_cmp(const char *a, const char *b, int quiet, int *equal_out) {
  if (a == nullptr || b == nullptr || equal_out == nullptr) {
    errno = EINVAL;
    return -1;
  }
  pfm_inhibit();
  const int rc = compare(a, b, quiet != 0, equal_out);
  const int err = errno;
  pfm_enable();
  errno = err;
  return rc;
}

}  // extern "C"
