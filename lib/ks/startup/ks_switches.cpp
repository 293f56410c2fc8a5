// Yes/no switches from the environment that change how tools present
// themselves. Each is read once per process; no lock, since message output
// asks for one (ks_no_bold) while it holds the message lock.
#include <orvexks/ks_product.h>

#include <orvexnt/nt_env.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include <atomic>

namespace {

struct ksi_switch {
  const char *first;   // QUILL_ variable, read first
  const char *second;  // ORVEX_ variable, read when the first is unset/empty
  bool empty_second_means_on;
  std::atomic<int> state;  // -1 until read, then 0 or 1
};

ksi_switch force_gui{"QUILL_FORCE_GUI", "ORVEX_FORCE_GUI", false, -1};
ksi_switch web_gui{"QUILL_WEB_GUI", "ORVEX_WEB_GUI", false, -1};
ksi_switch cte_dynamic{"QUILL_CTE_DYNAMIC", "ORVEX_CTE_DYNAMIC", false, -1};
ksi_switch web_qmprompt{"QUILL_WEB_QMPROMPT", "ORVEX_WEB_QMPROMPT", false, -1};
// Setting ORVEX_NO_BOLD at all, even to nothing, asks for plain output.
ksi_switch no_bold{"QUILL_NO_BOLD", "ORVEX_NO_BOLD", true, -1};

// A value turns the switch on unless it is empty or a number that is 0.
int ksi_switch_value(const ksi_switch &s) {
  const char *value = nt_getenv_safe(s.first);
  if (value == nullptr || *value == '\0') {
    value = nt_getenv_safe(s.second);
    if (value != nullptr && *value == '\0') return s.empty_second_means_on;
  }
  if (value == nullptr || *value == '\0') return 0;
  if (isdigit(static_cast<unsigned char>(*value))) return atoi(value) != 0;
  return 1;
}

// Threads that read the switch at the same time may each read the
// environment; the first value stored is the one every caller gets.
int ksi_switch_get(ksi_switch &s) {
  int state = s.state.load(std::memory_order_acquire);
  if (state >= 0) return state;
  int unread = -1;
  int value = ksi_switch_value(s);
  return s.state.compare_exchange_strong(unread, value,
                                         std::memory_order_acq_rel)
             ? value
             : unread;
}

// "NAME=1" to turn on, "NAME=" (which removes the variable) to turn off.
int ksi_switch_put(const char *name, int on) {
  char assignment[64];
  snprintf(assignment, sizeof assignment, "%s=%s", name, on ? "1" : "");
  return nt_putenv_safe(assignment) == 0 ? 0 : 1;
}

int ksi_switch_set(const ksi_switch &s, int on) {
  if (ksi_switch_put(s.first, on) != 0) return 1;
  return ksi_switch_put(s.second, on);
}

}  // namespace

extern "C" {

KS_API int ks_force_gui(void) { return ksi_switch_get(force_gui); }
KS_API int ks_set_force_gui(int on) { return ksi_switch_set(force_gui, on); }
KS_API int ks_web_gui(void) { return ksi_switch_get(web_gui); }
KS_API int ks_set_web_gui(int on) { return ksi_switch_set(web_gui, on); }
KS_API int ks_cte_dynamic(void) { return ksi_switch_get(cte_dynamic); }
KS_API int ks_set_cte_dynamic(int on) {
  return ksi_switch_set(cte_dynamic, on);
}
KS_API int ks_web_qmprompt(void) { return ksi_switch_get(web_qmprompt); }
KS_API int ks_set_web_qmprompt(int on) {
  return ksi_switch_set(web_qmprompt, on);
}
KS_API int ks_no_bold(void) { return ksi_switch_get(no_bold); }

}  // extern "C"
