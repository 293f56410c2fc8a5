// The countdown behind nt_alloc_fault_arm; compiled in test builds only.
#include "internal/nt_alloc_fault.h"

#ifdef ORVEX_ALLOC_FAULTS

namespace {
thread_local unsigned countdown = 0;
thread_local bool fired = false;
}  // namespace

void nt_alloc_fault_arm(unsigned n) {
  countdown = n;
  fired = false;
}

bool nt_alloc_fault_fired(void) { return fired; }

bool nt_alloc_fault_hit(void) {
  if (countdown == 0 || --countdown != 0) return false;
  fired = true;
  return true;
}

#endif
