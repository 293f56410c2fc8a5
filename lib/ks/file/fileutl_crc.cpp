// The product's file checksum. It uses the reflected CRC-32 table of IEEE
// 802.3 (polynomial 0xEDB88320) but shifts left, indexing by the top byte;
// entry 0 is 0x7FFFFFFF, and a zero index is replaced by a counter that
// runs 0 .. 255, so runs of zero bytes still change the value. There is no
// final inversion. Stored checksums depend on every one of these details.
#include <orvexks/fileutl.h>
#include <orvexnt/nt_registry.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace {

constexpr std::array<uint32_t, 256> make_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit)
      c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  table[0] = 0x7FFFFFFFu;
  return table;
}

constexpr std::array<uint32_t, 256> kTable = make_table();
static_assert(kTable[1] == 0x77073096u);

constexpr size_t kBlock = 8192;
constexpr int kEintrRetries = 5;

void step(const unsigned char *p, size_t len, uint32_t *counter,
          uint32_t *crc) {
  uint32_t c = *crc;
  uint32_t k = *counter;
  for (const unsigned char *end = p + len; p < end; ++p) {
    uint32_t i = (c >> 24) ^ *p;
    if (i == 0) {
      i = k;
      k = (k + 1) & 0xFF;
    }
    c = kTable[i] ^ (c << 8);
  }
  *crc = c;
  *counter = k;
}

int fail(int error, int *err_out) {
  if (err_out != nullptr) *err_out = error;
  errno = error;
  return -4;
}

}  // namespace

extern "C" {

void fileutl_crc_buffer_step(const void *buf, size_t len, uint32_t *counter_io,
                             uint32_t *crc_io) {
  step(static_cast<const unsigned char *>(buf), len, counter_io, crc_io);
}

void fileutl_crc_buffer(const void *buf, size_t len, uint32_t *crc_out) {
  uint32_t counter = 0, crc = 0;
  step(static_cast<const unsigned char *>(buf), len, &counter, &crc);
  *crc_out = crc;
}

int fileutl_crc_fd(int fd, uint32_t *crc_out, uint64_t *size_out,
                   int *err_out) {
  unsigned char block[kBlock];
  uint32_t counter = 0, crc = 0;
  uint64_t total = 0;
  int interrupted = 0;
  for (;;) {
    const ssize_t got = read(fd, block, sizeof block);
    if (got < 0) {
      if (errno == EINTR && ++interrupted <= kEintrRetries) continue;
      return fail(errno, err_out);
    }
    if (got == 0) break;
    step(block, static_cast<size_t>(got), &counter, &crc);
    total += static_cast<uint64_t>(got);
  }
  if (crc_out != nullptr) *crc_out = crc;
  if (size_out != nullptr) *size_out = total;
  return 0;
}

int fileutl_crc(const char *path, uint32_t *crc_out, int *err_out) {
  if (path == nullptr) return fail(EINVAL, err_out);
  char host_path[4096];
  const int rc = nt_map_path(path, host_path, sizeof host_path);
  if (rc != 0) return fail(rc, err_out);
  int fd;
  int interrupted = 0;
  while ((fd = open(host_path, O_RDONLY | O_CLOEXEC)) < 0)
    if (errno != EINTR || ++interrupted > kEintrRetries)
      return fail(errno, err_out);
  const int result = fileutl_crc_fd(fd, crc_out, nullptr, err_out);
  const int err = errno;
  close(fd);
  errno = err;
  return result;
}

}  // extern "C"
