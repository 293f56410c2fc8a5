// State the host, address and account-name parts of the sysutl family
// share.
#pragma once

#include <orvexks/qmthread.h>

// Guards the process-wide caches: host name, host id, name-type switch.
extern qmthread_mutex_t ksi_sysutl_mutex;

// The address family resolution is restricted to by QUILL_IP_VERSION:
// AF_INET for "4", AF_INET6 for "6", else AF_UNSPEC. Read on every call so
// that a process may change it between resolutions.
int ksi_sysutl_resolve_family(void);

// True when QUILLMERE_DISABLE_NAME_TYPE_CONTEXT was set and not empty when
// first asked; kept for the life of the process.
bool ksi_sysutl_name_type_context_disabled(void);
