// The library's fixed transport table and the walks of the network types
// over it. There is no transport configuration file.
#include "rpc/bind/netconfig.h"

#include <netinet/in.h>
#include <orvexnt/nt_env.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

char kDash[] = "-";
char kInet[] = "inet";
char kInet6[] = "inet6";
char kUdp[] = "udp";
char kTcp[] = "tcp";
char kUdp6[] = "udp6";
char kTcp6[] = "tcp6";

// Walk order: every selection goes through the table in this order.
const struct netconfig kTable[] = {
    {kUdp6, NC_TPI_CLTS, 0, kInet6, kUdp, kDash, 0, nullptr},
    {kTcp6, NC_TPI_COTS_ORD, 0, kInet6, kTcp, kDash, 0, nullptr},
    {kUdp, NC_TPI_CLTS, 0, kInet, kUdp, kDash, 0, nullptr},
    {kTcp, NC_TPI_COTS_ORD, 0, kInet, kTcp, kDash, 0, nullptr},
};
constexpr int kTableSize = sizeof kTable / sizeof kTable[0];

enum nettype_code {
  kUnknown = 0,
  kNetpath = 1,
  kVisible = 2,
  kCircuitV = 3,
  kDatagramV = 4,
  kCircuitN = 5,
  kDatagramN = 6,
  kTcpType = 7,
  kUdpType = 8
};

struct nettype_name {
  const char *name;
  nettype_code code;
};
const nettype_name kNettypes[] = {
    {"netpath", kNetpath},    {"visible", kVisible},
    {"circuit_v", kCircuitV}, {"datagram_v", kDatagramV},
    {"circuit_n", kCircuitN}, {"datagram_n", kDatagramN},
    {"tcp", kTcpType},        {"udp", kUdpType},
};

constexpr uint32_t kWalkMagic = 0xF00D;
constexpr size_t kNetpathMax = 1024;

// A walk: over NETPATH's names when the type reads it and NETPATH is set,
// else over the built-in table.
struct conf_walk {
  uint32_t magic;
  nettype_code code;
  bool use_netpath;
  char netpath[kNetpathMax + 1];
  size_t cursor;  // NETPATH: offset of the next name; table: next index
};

nettype_code nettype_of(const char *nettype) {
  if (nettype == nullptr || nettype[0] == '\0') return kNetpath;
  for (const auto &n : kNettypes)
    if (strcasecmp(n.name, nettype) == 0) return n.code;
  return kUnknown;
}

bool reads_netpath(nettype_code code) {
  return code == kNetpath || code == kCircuitN || code == kDatagramN;
}

bool is_connection(const struct netconfig *nc) {
  return nc->nc_semantics == NC_TPI_COTS || nc->nc_semantics == NC_TPI_COTS_ORD;
}

bool is_inet_family(const struct netconfig *nc) {
  return strcmp(nc->nc_protofmly, "inet") == 0 ||
         strcmp(nc->nc_protofmly, "inet6") == 0;
}

// Whether a description belongs to the walk of a network type.
bool selects(nettype_code code, bool from_netpath, const struct netconfig *nc) {
  if (nc->nc_semantics != NC_TPI_CLTS && !is_connection(nc)) return false;
  bool visible = (nc->nc_flag & NC_VISIBLE) != 0;
  switch (code) {
    case kNetpath:
      return from_netpath || visible;
    case kCircuitN:
      return (from_netpath || visible) && is_connection(nc);
    case kDatagramN:
      return (from_netpath || visible) && nc->nc_semantics == NC_TPI_CLTS;
    case kVisible:
      return visible;
    case kCircuitV:
      return visible && is_connection(nc);
    case kDatagramV:
      return visible && nc->nc_semantics == NC_TPI_CLTS;
    case kTcpType:
      return is_connection(nc) && is_inet_family(nc) &&
             strcmp(nc->nc_proto, "tcp") == 0;
    case kUdpType:
      return nc->nc_semantics == NC_TPI_CLTS && is_inet_family(nc) &&
             strcmp(nc->nc_proto, "udp") == 0;
    default:
      return false;
  }
}

// The next NETPATH name from the cursor, unescaped into name: a backslash
// before a colon keeps the colon, a doubled backslash is one backslash.
bool next_netpath_name(conf_walk *w, char *name, size_t size) {
  const char *p = w->netpath + w->cursor;
  if (*p == '\0') return false;
  size_t n = 0;
  while (*p != '\0' && *p != ':') {
    char c = *p++;
    if (c == '\\' && (*p == ':' || *p == '\\')) c = *p++;
    if (n + 1 < size) name[n++] = c;
  }
  name[n] = '\0';
  if (*p == ':') p++;
  w->cursor = static_cast<size_t>(p - w->netpath);
  return true;
}

}  // namespace

