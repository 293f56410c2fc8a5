// The companion library's per-thread result buffers.
#pragma once

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_error.h>
#include <orvexnt/nt_sid.h>

// One heap block per thread, made on first use under a thread-specific key
// and freed when the thread ends. The buffers are not thread_local arrays:
// a library whose static TLS block is large cannot be loaded late (dlopen).
// The companion library sits below liborvexks and so keeps its own key
// rather than a slot of liborvexks's per-thread registry.
struct nti_tls_t {
  char domain[NT_ACCOUNT_NAME_MAX];
  char login[NT_ACCOUNT_NAME_MAX];
  char homedir[NT_ACCOUNT_NAME_MAX];
  char group_name[256];
  char sid_string[NT_SID_STRING_MAX];
  char error_string[NT_ERROR_STRING_MAX];
};

// The caller's block; null with errno ENOMEM when it cannot be made.
nti_tls_t *nti_tls();
