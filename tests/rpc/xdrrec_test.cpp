// Record-marking stream over real socket pairs: fragment layout, batching
// of small records, blocking decode across reads and record boundaries,
// and non-blocking record assembly.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <orvexks/rpc/xdrrec.h>

// The sanitizers' allocators end the process on exhaustion instead of
// returning null; gcc announces them with macros, clang through
// __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KS_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KS_UNDER_SANITIZER 1
#endif
#endif
#ifndef KS_UNDER_SANITIZER
#define KS_UNDER_SANITIZER 0
#endif

namespace {

// Both ends of a socket pair; the tests write on one and read on the other.
struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fd)); }
  ~SocketPair() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  void close_writer() {
    close(fd[0]);
    fd[0] = -1;
  }
};

// Transport handle of the tests: the descriptor, the writes seen and, for
// reads, the most bytes one read may return.
struct Channel {
  explicit Channel(int f) : fd(f) {}
  int fd;
  int writes = 0;
  std::vector<int> write_sizes;
  int max_read = 1 << 30;
};

int fd_write(void *handle, char *buf, int len) {
  auto *ch = static_cast<Channel *>(handle);
  ch->writes++;
  ch->write_sizes.push_back(len);
  int done = 0;
  while (done < len) {
    ssize_t n = write(ch->fd, buf + done, static_cast<size_t>(len - done));
    if (n <= 0) return -1;
    done += static_cast<int>(n);
  }
  return done;
}

// Blocking reads of at most max_read bytes.
int fd_read(void *handle, char *buf, int len) {
  auto *ch = static_cast<Channel *>(handle);
  ssize_t n =
      read(ch->fd, buf,
           static_cast<size_t>(len < ch->max_read ? len : ch->max_read));
  return n < 0 ? -1 : static_cast<int>(n);
}

// Non-blocking reads: nothing available reads as 0, end of file as -1.
int fd_read_nonblock(void *handle, char *buf, int len) {
  auto *ch = static_cast<Channel *>(handle);
  ssize_t n =
      read(ch->fd, buf,
           static_cast<size_t>(len < ch->max_read ? len : ch->max_read));
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  return n == 0 ? -1 : static_cast<int>(n);
}

std::vector<char> drain(int fd) {
  std::vector<char> out;
  char buf[65536];
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  fcntl(fd, F_SETFL, flags);
  return out;
}

uint32_t word_at(const std::vector<char> &bytes, size_t offset) {
  uint32_t w;
  memcpy(&w, bytes.data() + offset, 4);
  return ntohl(w);
}

void put_words(XDR *xdrs, int count, uint32_t first = 0) {
  for (int i = 0; i < count; ++i) {
    uint32_t w = first + static_cast<uint32_t>(i);
    ASSERT_TRUE(xdr_u_int32_t(xdrs, &w));
  }
}

void send_raw(int fd, const std::vector<uint32_t> &words) {
  std::vector<uint32_t> be;
  for (uint32_t w : words) be.push_back(htonl(w));
  const char *at = reinterpret_cast<const char *>(be.data());
  size_t left = be.size() * 4;
  while (left > 0) {
    ssize_t n = write(fd, at, left);
    ASSERT_GT(n, 0);
    at += n;
    left -= static_cast<size_t>(n);
  }
}

// A decoding stream of default sizes over the read end of a socket pair
// that holds `words` and whose writer is closed, so that a read past them
// fails instead of blocking.
struct SentWords {
  SocketPair sp;
  Channel in{sp.fd[1]};
  XDR dec;
  explicit SentWords(const std::vector<uint32_t> &words) {
    send_raw(sp.fd[0], words);
    sp.close_writer();
    dec.x_op = XDR_DECODE;
    ks_xdrrec_create(&dec, 0, 0, &in, fd_read, fd_write);
  }
  ~SentWords() { XDR_DESTROY(&dec); }
};

