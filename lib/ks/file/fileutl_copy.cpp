// Copying files, links and directories. A file is written under a
// temporary name in the target's directory and renamed over the target
// only when its content, mode and security descriptor are all in place, so
// a failure (a full file system, a source that changes size) leaves the
// target as it was and no temporary file behind.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexnt/nt_registry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "file/fileutl_copy_internal.h"
#include "file/fileutl_internal.h"
#include "msg/msg_out.h"
#include "startup/ks_msgs.h"

namespace {

constexpr size_t kPathMax = 4096;
constexpr const char *kTraceClass = "ks/fileutl";
constexpr int kTraceLevel = 2;
// The extended attribute that holds a file's security descriptor.
constexpr const char *kDescriptorAttr = "user.orvex.ntsd";
constexpr size_t kDescriptorMax = 65536;
// Bytes per step: large steps when nobody watches, a progress line's worth
// of work otherwise.
constexpr size_t kQuietChunk = size_t{8} << 20;
constexpr size_t kProgressChunk = size_t{64} << 10;
constexpr size_t kBufferSize = size_t{128} << 10;
// copy_content's result for a source that changed size (reported there).
constexpr int kChangedSize = -1;

// The temporary name beside host path `to`: its directory and a hidden
// name that mkstemp completes.
bool temporary_template(const char *to, char *out, size_t size) {
  const char *slash = std::strrchr(to, '/');
  const int dir_len = slash == nullptr ? 0 : static_cast<int>(slash - to + 1);
  const int len =
      std::snprintf(out, size, "%.*s.fileutl_cp.XXXXXX", dir_len, to);
  if (len < 0 || static_cast<size_t>(len) >= size) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

// Copies the source's security descriptor, when it has one, to fd. A
// target file system without user attributes takes none, silently.
void copy_descriptor(int from_fd, int to_fd) {
  char *value = static_cast<char *>(std::malloc(kDescriptorMax));
  if (value == nullptr) return;
  const ssize_t n = fgetxattr(from_fd, kDescriptorAttr, value, kDescriptorMax);
  if (n < 0 && errno != ENODATA && errno != ENOTSUP &&
      ksi_trace_on(kTraceClass, kTraceLevel))
    imsg_print(IMSG_TRACE, &ksi_ks_msgs, KSI_KS_TRACE_GET_SD_FAILED, errno);
  if (n > 0 &&
      fsetxattr(to_fd, kDescriptorAttr, value, static_cast<size_t>(n), 0) !=
          0 &&
      errno != ENOTSUP && ksi_trace_on(kTraceClass, kTraceLevel))
    imsg_print(IMSG_TRACE, &ksi_ks_msgs, KSI_KS_TRACE_SET_SD_FAILED, errno);
  std::free(value);
}

void print_progress(const char *from, double percent) {
  imsg_print(IMSG_OUTPUT, &ksi_ks_msgs, KSI_KS_COPY_PROGRESS, from, percent);
}

// Moves up to n bytes from in to out: in-kernel when the system can, else
// through a buffer (allocated on first need). The count, 0 at the end, or
// -1 with errno.
ssize_t move_bytes(int in, int out, size_t n, bool *kernel, char **buffer) {
  if (*kernel) {
    const ssize_t moved = copy_file_range(in, nullptr, out, nullptr, n, 0);
    if (moved >= 0 || (errno != EXDEV && errno != ENOSYS && errno != EINVAL &&
                       errno != EOPNOTSUPP))
      return moved;
    *kernel = false;
  }
  if (*buffer == nullptr &&
      (*buffer = static_cast<char *>(std::malloc(kBufferSize))) == nullptr) {
    errno = ENOMEM;
    return -1;
  }
  ssize_t got;
  do got = read(in, *buffer, n < kBufferSize ? n : kBufferSize);
  while (got < 0 && errno == EINTR);
  for (ssize_t done = 0; done < got;) {
    const ssize_t put = write(out, *buffer + done, got - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      return -1;
    }
    done += put;
  }
  return got;
}

// Copies the content of in (expected bytes) to out. A source that grows is
// noticed after one byte more than expected; one that shrinks by ending
// early. 0, an errno value, or kChangedSize after its message.
int copy_content(const ksi_copy_job &job, const char *from, int in, int out,
                 uint64_t expected) {
  const size_t chunk = job.progress ? kProgressChunk : kQuietChunk;
  bool kernel = true;
  char *buffer = nullptr;
  uint64_t copied = 0;
  uint64_t tenths = 0;
  int err = 0;
  for (;;) {
    const uint64_t room = expected + 1 - copied;
    const ssize_t moved =
        move_bytes(in, out, room < chunk ? room : chunk, &kernel, &buffer);
    if (moved < 0) {
      err = errno;
      break;
    }
    if (moved == 0) break;
    copied += static_cast<uint64_t>(moved);
    if (copied > expected) break;
    if (job.progress && expected > 0 && copied * 10 / expected > tenths &&
        copied < expected) {
      tenths = copied * 10 / expected;
      print_progress(from, 100.0 * copied / expected);
    }
  }
  std::free(buffer);
  if (err != 0) return err;
  struct stat now;
  if (copied != expected || (fstat(in, &now) == 0 &&
                             static_cast<uint64_t>(now.st_size) != expected)) {
    if (!job.quiet)
      imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_FILE_CHANGED_SIZE, from);
    return kChangedSize;
  }
  return 0;
}

// Writes the whole copy of the open source under a temporary name and
// renames it to `to`. 0, or an errno value; messages for write failures.
int write_copy(const ksi_copy_job &job, const char *from, int in,
               const struct stat &st, const char *to_host, const char *to) {
  char temp[kPathMax];
  if (!temporary_template(to_host, temp, sizeof temp))
    return ksi_copy_report(job, to, errno);
  const int out = mkostemp(temp, O_CLOEXEC);
  if (out < 0) return ksi_copy_report(job, to, errno);
  int err = copy_content(job, from, in, out, static_cast<uint64_t>(st.st_size));
  if (err == 0 && fchmod(out, st.st_mode & 07777) != 0) err = errno;
  if (err == 0) copy_descriptor(in, out);
  // A full file system may show only when the file is closed.
  if (close(out) != 0 && err == 0) err = errno;
  if (err == 0 && rename(temp, to_host) != 0) err = errno;
  if (err == 0) return 0;
  unlink(temp);
  if (err != kChangedSize) return ksi_copy_report(job, to, err);
  errno = EIO;
  return EIO;
}

int copy_link(const ksi_copy_job &job, const char *from_host, const char *from,
              const char *to_host, const char *to) {
  char target[kPathMax], temp[kPathMax];
  const ssize_t n = readlink(from_host, target, sizeof target - 1);
  if (n < 0) return ksi_copy_report(job, from, errno);
  target[n] = '\0';
  // symlink cannot create over a name: mkstemp finds a free one, which is
  // removed and taken by the link (again if another process took it).
  for (;;) {
    if (!temporary_template(to_host, temp, sizeof temp))
      return ksi_copy_report(job, to, errno);
    const int fd = mkostemp(temp, O_CLOEXEC);
    if (fd < 0) return ksi_copy_report(job, to, errno);
    close(fd);
    unlink(temp);
    if (symlink(target, temp) == 0) break;
    if (errno != EEXIST) return ksi_copy_report(job, to, errno);
  }
  if (rename(temp, to_host) != 0) {
    const int err = errno;
    unlink(temp);
    return ksi_copy_report(job, to, err);
  }
  return 0;
}

}  // namespace

