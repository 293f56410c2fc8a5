// The two server-wide switches (network writes, impersonation advised) and
// the identity calls that have nothing to do on this platform: a server
// never changes its own identity, it decides access with the checks of
// server_check_fsobj_access.
#include <orvexks/qmthread.h>
#include <orvexks/server.h>

#include <orvexnt/nt_security.h>

#include "internal/thread_safety.h"
#include "protect/server_layout.h"

namespace {

qmthread_mutex_t switches_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
int network_write KSI_GUARDED_BY(switches_mutex) = 0;
int impersonation_advised KSI_GUARDED_BY(switches_mutex) = 0;

}  // namespace

bool ksi_network_write_enabled() {
  qmthread_mutex_lock(&switches_mutex);
  const int on = network_write;
  qmthread_mutex_unlock(&switches_mutex);
  return on != 0;
}

extern "C" {

int server_enable_network_write(int on) {
  qmthread_mutex_lock(&switches_mutex);
  const int previous = network_write;
  network_write = on;
  qmthread_mutex_unlock(&switches_mutex);
  return previous;
}

void server_advice_impersonation(void) {
  if (nt_is_chown_privileged()) return;
  qmthread_mutex_lock(&switches_mutex);
  impersonation_advised = 1;
  qmthread_mutex_unlock(&switches_mutex);
}

int server_establish_identity_substituted(void) { return 0; }

int server_establish_nonpriv_identity(void) { return 0; }

}  // extern "C"
