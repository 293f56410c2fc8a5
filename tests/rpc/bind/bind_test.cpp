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

namespace {

std::vector<std::string> walk(const char *nettype) {
  std::vector<std::string> ids;
  void *w = rpc_setconf(nettype);
  if (w == nullptr) return {"<none>"};
  while (const struct netconfig *nc = rpc_getconf(w))
    ids.push_back(nc->nc_netid);
  rpc_endconf(w);
  return ids;
}

using ids = std::vector<std::string>;

TEST(NetconfigTest, NetworkTypesSelectFromTheBuiltInTable) {
  EXPECT_EQ(walk("tcp"), (ids{"tcp6", "tcp"}));
  EXPECT_EQ(walk("UDP"), (ids{"udp6", "udp"}));
  EXPECT_EQ(walk("visible"), ids{});
  EXPECT_EQ(walk("circuit_v"), ids{});
  EXPECT_EQ(walk("nonsense"), ids{"<none>"});
  EXPECT_EQ(rpc_getconf(nullptr), nullptr);
  int not_a_walk = 0;
  EXPECT_EQ(rpc_getconf(&not_a_walk), nullptr);
}

TEST(NetconfigTest, NetpathListsTransportsInItsOrder) {
  unsetenv("NETPATH");
  EXPECT_EQ(walk(nullptr), ids{});
  EXPECT_EQ(walk("netpath"), ids{});
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
  EXPECT_EQ(tcp->nc_semantics, static_cast<uint32_t>(NC_TPI_COTS_ORD));
  EXPECT_EQ(rpc_getconfip("sctp"), nullptr);
  EXPECT_EQ(ksi_netconfig_lookup("ipx"), nullptr);
  // A caller's own record naming a built-in netid works like the table's.
  char netid[] = "udp6", fam[] = "inet6", proto[] = "udp", dev[] = "-";
  struct netconfig own = {netid, NC_TPI_CLTS, 0, fam, proto, dev, 0, nullptr};
  ksi_sockparams p;
  ASSERT_TRUE(ksi_netconfig_sockparams(&own, &p));
  EXPECT_EQ(p.family, AF_INET6);
  EXPECT_EQ(p.protocol, IPPROTO_UDP);
}

TEST(UaddrTest, ParsesAndFormatsIpv4) {
  sockaddr_storage ss;
  uint32_t len = ksi_uaddr2taddr(rpc_getconfip("udp"), "10.1.2.3.4.5", &ss);
  ASSERT_EQ(len, sizeof(sockaddr_in));
  auto *sin = reinterpret_cast<sockaddr_in *>(&ss);
  EXPECT_EQ(ntohs(sin->sin_port), 1029);
  char host[32];
  inet_ntop(AF_INET, &sin->sin_addr, host, sizeof host);
  EXPECT_STREQ(host, "10.1.2.3");
  char *text = ksi_taddr2uaddr(reinterpret_cast<sockaddr *>(&ss), len);
  EXPECT_STREQ(text, "10.1.2.3.4.5");
  free(text);
}

TEST(UaddrTest, ParsesIpv6AndRefusesMalformedText) {
  const struct netconfig *udp6 = ksi_netconfig_lookup("udp6");
  sockaddr_storage ss;
  ASSERT_EQ(ksi_uaddr2taddr(udp6, "::1.0.111", &ss), sizeof(sockaddr_in6));
  char *text =
      ksi_taddr2uaddr(reinterpret_cast<sockaddr *>(&ss), sizeof(sockaddr_in6));
  EXPECT_STREQ(text, "::1.0.111");
  free(text);
  const struct netconfig *udp = rpc_getconfip("udp");
  for (const char *bad :
       {"", ".", "1.2.3.4.5", "1.2.3.4.256.1", "1.2.3.4.1.x", "1.2.3.4..1",
        "::1.0.111", "a.b.c.d.1.1", "1.2.3.4.1.1000", "1.2.3.4.1.0001"})
    EXPECT_EQ(ksi_uaddr2taddr(udp, bad, &ss), 0u) << bad;
  EXPECT_EQ(ksi_uaddr2taddr(udp6, "127.0.0.1.0.1", &ss), 0u);
  EXPECT_EQ(ksi_uaddr2taddr(nullptr, "127.0.0.1.0.1", &ss), 0u);
  sockaddr other{};
  other.sa_family = AF_UNIX;
  EXPECT_EQ(ksi_taddr2uaddr(&other, sizeof other), nullptr);
}

TEST(BindresvportTest, BindsInTheDynamicRange) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(ks_bindresvport(fd, nullptr), 0);
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len);
  EXPECT_GE(ntohs(sin.sin_port), 49152);
  close(fd);
  fd = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 sin6{};
  sin6.sin6_family = AF_INET6;
  sin6.sin6_addr = in6addr_loopback;
  ASSERT_EQ(ks_bindresvport(fd, reinterpret_cast<sockaddr *>(&sin6)), 0);
  EXPECT_GE(ntohs(sin6.sin6_port), 49152);
  close(fd);
  // A UDP socket with a hint binds the hint's host.
  fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in hint{};
  hint.sin_family = AF_INET;
  hint.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(
      ks_bindresvport_sa(fd, nullptr, reinterpret_cast<sockaddr *>(&hint)), 0);
  len = sizeof sin;
  getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len);
  EXPECT_EQ(sin.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
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
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin) != 0)
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
  EXPECT_EQ(scope_after(link, v6("ff02::9", 0)), 0u);
  EXPECT_EQ(scope_after(v6("::1", 5), v6("fe80::9", 0)), 0u);
  sockaddr_storage v4{};
  v4.ss_family = AF_INET;
  EXPECT_EQ(scope_after(v4, v6("fe80::9", 7)), 7u);
}

