// This host's name and id, host-name resolution under QUILL_IP_VERSION,
// and the reverse lookups of socket addresses.
#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_error.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "host/sysutl_internal.h"
#include "thread/qmthread_internal.h"

qmthread_mutex_t ksi_sysutl_mutex = QMTHREAD_MUTEX_INITIALIZER;
KSI_FORK_GUARDED(ksi_sysutl_mutex);

namespace {

constexpr size_t kHostNameSize = 1024;
constexpr int kWsaNoRecovery =
    11003;  // the call succeeded but gave nothing usable
const char kUnknownHost[] = "UnknownHost";
const char kUnresolvableCanonical[] = "<unresolvable canonical name>";
const char kUnresolvableNumeric[] = "<unresolvable numeric address>";

std::atomic<const char *> cached_hostname{nullptr};
std::atomic<uint32_t> cached_hostid{0};
std::atomic<int> name_type_context{-1};  // -1 not read yet, else 0 or 1

// Copies src into dst of size bytes, cut to fit and always terminated.
void copy_cut(char *dst, size_t size, const char *src) {
  if (size == 0) return;
  size_t n = strlen(src);
  if (n >= size) n = size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}

const char *compute_hostname() {
  char buf[kHostNameSize];
  if (gethostname(buf, sizeof buf) != 0 || buf[0] == '\0') return kUnknownHost;
  buf[sizeof buf - 1] = '\0';
  const char *copy = stg_strdup(buf);
  return copy != nullptr ? copy : kUnknownHost;
}

bool has_address(const struct addrinfo *list) {
  for (const struct addrinfo *ai = list; ai != nullptr; ai = ai->ai_next)
    if (ai->ai_addr != nullptr) return true;
  return false;
}

// One getaddrinfo call; on success the list has a usable entry.
int resolve_once(const char *name, const char *service,
                 const struct addrinfo *hints, struct addrinfo **out) {
  *out = nullptr;
  int rc = getaddrinfo(name, service, hints, out);
  if (rc != 0) {
    *out = nullptr;
    return nt_eai2wsa(rc);
  }
  if (has_address(*out)) return 0;
  freeaddrinfo(*out);
  *out = nullptr;
  return kWsaNoRecovery;
}

int resolve(const char *name, const char *service, int socktype,
            bool numeric_only, struct addrinfo **result_out) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = ksi_sysutl_resolve_family();
  hints.ai_socktype = socktype;
  hints.ai_flags = AI_NUMERICHOST;
  int rc = resolve_once(name, service, &hints, result_out);
  if (rc == 0 || numeric_only) return rc;
  hints.ai_flags = 0;
  return resolve_once(name, service, &hints, result_out);
}

uint32_t compute_hostid() {
  struct addrinfo *list = nullptr;
  if (sysutl_host_addr(sysutl_myhostname(), nullptr, SOCK_STREAM, &list) != 0)
    return 0;
  uint32_t id = 0;
  bool found = false;
  for (const struct addrinfo *ai = list; ai != nullptr && !found;
       ai = ai->ai_next) {
    if (ai->ai_addr == nullptr || ai->ai_family != AF_INET) continue;
    const auto *sin = reinterpret_cast<const struct sockaddr_in *>(ai->ai_addr);
    memcpy(&id, &sin->sin_addr, sizeof id);
    found = true;
  }
  if (!found && list->ai_family == AF_INET6 && list->ai_addr != nullptr) {
    const auto *sin6 =
        reinterpret_cast<const struct sockaddr_in6 *>(list->ai_addr);
    memcpy(&id, sin6->sin6_addr.s6_addr + 12, sizeof id);
  }
  freeaddrinfo(list);
  return id;
}

