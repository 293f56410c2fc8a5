// Runs a command through the shell, as the RPC tests run rpcinfo, ksrpcinfo
// and the libtirpc peer programs: what it printed on standard output, and
// optionally its wait status.
#pragma once

#include <cstdio>
#include <string>

inline std::string command_output(const std::string &command,
                                  int *status = nullptr) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (p == nullptr) {
    if (status != nullptr) *status = -1;
    return out;
  }
  char buf[512];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
    out.append(buf, n);
  const int rc = pclose(p);
  if (status != nullptr) *status = rc;
  return out;
}
