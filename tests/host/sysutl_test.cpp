// Hosts, resolution, socket addresses and loopback socket pairs, on real
// sockets; account names and SIDs over the real account database.
#include <orvexks/sysutl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int kHostNotFound = 11001;

// Sets QUILL_IP_VERSION for one test and restores the absence after it.
class IpVersion {
 public:
  explicit IpVersion(const char *value) {
    if (value != nullptr)
      setenv("QUILL_IP_VERSION", value, 1);
    else
      unsetenv("QUILL_IP_VERSION");
  }
  ~IpVersion() { unsetenv("QUILL_IP_VERSION"); }
};

sockaddr_in v4(const char *text, uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  inet_pton(AF_INET, text, &sin.sin_addr);
  return sin;
}

sockaddr_in6 v6(const char *text, uint16_t port) {
  sockaddr_in6 sin6{};
  sin6.sin6_family = AF_INET6;
  sin6.sin6_port = htons(port);
  inet_pton(AF_INET6, text, &sin6.sin6_addr);
  return sin6;
}

sockaddr *sa(void *p) { return static_cast<sockaddr *>(p); }

std::string to_str(const void *addr, size_t size = 128) {
  std::vector<char> out(size > 0 ? size : 1, 'x');
  sysutl_sockaddr_to_str(static_cast<const sockaddr *>(addr), size, out.data());
  return out.data();
}

// Families of a resolution's entries; "error N" when it failed.
std::string families_of(int rc, addrinfo *list) {
  if (rc != 0) {
    EXPECT_EQ(list, nullptr);
    return "error " + std::to_string(rc);
  }
  std::string out;
  for (addrinfo *ai = list; ai != nullptr; ai = ai->ai_next)
    out += ai->ai_family == AF_INET    ? "4"
           : ai->ai_family == AF_INET6 ? "6"
                                       : "?";
  freeaddrinfo(list);
  return out;
}

std::string resolve(const char *name, bool numeric = false) {
  addrinfo *list = nullptr;
  int rc = numeric ? sysutl_host_addr_numeric(name, &list)
                   : sysutl_host_addr(name, nullptr, SOCK_STREAM, &list);
  return families_of(rc, list);
}

// ---- Address texts and reverse lookups.

TEST(SysutlAddressText, BothFamiliesInBracketsWithPort) {
  sockaddr_in a = v4("10.1.2.3", 111);
  sockaddr_in6 b = v6("::1", 80);
  EXPECT_EQ(to_str(&a), "[10.1.2.3]:111");
  EXPECT_EQ(to_str(&b), "[::1]:80");
  EXPECT_EQ(to_str(&a, 8), "[10.1.2");  // cut to the buffer

  netbuf nb{sizeof b, sizeof b, &b};
  char out[64];
  EXPECT_STREQ(sysutl_netbuf_to_str(&nb, sizeof out, out), "[::1]:80");
}

TEST(SysutlAddressText, UnsupportedFamiliesAreUnresolvable) {
  sockaddr_storage unix_addr{};
  unix_addr.ss_family = AF_UNIX;
  EXPECT_EQ(to_str(&unix_addr), "<unresolvable address>");

  char host[64] = "untouched", serv[16];
  EXPECT_EQ(
      sysutl_host_numeric(sa(&unix_addr), sizeof host, host, sizeof serv, serv),
      1);
  EXPECT_STREQ(host, "untouched");
}

// The numeric form and its cut to the buffer are in sysutl_edges_test.
TEST(SysutlAddressText, ReverseLookupByName) {
  sockaddr_in a = v4("127.0.0.1", 111);
  char host[NI_MAXHOST], serv[NI_MAXSERV];
  EXPECT_EQ(sysutl_host_name(sa(&a), sizeof host, host, sizeof serv, serv), 0);
  EXPECT_STRNE(host, "");
}

// ---- Address records.