TEST(XdrRecEncode, SizesBelow100MeanFourThousandAndRoundUpToWords) {
  struct Case {
    uint32_t requested, buffer;
  } cases[] = {{0, 4000}, {99, 4000}, {4001, 4004}};
  for (const Case &c : cases) {
    SocketPair sp;
    Channel ch(sp.fd[0]);
    XDR xdrs;
    xdrs.x_op = XDR_ENCODE;
    ks_xdrrec_create(&xdrs, c.requested, c.requested, &ch, fd_read, fd_write);
    ASSERT_NE(nullptr, xdrs.x_ops);
    // The buffer holds its header and (size - 4) / 4 words; one more word
    // sends a full buffer as a non-last fragment.
    put_words(&xdrs, static_cast<int>(c.buffer - 4) / 4);
    EXPECT_EQ(0, ch.writes) << c.requested;
    put_words(&xdrs, 1);
    ASSERT_EQ(1, ch.writes) << c.requested;
    EXPECT_EQ(static_cast<int>(c.buffer), ch.write_sizes[0]);
    std::vector<char> wire = drain(sp.fd[1]);
    EXPECT_EQ(c.buffer - 4, word_at(wire, 0)) << "no last-fragment bit";
    XDR_DESTROY(&xdrs);
  }
}

// Caps the address space a little above what the process maps now, so
// that a buffer of gigabytes cannot be allocated.
void cap_address_space() {
  long pages = 0;
  if (FILE *statm = fopen("/proc/self/statm", "r")) {
    if (fscanf(statm, "%ld", &pages) != 1) pages = 0;
    fclose(statm);
  }
  rlim_t now =
      static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
  rlimit limit{now + (64u << 20), now + (64u << 20)};
  if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
}

// Runs in a child: creation over a handle full of stale pointers must leave
// no table and no private record whichever buffer cannot be allocated.
void create_without_memory(uint32_t sendsize, uint32_t recvsize) {
  cap_address_space();
  XDR xdrs;
  memset(&xdrs, 0xA5, sizeof xdrs);
  ks_xdrrec_create(&xdrs, sendsize, recvsize, nullptr, fd_read, fd_write);
  _exit(xdrs.x_ops == nullptr && xdrs.x_private == nullptr ? 0 : 1);
}

TEST(XdrRecCreate, OutOfMemoryLeavesNoTableAndNoPrivateRecord) {
  if (KS_UNDER_SANITIZER)
    GTEST_SKIP() << "the sanitizer allocator aborts instead of failing";
  constexpr uint32_t kHuge = 0x7FFFFFF0u;
  EXPECT_EXIT(create_without_memory(kHuge, 0), testing::ExitedWithCode(0),
              "ks_xdrrec_create: out of memory\n");
  EXPECT_EXIT(create_without_memory(0, kHuge), testing::ExitedWithCode(0),
              "ks_xdrrec_create: out of memory\n");
}

TEST(XdrRecEncode, SmallRecordsShareOneWrite) {
  SocketPair sp;
  Channel ch(sp.fd[0]);
  XDR xdrs;
  xdrs.x_op = XDR_ENCODE;
  ks_xdrrec_create(&xdrs, 0, 0, &ch, fd_read, fd_write);
  char ten[10] = "abcdefghi";
  ASSERT_TRUE(xdr_opaque(&xdrs, ten, 10));  // 12 bytes with padding
  ASSERT_TRUE(ks_xdrrec_endofrecord(&xdrs, FALSE));
  EXPECT_EQ(0, ch.writes);
  put_words(&xdrs, 2, 7);
  ASSERT_TRUE(ks_xdrrec_endofrecord(&xdrs, TRUE));
  EXPECT_EQ(1, ch.writes);
  std::vector<char> wire = drain(sp.fd[1]);
  ASSERT_EQ(4u + 12 + 4 + 8, wire.size());
  EXPECT_EQ(0x80000000u | 12, word_at(wire, 0));
  EXPECT_EQ(0, memcmp(wire.data() + 4, "abcdefghi\0\0\0", 12));
  EXPECT_EQ(0x80000000u | 8, word_at(wire, 16));
  EXPECT_EQ(7u, word_at(wire, 20));
  EXPECT_EQ(8u, word_at(wire, 24));

  // A record that already left in part is flushed at its end; the next
  // small record starts a fresh buffer and waits in it again.
  put_words(&xdrs, 1200);  // 4800 bytes: more than one buffer
  ASSERT_TRUE(ks_xdrrec_endofrecord(&xdrs, FALSE));
  EXPECT_EQ(3, ch.writes);
  put_words(&xdrs, 2);
  ASSERT_TRUE(ks_xdrrec_endofrecord(&xdrs, FALSE));
  EXPECT_EQ(3, ch.writes) << "a small record was written at once";
  XDR_DESTROY(&xdrs);
}

