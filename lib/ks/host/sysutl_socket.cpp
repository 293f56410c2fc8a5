// Socket helpers: connected loopback socket pairs used where other systems
// would use a pipe, blocking and inheritance switches, socket-set counts
// and a time-based number for making ports and transaction ids unique.
#include <orvexks/sysutl.h>
#include <orvexnt/nt_error.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/sysutl_msgs.h"
#include "msg/msg_out.h"

namespace {

constexpr int kListenBacklog = 5;
// "accept failed: %s (sysutl_pipe)\n" of the family's table.
constexpr int kPipeAcceptFailed = 35;

// The descriptors a socket pair in the making owns; -1 when not open.
struct pipe_parts {
  int listener = -1;
  int connecting = -1;
  int accepted = -1;
};

void close_if_open(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Prints message index with the socket error text of err, closes what was
// opened and gives the failure result.
int pipe_failed(pipe_parts &parts, int index, int err) {
  close_if_open(parts.listener);
  close_if_open(parts.connecting);
  close_if_open(parts.accepted);
  imsg_print(IMSG_ERROR, &ksi_sysutl_msgs, index,
             imsg_strerror(nt_errno2wsa(err)));
  return 1;
}

// A stream socket of the first family that can be made, IPv4 before IPv6;
// its family goes to *family.
int loopback_listener(int *family) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  *family = AF_INET;
  if (fd < 0) {
    fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    *family = AF_INET6;
  }
  return fd;
}

int set_fd_flag(int fd, int on) {
  int flags = fcntl(fd, F_GETFD);
  if (flags < 0) return 1;
  flags = on != 0 ? flags | FD_CLOEXEC : flags & ~FD_CLOEXEC;
  return fcntl(fd, F_SETFD, flags) < 0 ? 1 : 0;
}

}  // namespace

extern "C" {

int sysutl_fd_set_popcount(const fd_set *set) {
  unsigned char bytes[sizeof(fd_set)];
  memcpy(bytes, set, sizeof bytes);
  int count = 0;
  for (unsigned char b : bytes) count += __builtin_popcount(b);
  return count;
}

int32_t sysutl_sock_port_uniquifier(void) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  uint64_t value = static_cast<uint64_t>(tv.tv_sec) * 1000000u +
                   static_cast<uint64_t>(tv.tv_usec);
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int sysutl_get_random_bytes(void *, size_t) { return 1; }

int sysutl_pipe(int flag, int pair_out[2]) {
  pipe_parts parts;
  int family = AF_INET;
  parts.listener = loopback_listener(&family);
  if (parts.listener < 0)
    return pipe_failed(parts, KSI_SYSUTL_PIPE_SOCKET, errno);

  struct sockaddr_storage addr;
  sysutl_sockaddr_loopback_init(family,
                                reinterpret_cast<struct sockaddr *>(&addr));
  auto *sa = reinterpret_cast<struct sockaddr *>(&addr);
  socklen_t len = static_cast<socklen_t>(sysutl_sockaddr_size(sa));
  if (bind(parts.listener, sa, len) != 0)
    return pipe_failed(parts, KSI_SYSUTL_PIPE_BIND, errno);
  if (getsockname(parts.listener, sa, &len) != 0)
    return pipe_failed(parts, KSI_SYSUTL_PIPE_GETSOCKNAME, errno);
  if (listen(parts.listener, kListenBacklog) != 0)
    return pipe_failed(parts, KSI_SYSUTL_PIPE_LISTEN, errno);

  parts.connecting = socket(family, SOCK_STREAM, 0);
  if (parts.connecting < 0 ||
      sysutl_set_socket_nonblocking(parts.connecting, 1) != 0)
    return pipe_failed(parts, KSI_SYSUTL_PIPE_SOCKET, errno);
  if (connect(parts.connecting, sa, len) != 0 && errno != EINPROGRESS &&
      errno != EAGAIN)
    return pipe_failed(parts, KSI_SYSUTL_PIPE_CONNECT, errno);
  parts.accepted = accept(parts.listener, nullptr, nullptr);
  if (parts.accepted < 0) return pipe_failed(parts, kPipeAcceptFailed, errno);
  close_if_open(parts.listener);

  set_fd_flag(flag != 0 ? parts.accepted : parts.connecting, 1);
  pair_out[0] = parts.accepted;
  pair_out[1] = parts.connecting;
  return 0;
}

int sysutl_pipe_close(int s) { return close(s) != 0 ? 1 : 0; }

int sysutl_set_socket_nonblocking(int s, int on) {
  int value = on != 0 ? 1 : 0;
  return ioctl(s, FIONBIO, &value) != 0 ? 1 : 0;
}

int sysutl_accept(int s, struct sockaddr *sa, socklen_t *len) {
  return accept(s, sa, len);
}

int sysutl_set_cloexec_file(int fd, int on) { return set_fd_flag(fd, on); }

int sysutl_set_cloexec_other(int handle, int on) {
  return set_fd_flag(handle, on);
}

}  // extern "C"

extern "C" KS_API int sysutl_get_max_fds(void) {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 ||
      limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur > static_cast<rlim_t>(INT32_MAX)) {
    long fallback = sysconf(_SC_OPEN_MAX);
    return fallback > 0 && fallback <= INT32_MAX ? static_cast<int>(fallback)
                                                 : INT32_MAX;
  }
  return static_cast<int>(limit.rlim_cur);
}
