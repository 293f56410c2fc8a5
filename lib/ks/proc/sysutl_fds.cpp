// Descriptors: closing the low ones a child would inherit, and flushing
// files to disk.
#include <orvexks/sysutl.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// The descriptors sysutl_close_fds covers end below this one.
constexpr int kLowFdEnd = 20;

}  // namespace

extern "C" {

KS_API void sysutl_close_fds(int from) {
  for (int fd = from < 0 ? 0 : from; fd < kLowFdEnd; ++fd) close(fd);
}

KS_API int sysutl_fsync(int fd) { return fsync(fd) == 0 ? 0 : -1; }

KS_API int sysutl_fsync_fptr(FILE *stream) {
  if (stream == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if (std::fflush(stream) != 0) return -1;
  return sysutl_fsync(fileno(stream));
}

}  // extern "C"
