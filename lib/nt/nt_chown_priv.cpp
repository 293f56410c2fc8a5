// The change-owner privilege: uid 0 or CAP_CHOWN in the effective set.
// Enabling raises CAP_CHOWN and CAP_FOWNER (changing the mode of a file
// given away) from the permitted set; capabilities belong to the thread,
// so enabling and restoring bracket work on one thread.
#include <orvexnt/nt_security.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "internal/nt_sd_internal.h"

namespace {

constexpr int kRaisedChown = 1, kRaisedFowner = 2;

struct Caps {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};

  bool get() { return syscall(SYS_capget, &header, data) == 0; }
  bool set() { return syscall(SYS_capset, &header, data) == 0; }
  static uint32_t bit(int cap) { return 1u << (cap % 32); }
  bool effective(int cap) const { return data[cap / 32].effective & bit(cap); }
  bool permitted(int cap) const { return data[cap / 32].permitted & bit(cap); }
  void set_effective(int cap, bool on) {
    if (on)
      data[cap / 32].effective |= bit(cap);
    else
      data[cap / 32].effective &= ~bit(cap);
  }
};

}  // namespace

bool nti_has_capability(int cap) {
  if (geteuid() == 0) return true;
  Caps caps;
  return caps.get() && caps.effective(cap);
}

extern "C" {

NT_API int nt_is_chown_privileged(void) {
  return nti_has_capability(CAP_CHOWN) ? 1 : 0;
}

NT_API int nt_enable_chown_privileges(int *saved_out) {
  int raised = 0;
  Caps caps;
  if (caps.get()) {
    const struct {
      int cap, flag;
    } wanted[] = {{CAP_CHOWN, kRaisedChown}, {CAP_FOWNER, kRaisedFowner}};
    for (const auto &w : wanted)
      if (caps.permitted(w.cap) && !caps.effective(w.cap)) {
        caps.set_effective(w.cap, true);
        raised |= w.flag;
      }
    if (raised != 0 && !caps.set()) raised = 0;
  }
  if (saved_out != nullptr) *saved_out = raised;
  return nt_is_chown_privileged();
}

NT_API void nt_restore_chown_privileges(int saved) {
  Caps caps;
  if (saved == 0 || !caps.get()) return;
  if (saved & kRaisedChown) caps.set_effective(CAP_CHOWN, false);
  if (saved & kRaisedFowner) caps.set_effective(CAP_FOWNER, false);
  caps.set();
}

}  // extern "C"
