// The process's view of the drive prefix map, set up on first use: the
// disable switch, this host's name for recognising local names, the
// primary network provider's name and the shared region.
#include <orvexks/imsg.h>
#include <orvexks/qmthread.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_registry.h>

#include <strings.h>

#include <atomic>
#include <cctype>
#include <cstring>

#include "pfxmap/ntpfxmap_internal.h"
#include "pfxmap/ntpfxmap_msgs.h"

namespace {

constexpr uint32_t kDisableParam = 9;
constexpr const char *kProviderKey =
    "SYSTEM\\CurrentControlSet\\Services\\LanmanWorkstation\\networkprovider";
constexpr const char *kDefaultProvider = "Microsoft Windows Network";
constexpr size_t kNameSize = 256;

qmthread_mutex_t init_lock = QMTHREAD_MUTEX_INITIALIZER;
std::atomic<bool> initialised{false};
bool disabled = false;
char host[kNameSize];
char provider[kNameSize];

bool read_disabled() {
  uint32_t value = 0;
  return ntregy_get_param(kDisableParam, sizeof value, &value,
                          NTREGY_TYPE_DWORD) == NTREGY_OK &&
         value == 1;
}

void read_provider() {
  if (ntregy_get_value(NTREGY_HKEY_LOCAL_MACHINE, kProviderKey, "Name",
                       sizeof provider, provider,
                       NTREGY_TYPE_TEXT) != NTREGY_OK ||
      provider[0] == '\0')
    std::strcpy(provider, kDefaultProvider);
}

void read_host() {
  const char *name = sysutl_myhostname();
  size_t i = 0;
  for (; name != nullptr && name[i] != '\0' && i + 1 < sizeof host; i++)
    host[i] =
        static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
  host[i] = '\0';
}

// The steps of the first use; the caller holds init_lock.
int initialise() {
  ksi_pfxmap_trace(4, "Initializing the prefix map\n");
  disabled = read_disabled();
  if (!disabled) {
    read_host();
    read_provider();
    const int attached = ksi_pfxmap_shm_attach();
    if (attached != 0) {
      imsg_print(IMSG_ERROR, &ksi_ntpfxmap_msgs,
                 attached == kPfxmapNoAddress ? KSI_NTPFXMAP_CANT_GET_ADDRESS
                                              : KSI_NTPFXMAP_CANT_CREATE);
      return -1;
    }
  }
  ksi_pfxmap_trace(4, "init: returning success\n");
  return 0;
}

bool is_sep(char c) { return c == '\\' || c == '/'; }

}  // namespace

int ksi_pfxmap_init() {
  if (initialised.load(std::memory_order_acquire)) return 0;
  qmthread_mutex_lock(&init_lock);
  int rc = 0;
  if (!initialised.load(std::memory_order_relaxed)) {
    rc = initialise();
    if (rc == 0) initialised.store(true, std::memory_order_release);
  }
  qmthread_mutex_unlock(&init_lock);
  return rc;
}

bool ksi_pfxmap_disabled() { return disabled; }
const char *ksi_pfxmap_host() { return host; }
const char *ksi_pfxmap_provider() { return provider; }

bool ksi_pfxmap_is_local(const char *name, size_t len) {
  return len == std::strlen(host) && strncasecmp(name, host, len) == 0;
}

bool ksi_pfxmap_unc_host(const char *unc, const char **host_out, size_t *len) {
  if (unc == nullptr || !is_sep(unc[0]) || !is_sep(unc[1])) return false;
  const char *start = unc + 2;
  size_t n = 0;
  while (start[n] != '\0' && !is_sep(start[n])) n++;
  if (n == 0 || start[n] == '\0') return false;
  const char *share = start + n;
  while (is_sep(*share)) share++;
  if (*share == '\0') return false;
  *host_out = start;
  *len = n;
  return true;
}
