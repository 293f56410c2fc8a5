// The server's host-name file (which host serves a storage directory) and
// its lock files (one server process at a time).
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/server.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file/fileutl_internal.h"
#include "protect/server_internal.h"
#include "startup/ks_msgs.h"

namespace {

constexpr const char *kHostnameFile = ".hostname";

// Opens the host path of path; -1 with errno.
int open_mapped(const char *path, int flags, mode_t mode) {
  char host[ksi_host_path_max];
  const int err = ksi_map_host_path(path, host);
  if (err != 0) {
    errno = err;
    return -1;
  }
  return open(host, flags | O_CLOEXEC, mode);
}

bool write_all(int fd, const char *text, size_t len) {
  while (len > 0) {
    const ssize_t n = write(fd, text, len);
    if (n <= 0) return false;
    text += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

extern "C" {

int server_validate_hostname(const char *dir, char *buf) {
  if (buf == nullptr) return 0;
  buf[0] = '\0';
  if (dir == nullptr) return 0;
  char path[kKsiServerPathMax];
  if (!ksi_server_join(dir, kHostnameFile, path)) return 0;
  const int fd = open_mapped(path, O_RDONLY, 0);
  if (fd < 0) {
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_CANT_OPEN, path,
               imsg_strerror(errno));
    return 0;
  }
  // Only the first line counts; it holds at most 63 characters.
  char line[SERVER_HOSTNAME_SIZE];
  const ssize_t n = read(fd, line, sizeof line - 1);
  const int err = errno;
  close(fd);
  if (n < 0) {
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_CANT_READ_FILE, path,
               imsg_strerror(err));
    return 0;
  }
  line[n] = '\0';
  line[strcspn(line, "\r\n")] = '\0';
  if (line[0] == '\0') return 0;
  memcpy(buf, line, strlen(line) + 1);
  return fileutl_is_localhost(buf) ? 1 : -1;
}

int server_create_hostname_file(const char *dir, const char *host,
                                const credutl_sid_credentials_t *creds) {
  char path[kKsiServerPathMax];
  if (dir == nullptr || host == nullptr || creds == nullptr ||
      !ksi_server_join(dir, kHostnameFile, path))
    return 1;
  // The file is kept read-only for everyone: make it writable first.
  if (fileutl_exists(path, 1)) server_protect_fsobj(path, creds, 0, 0200);
  const int fd = open_mapped(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_CANT_OPEN, path,
               imsg_strerror(errno));
    return 1;
  }
  const bool written =
      write_all(fd, host, strlen(host)) && write_all(fd, "\n", 1);
  const int err = errno;
  close(fd);
  if (!written)
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_OPERATION_ON_FAILED, "write",
               path, imsg_strerror(err));
  server_protect_fsobj(path, creds, -1, 0444);
  return 0;
}

int server_lock_set(const char *path, int *holder_out) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  const int fd = open_mapped(path, O_RDWR | O_CREAT, 0644);
  if (fd < 0) {
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_CANT_OPEN, path,
               imsg_strerror(errno));
    return -1;
  }
  const int rc = fileutl_lockfd(fd, 0, 0);
  if (rc == 0) return fd;
  close(fd);
  if (rc == EACCES) {
    // Record locks do not say who holds them in a form callers can use.
    if (holder_out != nullptr) *holder_out = SERVER_LOCK_HOLDER_UNKNOWN;
    return SERVER_LOCK_HELD;
  }
  imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_OPERATION_ON_FAILED,
             "fileutl_lockfd", path, imsg_strerror(rc));
  errno = rc;
  return -1;
}

int server_lock_clear(const char *path, int fd) {
  if (fd > 0) {
    fileutl_unlockfd(fd, 0, 0);
    close(fd);
  }
  if (path == nullptr) return EINVAL;
  char host[ksi_host_path_max];
  int err = ksi_map_host_path(path, host);
  if (err == 0 && unlink(host) != 0) err = errno;
  return err;
}

}  // extern "C"
