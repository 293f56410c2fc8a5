// Small hand-written RPC peers for the client tests: a loopback UDP or TCP
// socket served by a script on its own thread, and helpers that read calls
// and write replies word by word.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "rpc/loopback.h"

namespace peer {

// Big-endian words, appended.
struct words {
  std::vector<uint8_t> bytes;
  words &u32(uint32_t v) {
    uint32_t be = htonl(v);
    auto *p = reinterpret_cast<uint8_t *>(&be);
    bytes.insert(bytes.end(), p, p + 4);
    return *this;
  }
  words &raw(const void *data, size_t n) {
    auto *p = static_cast<const uint8_t *>(data);
    bytes.insert(bytes.end(), p, p + n);
    return *this;
  }
  // A string: its length, its bytes, zero padding to a whole word.
  words &str(const char *s) {
    size_t n = strlen(s);
    u32(static_cast<uint32_t>(n)).raw(s, n);
    bytes.resize(bytes.size() + (4 - n % 4) % 4);
    return *this;
  }
};

inline uint32_t word_at(const uint8_t *p, size_t i) {
  uint32_t be;
  memcpy(&be, p + 4 * i, 4);
  return ntohl(be);
}

// An accepted, successful reply header for xid (AUTH_NONE verifier);
// results follow.
inline words success_reply(uint32_t xid) {
  words w;
  w.u32(xid).u32(1).u32(0).u32(0).u32(0).u32(0);
  return w;
}

// A loopback address of the socket type and family on which nobody is
// bound: a port just taken from the system and given back.
inline loopback_addr unused_loopback_port(int type, int family = AF_INET) {
  int probe = socket(family, type, 0);
  loopback_addr at = loopback(family, 0);
  bind(probe, at.sa(), at.len);
  getsockname(probe, at.sa(), &at.len);
  close(probe);
  return at;
}

// A loopback socket of the given type bound to an ephemeral port, whose
// script runs on a thread until it returns; the destructor joins it.
class server {
 public:
  server(int type, std::function<void(int fd)> script, int family = AF_INET) {
    fd_ = socket(family, type, 0);
    loopback_addr at = loopback(family, 0);
    bind(fd_, at.sa(), at.len);
    if (type == SOCK_STREAM) listen(fd_, 4);
    addrlen_ = sizeof addr_;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&addr_), &addrlen_);
    thread_ = std::thread([this, script] { script(fd_); });
  }
  ~server() {
    thread_.join();
    close(fd_);
  }
  sockaddr *addr() { return reinterpret_cast<sockaddr *>(&addr_); }
  socklen_t addrlen() const { return addrlen_; }

 private:
  int fd_;
  sockaddr_storage addr_;
  socklen_t addrlen_;
  std::thread thread_;
};

// One datagram (up to 64 KiB) with its sender, or an empty buffer after ms.
struct datagram {
  std::vector<uint8_t> bytes;
  sockaddr_storage from;
  socklen_t fromlen = sizeof from;
};
inline datagram receive(int fd, int ms) {
  datagram d;
  if (!wait_readable(fd, ms)) return d;
  d.bytes.resize(65536);
  ssize_t n = recvfrom(fd, d.bytes.data(), d.bytes.size(), 0,
                       reinterpret_cast<sockaddr *>(&d.from), &d.fromlen);
  d.bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return d;
}
inline void reply_to(int fd, const datagram &d, const words &w) {
  sendto(fd, w.bytes.data(), w.bytes.size(), 0,
         reinterpret_cast<const sockaddr *>(&d.from), d.fromlen);
}

// Reads one whole record from a stream (all fragments); empty on EOF.
inline std::vector<uint8_t> read_record(int fd) {
  std::vector<uint8_t> out;
  for (;;) {
    uint8_t hdr[4];
    if (recv(fd, hdr, 4, MSG_WAITALL) != 4) return {};
    uint32_t h = word_at(hdr, 0);
    size_t len = h & 0x7FFFFFFF;
    size_t at = out.size();
    out.resize(at + len);
    if (len > 0 && recv(fd, out.data() + at, len, MSG_WAITALL) !=
                       static_cast<ssize_t>(len))
      return {};
    if (h & 0x80000000) return out;
  }
}
inline void write_record(int fd, const words &w) {
  words framed;
  framed.u32(0x80000000u | static_cast<uint32_t>(w.bytes.size()));
  framed.raw(w.bytes.data(), w.bytes.size());
  send(fd, framed.bytes.data(), framed.bytes.size(), MSG_NOSIGNAL);
}

}  // namespace peer
