// ksrpcinfo: lists a host's RPC registrations, or calls the null procedure
// of a program and prints the round-trip time. Built only on liborvexks.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <orvexks/orvexks.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char kUsage[] =
    "Usage: ksrpcinfo -p [HOST]\n"
    "       ksrpcinfo [-n PORT] -u|-t HOST PROGRAM [VERSION]\n"
    "\n"
    "-p lists the registrations of HOST (default localhost) through its\n"
    "rpcbind (version 4, then 3) or its port mapper, as rpcinfo -p does.\n"
    "-u and -t call procedure 0 of PROGRAM over UDP or TCP and print the\n"
    "round-trip time; without VERSION every version the server offers is\n"
    "called. -n PORT calls that port directly instead of asking the binder.\n";

struct mapping {
  uint32_t prog, vers;
  std::string proto;
  uint32_t port;
};

// The service name of a program number from /etc/rpc, or "".
std::string service_name(uint32_t prog) {
  std::ifstream in("/etc/rpc");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string name;
    unsigned long number;
    if (words >> name >> number && number == prog) return name;
  }
  return "";
}

// The port of a universal address "h.h.h.h.p1.p2"; false when malformed.
bool uaddr_port(const char *uaddr, uint32_t *port) {
  const char *low = strrchr(uaddr, '.');
  if (low == nullptr || low == uaddr) return false;
  const char *high = low - 1;
  while (high > uaddr && *high != '.') high--;
  if (*high != '.') return false;
  *port = static_cast<uint32_t>(atoi(high + 1) * 256 + atoi(low + 1));
  return true;
}

bool dump_rpcbind(const char *host, std::vector<mapping> *out) {
  char netid[] = "tcp", fam[] = "inet", proto[] = "tcp", dev[] = "-";
  struct netconfig tcp = {netid, NC_TPI_COTS_ORD, 0, fam, proto, dev,
                          0,     nullptr};
  struct rpcblist *list = ks_rpcb_getmaps(&tcp, host);
  if (list == nullptr) return false;
  for (struct rpcblist *m = list; m != nullptr; m = m->rpcb_next) {
    const struct rpcb &r = m->rpcb_map;
    uint32_t port;
    if (r.r_netid == nullptr || r.r_addr == nullptr) continue;
    if (strcmp(r.r_netid, "tcp") != 0 && strcmp(r.r_netid, "udp") != 0)
      continue;
    if (uaddr_port(r.r_addr, &port))
      out->push_back({r.r_prog, r.r_vers, r.r_netid, port});
  }
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_rpcblist_ptr), &list);
  return true;
}

bool resolve_v4(const char *host, sockaddr_in *out) {
  struct addrinfo hints = {}, *res = nullptr;
  hints.ai_family = AF_INET;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || res == nullptr)
    return false;
  memcpy(out, res->ai_addr, sizeof *out);
  freeaddrinfo(res);
  return true;
}

bool dump_portmapper(const char *host, std::vector<mapping> *out) {
  sockaddr_in sin;
  if (!resolve_v4(host, &sin)) return false;
  sin.sin_port = htons(PMAPPORT);
  int sock = -1;
  CLIENT *cl = ks_clnttcp_create(&sin, PMAPPROG, PMAPVERS, &sock, 0, 0);
  if (cl == nullptr) return false;
  struct pmaplist *list = nullptr;
  struct timeval tv = {60, 0};
  enum clnt_stat stat =
      KS_CLNT_CALL(cl, 4, reinterpret_cast<xdrproc_t>(xdr_void), nullptr,
                   reinterpret_cast<xdrproc_t>(xdr_ks_pmaplist_ptr), &list, tv);
  if (stat == RPC_SUCCESS)
    for (struct pmaplist *m = list; m != nullptr; m = m->pml_next)
      out->push_back({m->pml_map.pm_prog, m->pml_map.pm_vers,
                      m->pml_map.pm_prot == 6 ? "tcp"
                      : m->pml_map.pm_prot == 17
                          ? "udp"
                          : std::to_string(m->pml_map.pm_prot),
                      m->pml_map.pm_port});
  else
    ks_clnt_perror(cl, "ksrpcinfo");
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_pmaplist_ptr), &list);
  KS_CLNT_DESTROY(cl);
  return stat == RPC_SUCCESS;
}