TEST(SysutlSockaddr, SizesPortsAndCopies) {
  sockaddr_in a = v4("10.0.0.1", 7);
  sockaddr_in6 b = v6("fe80::1", 7);
  sockaddr_storage other{};
  other.ss_family = AF_UNIX;
  EXPECT_EQ(sysutl_sockaddr_size(sa(&a)), 16);
  EXPECT_EQ(sysutl_sockaddr_size(sa(&b)), 28);
  EXPECT_EQ(sysutl_sockaddr_size(sa(&other)), 0);

  uint16_t port = 0;
  EXPECT_EQ(sysutl_sockaddr_set_port(sa(&b), htons(2049)), 0);
  EXPECT_EQ(sysutl_sockaddr_get_port(sa(&b), &port), 0);
  EXPECT_EQ(port, htons(2049));
  EXPECT_EQ(sysutl_sockaddr_set_port(sa(&other), 1), 1);

  sockaddr_storage copy;
  memset(&copy, 0xAB, sizeof copy);
  EXPECT_EQ(sysutl_copy_sockaddr(sa(&copy), sa(&b)), 0);
  EXPECT_EQ(memcmp(&copy, &b, sizeof b), 0);
  // No more than 28 bytes.
  EXPECT_EQ(reinterpret_cast<unsigned char *>(&copy)[sizeof b], 0xAB);
  EXPECT_EQ(sysutl_copy_sockaddr(sa(&copy), sa(&other)), 1);
}

TEST(SysutlSockaddr, EqualityWithAndWithoutPorts) {
  sockaddr_in a = v4("192.0.2.1", 111), a2 = v4("192.0.2.1", 2049);
  EXPECT_EQ(sysutl_sockaddr_equal(sa(&a), sa(&a)), 1);
  EXPECT_EQ(sysutl_sockaddr_equal(sa(&a), sa(&a2)), 0);
  EXPECT_EQ(sysutl_sockaddr_host_equal(sa(&a), sa(&a2)), 1);

  sockaddr_in6 b = v6("2001:db8::1", 111), b2 = b;
  b2.sin6_scope_id = 3;  // equal host, different record
  EXPECT_EQ(sysutl_sockaddr_equal(sa(&b), sa(&b2)), 0);
  EXPECT_EQ(sysutl_sockaddr_host_equal(sa(&b), sa(&b2)), 1);

  // The same host in another family is another host.
  sockaddr_in6 mapped{};
  sysutl_set_ipv4_as_ipv6mapped(sa(&a), sa(&mapped));
  EXPECT_EQ(sysutl_sockaddr_host_equal(sa(&a), sa(&mapped)), 0);
  // An address of no known size equals nothing, itself included.
  sockaddr_storage u{};
  u.ss_family = AF_UNIX;
  EXPECT_EQ(sysutl_sockaddr_equal(sa(&u), sa(&u)), 0);
}

TEST(SysutlSockaddr, WildcardAndLoopbackInit) {
  sockaddr_storage s;
  memset(&s, 0xFF, sizeof s);
  ASSERT_EQ(sysutl_sockaddr_loopback_init(AF_INET6, sa(&s)), 0);
  EXPECT_EQ(to_str(&s), "[::1]:0");
  sockaddr_in6 expect = v6("::1", 0);
  EXPECT_EQ(memcmp(&s, &expect, sizeof expect),
            0);  // flow information and scope zero

  ASSERT_EQ(sysutl_sockaddr_loopback_init(AF_INET, sa(&s)), 0);
  EXPECT_EQ(to_str(&s), "[127.0.0.1]:0");
  ASSERT_EQ(sysutl_sockaddr_any_init(AF_INET, sa(&s)), 0);
  EXPECT_EQ(to_str(&s), "[0.0.0.0]:0");
  // 23, the other system's AF_INET6, is no family here.
  EXPECT_EQ(sysutl_sockaddr_loopback_init(23, sa(&s)), 1);
}

