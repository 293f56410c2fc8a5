// RPC clients against the system's ONC RPC library, which runs as a
// separate program in the same run: null-procedure round trips over
// loopback UDP and TCP to one libtirpc server (started here in its own
// process), and an address lookup through rpcbind when one answers on
// port 111. Times are CPU time of the calling process.
#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/rpcb.h>

#include <arpa/inet.h>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "peer_ratio.h"
#include "peers/clnt_bench_rows.h"

namespace {

uint16_t udp_port, tcp_port;
pid_t server_pid = -1;
const struct timeval kTimeout = {10, 0};

// Starts the benchmark server and reads its ports; false without it.
bool start_server() {
#ifdef TIRPC_SERVER_PATH
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  char path[] = TIRPC_SERVER_PATH;
  char *argv[] = {path, nullptr};
  int rc = posix_spawn(&server_pid, path, &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  if (rc != 0) return false;
  FILE *f = fdopen(out[0], "r");
  char line[128];
  while (fgets(line, sizeof line, f) != nullptr &&
         strncmp(line, "ready", 5) != 0) {
    char netid[16];
    unsigned port;
    if (sscanf(line, "%15s %u", netid, &port) != 2) continue;
    if (strcmp(netid, "udp") == 0) udp_port = static_cast<uint16_t>(port);
    if (strcmp(netid, "tcp") == 0) tcp_port = static_cast<uint16_t>(port);
  }
  fclose(f);
#endif
  return udp_port != 0 && tcp_port != 0;
}

// A TCP probe: a UDP query to a closed port would wait for its timeout.
bool rpcbind_answers() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin;
  ks_get_myaddress(&sin);
  bool up = connect(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin) == 0;
  close(fd);
  return up;
}

sockaddr_in server_addr(uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons(port);
  return sin;
}

void null_call(benchmark::State &state, CLIENT *cl) {
  auto xvoid = reinterpret_cast<xdrproc_t>(xdr_void);
  for (auto _ : state)
    if (KS_CLNT_CALL(cl, 0, xvoid, nullptr, xvoid, nullptr, kTimeout) !=
        RPC_SUCCESS)
      state.SkipWithError("call failed");
}

void null_udp(benchmark::State &state) {
  sockaddr_in sin = server_addr(udp_port);
  int sock = -1;
  CLIENT *cl = ks_clntudp_create(&sin, CLNT_BENCH_PROG, CLNT_BENCH_VERS,
                                 timeval{5, 0}, &sock);
  if (cl == nullptr) return state.SkipWithError("no client");
  null_call(state, cl);
  KS_CLNT_DESTROY(cl);
}

void null_tcp(benchmark::State &state) {
  sockaddr_in sin = server_addr(tcp_port);
  int sock = -1;
  CLIENT *cl =
      ks_clnttcp_create(&sin, CLNT_BENCH_PROG, CLNT_BENCH_VERS, &sock, 0, 0);
  if (cl == nullptr) return state.SkipWithError("no client");
  null_call(state, cl);
  KS_CLNT_DESTROY(cl);
}

void rpcb_getaddr(benchmark::State &state) {
  char netid[] = "tcp", fam[] = "inet", proto[] = "tcp", dev[] = "-";
  struct netconfig tcp = {netid, NC_TPI_COTS_ORD, 0, fam, proto, dev,
                          0,     nullptr};
  for (auto _ : state) {
    sockaddr_storage ss;
    struct netbuf nb = {sizeof ss, 0, &ss};
    if (!ks_rpcb_getaddr(PMAPPROG, RPCBVERS4, &tcp, &nb, "127.0.0.1"))
      state.SkipWithError("lookup failed");
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (!start_server()) {
    fprintf(stderr,
            "clnt_bench: the libtirpc benchmark server is not available\n");
    return 1;
  }
  bool rpcb = rpcbind_answers();
  // Process CPU time, as the peer program measures its own.
  benchmark::RegisterBenchmark(CLNT_BENCH_ROW_NULL_UDP, null_udp)
      ->MeasureProcessCPUTime();
  benchmark::RegisterBenchmark(CLNT_BENCH_ROW_NULL_TCP, null_tcp)
      ->MeasureProcessCPUTime();
  if (rpcb)
    benchmark::RegisterBenchmark(CLNT_BENCH_ROW_RPCB_GETADDR, rpcb_getaddr)
        ->MeasureProcessCPUTime();
  else
    fprintf(stderr, "clnt_bench: no rpcbind on port 111, lookup row skipped\n");
  std::string peer;
#ifdef TIRPC_BENCH_PATH
  peer = std::string(TIRPC_BENCH_PATH) + " " + std::to_string(udp_port) + " " +
         std::to_string(tcp_port) + (rpcb ? " rpcb" : "");
#endif
  int rc = run_against_peer(argc, argv, peer.empty() ? nullptr : peer.c_str());
  kill(server_pid, SIGTERM);
  int status;
  waitpid(server_pid, &status, 0);
  return rc;
}
