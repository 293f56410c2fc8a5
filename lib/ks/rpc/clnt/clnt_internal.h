// Pieces shared by the client transports and the creation functions.
#pragma once

#include <sys/socket.h>

#include <orvexks/rpc/clnt.h>

#include <cstdint>

// A new handle with AUTH_NONE, empty netid and device, its mutex ready;
// null when memory runs out.
CLIENT *ksi_clnt_new(const struct clnt_ops *ops, void *priv);
// Frees netid, device, mutex and the handle (not the private record).
void ksi_clnt_free(CLIENT *cl);
// Replaces the handle's netid or device with a copy of text; false when
// memory runs out.
bool ksi_clnt_set_text(char **slot, const char *text);

// Locks the handle for the scope.
class ksi_clnt_guard {
 public:
  explicit ksi_clnt_guard(CLIENT *cl) : cl_(cl) {
    qmthread_mutex_lock(&cl_->cl_lock);
  }
  ~ksi_clnt_guard() { qmthread_mutex_unlock(&cl_->cl_lock); }
  ksi_clnt_guard(const ksi_clnt_guard &) = delete;
  ksi_clnt_guard &operator=(const ksi_clnt_guard &) = delete;

 private:
  CLIENT *cl_;
};

// A timeval a control request accepts: seconds at most 100000000 and
// microseconds at most 1000000, neither negative.
bool ksi_timeval_valid(const struct timeval *tv);
int64_t ksi_timeval_usec(const struct timeval &tv);
// Monotonic time in microseconds.
int64_t ksi_now_usec();

// The first transaction id of a client: process id ^ seconds ^ microseconds.
uint32_t ksi_clnt_first_xid();

// The Windows Sockets number of the current errno.
int ksi_sock_error();

// Records a creation failure in the thread's creation error.
void ksi_set_createerr(enum clnt_stat stat, int error);

// Waits until fd is readable or deadline (monotonic microseconds) passes,
// in slices of at most slice_usec: 1 readable, 0 timed out, -1 failed
// with errno set.
int ksi_wait_readable(int fd, int64_t deadline, int64_t slice_usec);

// Connects fd to addr and waits at most the socket's send time-out when
// its owner set one, else kClntVcDefaultWait: a plain blocking connect
// keeps retrying for about two minutes against a peer that never answers.
// 0, or -1 with errno set (ETIMEDOUT when the wait ran out); the socket's
// blocking mode is left as it was.
int ksi_connect(int fd, const struct sockaddr *addr, socklen_t addrlen);

// The wait slice of a retransmit or total timeout: one second when it is
// one second or more, else its microseconds.
int64_t ksi_wait_slice(const struct timeval &tv);

// Buffer sizes: 0 gives the default, anything else is cut to 262144; the
// result is a multiple of 4.
uint32_t ksi_clnt_bufsize(uint32_t requested, uint32_t default_size);
constexpr uint32_t kClntTcpDefault = 8192;
constexpr uint32_t kClntUdpDefault = 8800;

// The connection client's total timeout until a call or control sets one;
// also the longest a connect waits.
constexpr struct timeval kClntVcDefaultWait = {25, 0};

// Largest server address a client keeps.
constexpr uint32_t kClntAddrMax = 128;

// What the shared control requests reach in a transport's private record.
struct ksi_clnt_ctl_view {
  int fd;
  bool *own_fd;
  void *addr;  // the server address, *addrlen bytes
  uint32_t *addrlen;
  uint32_t *xid;
  int32_t xid_step;  // what a call adds to *xid before it sends: 1 or -1
  char *header;      // the encoded call header: program and version words
};
// Answers the requests both transports share (closing the descriptor on
// destroy, descriptor, server address, transaction id, program, version);
// FALSE for a null info or any other request.
bool_t ksi_clnt_control(const ksi_clnt_ctl_view &view, unsigned int request,
                        void *info);

// The library mutex that guards the lazy filling of the transports'
// operations tables and the transaction counter.
extern qmthread_mutex_t ksi_clnt_ops_mutex;
