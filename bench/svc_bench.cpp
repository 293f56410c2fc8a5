// Server throughput: the same hand-written socket client calls our server
// (a program on the library, bench/svc_bench_server.c) and a libtirpc
// svc_run server (bench/peers/tirpc_svc_server.c), each in its own
// process, in the same run. Null and 4 KiB echo calls over UDP and TCP
// with one client, and 8 concurrent TCP clients against our threaded
// server. Times are wall-clock per call; the ratio is ours / libtirpc.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kProg = 0x20000301;

struct Server {
  const char *path;
  const char *arg;
  pid_t pid = -1;
  uint16_t udp = 0, tcp = 0;
};

#ifdef TIRPC_SVC_SERVER_PATH
Server tirpc = {TIRPC_SVC_SERVER_PATH, nullptr};
#else
Server tirpc = {nullptr, nullptr};
#endif
Server ours = {SVC_BENCH_SERVER_PATH, nullptr};
Server ours_threaded = {SVC_BENCH_SERVER_PATH, "threaded"};

bool start(Server *s) {
  if (s->path == nullptr) return false;
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  std::string path = s->path, arg = s->arg ? s->arg : "";
  char *argv[] = {path.data(), s->arg ? arg.data() : nullptr, nullptr};
  int rc = posix_spawn(&s->pid, s->path, &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  if (rc != 0) return false;
  FILE *f = fdopen(out[0], "r");
  char line[64];
  unsigned port;
  while (fgets(line, sizeof line, f) != nullptr &&
         strncmp(line, "ready", 5) != 0) {
    if (sscanf(line, "udp %u", &port) == 1)
      s->udp = static_cast<uint16_t>(port);
    if (sscanf(line, "tcp %u", &port) == 1)
      s->tcp = static_cast<uint16_t>(port);
  }
  fclose(f);
  return s->udp != 0 && s->tcp != 0;
}

void stop(Server *s) {
  if (s->pid <= 0) return;
  kill(s->pid, SIGTERM);
  waitpid(s->pid, nullptr, 0);
}

// The call record of a procedure: header words and, for echo, the data.
std::vector<uint32_t> call_words(uint32_t proc, uint32_t data_bytes) {
  std::vector<uint32_t> w = {1, 0, 2, kProg, 1, proc, 0, 0, 0, 0};
  if (proc == 1) {
    w.push_back(data_bytes);
    w.resize(w.size() + data_bytes / 4, 0x5a5a5a5a);
  }
  for (uint32_t &x : w) x = htonl(x);
  return w;
}

int connect_to(int type, uint16_t port) {
  int fd = socket(AF_INET, type, 0);
  struct sockaddr_in at = {};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) return -1;
  int on = 1;
  if (type == SOCK_STREAM)
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

bool read_full(int fd, char *buf, size_t len) {
  while (len > 0) {
    ssize_t n = recv(fd, buf, len, 0);
    if (n <= 0) return false;
    buf += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// CPU time (user and system, all threads) the server process has used so
// far, in nanoseconds; 0 when it cannot be read.
double server_cpu_ns(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE *f = fopen(path.c_str(), "r");
  if (f == nullptr) return 0;
  char line[1024];
  bool got = fgets(line, sizeof line, f) != nullptr;
  fclose(f);
  const char *after_name = got ? strrchr(line, ')') : nullptr;
  unsigned long long user = 0, sys = 0;
  // Fields 3 to 13 precede utime and stime (fields 14 and 15).
  if (after_name == nullptr ||
      sscanf(after_name + 2,
             "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
             &sys) != 2)
    return 0;
  return static_cast<double>(user + sys) * 1e9 /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

// One call per iteration; the reply is read whole. Besides the wall-clock
// time per call, the counter server_cpu_ns is the server's CPU time per
// call, which a busy machine disturbs far less.
void run_calls(benchmark::State &state, Server *s, int type, uint32_t proc,
               uint32_t bytes) {
  uint16_t port = type == SOCK_STREAM ? s->tcp : s->udp;
  int fd = port != 0 ? connect_to(type, port) : -1;
  if (fd < 0) {
    state.SkipWithError("server not running");
    return;
  }
  std::vector<uint32_t> words = call_words(proc, bytes);
  std::vector<char> out(4 + words.size() * 4);
  uint32_t mark = htonl(0x80000000u | static_cast<uint32_t>(words.size() * 4));
  memcpy(out.data(), &mark, 4);
  memcpy(out.data() + 4, words.data(), words.size() * 4);
  const char *send_at = type == SOCK_STREAM ? out.data() : out.data() + 4;
  size_t send_len = type == SOCK_STREAM ? out.size() : out.size() - 4;
  std::vector<char> in(70000);
  bool first = state.thread_index() == 0;
  double cpu_before = first ? server_cpu_ns(s->pid) : 0;
  for (auto _ : state) {
    if (send(fd, send_at, send_len, MSG_NOSIGNAL) !=
        static_cast<ssize_t>(send_len)) {
      state.SkipWithError("send failed");
      break;
    }
    bool ok;
    if (type == SOCK_STREAM) {
      uint32_t header = 0;
      ok = read_full(fd, reinterpret_cast<char *>(&header), 4) &&
           read_full(fd, in.data(), ntohl(header) & 0x7fffffffu);
    } else {
      ok = recv(fd, in.data(), in.size(), 0) > 0;
    }
    if (!ok) {
      state.SkipWithError("no reply");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  if (first && state.iterations() > 0)
    state.counters["server_cpu_ns"] =
        (server_cpu_ns(s->pid) - cpu_before) /
        static_cast<double>(state.iterations() * state.threads());
  close(fd);
}

#define SVC_ROWS(name, type, proc, bytes)        \
  void BM_##name##_ours(benchmark::State &st) {  \
    run_calls(st, &ours, type, proc, bytes);     \
  }                                              \
  void BM_##name##_tirpc(benchmark::State &st) { \
    run_calls(st, &tirpc, type, proc, bytes);    \
  }                                              \
  BENCHMARK(BM_##name##_ours)->UseRealTime();    \
  BENCHMARK(BM_##name##_tirpc)->UseRealTime();

SVC_ROWS(null_udp, SOCK_DGRAM, 0, 0)
SVC_ROWS(null_tcp, SOCK_STREAM, 0, 0)
SVC_ROWS(echo4k_udp, SOCK_DGRAM, 1, 4096)
SVC_ROWS(echo4k_tcp, SOCK_STREAM, 1, 4096)

void BM_null_tcp_8clients_ours(benchmark::State &st) {
  run_calls(st, &ours_threaded, SOCK_STREAM, 0, 0);
}
void BM_null_tcp_8clients_tirpc(benchmark::State &st) {
  run_calls(st, &tirpc, SOCK_STREAM, 0, 0);
}
void BM_echo4k_tcp_8clients_ours(benchmark::State &st) {
  run_calls(st, &ours_threaded, SOCK_STREAM, 1, 4096);
}
void BM_echo4k_tcp_8clients_tirpc(benchmark::State &st) {
  run_calls(st, &tirpc, SOCK_STREAM, 1, 4096);
}
BENCHMARK(BM_null_tcp_8clients_ours)->Threads(8)->UseRealTime();
BENCHMARK(BM_null_tcp_8clients_tirpc)->Threads(8)->UseRealTime();
BENCHMARK(BM_echo4k_tcp_8clients_ours)->Threads(8)->UseRealTime();
BENCHMARK(BM_echo4k_tcp_8clients_tirpc)->Threads(8)->UseRealTime();

// After the table: ours / libtirpc of the wall-clock time per call, row by
// row (below 1: our server is faster). With --benchmark_repetitions the
// ratio is that of the medians, which a busy machine disturbs far less
// than any single run.
class WallRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0 &&
          !run.error_occurred) {
        real_[run.run_name.str()].push_back(run.GetAdjustedRealTime());
        auto cpu = run.counters.find("server_cpu_ns");
        if (cpu != run.counters.end())
          cpu_[run.run_name.str()].push_back(cpu->second.value);
      }
  }
  void PrintRatios() const {
    std::printf(
        "\nratio = our server's time / libtirpc server's time (below 1: ours "
        "faster)\n");
    print(real_);
    std::printf(
        "\nserver CPU ratio = our server's CPU time per call / libtirpc "
        "server's\n");
    print(cpu_);
  }

 private:
  using Times = std::map<std::string, std::vector<double>>;

  static void print(const Times &all) {
    for (const auto &[name, times] : all) {
      size_t at = name.find("_ours");
      if (at == std::string::npos) continue;
      std::string peer = name.substr(0, at) + "_tirpc" + name.substr(at + 5);
      auto p = all.find(peer);
      if (p == all.end()) continue;
      double theirs = median(p->second);
      if (theirs > 0)
        std::printf("ratio %-40s = %.2f\n", name.c_str(),
                    median(times) / theirs);
    }
  }

  static double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    return n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  }

  Times real_;
  Times cpu_;
};

}  // namespace

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  if (!start(&ours) || !start(&ours_threaded))
    std::fprintf(stderr, "svc_bench: our server did not start\n");
  if (!start(&tirpc))
    std::fprintf(stderr,
                 "svc_bench: no libtirpc server; its rows are skipped\n");
  benchmark::Initialize(&argc, argv);
  WallRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  stop(&ours);
  stop(&ours_threaded);
  stop(&tirpc);
  return 0;
}
