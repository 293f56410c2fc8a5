// Transport selection, universal addresses, dynamic-port binding and the
// binder records, without a binder.
#include <orvexks/rpc/rpcb.h>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "rpc/bind/findaddr.h"
#include "rpc/bind/netconfig.h"
#include "rpc/bind/rpcb_prot.h"
#include "rpc/bind/uaddr.h"
#include "rpc/loopback.h"

namespace {

using ids = std::vector<std::string>;

ids walk(const char *nettype) {
  ids found;
  void *w = rpc_setconf(nettype);
  if (w == nullptr) return {"<none>"};
  while (const struct netconfig *nc = rpc_getconf(w))
    found.push_back(nc->nc_netid);
  rpc_endconf(w);
  return found;
}

TEST(NetconfigTest, NetworkTypesSelectFromTheBuiltInTable) {
  EXPECT_EQ(walk("tcp"), (ids{"tcp6", "tcp"}));
  EXPECT_EQ(walk("UDP"), (ids{"udp6", "udp"}));
  EXPECT_EQ(walk("visible"), ids{});
  EXPECT_EQ(walk("nonsense"), ids{"<none>"});
  EXPECT_EQ(rpc_getconf(nullptr), nullptr);
  int not_a_walk = 0;
  EXPECT_EQ(rpc_getconf(&not_a_walk), nullptr);
}

TEST(NetconfigTest, NetpathListsTransportsInItsOrder) {
  unsetenv("NETPATH");
  EXPECT_EQ(walk(nullptr), ids{});
  setenv("NETPATH", "udp:tcp", 1);
  EXPECT_EQ(walk(""), (ids{"udp", "tcp"}));
  setenv("NETPATH", "tcp:ipx:udp6::tcp6", 1);
  EXPECT_EQ(walk("netpath"), (ids{"tcp", "udp6", "tcp6"}));
  EXPECT_EQ(walk("circuit_n"), (ids{"tcp", "tcp6"}));
  EXPECT_EQ(walk("datagram_n"), (ids{"udp6"}));
  // An escaped colon is part of the name, so "tc\:p" names nothing.
  setenv("NETPATH", "tc\\:p:udp", 1);
  EXPECT_EQ(walk("netpath"), (ids{"udp"}));
  unsetenv("NETPATH");
}

TEST(NetconfigTest, IpDescriptionsAndSocketParameters) {
  const struct netconfig *tcp = rpc_getconfip("tcp");
  ASSERT_NE(tcp, nullptr);
  EXPECT_STREQ(tcp->nc_protofmly, "inet");
  EXPECT_EQ(rpc_getconfip("sctp"), nullptr);
  // A caller's own record naming a built-in netid works like the table's.
  char netid[] = "udp6", fam[] = "inet6", proto[] = "udp", dev[] = "-";
  struct netconfig own = {netid, NC_TPI_CLTS, 0, fam, proto, dev, 0, nullptr};
  ksi_sockparams p;
  ASSERT_TRUE(ksi_netconfig_sockparams(&own, &p));
  EXPECT_EQ(p.family, AF_INET6);
  EXPECT_EQ(p.protocol, IPPROTO_UDP);
}

TEST(UaddrTest, ParsesAndFormatsBothFamilies) {
  const struct {
    const char *netid, *text;
    uint32_t len;
    uint16_t port;
  } cases[] = {{"udp", "10.1.2.3.4.5", sizeof(sockaddr_in), 1029},
               {"udp6", "::1.0.111", sizeof(sockaddr_in6), 111}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    loopback_addr at;
    ASSERT_EQ(ksi_uaddr2taddr(ksi_netconfig_lookup(c.netid), c.text, &at.ss),
              c.len);
    EXPECT_EQ(at.port(), c.port);
    char *text = ksi_taddr2uaddr(at.sa(), c.len);
    EXPECT_STREQ(text, c.text);
    free(text);
  }
}

TEST(UaddrTest, RefusesMalformedTextAndOtherFamilies) {
  sockaddr_storage ss;
  const struct netconfig *udp = rpc_getconfip("udp");
  for (const char *bad :
       {"", ".", "1.2.3.4.5", "1.2.3.4.256.1", "1.2.3.4.1.x", "1.2.3.4..1",
        "::1.0.111", "a.b.c.d.1.1", "1.2.3.4.1.1000", "1.2.3.4.1.0001"})
    EXPECT_EQ(ksi_uaddr2taddr(udp, bad, &ss), 0u) << bad;
  EXPECT_EQ(ksi_uaddr2taddr(ksi_netconfig_lookup("udp6"), "127.0.0.1.0.1", &ss),
            0u);
  EXPECT_EQ(ksi_uaddr2taddr(nullptr, "127.0.0.1.0.1", &ss), 0u);
  sockaddr other{};
  other.sa_family = AF_UNIX;
  EXPECT_EQ(ksi_taddr2uaddr(&other, sizeof other), nullptr);
}

loopback_addr local_of(int fd) {
  loopback_addr at;
  at.len = sizeof at.ss;
  getsockname(fd, at.sa(), &at.len);
  return at;
}

TEST(BindresvportTest, BindsInTheDynamicRange) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(ks_bindresvport(fd, nullptr), 0);
  EXPECT_GE(local_of(fd).port(), 49152);
  close(fd);
  fd = socket(AF_INET6, SOCK_STREAM, 0);
  loopback_addr sin6 = loopback(AF_INET6, 0);
  ASSERT_EQ(ks_bindresvport(fd, sin6.sa()), 0);
  EXPECT_GE(sin6.port(), 49152);  // the caller's address gets the port
  close(fd);
  // A UDP socket with a hint binds the hint's host.
  fd = socket(AF_INET, SOCK_DGRAM, 0);
  loopback_addr hint = loopback(AF_INET, 0);
  ASSERT_EQ(ks_bindresvport_sa(fd, nullptr, hint.sa()), 0);
  loopback_addr bound = local_of(fd);
  EXPECT_EQ(reinterpret_cast<sockaddr_in *>(&bound.ss)->sin_addr.s_addr,
            htonl(INADDR_LOOPBACK));
  close(fd);
}

