// Whole files: reading one into memory, and writing a buffer out so that a
// failure never leaves a half-written file under the name.
#include <orvexks/fileutl.h>
#include <orvexks/stg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file/fileutl_internal.h"

namespace {

// One read or write call moves at most this much (below the host's limit
// of a little under 2 GiB per call).
constexpr uint64_t kMaxTransfer = 1u << 30;
constexpr size_t kXattrNames = 4096;
constexpr size_t kXattrValue = 65536;

std::atomic<unsigned> dump_counter{0};

int finish(int err, int *err_out) {
  if (err_out != nullptr) *err_out = err;
  errno = err;
  return 1;
}

// Writes all of buffer to fd: 0, or ENOSPC when a write wrote nothing,
// the write's errno, or EIO when the total came out short.
int write_all(int fd, const char *buffer, uint64_t length) {
  uint64_t done = 0;
  while (done < length) {
    const uint64_t chunk =
        length - done < kMaxTransfer ? length - done : kMaxTransfer;
    const ssize_t n = write(fd, buffer + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += static_cast<uint64_t>(n);
  }
  return done == length ? 0 : EIO;
}

int write_in_place(const char *host, const void *buffer, uint64_t length,
                   bool *opened) {
  const int fd = open(host, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  *opened = true;
  int err = write_all(fd, static_cast<const char *>(buffer), length);
  if (close(fd) != 0 && err == 0) err = errno;
  return err;
}

// Gives the replacement the existing file's mode, group and extended
// attributes (which carry its security descriptor). False when any of
// them cannot be carried over: the file is then written in place instead.
bool copy_attributes(const char *from, int fd, const struct stat *st) {
  if (fchmod(fd, st->st_mode & 07777) != 0 ||
      fchown(fd, static_cast<uid_t>(-1), st->st_gid) != 0)
    return false;
  char names[kXattrNames];
  const ssize_t n = listxattr(from, names, sizeof names);
  if (n <= 0) return n == 0 || errno == ENOTSUP;
  auto *value = static_cast<char *>(stg_malloc(kXattrValue));
  bool ok = value != nullptr;
  for (const char *name = names; ok && name < names + n;
       name += std::strlen(name) + 1) {
    const ssize_t len = getxattr(from, name, value, kXattrValue);
    ok = len >= 0 && fsetxattr(fd, name, value, len, 0) == 0;
  }
  stg_free(value);
  return ok;
}

// Writes through a new file beside host that is renamed over it. False
// when no such file can be made (the caller then writes in place); *err
// is the outcome otherwise.
bool write_replacing(const char *host, const struct stat *existing,
                     const void *buffer, uint64_t length, int *err) {
  char temp[ksi_host_path_max];
  const int n = std::snprintf(temp, sizeof temp, "%s.~%d.%u", host,
                              static_cast<int>(getpid()), dump_counter++);
  if (n < 0 || static_cast<size_t>(n) >= sizeof temp) return false;
  const int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (existing != nullptr && !copy_attributes(host, fd, existing)) {
    close(fd);
    unlink(temp);
    return false;
  }
  *err = write_all(fd, static_cast<const char *>(buffer), length);
  if (close(fd) != 0 && *err == 0) *err = errno;
  if (*err == 0 && rename(temp, host) != 0) *err = errno;
  if (*err != 0) unlink(temp);
  return true;
}

}  // namespace

int ksi_dump(const void *buffer, uint64_t length, const char *path,
             bool *opened) {
  char host[ksi_host_path_max];
  *opened = false;
  int err = ksi_map_host_path(path, host);
  if (err != 0) return err;
  // Only a plain file of ours with a single name can be replaced without
  // the caller noticing; anything else is written where it is.
  struct stat st;
  const bool exists = lstat(host, &st) == 0;
  const bool replaceable =
      !exists ||
      (S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid());
  if (replaceable &&
      write_replacing(host, exists ? &st : nullptr, buffer, length, &err)) {
    *opened = true;
    return err;
  }
  return write_in_place(host, buffer, length, opened);
}

extern "C" {

int fileutl_load(const char *path, stg_area_t area, void **data_out,
                 uint64_t *size_out, int *err_out) {
  char host[ksi_host_path_max];
  int err = ksi_map_host_path(path, host);
  if (err != 0) return finish(err, err_out);
  const int fd = open(host, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return finish(errno, err_out);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    err = errno;
    close(fd);
    return finish(err, err_out);
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  if (fileutl_chk_large_file_overflow(size, path)) {
    close(fd);
    return finish(EFBIG, err_out);
  }
  auto *data = static_cast<char *>(stg_alloc(area, size + 1));
  if (data == nullptr) {
    close(fd);
    return finish(ENOMEM, err_out);
  }
  uint64_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<uint64_t>(n);
  }
  close(fd);
  if (err != 0) {
    if (area == STG_AREA_HEAP) stg_free(data);
    return finish(err, err_out);
  }
  data[size] = '\0';
  *data_out = data;
  if (size_out != nullptr) *size_out = size;
  return 0;
}

int fileutl_dump(const void *buffer, uint64_t length, const char *path,
                 int *err_out) {
  bool opened = false;
  const int err = ksi_dump(buffer, length, path, &opened);
  return err == 0 ? 0 : finish(err, err_out);
}

}  // extern "C"
