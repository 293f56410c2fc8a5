// Where a prompt goes: a daemon is never asked; a window that installed
// its prompt procedures answers while its writer serves slot 0; otherwise
// the forced-GUI switch chooses the prompting tool, else the console.
#include <orvexks/imsg.h>
#include <orvexks/ks_product.h>

#include "msg/imsg_prompt.h"
#include "msg/msg_lock.h"
#include "msg/msg_out.h"
#include "msg/msg_state.h"

namespace {

// The window's procedures and their data pointer (message lock).
imsg_prompt_procs_t installed KSI_GUARDED_BY(ksi_msg_lock) = {};
void *installed_data KSI_GUARDED_BY(ksi_msg_lock) = nullptr;

bool entry_set(const imsg_prompt_procs_t &procs, ksi_prompt_proc which) {
  switch (which) {
    case ksi_prompt_proc::text:
      return procs.text != nullptr;
    case ksi_prompt_proc::file:
      return procs.file != nullptr;
    case ksi_prompt_proc::list:
      return procs.list != nullptr;
    case ksi_prompt_proc::proceed:
      return procs.proceed != nullptr;
    case ksi_prompt_proc::yes_no:
      return procs.yes_no != nullptr;
    case ksi_prompt_proc::password:
      return procs.password != nullptr;
  }
  return false;
}

}  // namespace

ksi_prompt_setting ksi_prompt_choose(ksi_prompt_proc which,
                                     imsg_prompt_procs_t *procs, void **data) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  const bool daemon = ksi_msg_out.daemon;
  const bool window =
      ksi_msg_out.slots[IMSG_OK] != nullptr && entry_set(installed, which);
  *procs = installed;
  *data = installed_data;
  qmthread_mutex_unlock(&ksi_msg_lock);
  if (daemon) return ksi_prompt_setting::daemon;
  if (window) return ksi_prompt_setting::procs;
  return ks_force_gui() != 0 ? ksi_prompt_setting::tool
                             : ksi_prompt_setting::console;
}

extern "C" {

KS_API void imsg_use_prompt_procs(const imsg_prompt_procs_t *procs,
                                  void *data) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  if (procs == nullptr || data == nullptr) {
    installed = {};
    installed_data = nullptr;
  } else {
    installed = *procs;
    installed_data = data;
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
}

}  // extern "C"