// In-memory transport: writes append to `wire`, reads take at most
// `max_read` bytes from it.
struct Tape {
  std::vector<char> wire;
  size_t read_at = 0;
  size_t max_read = 1 << 30;
};

int tape_write(void *handle, char *buf, int len) {
  auto *t = static_cast<Tape *>(handle);
  t->wire.insert(t->wire.end(), buf, buf + len);
  return len;
}

int tape_read(void *handle, char *buf, int len) {
  auto *t = static_cast<Tape *>(handle);
  size_t n = std::min(
      {static_cast<size_t>(len), t->max_read, t->wire.size() - t->read_at});
  memcpy(buf, t->wire.data() + t->read_at, n);
  t->read_at += n;
  return static_cast<int>(n);
}

// A record of words with odd-sized opaque items between them, so that
// words meet the buffer's end at every offset.
template <typename PutWord>
std::vector<char> encode_mixed(PutWord put_word) {
  Tape tape;
  XDR xdrs;
  xdrs.x_op = XDR_ENCODE;
  ks_xdrrec_create(&xdrs, 100, 100, &tape, tape_read, tape_write);
  char bytes[3] = {'x', 'y', 'z'};
  for (uint32_t i = 0; i < 300; ++i) {
    EXPECT_TRUE(put_word(&xdrs, 0xA5000000u + i));
    if (i % 7 == 0) {
      EXPECT_TRUE(XDR_PUTBYTES(&xdrs, bytes, 1 + i % 3));
    }
  }
  EXPECT_TRUE(ks_xdrrec_endofrecord(&xdrs, TRUE));
  XDR_DESTROY(&xdrs);
  return tape.wire;
}

// Word filters code a word that fits inline; the stream's own putlong and
// getlong are the reference the inline path must match byte for byte.
TEST(XdrRecWords, InlineWordsMatchTheStreamOperations) {
  std::vector<char> filtered = encode_mixed(
      [](XDR *x, uint32_t w) { return xdr_u_int32_t(x, &w) != 0; });
  std::vector<char> through_table = encode_mixed([](XDR *x, uint32_t w) {
    int32_t word = static_cast<int32_t>(w);
    return XDR_PUTLONG(x, &word) != 0;
  });
  ASSERT_GT(filtered.size(), 1200u);
  EXPECT_EQ(through_table, filtered);

  for (size_t max_read : {size_t{5}, size_t{96}, size_t{1} << 20}) {
    Tape tape;
    tape.wire = filtered;
    tape.max_read = max_read;
    XDR by_filter, by_table;
    Tape tape2 = tape;
    by_filter.x_op = by_table.x_op = XDR_DECODE;
    ks_xdrrec_create(&by_filter, 100, 100, &tape, tape_read, tape_write);
    ks_xdrrec_create(&by_table, 100, 100, &tape2, tape_read, tape_write);
    ASSERT_TRUE(ks_xdrrec_skiprecord(&by_filter));
    ASSERT_TRUE(ks_xdrrec_skiprecord(&by_table));
    char skip[3];
    for (uint32_t i = 0; i < 300; ++i) {
      uint32_t a = 0;
      int32_t b = 0;
      ASSERT_TRUE(xdr_u_int32_t(&by_filter, &a))
          << i << " reads of " << max_read;
      ASSERT_TRUE(XDR_GETLONG(&by_table, &b)) << i;
      ASSERT_EQ(0xA5000000u + i, a);
      ASSERT_EQ(a, static_cast<uint32_t>(b));
      if (i % 7 == 0) {
        ASSERT_TRUE(XDR_GETBYTES(&by_filter, skip, 1 + i % 3));
        ASSERT_TRUE(XDR_GETBYTES(&by_table, skip, 1 + i % 3));
      }
    }
    uint32_t past;
    EXPECT_FALSE(xdr_u_int32_t(&by_filter, &past)) << "no word past the record";
    XDR_DESTROY(&by_filter);
    XDR_DESTROY(&by_table);
  }
}