const struct netconfig *ksi_netconfig_lookup(const char *netid) {
  if (netid == nullptr) return nullptr;
  for (const auto &nc : kTable)
    if (strcmp(nc.nc_netid, netid) == 0) return &nc;
  return nullptr;
}

void *rpc_setconf(const char *nettype) {
  nettype_code code = nettype_of(nettype);
  if (code == kUnknown) return nullptr;
  auto *w = static_cast<conf_walk *>(calloc(1, sizeof(conf_walk)));
  if (w == nullptr) return nullptr;
  w->magic = kWalkMagic;
  w->code = code;
  if (reads_netpath(code)) {
    const char *path = nt_getenv_safe("NETPATH");
    if (path != nullptr) {
      w->use_netpath = true;
      strncpy(w->netpath, path, kNetpathMax);
    }
  }
  return w;
}

const struct netconfig *rpc_getconf(void *walk) {
  auto *w = static_cast<conf_walk *>(walk);
  if (w == nullptr || w->magic != kWalkMagic) return nullptr;
  if (w->use_netpath) {
    char name[kNetpathMax + 1];
    while (next_netpath_name(w, name, sizeof name)) {
      const struct netconfig *nc = ksi_netconfig_lookup(name);
      if (nc != nullptr && selects(w->code, true, nc)) return nc;
    }
    return nullptr;
  }
  while (w->cursor < static_cast<size_t>(kTableSize)) {
    const struct netconfig *nc = &kTable[w->cursor++];
    if (selects(w->code, false, nc)) return nc;
  }
  return nullptr;
}

void rpc_endconf(void *walk) {
  auto *w = static_cast<conf_walk *>(walk);
  if (w == nullptr || w->magic != kWalkMagic) return;
  w->magic = 0;
  free(w);
}

const struct netconfig *rpc_getconfip(const char *proto) {
  if (proto == nullptr) return nullptr;
  if (strcmp(proto, "tcp") == 0) return ksi_netconfig_lookup("tcp");
  if (strcmp(proto, "udp") == 0) return ksi_netconfig_lookup("udp");
  return nullptr;
}

bool ksi_netconfig_sockparams(const struct netconfig *nconf,
                              ksi_sockparams *out) {
  if (nconf == nullptr || nconf->nc_netid == nullptr) return false;
  // A view, not strcmp: once inlined over the table, the compiler sees
  // four-byte ids compared with "udp6" and refuses strcmp as always unequal.
  const std::string_view id = nconf->nc_netid;
  if (id == "udp")
    *out = {AF_INET, SOCK_DGRAM, IPPROTO_UDP};
  else if (id == "tcp")
    *out = {AF_INET, SOCK_STREAM, IPPROTO_TCP};
  else if (id == "udp6")
    *out = {AF_INET6, SOCK_DGRAM, IPPROTO_UDP};
  else if (id == "tcp6")
    *out = {AF_INET6, SOCK_STREAM, IPPROTO_TCP};
  else
    return false;
  return true;
}

bool ksi_socket_params(int fd, ksi_sockparams *out) {
  int family = 0, type = 0;
  socklen_t len = sizeof family;
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &family, &len) != 0) return false;
  len = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) return false;
  int protocol = 0;
  if (type == SOCK_STREAM)
    protocol = IPPROTO_TCP;
  else if (type == SOCK_DGRAM)
    protocol = IPPROTO_UDP;
  *out = {family, type, protocol};
  return true;
}

const struct netconfig *ksi_netconfig_of_socket(int fd) {
  ksi_sockparams sock;
  if (!ksi_socket_params(fd, &sock)) return nullptr;
  for (const auto &nc : kTable) {
    ksi_sockparams params;
    if (ksi_netconfig_sockparams(&nc, &params) &&
        params.family == sock.family && params.protocol == sock.protocol)
      return &nc;
  }
  return nullptr;
}

uint32_t ksi_socktype_semantics(int type) {
  switch (type) {
    case SOCK_STREAM:
      return NC_TPI_COTS_ORD;
    case SOCK_DGRAM:
      return NC_TPI_CLTS;
    case SOCK_RAW:
      return NC_TPI_RAW;
    default:
      return 0;
  }
}