// getnameinfo of a supported address with flags.
int name_info(const struct sockaddr *sa, size_t hostlen, char *host,
              size_t servlen, char *serv, int flags) {
  int salen = sysutl_sockaddr_size(sa);
  if (salen == 0) return 1;
  if (getnameinfo(sa, static_cast<socklen_t>(salen), host,
                  static_cast<socklen_t>(hostlen), serv,
                  static_cast<socklen_t>(servlen), flags) == 0)
    return 0;
  if (host != nullptr) copy_cut(host, hostlen, kUnresolvableNumeric);
  return 1;
}

}  // namespace

int ksi_sysutl_resolve_family(void) {
  const char *v = getenv("QUILL_IP_VERSION");
  if (v != nullptr && strcmp(v, "4") == 0) return AF_INET;
  if (v != nullptr && strcmp(v, "6") == 0) return AF_INET6;
  return AF_UNSPEC;
}

bool ksi_sysutl_name_type_context_disabled(void) {
  int state = name_type_context.load(std::memory_order_acquire);
  if (state >= 0) return state == 1;
  qmthread_mutex_lock(&ksi_sysutl_mutex);
  state = name_type_context.load(std::memory_order_relaxed);
  if (state < 0) {
    const char *v = getenv("QUILLMERE_DISABLE_NAME_TYPE_CONTEXT");
    state = v != nullptr && v[0] != '\0' ? 1 : 0;
    name_type_context.store(state, std::memory_order_release);
  }
  qmthread_mutex_unlock(&ksi_sysutl_mutex);
  return state == 1;
}

extern "C" {

const char *sysutl_myhostname(void) {
  const char *name = cached_hostname.load(std::memory_order_acquire);
  if (name != nullptr) return name;
  qmthread_mutex_lock(&ksi_sysutl_mutex);
  name = cached_hostname.load(std::memory_order_relaxed);
  if (name == nullptr) {
    name = compute_hostname();
    cached_hostname.store(name, std::memory_order_release);
  }
  qmthread_mutex_unlock(&ksi_sysutl_mutex);
  return name;
}

uint32_t sysutl_myhostid(void) {
  uint32_t id = cached_hostid.load(std::memory_order_acquire);
  if (id != 0) return id;
  qmthread_mutex_lock(&ksi_sysutl_mutex);
  id = cached_hostid.load(std::memory_order_relaxed);
  if (id == 0) {
    id = compute_hostid();
    cached_hostid.store(id, std::memory_order_release);
  }
  qmthread_mutex_unlock(&ksi_sysutl_mutex);
  return id;
}

int sysutl_host_canonical(const char *hostname, char *out) {
  PFM_ASSERT(hostname != NULL);
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = ksi_sysutl_resolve_family();
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  struct addrinfo *list = nullptr;
  if (getaddrinfo(hostname, nullptr, &hints, &list) != 0) list = nullptr;
  int rc = 1;
  if (list != nullptr && list->ai_canonname != nullptr) {
    copy_cut(out, SYSUTL_CANONICAL_NAME_SIZE, list->ai_canonname);
    rc = 0;
  } else {
    copy_cut(out, SYSUTL_CANONICAL_NAME_SIZE, kUnresolvableCanonical);
  }
  if (list != nullptr) freeaddrinfo(list);
  return rc;
}

int sysutl_host_addr(const char *name, const char *service, int socktype,
                     struct addrinfo **result_out) {
  return resolve(name, service, socktype, false, result_out);
}

int sysutl_host_addr_numeric(const char *name, struct addrinfo **result_out) {
  return resolve(name, nullptr, 0, true, result_out);
}

int sysutl_host_name(const struct sockaddr *sa, size_t hostlen, char *host,
                     size_t servlen, char *serv) {
  return name_info(sa, hostlen, host, servlen, serv, 0);
}

int sysutl_host_numeric(const struct sockaddr *sa, size_t hostlen, char *host,
                        size_t servlen, char *serv) {
  return name_info(sa, hostlen, host, servlen, serv,
                   NI_NUMERICHOST | NI_NUMERICSERV);
}

}  // extern "C"
