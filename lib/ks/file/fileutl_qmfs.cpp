// Names of the versioning file system: UNC names on its view hosts. The
// host names are settings 28 (dynamic views, "view" by default) and 55
// (remote views, "rview") of the file system, read once and kept. Drive
// paths never lie on it here: no volume of this platform is of that type.
#include <orvexks/fileutl.h>
#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>
#include <orvexnt/nt_registry.h>

#include <strings.h>

#include <atomic>
#include <cstring>

#include "file/fileutl_internal.h"

#define FILEUTL_IS_ABSPN(pname) fileutl_is_abspn(pname)

namespace {

constexpr uint32_t kViewHostParam = 28;
constexpr uint32_t kRemoteViewHostParam = 55;

char view_host[256];
char remote_view_host[256];
std::atomic<size_t> view_host_length{0};  // non-zero once both are read
qmthread_mutex_t names_lock = QMTHREAD_MUTEX_INITIALIZER;

void read_name(uint32_t param, const char *fallback, char *out, size_t size) {
  if (ntregy_get_qmfs_param(param, size, out, NTREGY_TYPE_TEXT) != NTREGY_OK ||
      out[0] == '\0')
    std::strcpy(out, fallback);
}

void read_view_hosts() {
  if (view_host_length.load(std::memory_order_acquire) != 0) return;
  qmthread_mutex_lock(&names_lock);
  if (view_host_length.load(std::memory_order_relaxed) == 0) {
    read_name(kViewHostParam, "view", view_host, sizeof view_host);
    read_name(kRemoteViewHostParam, "rview", remote_view_host,
              sizeof remote_view_host);
    view_host_length.store(std::strlen(view_host), std::memory_order_release);
  }
  qmthread_mutex_unlock(&names_lock);
}

// host (case-blind) followed by a separator or the end.
bool host_is(const char *host_part, const char *host) {
  const size_t n = std::strlen(host);
  return strncasecmp(host_part, host, n) == 0 &&
         (host_part[n] == '\0' || ksi_is_sep(host_part[n]));
}

// 1 on the view host, 2 on the remote-view host, else 0.
int view_type(const char *pname) {
  PFM_ASSERT(FILEUTL_IS_ABSPN(pname));
  if (!(ksi_is_sep(pname[0]) && ksi_is_sep(pname[1]))) return 0;
  read_view_hosts();
  if (host_is(pname + 2, view_host)) return 1;
  if (host_is(pname + 2, remote_view_host)) return 2;
  return 0;
}

}  // namespace

extern "C" {

int fileutl_is_qmfs_pn(const char *pname) {
  return view_type(pname) != 0 ? 1 : 0;
}

int fileutl_qmfs_vwtype_pn(const char *pname) { return view_type(pname); }

}  // extern "C"
