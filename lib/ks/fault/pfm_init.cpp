// Initialisation of fault management and the process types.
#include "fault/pfm_process.h"
#include "thread/qmthread_internal.h"

#include <csignal>
#include <cstdlib>

namespace {

bool inited_under_lock KSI_GUARDED_BY(ksi_pfm_mutex) = false;
bool atexit_registered KSI_GUARDED_BY(ksi_pfm_mutex) = false;

void run_exit_handlers_at_exit() { ksi_pfm_run_exit_handlers(0); }

}  // namespace

void ksi_pfm_forget_init(void) { inited_under_lock = false; }

extern "C" {

KS_API void pfm_init(void) {
  qmthread_mutex_lock(&ksi_pfm_mutex);
  if (inited_under_lock) {
    qmthread_mutex_unlock(&ksi_pfm_mutex);
    return;
  }
  inited_under_lock = true;
  qmthread_init();
  ksi_pfm_clear_pending_exit();
  ksi_pfm_signals_init();
  ksi_pfm_reset_exit_function();
  ksi_pfm_inited.store(true, std::memory_order_release);
  if (ksi_pfm_proc_type.load() != PFM_PROCESS_EXTERNAL) {
    ksi_pfm_install_interrupt_handlers();
    if (!atexit_registered) {
      atexit_registered = true;
      atexit(run_exit_handlers_at_exit);
    }
    uint32_t none = PFM_PROCESS_INVALID;
    ksi_pfm_proc_type.compare_exchange_strong(none, PFM_PROCESS_DEFAULT);
    KSI_PFM_CHECK(qmthread_try_attach_lib() == 0,
                  "qmthread_try_attach_lib() == 0");
  }
  qmthread_mutex_unlock(&ksi_pfm_mutex);
}

KS_API void pfm_proc_init(uint32_t type) {
  KSI_PFM_CHECK(type != PFM_PROCESS_INVALID,
                "proc_type != PFM_PROCESS_INVALID");
  qmthread_mutex_lock(&ksi_pfm_mutex);
  // The external type cannot be taken once the library owns the signals
  // and an attached thread, whichever type that initialisation chose.
  if (type == PFM_PROCESS_EXTERNAL)
    KSI_PFM_CHECK(!inited_under_lock, "pfm_inited == 0");
  if (ksi_pfm_proc_type.load() != PFM_PROCESS_INVALID) {
    qmthread_mutex_unlock(&ksi_pfm_mutex);
    return;
  }
  ksi_pfm_proc_type.store(type);
  if (type == PFM_PROCESS_DEFERRED) ksi_pfm_set_pass_deferred(true);
  qmthread_mutex_unlock(&ksi_pfm_mutex);
  pfm_init();
}

KS_API uint32_t pfm_external_proc_init(void) {
  uint32_t none = PFM_PROCESS_INVALID;
  ksi_pfm_proc_type.compare_exchange_strong(none, PFM_PROCESS_EXTERNAL);
  return ksi_pfm_proc_type.load();
}

KS_API uint32_t pfm_proc(void) { return ksi_pfm_proc_type.load(); }

KS_API int pfm_in_safe_mode(void) {
  return ksi_pfm_proc_type.load() == PFM_PROCESS_EXTERNAL ? 1 : 0;
}

}  // extern "C"