TEST(BindresvportTest, RefusesOtherFamiliesAndReportsSocketErrors) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr other{};
  other.sa_family = AF_UNIX;
  errno = 0;
  EXPECT_EQ(ks_bindresvport(fd, &other), -1);
  EXPECT_EQ(errno, 10047);
  close(fd);
  errno = 0;
  EXPECT_EQ(ks_bindresvport(fd, nullptr), -1);  // closed socket
  EXPECT_EQ(errno, 10009);
  EXPECT_FALSE(ks_pmap_set(0x20000999, 1, 1, 1234));  // neither TCP nor UDP
}

// Takes every port of the dynamic range in a network namespace of its own,
// so that nothing else on the machine loses a port meanwhile; the exit
// code is the error ks_bindresvport gave, 0 when it bound, 1 on a setup
// failure.
int bind_with_every_dynamic_port_taken() {
  struct rlimit lim = {20000, 20000};
  if (unshare(CLONE_NEWNET) != 0 || setrlimit(RLIMIT_NOFILE, &lim) != 0)
    return 1;
  for (uint32_t port = 49152; port <= 65535; port++) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0)
      return 1;
  }
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  return ks_bindresvport(fd, nullptr) == 0 ? 0 : errno - 10000;
}

TEST(BindresvportTest, EveryPortTakenEndsWithAddressInUse) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(bind_with_every_dynamic_port_taken());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 1) GTEST_SKIP() << "no namespace or descriptors";
  EXPECT_EQ(WEXITSTATUS(status) + 10000, 10048);
}

TEST(BindresvportTest, GetMyAddressIsTheLoopbackPortMapper) {
  sockaddr_in sin;
  EXPECT_EQ(ks_get_myaddress(&sin), 0);
  EXPECT_EQ(sin.sin_family, AF_INET);
  EXPECT_EQ(ntohs(sin.sin_port), 111);
  EXPECT_EQ(sin.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
}

TEST(FindaddrTest, ScopedIpv6ResultsTakeTheBindersScopeId) {
  auto v6 = [](const char *text, uint32_t scope) {
    sockaddr_storage ss{};
    auto *sin6 = reinterpret_cast<sockaddr_in6 *>(&ss);
    sin6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &sin6->sin6_addr);
    sin6->sin6_scope_id = scope;
    return ss;
  };
  auto scope_after = [](const sockaddr_storage &binder, sockaddr_storage r) {
    ksi_copy_scope(binder, &r);
    return reinterpret_cast<sockaddr_in6 *>(&r)->sin6_scope_id;
  };
  sockaddr_storage link = v6("fe80::1", 3), site = v6("fec0::1", 4);
  EXPECT_EQ(scope_after(link, v6("febf::9", 0)), 3u);
  EXPECT_EQ(scope_after(site, v6("feff::9", 0)), 4u);
  // Different scopes, unscoped addresses and IPv4 binders copy nothing.
  EXPECT_EQ(scope_after(site, v6("fe80::9", 0)), 0u);
  EXPECT_EQ(scope_after(link, v6("fec0::9", 0)), 0u);
  EXPECT_EQ(scope_after(link, v6("fd00::9", 0)), 0u);
  EXPECT_EQ(scope_after(v6("::1", 5), v6("fe80::9", 0)), 0u);
  sockaddr_storage v4{};
  v4.ss_family = AF_INET;
  EXPECT_EQ(scope_after(v4, v6("fe80::9", 7)), 7u);
}

