// The list of registered programs and their dispatch functions, newest
// first, and the search that picks a call's dispatch function or the
// versions a program-mismatch reply names.
#include <cstdlib>

#include "rpc/svc/svc_internal.h"
#include "rpc/svc/svc_programs.h"

namespace {

struct svc_callout {
  svc_callout *next;
  uint32_t prog;
  uint32_t vers;
  char *netid;  // always null: binder registration is the caller's
  ks_svc_dispatch_t dispatch;
};

qmthread_rwlock_t program_lock;
svc_callout *programs = nullptr;

void init_program_lock() { qmthread_rwlock_init(&program_lock, 0); }

// Made on first use, like the transport-table lock.
qmthread_rwlock_t *lock() {
  static const bool made = (init_program_lock(), true);
  (void)made;
  return &program_lock;
}

svc_callout **find_locked(uint32_t prog, uint32_t vers) {
  svc_callout **at = &programs;
  while (*at != nullptr && ((*at)->prog != prog || (*at)->vers != vers))
    at = &(*at)->next;
  return at;
}

}  // namespace

ksi_svc_lookup ksi_svc_find_program(uint32_t prog, uint32_t vers) {
  ksi_svc_lookup found = {};
  qmthread_rwlock_rdlock(lock());
  for (svc_callout *n = programs; n != nullptr; n = n->next) {
    if (n->prog != prog) continue;
    if (n->vers == vers) {
      found.dispatch = n->dispatch;
      break;
    }
    if (!found.prog_known || n->vers < found.low) found.low = n->vers;
    if (!found.prog_known || n->vers > found.high) found.high = n->vers;
    found.prog_known = true;
  }
  qmthread_rwlock_unlock(&program_lock);
  return found;
}

extern "C" {

KS_API bool_t ks_svc_register(SVCXPRT *, uint32_t prog, uint32_t vers,
                              ks_svc_dispatch_t dispatch, int protocol) {
  if (protocol != 0) return FALSE;
  qmthread_rwlock_wrlock(lock());
  bool_t ok = TRUE;
  svc_callout *node = *find_locked(prog, vers);
  if (node != nullptr) {
    ok = node->dispatch == dispatch;
  } else {
    node = static_cast<svc_callout *>(malloc(sizeof(svc_callout)));
    if (node == nullptr) {
      ok = FALSE;
    } else {
      *node = {programs, prog, vers, nullptr, dispatch};
      programs = node;
    }
  }
  qmthread_rwlock_unlock(&program_lock);
  return ok;
}

KS_API void ks_svc_unregister(uint32_t prog, uint32_t vers) {
  qmthread_rwlock_wrlock(lock());
  svc_callout **at = find_locked(prog, vers);
  svc_callout *node = *at;
  if (node != nullptr) *at = node->next;
  qmthread_rwlock_unlock(&program_lock);
  free(node);
}

}  // extern "C"
