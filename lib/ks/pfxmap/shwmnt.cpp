// Asking a host for its exported file systems over the mount protocol.
#include <orvexks/imsg.h>
#include <orvexks/ntpfxmap.h>

#include <cerrno>

#include "pfxmap/ntpfxmap_internal.h"
#include "pfxmap/ntpfxmap_msgs.h"

namespace {

constexpr uint32_t kMountProgram = 100005;
constexpr uint32_t kMountVersion = 1;
constexpr uint32_t kExportProc = 5;
constexpr timeval kCallTimeout = {10, 0};

xdrproc_t exports_filter() {
  return reinterpret_cast<xdrproc_t>(ksi_xdr_shwmnt_exports);
}

}  // namespace

extern "C" {

CLIENT *shwmnt_open_transport(const char *host) {
  if (host == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_ntpfxmap_msgs, KSI_NTPFXMAP_NULL_SERVER);
    return nullptr;
  }
  CLIENT *client = ks_clnt_create(host, kMountProgram, kMountVersion, "tcp");
  if (client == nullptr) ks_clnt_pcreateerror("SHWMNT");
  return client;
}

int shwmnt_get(const char *host, shwmnt_export_t **exports_out) {
  if (exports_out == nullptr) {
    errno = EINVAL;
    return -1;
  }
  *exports_out = nullptr;
  CLIENT *client = shwmnt_open_transport(host);
  if (client == nullptr) return -1;
  // A failed call is repeated for as long as the retry advice allows; when
  // it gives up, the host's list counts as empty.
  int tries = 0;
  for (;;) {
    shwmnt_export_t *list = nullptr;
    const enum clnt_stat stat =
        KS_CLNT_CALL(client, kExportProc, reinterpret_cast<xdrproc_t>(xdr_void),
                     nullptr, exports_filter(), &list, kCallTimeout);
    if (stat == RPC_SUCCESS) {
      *exports_out = list;
      break;
    }
    xdr_free(exports_filter(), &list);
    if (ksi_shwmnt_err_routine(client, kExportProc, stat, &tries) == -1) break;
  }
  KS_CLNT_DESTROY(client);
  return 0;
}

void shwmnt_free(shwmnt_export_t *exports) {
  xdr_free(exports_filter(), &exports);
}

}  // extern "C"