TEST(SysutlSockaddr, Ipv4MappedForms) {
  sockaddr_in6 loop6 = v6("::1", 0), mapped = v6("::ffff:127.0.0.1", 0);
  sockaddr_in loop4 = v4("127.0.0.1", 0);
  EXPECT_EQ(sysutl_is_addr_v4mapped(sa(&loop6)), 0);
  EXPECT_EQ(sysutl_is_addr_v4mapped(sa(&mapped)), 1);
  EXPECT_EQ(sysutl_is_addr_v4mapped(sa(&loop4)), 0);

  // 127.0.0.1 to a mapped address and back; sa6's port and scope stay.
  sockaddr_in6 out = v6("2001:db8::9", 4242);
  out.sin6_scope_id = 5;
  ASSERT_EQ(sysutl_set_ipv4_as_ipv6mapped(sa(&loop4), sa(&out)), 0);
  EXPECT_EQ(sysutl_is_addr_v4mapped(sa(&out)), 1);
  EXPECT_EQ(out.sin6_port, htons(4242));
  EXPECT_EQ(out.sin6_scope_id, 5u);
  out.sin6_scope_id = 0;
  EXPECT_EQ(to_str(&out), "[::ffff:127.0.0.1]:4242");
  in_addr back{};
  ASSERT_EQ(sysutl_get_v4mapped_addr(sa(&out), &back), 0);
  EXPECT_EQ(back.s_addr, loop4.sin_addr.s_addr);
  EXPECT_EQ(sysutl_get_v4mapped_addr(sa(&loop4), &back), 1);
  EXPECT_EQ(sysutl_set_ipv4_as_ipv6mapped(sa(&loop6), sa(&out)), 1);
}

TEST(SysutlSockaddr, FamilyCodes) {
  EXPECT_EQ(sysutl_sa_family_to_ks_addrfamily(AF_INET), 1);
  EXPECT_EQ(sysutl_sa_family_to_ks_addrfamily(AF_INET6), 2);
  EXPECT_EQ(sysutl_sa_family_to_ks_addrfamily(23), 0);  // not AF_INET6 here
  EXPECT_EQ(sysutl_ks_addrfamily_to_sa_family(2), AF_INET6);
  EXPECT_EQ(sysutl_ks_addrfamily_to_sa_family(3), AF_UNSPEC);
}

// ---- Resolution.

TEST(SysutlResolve, IpVersionRestrictsFamilies) {
  {
    IpVersion only4("4");
    std::string fams = resolve("localhost");
    ASSERT_FALSE(fams.empty());
    EXPECT_EQ(fams.find_first_not_of('4'), std::string::npos) << fams;
    EXPECT_EQ(resolve("::1").substr(0, 6), "error ");
  }
  {
    IpVersion only6("6");
    EXPECT_EQ(resolve("::1"), "6");
    EXPECT_EQ(resolve("127.0.0.1").substr(0, 6), "error ");
  }
  std::string unset = resolve("localhost");
  IpVersion junk("banana");  // anything else behaves as unset
  EXPECT_EQ(resolve("localhost"), unset);
  EXPECT_EQ(resolve("::1"), "6");
  EXPECT_EQ(resolve("127.0.0.1"), "4");
}

TEST(SysutlResolve, NumericOnlyAndUnknownHosts) {
  IpVersion both(nullptr);
  EXPECT_EQ(resolve("127.0.0.1", true), "444");  // one entry a socket type
  EXPECT_EQ(resolve("localhost", true),
            "error " + std::to_string(kHostNotFound));
  EXPECT_EQ(resolve("no-such-host.invalid"),
            "error " + std::to_string(kHostNotFound));

  addrinfo *list = nullptr;
  ASSERT_EQ(sysutl_host_addr("127.0.0.1", "111", SOCK_DGRAM, &list), 0);
  EXPECT_EQ(list->ai_socktype, SOCK_DGRAM);
  EXPECT_EQ(to_str(list->ai_addr), "[127.0.0.1]:111");
  freeaddrinfo(list);
}

TEST(SysutlResolve, CanonicalNames) {
  char out[SYSUTL_CANONICAL_NAME_SIZE];
  EXPECT_EQ(sysutl_host_canonical("localhost", out), 0);
  EXPECT_STREQ(out, "localhost");
  EXPECT_EQ(sysutl_host_canonical("no-such-host.invalid", out), 1);
  EXPECT_STREQ(out, "<unresolvable canonical name>");
}

// ---- This host.