TEST(BindresvportTest, GetMyAddressIsTheLoopbackPortMapper) {
  sockaddr_in sin;
  EXPECT_EQ(ks_get_myaddress(&sin), 0);
  EXPECT_EQ(sin.sin_family, AF_INET);
  EXPECT_EQ(ntohs(sin.sin_port), 111);
  EXPECT_EQ(sin.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
}

TEST(PmapTest, SetRefusesProtocolsOtherThanTcpAndUdp) {
  EXPECT_FALSE(ks_pmap_set(0x20000999, 1, 1, 1234));
}

// Encodes with enc, decodes into a fresh object with the same filter.
template <typename T>
std::vector<char> encode(bool_t (*filter)(XDR *, T *), T *obj) {
  std::vector<char> buf(4096);
  XDR x;
  xdrmem_create(&x, buf.data(), static_cast<uint32_t>(buf.size()), XDR_ENCODE);
  EXPECT_TRUE(filter(&x, obj));
  buf.resize(XDR_GETPOS(&x));
  return buf;
}

TEST(RpcbXdrTest, MappingListsRoundTripAndFree) {
  char netid[] = "tcp", addr[] = "127.0.0.1.4.1", owner[] = "root";
  struct rpcblist second = {{7, 2, netid, addr, owner}, nullptr};
  struct rpcblist first = {{100000, 4, netid, addr, owner}, &second};
  struct rpcblist *head = &first;
  std::vector<char> bytes = encode(xdr_ks_rpcblist_ptr, &head);
  struct rpcblist *decoded = nullptr;
  XDR x;
  xdrmem_create(&x, bytes.data(), static_cast<uint32_t>(bytes.size()),
                XDR_DECODE);
  ASSERT_TRUE(xdr_ks_rpcblist_ptr(&x, &decoded));
  ASSERT_NE(decoded, nullptr);
  ASSERT_NE(decoded->rpcb_next, nullptr);
  EXPECT_EQ(decoded->rpcb_next->rpcb_map.r_prog, 7u);
  EXPECT_STREQ(decoded->rpcb_next->rpcb_map.r_owner, "root");
  EXPECT_EQ(decoded->rpcb_next->rpcb_next, nullptr);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &decoded);
  EXPECT_EQ(decoded, nullptr);

  struct pmaplist p2 = {{1, 2, 17, 111}, nullptr};
  struct pmaplist p1 = {{100000, 2, 6, 111}, &p2};
  struct pmaplist *phead = &p1;
  bytes = encode(xdr_ks_pmaplist_ptr, &phead);
  EXPECT_EQ(bytes.size(), 4u * (1 + 4 + 1 + 4 + 1));
  struct pmaplist *pdecoded = nullptr;
  xdrmem_create(&x, bytes.data(), static_cast<uint32_t>(bytes.size()),
                XDR_DECODE);
  ASSERT_TRUE(xdr_ks_pmaplist(&x, &pdecoded));
  EXPECT_EQ(pdecoded->pml_next->pml_map.pm_prot, 17u);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_pmaplist), &pdecoded);
}

TEST(RpcbXdrTest, TruncatedAndEndlessListsFailWithoutLeaks) {
  // "More" forever: decoding stops at the list limit or the data's end.
  std::vector<uint32_t> words;
  for (int i = 0; i < 5 * 1000; i++)
    for (uint32_t w : {1u, 1u, 2u, 3u, 4u}) words.push_back(htonl(w));
  XDR x;
  xdrmem_create(&x, reinterpret_cast<char *>(words.data()),
                static_cast<uint32_t>(words.size() * 4), XDR_DECODE);
  struct pmaplist *list = nullptr;
  EXPECT_FALSE(xdr_ks_pmaplist_ptr(&x, &list));
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_pmaplist_ptr), &list);
  // A string length far beyond the data.
  uint32_t bad[] = {htonl(1), htonl(1), htonl(2), htonl(0x7FFFFFFF)};
  xdrmem_create(&x, reinterpret_cast<char *>(bad), sizeof bad, XDR_DECODE);
  struct rpcblist *rl = nullptr;
  EXPECT_FALSE(xdr_ks_rpcblist_ptr(&x, &rl));
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &rl);
}

TEST(RpcbXdrTest, IndirectCallArgumentsCarryTheirLengthBeforeThem) {
  uint32_t value = 0xABCD;
  ksi_rmtcallargs args = {10, 2, 3, reinterpret_cast<xdrproc_t>(xdr_u_int32_t),
                          &value};
  std::vector<char> bytes = encode(ksi_xdr_rmtcallargs, &args);
  ASSERT_EQ(bytes.size(), 20u);
  uint32_t w[5];
  memcpy(w, bytes.data(), sizeof w);
  EXPECT_EQ(ntohl(w[3]), 4u);
  EXPECT_EQ(ntohl(w[4]), 0xABCDu);
}

}  // namespace
