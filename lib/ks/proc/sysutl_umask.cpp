// The file-creation mask: set once for the process, then changed only
// inside a set/restore bracket that holds the umask mutex, so that a file
// another thread creates meanwhile never gets the bracket's mask by
// accident.
#include <orvexks/pfm.h>
#include <orvexks/sysutl.h>

#include <sys/stat.h>

#include "host/sysutl_msgs.h"
#include "internal/thread_safety.h"
#include "thread/qmthread_internal.h"

namespace {

// Raise mode: a fault that arrives inside a bracket waits for the restore.
qmthread_mutex_t umask_mutex = QMTHREAD_MUTEX_INITIALIZER;
KSI_FORK_GUARDED(umask_mutex);

bool initialized KSI_GUARDED_BY(umask_mutex) = false;
mode_t recorded KSI_GUARDED_BY(umask_mutex) = 0;
bool something_saved KSI_GUARDED_BY(umask_mutex) = false;
mode_t saved KSI_GUARDED_BY(umask_mutex) = 0;

// The mask can only be read by setting another; both happen under the
// umask mutex.
mode_t current_umask() KSI_REQUIRES(umask_mutex) {
  const mode_t mask = umask(0777);
  umask(mask);
  return mask;
}

}  // namespace

extern "C" {

KS_API void sysutl_initialize_umask(int use_current, uint32_t add) {
  qmthread_mutex_lock(&umask_mutex);
  if (!initialized) {
    mode_t mask = static_cast<mode_t>(add) & 0777;
    if (use_current) mask |= current_umask();
    umask(mask);
    recorded = mask;
    initialized = true;
  }
  qmthread_mutex_unlock(&umask_mutex);
}

KS_API int sysutl_get_umask(uint32_t *mask_out) {
  qmthread_mutex_lock(&umask_mutex);
  if (!initialized) {
    qmthread_mutex_unlock(&umask_mutex);
    imsg_print(IMSG_ERROR, &ksi_sysutl_msgs, KSI_SYSUTL_BAD_GET_UMASK);
    return 1;
  }
  // A main program owns the mask and may have changed it itself.
  const mode_t mask =
      pfm_proc() == PFM_PROCESS_DEFAULT ? current_umask() : recorded;
  qmthread_mutex_unlock(&umask_mutex);
  if (mask_out != nullptr) *mask_out = mask;
  return 0;
}

// The mutex stays held from here until sysutl_restore_umask.
KS_API int sysutl_set_umask(uint32_t mask) KSI_NO_THREAD_SAFETY_ANALYSIS {
  qmthread_mutex_lock(&umask_mutex);
  if (!initialized || something_saved) {
    qmthread_mutex_unlock(&umask_mutex);
    imsg_print(IMSG_ERROR, &ksi_sysutl_msgs, KSI_SYSUTL_BAD_SET_UMASK);
    return 1;
  }
  saved = umask(static_cast<mode_t>(mask) & 0777);
  something_saved = true;
  return 0;
}

// Releases the hold sysutl_set_umask took, then its own.
KS_API int sysutl_restore_umask(void) KSI_NO_THREAD_SAFETY_ANALYSIS {
  qmthread_mutex_lock(&umask_mutex);
  PFM_ASSERT(something_saved);
  umask(saved);
  something_saved = false;
  qmthread_mutex_unlock(&umask_mutex);
  qmthread_mutex_unlock(&umask_mutex);
  return 0;
}

}  // extern "C"
