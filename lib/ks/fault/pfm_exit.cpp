// Exit handlers, the exit function, pfm_exit, panic and assertions.
#include "fault/pfm_process.h"
#include "msg/msg_out.h"
#include "thread/qmthread_internal.h"

#include <cstdlib>

namespace {

// Guards the pending exit.
qmthread_mutex_t exit_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(exit_mutex);
std::atomic<bool> pending_exit_flag{false};
int pending_exit_code KSI_GUARDED_BY(exit_mutex) = 0;

struct on_exit_entry *exit_stack KSI_GUARDED_BY(ksi_pfm_mutex) = nullptr;
void (*exit_function)(int) KSI_GUARDED_BY(ksi_pfm_mutex) = exit;

}  // namespace

bool ksi_pfm_pending_exit(int *code) {
  if (!pending_exit_flag.load(std::memory_order_acquire)) return false;
  qmthread_mutex_lock(&exit_mutex);
  *code = pending_exit_code;
  bool pending = pending_exit_flag.load(std::memory_order_relaxed);
  qmthread_mutex_unlock(&exit_mutex);
  return pending;
}

void ksi_pfm_set_pending_exit(int code) {
  qmthread_mutex_lock(&exit_mutex);
  pending_exit_code = code;
  pending_exit_flag.store(true, std::memory_order_release);
  qmthread_mutex_unlock(&exit_mutex);
}

void ksi_pfm_clear_pending_exit(void) {
  qmthread_mutex_lock(&exit_mutex);
  pending_exit_code = 0;
  pending_exit_flag.store(false, std::memory_order_release);
  qmthread_mutex_unlock(&exit_mutex);
}

void ksi_pfm_reset_exit_function(void) { exit_function = exit; }

// The handlers run under the pfm mutex, as the interface specifies (pfm.h):
// handlers registered while they run are run too, and concurrent exits
// never run one handler twice. The mutex is recursive for this thread, so
// a handler may itself register handlers.
void ksi_pfm_run_exit_handlers(int code) {
  qmthread_mutex_lock(&ksi_pfm_mutex);
  while (exit_stack != nullptr) {
    struct on_exit_entry *entry = exit_stack;
    exit_stack = entry->next;
    entry->handler(code, entry->arg, entry);
  }
  qmthread_mutex_unlock(&ksi_pfm_mutex);
}

extern "C" {

KS_API void pfm_on_exit(pfm_exit_handler_t handler, void *arg) {
  ksi_pfm_init_if_needed();
  struct on_exit_entry *entry =
      static_cast<struct on_exit_entry *>(malloc(sizeof(struct on_exit_entry)));
  KSI_PFM_CHECK(entry != nullptr,
                "(new = (struct on_exit_entry *)malloc(sizeof(struct "
                "on_exit_entry))) != NULL");
  entry->handler = handler;
  entry->arg = arg;
  qmthread_mutex_lock(&ksi_pfm_mutex);
  entry->next = exit_stack;
  exit_stack = entry;
  qmthread_mutex_unlock(&ksi_pfm_mutex);
}

KS_API pfm_exit_fn_t pfm_set_exit(pfm_exit_fn_t fn) {
  qmthread_mutex_lock(&ksi_pfm_mutex);
  pfm_exit_fn_t old = exit_function;
  exit_function = fn;
  qmthread_mutex_unlock(&ksi_pfm_mutex);
  return old;
}

KS_API void pfm_exit(int code) {
  ksi_pfm_init_if_needed();
  if (ksi_on_signal_handler_thread()) {
    ksi_pfm_set_pending_exit(code);
    return;
  }
  if (!ksi_is_attached_thread())
    qmthread_exit(reinterpret_cast<void *>(static_cast<intptr_t>(code)));

  ksi_pfm_run_exit_handlers(code);
  ksi_pfm_set_pending_exit(code);
  uint32_t type = ksi_pfm_proc_type.load();
  if (type == PFM_PROCESS_DEFERRED) ksi_pfm_restore_initial_handlers();
  ksi_pfm_pass_deferred_signals();

  qmthread_mutex_lock(&ksi_pfm_mutex);
  pfm_exit_fn_t exit_fn = exit_function;
  qmthread_mutex_unlock(&ksi_pfm_mutex);
  if ((type == PFM_PROCESS_DEFERRED || type == PFM_PROCESS_EXTERNAL) &&
      exit_fn == exit)
    return;

  ksi_lib_lock_release_all();
  ksi_pfm_wait_for_dispatch_end();
  ksi_pfm_close_channel();
  qmthread_mutex_lock(&ksi_pfm_mutex);
  ksi_pfm_proc_type.store(PFM_PROCESS_INVALID);
  ksi_pfm_inited.store(false, std::memory_order_release);
  ksi_pfm_forget_init();
  ksi_pfm_set_pass_deferred(false);
  qmthread_mutex_unlock(&ksi_pfm_mutex);
  exit_fn(code);
}

KS_API void pfm_panic(const char *file, int line) {
  ksi_pfm_hold_off_delivery();
  imsg_print(IMSG_ERROR, pfm_ks_msg_table_adr(), 1, file, line);
  ksi_pfm_abort("*** Panic ***", file, line);
}

KS_API void pfm_assert_fail(const char *condition, const char *file, int line) {
  ksi_pfm_abort(condition, file, line);
}

}  // extern "C"