TEST(SysutlHost, NameAndIdAreThisHostsAndStable) {
  char expect[1024] = "";
  ASSERT_EQ(gethostname(expect, sizeof expect), 0);
  std::vector<const char *> seen(4);
  std::vector<std::thread> threads;
  for (auto &slot : seen)
    threads.emplace_back([&slot] { slot = sysutl_myhostname(); });
  for (auto &t : threads) t.join();
  for (const char *name : seen) EXPECT_EQ(name, seen[0]);  // one copy, kept
  EXPECT_STREQ(seen[0], expect);

  addrinfo hints{}, *list = nullptr;
  hints.ai_family = AF_INET;
  ASSERT_EQ(getaddrinfo(expect, nullptr, &hints, &list), 0);
  uint32_t first =
      reinterpret_cast<sockaddr_in *>(list->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(list);
  EXPECT_EQ(sysutl_myhostid(), first);
  EXPECT_EQ(sysutl_myhostid(), first);
}

// ---- Sockets.

// Reads one byte from fd, waiting at most a second.
int read_byte(int fd) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  timeval tv{1, 0};
  if (select(fd + 1, &set, nullptr, nullptr, &tv) != 1) return -1;
  unsigned char c;
  return read(fd, &c, 1) == 1 ? c : -1;
}