int list_host(const char *host) {
  std::vector<mapping> maps;
  if (!dump_rpcbind(host, &maps) && !dump_portmapper(host, &maps)) {
    ks_clnt_pcreateerror("ksrpcinfo: can't contact portmapper");
    return 1;
  }
  printf("   program vers proto   port  service\n");
  for (const mapping &m : maps) {
    printf("%10u%5u%6s%7u", m.prog, m.vers, m.proto.c_str(), m.port);
    std::string name = service_name(m.prog);
    printf(name.empty() ? "\n" : "  %s\n", name.c_str());
  }
  return 0;
}

double ping_ms(CLIENT *cl, enum clnt_stat *stat) {
  struct timeval tv = {10, 0};
  auto t0 = std::chrono::steady_clock::now();
  auto xvoid = reinterpret_cast<xdrproc_t>(xdr_void);
  *stat = KS_CLNT_CALL(cl, 0, xvoid, nullptr, xvoid, nullptr, tv);
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now() - t0)
      .count();
}

CLIENT *make_client(bool tcp, const char *host, uint32_t prog, uint32_t vers,
                    int port) {
  if (port == 0) return ks_clnt_create(host, prog, vers, tcp ? "tcp" : "udp");
  sockaddr_in sin;
  if (!resolve_v4(host, &sin)) {
    fprintf(stderr, "ksrpcinfo: %s is unknown host\n", host);
    return nullptr;
  }
  sin.sin_port = htons(static_cast<uint16_t>(port));
  int sock = -1;
  return tcp ? ks_clnttcp_create(&sin, prog, vers, &sock, 0, 0)
             : ks_clntudp_create(&sin, prog, vers, timeval{5, 0}, &sock);
}

int ping(bool tcp, const char *host, uint32_t prog, bool have_vers,
         uint32_t vers, int port) {
  CLIENT *cl = make_client(tcp, host, prog, have_vers ? vers : 0, port);
  if (cl == nullptr) {
    ks_clnt_pcreateerror("ksrpcinfo");
    return 1;
  }
  uint32_t low = vers, high = vers;
  enum clnt_stat stat;
  if (!have_vers) {
    ping_ms(cl, &stat);
    struct rpc_err err;
    KS_CLNT_GETERR(cl, &err);
    if (stat == RPC_SUCCESS) {
      low = high = 0;
    } else if (stat == RPC_PROGVERSMISMATCH) {
      low = err.re_vers.low;
      high = err.re_vers.high;
    } else {
      ks_clnt_perror(cl, "ksrpcinfo");
      KS_CLNT_DESTROY(cl);
      return 1;
    }
  }
  int rc = 0;
  for (uint32_t v = low;; v++) {
    KS_CLNT_CONTROL(cl, CLSET_VERS, &v);
    double ms = ping_ms(cl, &stat);
    if (stat == RPC_SUCCESS) {
      printf("program %u version %u ready and waiting (round trip %.3f ms)\n",
             prog, v, ms);
    } else {
      printf("program %u version %u is not available: %s\n", prog, v,
             ks_clnt_sperrno(stat));
      rc = 1;
    }
    if (v == high) break;
  }
  KS_CLNT_DESTROY(cl);
  return rc;
}

bool parse_u32(const char *text, uint32_t *out) {
  char *end;
  unsigned long v = strtoul(text, &end, 0);
  if (*text == '\0' || *end != '\0' || v > 0xFFFFFFFFul) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  ks_system_init();
  int port = 0;
  int mode = 0;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; i++) {
    std::string opt = argv[i];
    uint32_t n;
    if (opt == "-p" || opt == "-u" || opt == "-t") {
      mode = opt[1];
    } else if (opt == "-n" && i + 1 < argc && parse_u32(argv[i + 1], &n) &&
               n > 0 && n < 65536) {
      port = static_cast<int>(n);
      i++;
    } else {
      fputs(kUsage, opt == "--help" ? stdout : stderr);
      return opt == "--help" ? 0 : 2;
    }
  }
  if (mode == 'p' && argc - i <= 1)
    return list_host(i < argc ? argv[i] : "localhost");
  uint32_t prog, vers = 0;
  if ((mode == 'u' || mode == 't') && (argc - i == 2 || argc - i == 3) &&
      parse_u32(argv[i + 1], &prog) &&
      (argc - i == 2 || parse_u32(argv[i + 2], &vers)))
    return ping(mode == 't', argv[i], prog, argc - i == 3, vers, port);
  fputs(kUsage, stderr);
  return 2;
}
