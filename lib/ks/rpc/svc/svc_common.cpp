// Helpers every server transport uses: handle allocation, addresses,
// socket sizes, failure texts and the cleaner's clock.
#include <orvexks/pfm.h>

#include <netinet/in.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rpc/svc/svc_internal.h"

namespace {

constexpr uint32_t kAddrSize = 128;
constexpr uint32_t kMaxSize = 262144;

std::atomic<time_t (*)()> clock_fn{nullptr};

bool_t no_control(SVCXPRT *, unsigned int, void *) { return FALSE; }

}  // namespace

const struct xp_ops2 ksi_svc_no_control = {no_control};

time_t ksi_svc_now() {
  time_t (*fn)() = clock_fn.load(std::memory_order_acquire);
  return fn != nullptr ? fn() : time(nullptr);
}

void ksi_svc_set_clock(time_t (*clock)()) {
  clock_fn.store(clock, std::memory_order_release);
}

uint32_t ksi_svc_size(int sotype, uint32_t size) {
  if (size == 0)
    return sotype == SOCK_STREAM ? 8192 : sotype == SOCK_DGRAM ? 8800 : 9000;
  return size > kMaxSize ? kMaxSize : size;
}

SVCXPRT *ksi_svc_alloc_xprt() {
  auto *xprt = static_cast<SVCXPRT *>(calloc(1, sizeof(SVCXPRT)));
  if (xprt == nullptr) return nullptr;
  xprt->xp_ltaddr.buf = calloc(1, kAddrSize);
  xprt->xp_rtaddr.buf = calloc(1, kAddrSize);
  if (xprt->xp_ltaddr.buf == nullptr || xprt->xp_rtaddr.buf == nullptr) {
    ksi_svc_free_xprt(xprt);
    return nullptr;
  }
  xprt->xp_ltaddr.maxlen = kAddrSize;
  xprt->xp_rtaddr.maxlen = kAddrSize;
  xprt->xp_ops2 = &ksi_svc_no_control;
  return xprt;
}

void ksi_svc_free_xprt(SVCXPRT *xprt) {
  free(xprt->xp_ltaddr.buf);
  free(xprt->xp_rtaddr.buf);
  free(xprt->xp_netid);
  free(xprt->xp_tp);
  free(xprt);
}

void ksi_svc_set_caller(SVCXPRT *xprt, const struct sockaddr *sa,
                        socklen_t len) {
  if (len > xprt->xp_rtaddr.maxlen)
    len = xprt->xp_rtaddr.maxlen;  // never: storage-sized
  memcpy(xprt->xp_rtaddr.buf, sa, len);
  xprt->xp_rtaddr.len = len;
  if (sa->sa_family == AF_INET && len >= sizeof(struct sockaddr_in)) {
    memcpy(xprt->xp_raddr, sa, sizeof(struct sockaddr_in));
    xprt->xp_addrlen = sizeof(struct sockaddr_in);
  }
}

bool ksi_svc_read_local(SVCXPRT *xprt) {
  socklen_t len = xprt->xp_ltaddr.maxlen;
  if (getsockname(xprt->xp_fd,
                  static_cast<struct sockaddr *>(xprt->xp_ltaddr.buf),
                  &len) != 0)
    return false;
  xprt->xp_ltaddr.len = len;
  return true;
}

void ksi_svc_report(const char *text) {
  size_t len = strlen(text);
  fputs(text, stderr);
  if (len == 0 || text[len - 1] != '\n') fputc('\n', stderr);
}

void ksi_svc_bad_op(const char *what) {
  fprintf(stderr, "%s: not supported by this transport\n", what);
  pfm_panic(__FILE__, __LINE__);
}