int ksi_copy_report(const ksi_copy_job &job, const char *path, int err) {
  if (!job.quiet)
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_PATH_ERROR, path,
               imsg_strerror(err));
  errno = err;
  return err;
}

int ksi_copy_file(const ksi_copy_job &job, const char *from, const char *to) {
  char from_host[kPathMax], to_host[kPathMax];
  int err = nt_map_path(from, from_host, sizeof from_host);
  if (err != 0) return ksi_copy_report(job, from, err);
  err = nt_map_path(to, to_host, sizeof to_host);
  if (err != 0) return ksi_copy_report(job, to, err);
  struct stat st;
  if ((job.follow ? stat(from_host, &st) : lstat(from_host, &st)) != 0)
    return ksi_copy_report(job, from, errno);
  if (S_ISLNK(st.st_mode)) return copy_link(job, from_host, from, to_host, to);
  if (S_ISDIR(st.st_mode)) return ksi_copy_report(job, from, EISDIR);
  if (!S_ISREG(st.st_mode)) return ksi_copy_report(job, from, EINVAL);
  if (ksi_trace_on(kTraceClass, kTraceLevel))
    imsg_print(IMSG_TRACE, &ksi_ks_msgs, KSI_KS_TRACE_CP_FILE, from, to,
               static_cast<unsigned>(st.st_mode & 07777));
  const int in = open(from_host, O_RDONLY | O_CLOEXEC);
  if (in < 0) return ksi_copy_report(job, from, errno);
  // The size of the file actually opened, which may differ from the name's.
  if (fstat(in, &st) != 0) err = ksi_copy_report(job, from, errno);
  if (err == 0) err = write_copy(job, from, in, st, to_host, to);
  close(in);
  if (err == 0 && job.progress) print_progress(from, 100.0);
  errno = err;
  return err;
}
