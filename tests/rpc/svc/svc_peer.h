// What the server tests share: a registered echo program, hand-written
// socket clients that build call records word by word and read replies,
// and a pump that runs the service loop on the test's thread while a
// client runs on another.
#pragma once

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <orvexks/rpc/svc.h>

#include "rpc/loopback.h"
#include "rpc/svc/svc_internal.h"

namespace svc_peer {

constexpr uint32_t kProg = 0x20000101;
constexpr uint32_t kNull = 0, kEcho = 1, kStream = 2, kDestroy = 3,
                   kStreamFails = 4;

// The echo procedure's argument and result: opaque bytes.
struct blob {
  char *data;
  uint32_t len;
};
inline bool_t xdr_blob(XDR *xdrs, blob *b) {
  return xdr_bytes(xdrs, &b->data, &b->len, 1 << 20);
}

// Dispatch of the echo program: 0 null, 1 echo an opaque, 2 a streamed
// reply of n words 0..n-1, 3 destroys its transport without replying, 4
// starts a streamed reply whose last part cannot be encoded; others are
// unavailable.
inline void echo_dispatch(struct svc_req *rq, SVCXPRT *xprt) {
  auto u32 = reinterpret_cast<xdrproc_t>(xdr_u_int32_t);
  switch (rq->rq_proc) {
    case kNull:
      ks_svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(xdr_void), nullptr);
      return;
    case kEcho: {
      blob b = {nullptr, 0};
      auto filter = reinterpret_cast<xdrproc_t>(xdr_blob);
      if (!KS_SVC_GETARGS(xprt, filter, &b))
        return (void)ks_svcerr_decode(xprt);
      ks_svc_sendreply(xprt, filter, &b);
      KS_SVC_FREEARGS(xprt, filter, &b);
      return;
    }
    case kStream: {
      uint32_t n = 0, first = 0;
      if (!KS_SVC_GETARGS(xprt, u32, &n)) return (void)ks_svcerr_decode(xprt);
      if (!ks_svc_sendreply_start(xprt, u32, &first)) return;
      XDR *xdrs = ks_svc_sendreply_get_xdrs(xprt);
      for (uint32_t i = 1; xdrs != nullptr && i + 1 < n; ++i)
        if (!xdr_u_int32_t(xdrs, &i)) break;
      uint32_t last = n - 1;
      ks_svc_sendreply_finish(xprt, u32, &last);
      return;
    }
    case kDestroy:
      return xprt->xp_ops->xp_destroy(xprt);
    case kStreamFails: {
      uint32_t first = 1;
      if (!ks_svc_sendreply_start(xprt, u32, &first)) return;
      auto refuse = [](XDR *, void *) -> bool_t { return FALSE; };
      ks_svc_sendreply_finish(xprt, reinterpret_cast<xdrproc_t>(+refuse),
                              &first);
      return;
    }
    default:
      ks_svcerr_noproc(xprt);
  }
}

// ---- Building calls and reading replies.

struct Call {
  uint32_t xid = 1;
  uint32_t rpcvers = 2;
  uint32_t prog = kProg;
  uint32_t vers = 1;
  uint32_t proc = kNull;
  uint32_t cred_flavor = 0;
  std::vector<uint32_t> cred_body{};
  std::vector<uint32_t> args{};

  std::vector<uint32_t> words() const {
    std::vector<uint32_t> w = {
        xid,  0,    rpcvers,     prog,
        vers, proc, cred_flavor, static_cast<uint32_t>(cred_body.size() * 4)};
    w.insert(w.end(), cred_body.begin(), cred_body.end());
    w.push_back(0);
    w.push_back(0);
    w.insert(w.end(), args.begin(), args.end());
    return w;
  }
};

// An opaque argument as words: its length, then the bytes, padded.
inline std::vector<uint32_t> opaque_words(const std::vector<uint32_t> &data) {
  std::vector<uint32_t> w = {static_cast<uint32_t>(data.size() * 4)};
  w.insert(w.end(), data.begin(), data.end());
  return w;
}

inline Call echo_call(uint32_t xid, const std::vector<uint32_t> &data) {
  return Call{.xid = xid, .proc = kEcho, .args = opaque_words(data)};
}

// Bytes [from, to) of v, to send a record in pieces.
inline std::vector<char> slice(const std::vector<char> &v, size_t from,
                               size_t to = SIZE_MAX) {
  return {v.begin() + static_cast<long>(from),
          v.begin() + static_cast<long>(std::min(to, v.size()))};
}

inline std::vector<char> to_bytes(const std::vector<uint32_t> &words) {
  std::vector<char> out(words.size() * 4);
  for (size_t i = 0; i < words.size(); ++i) {
    uint32_t be = htonl(words[i]);
    memcpy(out.data() + i * 4, &be, 4);
  }
  return out;
}

inline std::vector<uint32_t> to_words(const std::vector<char> &bytes) {
  std::vector<uint32_t> out(bytes.size() / 4);
  for (size_t i = 0; i < out.size(); ++i) {
    uint32_t be;
    memcpy(&be, bytes.data() + i * 4, 4);
    out[i] = ntohl(be);
  }
  return out;
}