TEST(XdrRecRoundTrip,
     LargeRecordLeavesAsFragmentsAndReadsBackAcrossSmallReads) {
  SocketPair sp;
  constexpr int kWords = 10000;
  std::thread writer([&] {
    Channel out(sp.fd[0]);
    XDR enc;
    enc.x_op = XDR_ENCODE;
    ks_xdrrec_create(&enc, 1000, 1000, &out, fd_read, fd_write);
    put_words(&enc, kWords, 1);
    EXPECT_TRUE(ks_xdrrec_endofrecord(&enc, TRUE));
    put_words(&enc, 3, 500);  // a second record
    EXPECT_TRUE(ks_xdrrec_endofrecord(&enc, TRUE));
    XDR_DESTROY(&enc);
  });
  Channel in(sp.fd[1]);
  in.max_read = 7;  // headers and words straddle reads
  XDR dec;
  dec.x_op = XDR_DECODE;
  ks_xdrrec_create(&dec, 1000, 1000, &in, fd_read, fd_write);
  ASSERT_TRUE(ks_xdrrec_skiprecord(&dec));
  for (int i = 0; i < kWords; ++i) {
    uint32_t w = 0;
    ASSERT_TRUE(xdr_u_int32_t(&dec, &w)) << i;
    ASSERT_EQ(static_cast<uint32_t>(i + 1), w);
  }
  uint32_t w;
  EXPECT_FALSE(xdr_u_int32_t(&dec, &w)) << "decoding stops at the record's end";
  ASSERT_TRUE(ks_xdrrec_skiprecord(&dec));
  ASSERT_TRUE(xdr_u_int32_t(&dec, &w));
  EXPECT_EQ(500u, w);
  writer.join();
  // The rest of the second record is skipped; then nothing is left.
  EXPECT_TRUE(ks_xdrrec_skiprecord(&dec));
  sp.close_writer();
  EXPECT_TRUE(ks_xdrrec_eof(&dec));
  XDR_DESTROY(&dec);
}

TEST(XdrRecRoundTrip, FragmentHeadersOnTheWire) {
  SocketPair sp;
  Channel ch(sp.fd[0]);
  XDR xdrs;
  xdrs.x_op = XDR_ENCODE;
  ks_xdrrec_create(&xdrs, 100, 100, &ch, fd_read, fd_write);
  put_words(&xdrs, 60);  // 240 bytes: fragments of 96, 96 and 48
  ASSERT_TRUE(ks_xdrrec_endofrecord(&xdrs, TRUE));
  std::vector<char> wire = drain(sp.fd[1]);
  ASSERT_EQ(240u + 12, wire.size());
  EXPECT_EQ(96u, word_at(wire, 0));
  EXPECT_EQ(96u, word_at(wire, 100));
  EXPECT_EQ(0x80000000u | 48, word_at(wire, 200));
  XDR_DESTROY(&xdrs);
}

TEST(XdrRecDecode, BrokenStreamsFail) {
  uint32_t w;
  SentWords zero_header({0, 0x80000004u, 7});  // a good fragment behind it
  ASSERT_TRUE(ks_xdrrec_skiprecord(&zero_header.dec));
  EXPECT_FALSE(xdr_u_int32_t(&zero_header.dec, &w));
  SentWords cut({0x80000008u, 1});  // the peer closes within a fragment
  ASSERT_TRUE(ks_xdrrec_skiprecord(&cut.dec));
  EXPECT_TRUE(xdr_u_int32_t(&cut.dec, &w));
  EXPECT_FALSE(xdr_u_int32_t(&cut.dec, &w));
  EXPECT_TRUE(ks_xdrrec_eof(&cut.dec));
}

