// Account and machine names of clients: this machine's domain, qualified
// account names split into domain and user, account-name equality that
// ignores the domain, and the "DOMAIN/host" machine name of AUTH_UNIX
// credentials.
#include <orvexks/credutl.h>
#include <orvexks/imsg.h>
#include <orvexks/strutl.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_accounts.h>

#include <cstdio>
#include <cstring>

#include "clientauth/credutl_client_internal.h"
#include "identity/credutl_msgs.h"
#include "thread/tls_impl.h"

namespace {

constexpr size_t kDomainSize = 64;
constexpr const char *kBogusMachname = "<credutl authunix machname too long>";

struct domain_tls {
  char domain[kDomainSize];
};

ksi_tls_slot_t domain_slot = KSI_TLS_SLOT_INIT(domain_tls, nullptr);

// The first '/' or '\' of name, or null.
const char *fq_separator(const char *name) { return std::strpbrk(name, "/\\"); }

// The account part of a qualified name: what follows its first separator,
// or the whole name.
const char *user_part(const char *name) {
  const char *sep = fq_separator(name);
  return sep != nullptr ? sep + 1 : name;
}

}  // namespace

extern "C" {

const char *credutl_get_domain(void) {
  char *buf = ksi_tls_needed<domain_tls>(&domain_slot)->domain;
  if (nt_get_domain_name(buf, kDomainSize) == nullptr)
    ksi_copy_out(buf, kDomainSize, kKsiUnknownName);
  return buf;
}

void credutl_crack_fq_name(const char *name, char *domain, size_t dsize,
                           char *user, size_t usize) {
  if (name == nullptr) name = "";
  const char *sep = fq_separator(name);
  if (sep == nullptr) {
    ksi_copy_out(domain, dsize, kKsiUnknownName);
    ksi_copy_out(user, usize, name);
    return;
  }
  ksi_copy_part(domain, dsize, name, static_cast<size_t>(sep - name));
  ksi_copy_out(user, usize, sep + 1);
}

int credutl_string_eq(const char *a, const char *b) {
  if (a == b) return 1;
  if (a == nullptr) a = nt_getlogin(nullptr, 0);
  if (b == nullptr) b = nt_getlogin(nullptr, 0);
  if (a == nullptr || b == nullptr) return 0;
  if (strutl_stricoll(a, b) == 0) return 1;
  return strutl_stricoll(user_part(a), user_part(b)) == 0 ? 1 : 0;
}

char *credutl_mk_authunix_machname(char *buf, size_t size) {
  if (buf == nullptr || size == 0) return buf;
  // The domain lives in this thread's buffer until its next call: copy it,
  // the warning below formats messages that may ask for it again.
  char domain[kDomainSize];
  ksi_copy_out(domain, sizeof domain, credutl_get_domain());
  const char *host = sysutl_myhostname();
  int needed = std::snprintf(buf, size, "%s/%s", domain, host);
  if (needed >= 0 && static_cast<size_t>(needed) < size) return buf;
  imsg_print(IMSG_WARNING, &ksi_credutl_msgs, KSI_CREDUTL_MACHNAME_TOO_LONG,
             domain, host, static_cast<int>(size), kBogusMachname);
  ksi_copy_out(buf, size, kBogusMachname);
  return buf;
}

void credutl_crack_authunix_machname(const char *machname, char *domain,
                                     size_t dsize, char *host, size_t hsize) {
  if (machname == nullptr) machname = "";
  const char *slash = std::strchr(machname, '/');
  if (slash == nullptr) {
    ksi_copy_out(domain, dsize, "");
    ksi_copy_out(host, hsize, machname);
    return;
  }
  ksi_copy_part(domain, dsize, machname, static_cast<size_t>(slash - machname));
  ksi_copy_out(host, hsize, slash + 1);
}

}  // extern "C"