// One record of a single fragment.
inline std::vector<char> record(const std::vector<uint32_t> &words) {
  std::vector<uint32_t> framed = {0x80000000u |
                                  static_cast<uint32_t>(words.size() * 4)};
  framed.insert(framed.end(), words.begin(), words.end());
  return to_bytes(framed);
}

// A decoded reply: xid, accepted or denied, the status and what follows.
struct Reply {
  bool ok = false;
  uint32_t xid = 0;
  uint32_t reply_stat = 99;  // 0 accepted, 1 denied
  uint32_t stat = 99;        // accept_stat, or reject_stat when denied
  std::vector<uint32_t> rest;
};

inline Reply parse_reply(const std::vector<uint32_t> &w) {
  Reply r;
  if (w.size() < 3 || w[1] != 1) return r;
  r.xid = w[0];
  r.reply_stat = w[2];
  size_t at = 3;
  if (r.reply_stat == 0) {
    if (w.size() < 5) return r;
    at = 5 + (w[4] + 3) / 4;  // verifier
  }
  if (at >= w.size()) return r;
  r.stat = w[at];
  r.rest.assign(w.begin() + static_cast<long>(at) + 1, w.end());
  r.ok = true;
  return r;
}

inline bool send_all(int fd, const std::vector<char> &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

inline bool recv_all(int fd, char *buf, size_t len) {
  while (len > 0) {
    if (!wait_readable(fd, 10000)) return false;
    ssize_t n = recv(fd, buf, len, 0);
    if (n <= 0) return false;
    buf += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Reads one record (all its fragments); empty when the connection ended.
inline std::vector<uint32_t> read_record(int fd) {
  std::vector<char> body;
  for (;;) {
    uint32_t header;
    if (!recv_all(fd, reinterpret_cast<char *>(&header), 4)) return {};
    header = ntohl(header);
    size_t len = header & 0x7fffffffu;
    size_t old = body.size();
    body.resize(old + len);
    if (!recv_all(fd, body.data() + old, len)) return {};
    if (header & 0x80000000u) return to_words(body);
  }
}

// True when the peer closed the connection (within 10 s).
inline bool peer_closed(int fd) {
  char byte;
  for (;;) {
    if (!wait_readable(fd, 10000)) return false;
    ssize_t n = recv(fd, &byte, 1, 0);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    if (n < 0) return false;
  }
}

inline int connect_tcp(uint16_t port, int family = AF_INET) {
  int fd = socket(family, SOCK_STREAM, 0);
  loopback_addr at = loopback(family, port);
  if (connect(fd, at.sa(), at.len) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A call over a datagram socket connected to the server; the reply, or an
// empty one when none came within ms.
inline Reply udp_call(int fd, const Call &call, int ms = 10000) {
  std::vector<char> bytes = to_bytes(call.words());
  if (send(fd, bytes.data(), bytes.size(), 0) !=
      static_cast<ssize_t>(bytes.size()))
    return {};
  if (!wait_readable(fd, ms)) return {};
  std::vector<char> buf(70000);
  ssize_t n = recv(fd, buf.data(), buf.size(), 0);
  if (n <= 0) return {};
  buf.resize(static_cast<size_t>(n));
  return parse_reply(to_words(buf));
}

inline Reply tcp_call(int fd, const Call &call) {
  if (!send_all(fd, record(call.words()))) return {};
  return parse_reply(read_record(fd));
}

// The status of a null call on a connection of its own.
inline uint32_t tcp_null_call(uint16_t port, int family = AF_INET) {
  int c = connect_tcp(port, family);
  uint32_t stat = tcp_call(c, Call{}).stat;
  close(c);
  return stat;
}

inline int udp_client(uint16_t port, int family = AF_INET) {
  int fd = socket(family, SOCK_DGRAM, 0);
  loopback_addr at = loopback(family, port);
  connect(fd, at.sa(), at.len);
  return fd;
}

// ---- Server sockets.

// A socket of the family and type bound to the loopback address on a free
// port; stream sockets listen.
inline int bound_socket(int family, int type, uint16_t *port) {
  *port = 0;
  int fd = socket(family, type, 0);
  loopback_addr at = loopback(family, 0);
  if (bind(fd, at.sa(), at.len) != 0) return -1;
  if (type == SOCK_STREAM) listen(fd, 2048);
  getsockname(fd, at.sa(), &at.len);
  *port = at.port();
  return fd;
}

// A listener, or a datagram transport, on a free loopback port.
inline SVCXPRT *listener(int family, uint16_t *port) {
  return ks_svc_vc_create(bound_socket(family, SOCK_STREAM, port), 0, 0);
}
inline SVCXPRT *datagram_server(int family, uint16_t *port) {
  return ks_svc_dg_create(bound_socket(family, SOCK_DGRAM, port), 0, 0);
}

// Turns the service loop on a thread of its own, in rounds of at most
// 20 ms, until stopped or destroyed.
class loop_thread {
 public:
  loop_thread()
      : thread_([this] {
          while (!stop_) ksi_svc_run_once({0, 20000});
        }) {}
  ~loop_thread() { stop(); }
  void stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Runs client on its own thread while this thread turns the service loop
// (rounds of at most 20 ms) until the client returns.
inline void serve_while(const std::function<void()> &client) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    client();
    done = true;
  });
  while (!done) ksi_svc_run_once({0, 20000});
  t.join();
}

}  // namespace svc_peer