TEST(XdrRecDecode, InlineStaysWithinFragmentAndStream) {
  SentWords sent({8, 1, 2, 0x80000004u, 3});
  XDR &dec = sent.dec;
  ASSERT_TRUE(ks_xdrrec_skiprecord(&dec));
  uint32_t w;
  ASSERT_TRUE(xdr_u_int32_t(&dec, &w));  // reads the first fragment in
  EXPECT_EQ(nullptr, XDR_INLINE(&dec, 8))
      << "only 4 bytes left in the fragment";
  int32_t *p = XDR_INLINE(&dec, 4);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(2u, ntohl(static_cast<uint32_t>(*p)));
  ASSERT_TRUE(xdr_u_int32_t(&dec, &w));  // crosses into the last fragment
  EXPECT_EQ(3u, w);
  EXPECT_EQ(static_cast<uint32_t>(-1), XDR_GETPOS(&dec));
  EXPECT_FALSE(XDR_SETPOS(&dec, 0));
}

TEST(XdrRecDecode, PipelinedRecordsAreEachReadAfterAnEndOfRecordCheck) {
  // A server's loop: skip to the record, decode, ask whether more is
  // buffered, and go on. The check must not consume the next record.
  SentWords sent({0x80000004u, 1, 0x80000008u, 2, 3, 0x80000004u, 4});
  XDR &dec = sent.dec;
  uint32_t w;
  ASSERT_TRUE(ks_xdrrec_skiprecord(&dec));
  ASSERT_TRUE(xdr_u_int32_t(&dec, &w));
  EXPECT_EQ(1u, w);
  EXPECT_FALSE(ks_xdrrec_eof(&dec)) << "two records are buffered";
  EXPECT_FALSE(ks_xdrrec_eof(&dec)) << "asking twice consumes nothing";
  ASSERT_TRUE(ks_xdrrec_skiprecord(&dec));
  ASSERT_TRUE(xdr_u_int32_t(&dec, &w));
  EXPECT_EQ(2u, w) << "the second record is read, not skipped";
  // Its second word is left unread: the check skips it.
  EXPECT_FALSE(ks_xdrrec_eof(&dec));
  ASSERT_TRUE(ks_xdrrec_skiprecord(&dec));
  ASSERT_TRUE(xdr_u_int32_t(&dec, &w));
  EXPECT_EQ(4u, w);
  EXPECT_TRUE(ks_xdrrec_eof(&dec));
}

// Non-blocking assembly on a non-blocking socket.
struct NonBlocking : ::testing::Test {
  SocketPair sp;
  Channel in{sp.fd[1]};
  XDR dec;
  void SetUp() override {
    fcntl(sp.fd[1], F_SETFL, O_NONBLOCK);
    dec.x_op = XDR_DECODE;
    ks_xdrrec_create(&dec, 0, 0, &in, fd_read_nonblock, fd_write);
    ASSERT_TRUE(xdrrec_setnonblock(&dec, 8000));
  }
  void TearDown() override { XDR_DESTROY(&dec); }
  void send_bytes(const void *data, size_t len) {
    ASSERT_EQ(static_cast<ssize_t>(len), write(sp.fd[0], data, len));
  }
};

TEST_F(NonBlocking, RecordSplitOverThreeReadsIsReadyOnTheThird) {
  uint32_t record[] = {htonl(0x80000008u), htonl(11), htonl(22)};
  const char *bytes = reinterpret_cast<const char *>(record);
  int status = -1;
  send_bytes(bytes, 2);
  EXPECT_FALSE(xdrrec_getrec(&dec, &status, TRUE));
  EXPECT_EQ(1, status);
  send_bytes(bytes + 2, 6);
  EXPECT_FALSE(xdrrec_getrec(&dec, &status, TRUE));
  EXPECT_EQ(1, status);
  send_bytes(bytes + 8, 4);
  EXPECT_TRUE(xdrrec_getrec(&dec, &status, TRUE));
  EXPECT_EQ(1, status);
  uint32_t a, b;
  ASSERT_TRUE(xdr_u_int32_t(&dec, &a));
  ASSERT_TRUE(xdr_u_int32_t(&dec, &b));
  EXPECT_EQ(11u, a);
  EXPECT_EQ(22u, b);
  EXPECT_FALSE(xdr_u_int32_t(&dec, &a))
      << "the record is all there is; no read";
}

