// Byte-range locks as record locks, which other processes see and honour.
#include <orvexks/fileutl.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdint>

namespace {

// Locks or unlocks without waiting. A descriptor open
// only for reading can hold only a shared lock.
int set_lock(int fd, uint64_t offset, uint64_t length, bool lock) {
  const int mode = fcntl(fd, F_GETFL);
  if (mode < 0) return 1;
  if (offset > INT64_MAX) {
    errno = EINVAL;
    return EINVAL;
  }
  struct flock fl = {};
  fl.l_type = !lock                            ? F_UNLCK
              : (mode & O_ACCMODE) == O_RDONLY ? F_RDLCK
                                               : F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  // Length 0, or one past the largest offset, is the largest range: to the
  // end of any file.
  fl.l_len = length > INT64_MAX - offset ? 0 : static_cast<off_t>(length);
  if (fcntl(fd, F_SETLK, &fl) == 0) return 0;
  const int err = errno == EAGAIN ? EACCES : errno;
  errno = err;
  return err;
}

}  // namespace

extern "C" {

int fileutl_lockfd(int fd, uint64_t offset, uint64_t length) {
  return set_lock(fd, offset, length, true);
}

int fileutl_unlockfd(int fd, uint64_t offset, uint64_t length) {
  return set_lock(fd, offset, length, false);
}

}  // extern "C"
