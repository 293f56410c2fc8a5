// Handle allocation, time arithmetic, waits and error recording shared by
// the client transports.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <orvexnt/nt_error.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "rpc/clnt/clnt_internal.h"
#include "thread/qmthread_internal.h"

qmthread_mutex_t ksi_clnt_ops_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(ksi_clnt_ops_mutex);

namespace {
char kEmpty[] = "";
constexpr int64_t kMaxTimevalSec = 100000000;
constexpr int64_t kPollSliceUsec = 1000000;

// How long a connect may wait: the socket's send time-out when its owner
// set one, else the connection client's default total timeout.
int64_t connect_wait_usec(int fd) {
  struct timeval sndtimeo = {0, 0};
  socklen_t len = sizeof sndtimeo;
  if (getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sndtimeo, &len) == 0 &&
      (sndtimeo.tv_sec > 0 || sndtimeo.tv_usec > 0))
    return ksi_timeval_usec(sndtimeo);
  return ksi_timeval_usec(kClntVcDefaultWait);
}

// Waits for a connect in progress to end within wait_usec; 0 once
// connected, else -1 with errno set (ETIMEDOUT when the wait ran out).
int finish_connect(int fd, int64_t wait_usec) {
  int64_t deadline = ksi_now_usec() + wait_usec;
  for (;;) {
    int64_t left = deadline - ksi_now_usec();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    int64_t step = left < kPollSliceUsec ? left : kPollSliceUsec;
    struct pollfd pfd = {fd, POLLOUT, 0};
    int n = poll(&pfd, 1, static_cast<int>((step + 999) / 1000));
    if (n > 0) break;
    if (n < 0 && errno != EINTR) return -1;
  }
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return -1;
  if (err == 0) return 0;
  errno = err;
  return -1;
}

}  // namespace

CLIENT *ksi_clnt_new(const struct clnt_ops *ops, void *priv) {
  auto *cl = static_cast<CLIENT *>(calloc(1, sizeof(CLIENT)));
  if (cl == nullptr) return nullptr;
  qmthread_mutex_init_noraise(&cl->cl_lock);
  cl->cl_auth = ks_authnone_create();
  cl->cl_ops = ops;
  cl->cl_private = priv;
  cl->cl_netid = kEmpty;
  cl->cl_tp = kEmpty;
  return cl;
}

bool ksi_clnt_set_text(char **slot, const char *text) {
  char *copy = kEmpty;
  if (text != nullptr && text[0] != '\0') {
    copy = strdup(text);
    if (copy == nullptr) return false;
  }
  if (*slot != kEmpty) free(*slot);
  *slot = copy;
  return true;
}

void ksi_clnt_free(CLIENT *cl) {
  if (cl->cl_netid != kEmpty) free(cl->cl_netid);
  if (cl->cl_tp != kEmpty) free(cl->cl_tp);
  qmthread_mutex_destroy(&cl->cl_lock);
  free(cl);
}

bool ksi_timeval_valid(const struct timeval *tv) {
  return tv != nullptr && tv->tv_sec >= 0 && tv->tv_sec <= kMaxTimevalSec &&
         tv->tv_usec >= 0 && tv->tv_usec <= 1000000;
}

int64_t ksi_timeval_usec(const struct timeval &tv) {
  return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

int64_t ksi_now_usec() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

uint32_t ksi_clnt_first_xid() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(now.tv_sec) ^
         static_cast<uint32_t>(now.tv_usec);
}

int ksi_sock_error() { return nt_errno2wsa(errno); }

void ksi_set_createerr(enum clnt_stat stat, int error) {
  struct rpc_createerr *ce = ks_rpc_get_createerr();
  ce->cf_stat = stat;
  memset(&ce->cf_error, 0, sizeof ce->cf_error);
  ce->cf_error.re_status = stat;
  ce->cf_error.re_errno = error;
}

int ksi_connect(int fd, const struct sockaddr *addr, socklen_t addrlen) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  bool blocking = (flags & O_NONBLOCK) == 0;
  if (blocking && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return -1;
  int rc = connect(fd, addr, addrlen);
  if (rc != 0 && errno == EINPROGRESS)
    rc = finish_connect(fd, connect_wait_usec(fd));
  int saved = errno;
  if (blocking) fcntl(fd, F_SETFL, flags);
  errno = saved;
  return rc;
}

int64_t ksi_wait_slice(const struct timeval &tv) {
  return tv.tv_sec >= 1 ? 1000000 : (tv.tv_usec > 0 ? tv.tv_usec : 1);
}

int ksi_wait_readable(int fd, int64_t deadline, int64_t slice_usec) {
  for (;;) {
    int64_t left = deadline - ksi_now_usec();
    if (left <= 0) return 0;
    int64_t step = left < slice_usec ? left : slice_usec;
    struct pollfd pfd = {fd, POLLIN, 0};
    int ms = static_cast<int>((step + 999) / 1000);
    int n = poll(&pfd, 1, ms);
    if (n > 0) {
      if (pfd.revents & POLLNVAL) {
        errno = EBADF;
        return -1;
      }
      return 1;
    }
    if (n < 0) return -1;
  }
}

uint32_t ksi_clnt_bufsize(uint32_t requested, uint32_t default_size) {
  uint32_t size = requested == 0 ? default_size : requested;
  if (size > 0x40000) size = 0x40000;
  return (size + 3) & ~3u;
}