TEST(SysutlPipe, ConnectedLoopbackPair) {
  for (int flag : {0, 1}) {
    int pair[2] = {-1, -1};
    ASSERT_EQ(sysutl_pipe(flag, pair), 0);
    ASSERT_EQ(write(pair[0], "a", 1), 1);
    ASSERT_EQ(write(pair[1], "b", 1), 1);
    EXPECT_EQ(read_byte(pair[1]), 'a');
    EXPECT_EQ(read_byte(pair[0]), 'b');

    EXPECT_EQ(fcntl(pair[0], F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(pair[1], F_GETFL) & O_NONBLOCK, 0);
    // The flag picks which end child processes do not inherit.
    EXPECT_EQ((fcntl(pair[0], F_GETFD) & FD_CLOEXEC) != 0, flag != 0);
    EXPECT_EQ((fcntl(pair[1], F_GETFD) & FD_CLOEXEC) != 0, flag == 0);

    sockaddr_storage local{}, peer{};
    socklen_t len = sizeof local;
    ASSERT_EQ(getsockname(pair[0], sa(&local), &len), 0);
    len = sizeof peer;
    ASSERT_EQ(getpeername(pair[1], sa(&peer), &len), 0);
    EXPECT_EQ(sysutl_sockaddr_equal(sa(&local), sa(&peer)), 1);
    EXPECT_EQ(to_str(&local).rfind("[127.0.0.1]:", 0), 0u);

    EXPECT_EQ(sysutl_pipe_close(pair[1]), 0);
    EXPECT_EQ(read_byte(pair[0]), -1);  // end of stream
    EXPECT_EQ(sysutl_pipe_close(pair[0]), 0);
  }
  EXPECT_EQ(sysutl_pipe_close(-1), 1);
}

// In a child: leaves room for no more descriptors, so that making the
// listener fails, and exits with 3 when sysutl_pipe reports the failure.
void pipe_without_descriptors() {
  int highest = dup(0);
  rlimit lim{static_cast<rlim_t>(highest), static_cast<rlim_t>(highest)};
  setrlimit(RLIMIT_NOFILE, &lim);
  int pair[2];
  _exit(sysutl_pipe(0, pair) == 1 ? 3 : 0);
}

TEST(SysutlPipeDeathTest, SocketFailureIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(pipe_without_descriptors(), testing::ExitedWithCode(3),
              "socket: .*\\(sysutl_pipe\\)");
}

TEST(SysutlSocket, Ipv6LoopbackListenerAndAccept) {
  int listener = socket(AF_INET6, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_storage addr;
  ASSERT_EQ(sysutl_sockaddr_loopback_init(AF_INET6, sa(&addr)), 0);
  ASSERT_EQ(bind(listener, sa(&addr), sysutl_sockaddr_size(sa(&addr))), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(listener, sa(&addr), &len), 0);
  ASSERT_EQ(listen(listener, 1), 0);

  int client = socket(AF_INET6, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, sa(&addr), len), 0);
  sockaddr_storage peer{};
  socklen_t peer_len = sizeof peer;
  int server = sysutl_accept(listener, sa(&peer), &peer_len);
  ASSERT_GE(server, 0);
  EXPECT_EQ(sysutl_sockaddr_host_equal(sa(&peer), sa(&addr)), 1);
  EXPECT_EQ(sysutl_sockaddr_equal(sa(&peer), sa(&addr)),
            0);  // the client's own port

  EXPECT_EQ(sysutl_set_socket_nonblocking(server, 1), 0);
  char c;
  EXPECT_EQ(read(server, &c, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(sysutl_set_socket_nonblocking(-1, 1), 1);
  close(server);
  close(client);
  close(listener);
}

TEST(SysutlSocket, InheritanceAndSets) {
  int fd = dup(1);
  ASSERT_EQ(sysutl_set_cloexec_file(fd, 1), 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  ASSERT_EQ(sysutl_set_cloexec_other(fd, 0), 0);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  close(fd);
  EXPECT_EQ(sysutl_set_cloexec_file(-1, 1), 1);

  fd_set set;
  FD_ZERO(&set);
  EXPECT_EQ(sysutl_fd_set_popcount(&set), 0);
  for (int s : {0, 63, 64, 1023}) FD_SET(s, &set);
  EXPECT_EQ(sysutl_fd_set_popcount(&set), 4);

  unsigned char bytes[8];
  EXPECT_EQ(sysutl_get_random_bytes(bytes, sizeof bytes), 1);
}

// ---- The current user, and names and SIDs.

std::string login_of_process() { return getpwuid(getuid())->pw_name; }

TEST(SysutlNames, CurrentUserNamesAreKeptPerThread) {
  const std::string login = login_of_process();
  const char *first = sysutl_myloginname();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, login);
  EXPECT_EQ(sysutl_myloginname(), first);  // kept while the user is the same
  EXPECT_STREQ(sysutl_mygroupname(), getgrgid(getgid())->gr_name);

  std::string gecos = getpwuid(getuid())->pw_gecos;
  std::string full = sysutl_myfullname();
  EXPECT_EQ(full, gecos.empty() ? login : gecos.substr(0, gecos.find(',')));
  EXPECT_EQ(sysutl_myfullname(), sysutl_myfullname());

  std::string other_text;
  std::thread t([&] { other_text = sysutl_myloginname(); });
  t.join();
  EXPECT_EQ(other_text, login);
}

TEST(SysutlNames, StylesOfAKnownAccount) {
  credutl_sid_t usid;
  sysutl_myusid(&usid);
  const std::string login = login_of_process();
  int found = 0;
  std::string qualified =
      sysutl_usid_to_user(&usid, SYSUTL_NAME_QUALIFIED, &found);
  EXPECT_EQ(found, 1);
  ASSERT_NE(qualified.find('\\'), std::string::npos) << qualified;
  EXPECT_EQ(qualified.substr(qualified.find('\\') + 1), login);
  EXPECT_EQ(sysutl_usid_to_user(&usid, SYSUTL_NAME_SHORT, nullptr), login);
  if (getenv("QUILLMERE_DISABLE_NAME_TYPE_CONTEXT") == nullptr) {
    EXPECT_EQ(sysutl_usid_to_user(&usid, SYSUTL_NAME_CONTEXT, nullptr),
              qualified);
  }
  EXPECT_EQ(sysutl_usid_to_user(&usid, SYSUTL_NAME_FULL, nullptr),
            std::string(sysutl_myfullname()));

  char sid_text[CREDUTL_SID_STR_SIZE];
  credutl_sid_to_str(&usid, sid_text);
  EXPECT_STREQ(sysutl_usid_to_user(&usid, 99, &found),
               sid_text);  // no such style
  EXPECT_EQ(found, 1);

  credutl_sid_t gsid;
  sysutl_mygsid(&gsid);
  credutl_sid_to_str(&gsid, sid_text);
  EXPECT_STREQ(sysutl_gsid_to_group(&gsid, SYSUTL_NAME_SHORT, &found),
               sysutl_mygroupname());
  EXPECT_EQ(found, 1);
  EXPECT_STREQ(sysutl_gsid_to_group(&gsid, SYSUTL_NAME_FULL, nullptr),
               sid_text);  // users only
}

// In a child: the name-type switch is read once, so a fresh process sees it.
void context_style_when_disabled() {
  setenv("QUILLMERE_DISABLE_NAME_TYPE_CONTEXT", "1", 1);
  credutl_sid_t usid;
  sysutl_myusid(&usid);
  _exit(login_of_process() ==
                sysutl_usid_to_user(&usid, SYSUTL_NAME_CONTEXT, nullptr)
            ? 0
            : 1);
}

TEST(SysutlNamesDeathTest, ContextStyleIsShortWhenDisabled) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(context_style_when_disabled(), testing::ExitedWithCode(0), "");
}

TEST(SysutlNames, SidsWithoutAccountsGiveTheirTexts) {
  int found = -1;
  EXPECT_STREQ(sysutl_usid_to_user(&CREDUTL_SID_NOBODY, 1, &found), "NOBODY");
  EXPECT_EQ(found, 0);
  EXPECT_STREQ(sysutl_gsid_to_group(&CREDUTL_SID_DONTCARE, 2, &found),
               "DONTCARE");
  EXPECT_EQ(found, 0);

  credutl_sid_t unused;
  credutl_unix_uid_to_sid(4000000000u, &unused);
  char text[CREDUTL_SID_STR_SIZE];
  credutl_sid_to_str(&unused, text);
  imsg_set_trace_verbosity(4);
  imsg_set_trace_subsys("ks/sysutl");
  testing::internal::CaptureStderr();
  found = -1;
  EXPECT_STREQ(sysutl_usid_to_user(&unused, 2, &found), text);
  EXPECT_EQ(found, 0);
  credutl_sid_t usid;
  sysutl_myusid(&usid);
  std::string qualified =
      sysutl_usid_to_user(&usid, SYSUTL_NAME_QUALIFIED, nullptr);
  std::string traced = testing::internal::GetCapturedStderr();
  imsg_set_trace_verbosity(0);
  EXPECT_NE(traced.find("Unknown user name: \"" + std::string(text) + "\"."),
            std::string::npos)
      << traced;
  EXPECT_NE(traced.find("Fully-Qualified User Name: " + qualified),
            std::string::npos)
      << traced;
}

TEST(SysutlNames, NamesToSids) {
  const std::string login = login_of_process();
  credutl_sid_t usid, gsid, out;
  sysutl_myusid(&usid);
  sysutl_mygsid(&gsid);
  ASSERT_EQ(sysutl_user_to_usid(login.c_str(), 0, &out), 0);
  EXPECT_TRUE(credutl_sid_eq(&out, &usid));
  ASSERT_EQ(sysutl_user_to_gsid(login.c_str(), 0, &out), 0);
  EXPECT_TRUE(credutl_sid_eq(&out, &gsid));
  ASSERT_EQ(sysutl_group_to_gsid(sysutl_mygroupname(), 0, &out), 0);
  EXPECT_TRUE(credutl_sid_eq(&out, &gsid));
  ASSERT_EQ(sysutl_user_to_usid("NT:S-1-1-0", 0, &out),
            0);  // a SID text names its SID
  char text[CREDUTL_SID_STR_SIZE];
  EXPECT_STREQ(credutl_sid_to_str(&out, text), "NT:S-1-1-0");

  testing::internal::CaptureStderr();
  EXPECT_EQ(sysutl_user_to_usid("no-such-user-j3", 1, &out), 2);  // quiet
  EXPECT_EQ(sysutl_user_to_gsid("no-such-user-j3", 0, &out), 2);
  EXPECT_EQ(sysutl_group_to_gsid("no-such-group-j3", 0, &out), 2);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("Unknown user name"),
            err.rfind("Unknown user name"));  // printed once
  EXPECT_NE(err.find("Unknown user name: \"no-such-user-j3\".\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Unknown group name: \"no-such-group-j3\".\n"),
            std::string::npos)
      << err;

  char home[8];
  EXPECT_EQ(sysutl_get_homedir(login.c_str(), sizeof home, home), 1);
  EXPECT_EQ(std::string(getpwuid(getuid())->pw_dir).substr(0, 7), home);
  EXPECT_EQ(sysutl_get_homedir("no-such-user-j3", sizeof home, home), 0);
  EXPECT_EQ(sysutl_user_to_fullname("no-such-user-j3"), nullptr);
  EXPECT_STREQ(sysutl_user_to_fullname(login.c_str()), sysutl_myfullname());
}

}  // namespace

TEST(SysutlLimits, MaxFdsFollowsTheSoftDescriptorLimit) {
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= INT32_MAX) {
    EXPECT_EQ(sysutl_get_max_fds(), static_cast<int>(limit.rlim_cur));
  }
  EXPECT_GT(sysutl_get_max_fds(), 2);
}