TEST_F(NonBlocking, HeaderAloneThenBodyIsServedOnceComplete) {
  // The read that completes the header counts as the expected data: an
  // empty read of the body right after it is not a dead peer.
  int status = -1;
  send_raw(sp.fd[0], {0x80000004u});
  EXPECT_FALSE(xdrrec_getrec(&dec, &status, TRUE));
  EXPECT_NE(0, status);
  send_raw(sp.fd[0], {77});
  EXPECT_TRUE(xdrrec_getrec(&dec, &status, TRUE));
  uint32_t w;
  ASSERT_TRUE(xdr_u_int32_t(&dec, &w));
  EXPECT_EQ(77u, w);
}

TEST_F(NonBlocking, FragmentsAreJoinedAndTheBufferGrows) {
  // Two fragments of 3000 and 6000 bytes: larger than the 4000-byte buffer.
  std::vector<uint32_t> words;
  words.push_back(3000);
  for (uint32_t i = 0; i < 750; ++i) words.push_back(i);
  words.push_back(0x80000000u | 6000);
  for (uint32_t i = 750; i < 2250; ++i) words.push_back(i);
  std::thread writer([&] { send_raw(sp.fd[0], words); });
  ASSERT_TRUE(xdrrec_setnonblock(&dec, 0x10000));
  int status = -1;
  bool ready = false;
  for (int spins = 0; !ready && spins < 100000; ++spins) {
    ready = xdrrec_getrec(&dec, &status, FALSE);
    ASSERT_NE(0, status);
  }
  writer.join();
  ASSERT_TRUE(ready);
  for (uint32_t i = 0; i < 2250; ++i) {
    uint32_t w;
    ASSERT_TRUE(xdr_u_int32_t(&dec, &w));
    ASSERT_EQ(i, w);
  }
}

// A record of fragments of 4000 and `last` bytes, every byte in the socket
// before the first step, so that only the 8000-byte limit can refuse it:
// whether a bounded number of steps found it ready, and the status.
std::pair<bool, int> two_fragments(NonBlocking &t, uint32_t last) {
  std::vector<uint32_t> words = {4000};
  words.resize(1 + 1000, 7);
  words.push_back(0x80000000u | last);
  words.resize(words.size() + last / 4, 9);
  send_raw(t.sp.fd[0], words);
  int status = 1;
  bool ready = false;
  for (int step = 0; step < 100 && status == 1 && !ready; ++step)
    ready = xdrrec_getrec(&t.dec, &status, TRUE);
  return {ready, status};
}

TEST_F(NonBlocking, RecordOfExactlyTheMaximumIsAccepted) {
  EXPECT_EQ(two_fragments(*this, 4000), std::make_pair(true, 1));
}

TEST_F(NonBlocking, RecordAboveTheMaximumKillsTheTransport) {
  EXPECT_EQ(two_fragments(*this, 4004), std::make_pair(false, 0));
}

TEST_F(NonBlocking, OversizedOrEmptyFragmentsKillTheTransport) {
  int status = -1;
  send_raw(sp.fd[0], {8001});
  EXPECT_FALSE(xdrrec_getrec(&dec, &status, TRUE));
  EXPECT_EQ(0, status);
}

TEST_F(NonBlocking, QuietConnectionIsIdleUnlessDataWasExpected) {
  int status = -1;
  EXPECT_FALSE(xdrrec_getrec(&dec, &status, FALSE));
  EXPECT_EQ(2, status);
  EXPECT_FALSE(xdrrec_getrec(&dec, &status, TRUE));
  EXPECT_EQ(0, status);
  send_raw(sp.fd[0], {0});
  EXPECT_FALSE(xdrrec_getrec(&dec, &status, FALSE));
  EXPECT_EQ(0, status) << "a zero header";
}

TEST_F(NonBlocking, SkipRecordDiscardsAReadyRecord) {
  send_raw(sp.fd[0], {0x80000004u, 5});
  EXPECT_TRUE(ks_xdrrec_skiprecord(&dec));
  uint32_t w;
  EXPECT_FALSE(xdr_u_int32_t(&dec, &w));
  EXPECT_TRUE(xdrrec_grow_input(&dec, 20000));
}

}  // namespace