template <typename T>
std::vector<char> encode(bool_t (*filter)(XDR *, T *), T *obj) {
  std::vector<char> buf(4096);
  XDR x;
  xdrmem_create(&x, buf.data(), static_cast<uint32_t>(buf.size()), XDR_ENCODE);
  EXPECT_TRUE(filter(&x, obj));
  buf.resize(XDR_GETPOS(&x));
  return buf;
}

template <typename T>
bool decode(bool_t (*filter)(XDR *, T *), std::vector<char> bytes, T *obj) {
  XDR x;
  xdrmem_create(&x, bytes.data(), static_cast<uint32_t>(bytes.size()),
                XDR_DECODE);
  return filter(&x, obj);
}

TEST(RpcbXdrTest, MappingListsRoundTripAndFree) {
  char netid[] = "tcp", addr[] = "127.0.0.1.4.1", owner[] = "root";
  struct rpcblist second = {{7, 2, netid, addr, owner}, nullptr};
  struct rpcblist first = {{100000, 4, netid, addr, owner}, &second};
  struct rpcblist *head = &first, *decoded = nullptr;
  ASSERT_TRUE(decode(xdr_ks_rpcblist_ptr, encode(xdr_ks_rpcblist_ptr, &head),
                     &decoded));
  ASSERT_NE(decoded->rpcb_next, nullptr);
  EXPECT_EQ(decoded->rpcb_next->rpcb_map.r_prog, 7u);
  EXPECT_STREQ(decoded->rpcb_next->rpcb_map.r_owner, "root");
  EXPECT_EQ(decoded->rpcb_next->rpcb_next, nullptr);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &decoded);
  EXPECT_EQ(decoded, nullptr);

  struct pmaplist p2 = {{1, 2, 17, 111}, nullptr};
  struct pmaplist p1 = {{100000, 2, 6, 111}, &p2};
  struct pmaplist *phead = &p1, *pdecoded = nullptr;
  std::vector<char> bytes = encode(xdr_ks_pmaplist_ptr, &phead);
  EXPECT_EQ(bytes.size(), 4u * (1 + 4 + 1 + 4 + 1));
  ASSERT_TRUE(decode(xdr_ks_pmaplist, bytes, &pdecoded));
  EXPECT_EQ(pdecoded->pml_next->pml_map.pm_prot, 17u);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_pmaplist), &pdecoded);
}

std::vector<char> big_endian(const std::vector<uint32_t> &words) {
  std::vector<char> bytes(4 * words.size());
  for (size_t i = 0; i < words.size(); i++) {
    uint32_t be = htonl(words[i]);
    memcpy(&bytes[4 * i], &be, 4);
  }
  return bytes;
}

TEST(RpcbXdrTest, TruncatedAndEndlessListsFailWithoutLeaks) {
  // "More" forever: decoding stops at the list limit or the data's end.
  std::vector<uint32_t> words;
  for (int i = 0; i < 5 * 1000; i++) words.insert(words.end(), {1, 1, 2, 3, 4});
  struct pmaplist *list = nullptr;
  EXPECT_FALSE(decode(xdr_ks_pmaplist_ptr, big_endian(words), &list));
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_pmaplist_ptr), &list);
  // A string length far beyond the data.
  struct rpcblist *rl = nullptr;
  EXPECT_FALSE(
      decode(xdr_ks_rpcblist_ptr, big_endian({1, 1, 2, 0x7FFFFFFF}), &rl));
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &rl);
}

TEST(RpcbXdrTest, IndirectCallArgumentsCarryTheirLengthBeforeThem) {
  uint32_t value = 0xABCD;
  ksi_rmtcallargs args = {10, 2, 3, reinterpret_cast<xdrproc_t>(xdr_u_int32_t),
                          &value};
  EXPECT_EQ(encode(ksi_xdr_rmtcallargs, &args),
            big_endian({10, 2, 3, 4, 0xABCD}));
}

}  // namespace
