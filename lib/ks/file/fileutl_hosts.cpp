// Host names: comparison by name and by address, this host and its
// alternate names.
#include <orvexks/fileutl.h>
#include <orvexks/ks_product.h>
#include <orvexks/strutl.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_registry.h>

#include <netdb.h>

#include <atomic>
#include <cstring>

#include "file/fileutl_internal.h"

namespace {

constexpr size_t kHostCompared = 64;  // characters compared after lower-casing

// a and b equal after both are lower-cased (their first 64 characters).
bool equal_lowered(const char *a, const char *b) {
  char la[kHostCompared + 1], lb[kHostCompared + 1];
  strutl_cvt_case_string(a, 0, sizeof la, la);
  strutl_cvt_case_string(b, 0, sizeof lb, lb);
  return std::strcmp(la, lb) == 0;
}

bool share_an_address(const char *a, const char *b) {
  addrinfo *list_a = nullptr, *list_b = nullptr;
  bool shared = false;
  if (sysutl_host_addr(a, nullptr, SOCK_STREAM, &list_a) == 0 &&
      sysutl_host_addr(b, nullptr, SOCK_STREAM, &list_b) == 0) {
    for (const addrinfo *x = list_a; x != nullptr && !shared; x = x->ai_next)
      for (const addrinfo *y = list_b; y != nullptr && !shared; y = y->ai_next)
        shared = sysutl_sockaddr_host_equal(x->ai_addr, y->ai_addr) != 0;
  }
  if (list_a != nullptr) freeaddrinfo(list_a);
  if (list_b != nullptr) freeaddrinfo(list_b);
  return shared;
}

// Turned off for good the first time the file cannot be opened.
std::atomic<bool> alt_names_on{true};

}  // namespace

extern "C" {

int fileutl_hostnames_equal(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return 0;
  return std::strcmp(a, b) == 0 || equal_lowered(a, b) ? 1 : 0;
}

int fileutl_hosts_equal(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return 0;
  if (equal_lowered(a, b)) return 1;
  return share_an_address(a, b) ? 1 : 0;
}

int fileutl_is_localhost(const char *h) {
  if (h == nullptr) return 0;
  if (fileutl_hosts_equal(h, sysutl_myhostname())) return 1;
  FILE *names = fileutl_set_alt_hostname();
  if (names == nullptr) return 0;
  char line[1024];
  bool found = false;
  while (!found &&
         fileutl_get_alt_hostname(names, line, sizeof line) != nullptr)
    found = fileutl_hosts_equal(h, line) != 0;
  fileutl_end_alt_hostname(names);
  return found ? 1 : 0;
}

FILE *fileutl_set_alt_hostname(void) {
  if (!alt_names_on.load(std::memory_order_relaxed)) return nullptr;
  char path[KS_DIR_BUF_SIZE], host_path[KS_DIR_BUF_SIZE];
  ks_host_config_dir(path, "alternate_hostnames");
  FILE *stream = nullptr;
  if (nt_map_path(path, host_path, sizeof host_path) == 0)
    stream = std::fopen(host_path, "r");
  if (stream == nullptr) alt_names_on.store(false, std::memory_order_relaxed);
  return stream;
}

char *fileutl_get_alt_hostname(FILE *stream, char *buf, int n) {
  if (stream == nullptr || buf == nullptr || n <= 0) return nullptr;
  if (std::fgets(buf, n, stream) == nullptr) return nullptr;
  buf[std::strcspn(buf, "\r\n")] = '\0';
  return buf;
}

void fileutl_end_alt_hostname(FILE *stream) {
  if (stream != nullptr) std::fclose(stream);
}

}  // extern "C"
