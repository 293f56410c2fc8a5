// Starts the foreign RPC server (tests/peers/tirpc_server.c) in its own
// process and learns its ports; stops it by pid. Without the peer (no
// libtirpc at build time) ports() stays empty and tests skip.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

constexpr uint32_t kTirpcProg = 0x20000101;

class tirpc_server {
 public:
  tirpc_server() {
#ifdef TIRPC_SERVER_PATH
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    char path[] = TIRPC_SERVER_PATH;
    char *argv[] = {path, nullptr};
    if (posix_spawn(&pid_, path, &fa, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    FILE *f = fdopen(out[0], "r");
    char line[128];
    while (f != nullptr && fgets(line, sizeof line, f) != nullptr) {
      char netid[16];
      unsigned port;
      if (strncmp(line, "ready", 5) == 0) break;
      if (sscanf(line, "%15s %u", netid, &port) == 2)
        ports_[netid] = static_cast<uint16_t>(port);
    }
    if (f != nullptr) fclose(f);
#endif
  }
  ~tirpc_server() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
    }
  }
  bool running() const { return ports_.size() == 4; }
  uint16_t port(const std::string &netid) const {
    auto it = ports_.find(netid);
    return it == ports_.end() ? 0 : it->second;
  }

 private:
  pid_t pid_ = -1;
  std::map<std::string, uint16_t> ports_;
};
