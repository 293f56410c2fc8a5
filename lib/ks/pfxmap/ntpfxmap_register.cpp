// Registering a UNC prefix: finding the share or export that covers the
// name, connecting it to a free drive and entering it in the map.
//
// Two network providers are asked in turn. The primary one lists a host's
// shares; this platform has no way to list another host's shares, so it
// covers nothing and the next is asked. The second asks the host for its
// exports over the mount protocol; the longest export that covers the
// name wins, and the drive points at the automounter's directory for it,
// /net/HOST/EXPORT.
#include <orvexks/ntpfxmap.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pfxmap/ntpfxmap_internal.h"
#include "pfxmap/ntpfxmap_msgs.h"

namespace {

constexpr size_t kPathSize = 1024;
constexpr const char *kExportsProvider = "NFS Network";
// The platform's "no network" error, traced when a host's shares cannot
// be listed.
constexpr int kNoNetwork = 1222;

struct resource {
  char prefix[kPathSize];  // \\host\export
  char target[kPathSize];  // /net/host/export
  size_t len;
};

bool already_covered(const ksi_pfxmap_entry &e, void *arg) {
  auto *found = static_cast<const char **>(arg);
  if (*e.flag < 0 ||
      !ksi_pfxmap_covers(e.prefix, std::strlen(e.prefix), *found, true))
    return true;
  *found = nullptr;
  return false;
}

// The longest export of host that covers unc, into best.
bool find_export(const char *unc, const char *host, resource *best) {
  ksi_pfxmap_trace(2, "Making showmount RPC to %s\n", host);
  shwmnt_export_t *list = nullptr;
  if (shwmnt_get(host, &list) != 0) return false;
  best->len = 0;
  for (const shwmnt_export_t *ex = list; ex != nullptr; ex = ex->ex_next) {
    resource r;
    const char *dir = ex->ex_dir != nullptr ? ex->ex_dir : "";
    const char *rel = dir[0] == '/' ? dir + 1 : dir;
    const int n =
        std::snprintf(r.prefix, sizeof r.prefix, "\\\\%s\\%s", host, rel);
    const int m =
        std::snprintf(r.target, sizeof r.target, "/net/%s/%s", host, rel);
    if (n < 0 || static_cast<size_t>(n) >= sizeof r.prefix || m < 0 ||
        static_cast<size_t>(m) >= sizeof r.target || rel[0] == '\0')
      continue;
    for (char *c = r.prefix; *c != '\0'; c++)
      if (*c == '/') *c = '\\';
    ksi_pfxmap_trace(2, "Found export [%s]\n", r.prefix);
    r.len = static_cast<size_t>(n);
    if (r.len > best->len && ksi_pfxmap_covers(r.prefix, r.len, unc, false))
      *best = r;
  }
  shwmnt_free(list);
  return best->len > 0;
}

bool ask_provider(const char *name, const char *unc, const char *host,
                  resource *found) {
  ksi_pfxmap_trace(2, "querying NP [%s]\n", name);
  if (std::strcmp(name, kExportsProvider) != 0) {
    ksi_pfxmap_trace(2, "Enum failed - %d\n", kNoNetwork);
  } else if (find_export(unc, host, found)) {
    return true;
  }
  ksi_pfxmap_trace(2, "Found no match\n");
  return false;
}

// Connects the resource and enters it; the caller holds no lock.
int connect_and_enter(const resource &r) {
  char drive[kDriveText];
  if (!ksi_pfxmap_lock()) return -1;
  int rc = ksi_pfxmap_mount_drive(r.prefix, r.target, drive);
  if (rc == 0 && !ksi_pfxmap_add(ksi_pfxmap_area(), drive, r.prefix, 0)) {
    imsg_print(IMSG_ERROR, &ksi_ntpfxmap_msgs, KSI_NTPFXMAP_NO_ROOM);
    rc = -1;
  }
  ksi_pfxmap_unlock();
  return rc;
}

int register_remote(const char *unc, const char *host_start, size_t host_len) {
  char host[kPathSize];
  if (host_len >= sizeof host) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(host, host_start, host_len);
  host[host_len] = '\0';
  const char *uncovered = unc;
  if (!ksi_pfxmap_lock()) return -1;
  ksi_pfxmap_each(ksi_pfxmap_area(), already_covered, &uncovered);
  ksi_pfxmap_unlock();
  if (uncovered == nullptr) return 0;
  const char *const providers[] = {ksi_pfxmap_provider(), kExportsProvider};
  resource found;
  for (const char *name : providers)
    if (ask_provider(name, unc, host, &found)) return connect_and_enter(found);
  return -1;
}

}  // namespace

extern "C" {

int ntpfxmap_register(const char *unc) {
  if (unc == nullptr) {
    errno = EINVAL;
    return -1;
  }
  ksi_pfxmap_trace(2, "registering [%s]\n", unc);
  if (unc[0] == '%') return 0;
  if (ksi_pfxmap_init() != 0) return -1;
  const char *host;
  size_t host_len;
  if (!ksi_pfxmap_unc_host(unc, &host, &host_len)) {
    imsg_print(IMSG_ERROR, &ksi_ntpfxmap_msgs, KSI_NTPFXMAP_INVALID_UNC, unc);
    return -1;
  }
  if (ksi_pfxmap_is_local(host, host_len)) {
    ksi_pfxmap_trace(2, "skipping register of local name\n");
    return 0;
  }
  if (ksi_pfxmap_disabled()) return 0;
  const int rc = register_remote(unc, host, host_len);
  ksi_pfxmap_trace(2, "register returning with [%d]\n", rc);
  return rc;
}

}  // extern "C"
