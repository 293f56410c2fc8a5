// The library's signal handling: the signal tables, the delivery thread,
// the dispatcher and deferred signals (process type 2).
//
// Signals reach the library through a delivery thread: the handler given
// to the kernel only writes the signal number into a pipe, and the
// delivery thread runs the dispatcher outside signal context, so the
// dispatcher may take locks and post statuses like any other thread.
#include "fault/pfm_process.h"
#include "internal/report_line.h"
#include "thread/qmthread_internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int kMaxSignal = kKsiPfmMaxSignal;

pfm_signal_t handler_sigvec[kMaxSignal] KSI_GUARDED_BY(ksi_pfm_mutex);
struct sigaction initial_action[kMaxSignal] KSI_GUARDED_BY(ksi_pfm_mutex);

// Guards the deferred-signal mask and state.
qmthread_mutex_t signal_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(signal_mutex);
// Set for process type 2; read by the delivery thread without the lock.
std::atomic<bool> pass_deferred_on{false};

// Under the signal mutex: bit sig-1 set = signal sig waits to be passed on
// to its initial handler; state 0 none, 1 a signal waits, 2 an interrupt.
uint32_t deferred_mask KSI_GUARDED_BY(signal_mutex) = 0;
int deferred_state KSI_GUARDED_BY(signal_mutex) = 0;

// The self-pipe between the kernel-level handler and the delivery thread,
// and whether that thread runs; under the delivery mutex. The kernel-level
// handler reads the write end without it.
qmthread_mutex_t delivery_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(delivery_mutex);
int signal_pipe[2] KSI_GUARDED_BY(delivery_mutex) = {-1, -1};
std::atomic<int> signal_pipe_in{-1};
bool delivery_running KSI_GUARDED_BY(delivery_mutex) = false;
// Set once signals go through the delivery thread; after a fork the child
// starts its own thread on first need (see start_delivery_if_needed).
std::atomic<bool> delivery_wanted{false};
std::atomic<bool> delivery_missing{false};
// Signalled when a dispatch ends (pfm_exit waits for the running one).
pthread_cond_t dispatch_done = PTHREAD_COND_INITIALIZER;
pthread_once_t fork_handler_once = PTHREAD_ONCE_INIT;

using c_handler_t = void (*)(int);

// The signal tables hold the C runtime's handler values (SIG_DFL, SIG_IGN
// or a one-argument function) in the library's two-argument handler type;
// conversions go through a generic function pointer.
pfm_signal_t as_pfm(c_handler_t handler) {
  return reinterpret_cast<pfm_signal_t>(
      reinterpret_cast<void (*)(void)>(handler));
}
c_handler_t as_c(pfm_signal_t handler) {
  return reinterpret_cast<c_handler_t>(
      reinterpret_cast<void (*)(void)>(handler));
}

pfm_signal_t initial_handler(int sig) KSI_REQUIRES(ksi_pfm_mutex) {
  return as_pfm(initial_action[sig - 1].sa_handler);
}

// The handler the program asked for, and the one the signal had at
// initialisation, read together under the pfm mutex.
struct handler_pair {
  pfm_signal_t requested;
  pfm_signal_t initial;
};
handler_pair handlers_of(int sig) {
  qmthread_mutex_lock(&ksi_pfm_mutex);
  handler_pair pair{handler_sigvec[sig - 1], initial_handler(sig)};
  qmthread_mutex_unlock(&ksi_pfm_mutex);
  return pair;
}

bool is_function(pfm_signal_t handler) {
  return handler != as_pfm(SIG_DFL) && handler != as_pfm(SIG_IGN);
}

// True when the library's dispatcher is the handler the kernel runs.
bool through_dispatcher(handler_pair handlers) {
  return is_function(handlers.requested) &&
         handlers.requested != handlers.initial;
}

// The kernel-level handler: async-signal-safe hand-over to the delivery
// thread.
void forward_signal(int sig) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(sig);
  ssize_t rc = write(signal_pipe_in.load(std::memory_order_relaxed), &byte, 1);
  (void)rc;
  errno = saved;
}

void dispatch(int sig);

void *delivery_thread(void *raw) {
  int from = static_cast<int>(reinterpret_cast<intptr_t>(raw));
  for (;;) {
    unsigned char byte;
    ssize_t n = read(from, &byte, 1);
    if (n == 1)
      dispatch(byte);
    else if (n < 0 && errno != EINTR)
      return nullptr;
  }
}

// Signals are lost while the delivery cannot start: say so, through the
// low-level reporter (this runs under the pfm mutex, possibly in a fork
// child, and the pfm table keeps its two catalogued messages).
void report_delivery_failure(const char *call, int err) {
  char text[128];
  ksi_report("Signals cannot reach the library ('%s' failed): %s", call,
             ksi_error_text(err, text, sizeof text));
}

void open_pipe_locked() KSI_REQUIRES(delivery_mutex) {
  if (signal_pipe[0] >= 0) return;
  if (pipe2(signal_pipe, O_CLOEXEC) != 0) {
    signal_pipe[0] = signal_pipe[1] = -1;
    report_delivery_failure("pipe2", errno);
    return;
  }
  signal_pipe_in.store(signal_pipe[1], std::memory_order_relaxed);
}

// The pipe and the thread, whichever is missing.
void open_delivery_locked() KSI_REQUIRES(delivery_mutex) {
  open_pipe_locked();
  if (signal_pipe[0] < 0 || delivery_running) return;
  pthread_t tid;
  void *from = reinterpret_cast<void *>(static_cast<intptr_t>(signal_pipe[0]));
  int err = pthread_create(&tid, nullptr, delivery_thread, from);
  if (err != 0) {
    report_delivery_failure("pthread_create", err);
    return;
  }
  pthread_detach(tid);
  delivery_running = true;
}

// A forked child inherits the kernel-level handlers but neither the
// delivery thread nor a pipe of its own (the parent's thread would read
// the child's signals). The handler gives it a fresh pipe, so signals
// queue from the start, but creates no thread: the thread starts at the
// child's first delivery check or handler change. The child is the only
// thread there, so the state is its own without the delivery mutex.
void delivery_after_fork_child() KSI_NO_THREAD_SAFETY_ANALYSIS {
  if (signal_pipe[0] >= 0) {
    close(signal_pipe[0]);
    close(signal_pipe[1]);
  }
  signal_pipe[0] = signal_pipe[1] = -1;
  signal_pipe_in.store(-1, std::memory_order_relaxed);
  delivery_running = false;
  ksi_pfm_signal_handler_tid.store(QMTHREAD_INVALID_TID,
                                   std::memory_order_relaxed);
  pthread_cond_t fresh = PTHREAD_COND_INITIALIZER;
  dispatch_done = fresh;
  if (!delivery_wanted.load(std::memory_order_relaxed)) return;
  if (pipe2(signal_pipe, O_CLOEXEC) == 0)
    signal_pipe_in.store(signal_pipe[1], std::memory_order_relaxed);
  else
    signal_pipe[0] = signal_pipe[1] = -1;  // reported when the thread starts
  delivery_missing.store(true, std::memory_order_release);
}

void install_fork_handler() {
  pthread_atfork(nullptr, nullptr, delivery_after_fork_child);
}

void start_delivery() {
  pthread_once(&fork_handler_once, install_fork_handler);
  qmthread_mutex_lock(&delivery_mutex);
  delivery_wanted.store(true, std::memory_order_relaxed);
  open_delivery_locked();
  qmthread_mutex_unlock(&delivery_mutex);
}

// Gives the kernel the handler the library chose for `sig`.
void install(int sig, pfm_signal_t chosen, bool dispatcher)
    KSI_REQUIRES(ksi_pfm_mutex) {
  if (dispatcher) {
    start_delivery();
    struct sigaction sa {};
    sa.sa_handler = forward_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
  } else if (chosen == initial_handler(sig)) {
    sigaction(sig, &initial_action[sig - 1], nullptr);
  } else {
    signal(sig, as_c(chosen));
  }
}

// Passes waiting signals on to the handlers the process had before (only
// in process type 2). An interrupt waits until an exit is pending.
void pass_deferred_signals() {
  if (!pass_deferred_on.load(std::memory_order_acquire)) return;
  int code;
  qmthread_mutex_lock(&signal_mutex);
  if (ksi_pfm_proc_type.load() != PFM_PROCESS_EXTERNAL &&
      (ksi_pfm_pending_exit(&code) || deferred_state == 1)) {
    deferred_state = 0;
    for (int sig = 1; sig <= kMaxSignal; ++sig) {
      uint32_t bit = 1u << (sig - 1);
      if ((deferred_mask & bit) == 0) continue;
      deferred_mask &= ~bit;
      qmthread_mutex_unlock(&signal_mutex);
      handler_pair handlers = handlers_of(sig);
      pfm_signal(sig, handlers.initial);
      raise(sig);
      pfm_signal(sig, handlers.requested);
      qmthread_mutex_lock(&signal_mutex);
    }
  }
  qmthread_mutex_unlock(&signal_mutex);
}

// Records that `sig` waits to be passed on to its initial handler. Takes
// the signal mutex only: the caller read the initial handler beforehand, so
// the pfm mutex is never taken inside the signal mutex.
void note_deferred(int sig, pfm_signal_t initial) {
  uint32_t bit = 1u << (sig - 1);
  qmthread_mutex_lock(&signal_mutex);
  if ((deferred_mask & bit) == 0 &&
      ksi_pfm_proc_type.load() != PFM_PROCESS_EXTERNAL) {
    if (sig == SIGINT || sig == SIGTERM) {
      deferred_state = 2;
      deferred_mask |= bit;
    } else if (deferred_state != 2 && is_function(initial)) {
      deferred_state = 1;
      deferred_mask |= bit;
    }
  }
  qmthread_mutex_unlock(&signal_mutex);
}

void dispatch(int sig) {
  KSI_PFM_CHECK(!pfm_in_safe_mode(),
                "!pfm_in_safe_mode() || pfm_is_safemode_signal(sig)");
  handler_pair handlers = handlers_of(sig);
  pfm_signal_t requested = handlers.requested;
  // A signal waits in the pipe between its arrival and its dispatch; the
  // program may have switched it to SIG_IGN, SIG_DFL or its initial handler
  // meanwhile. Such a signal is dropped, as it would have been had it come
  // after the switch (a synchronous delivery has no such window, and there
  // the dispatcher checks that the handler is not SIG_IGN or SIG_DFL).
  if (!through_dispatcher(handlers)) return;
  qmthread_t none = QMTHREAD_INVALID_TID;
  KSI_PFM_CHECK(
      ksi_pfm_signal_handler_tid.compare_exchange_strong(none, pthread_self()),
      "qmthread_equal(pfm_signal_handler_tid, QMTHREAD_INVALID_TID)");
  // The kernel-level handler stays installed (no one-shot semantics), so
  // there is nothing to reinstall here.
  qmthread_t attached;
  qmthread_attached_tid(&attached);
  if (qmthread_is_null(attached)) {
    pfm_signal(sig, handlers.initial);
    raise(sig);
    pfm_signal(sig, requested);
  } else {
    note_deferred(sig, handlers.initial);
    requested(sig, 1u << (sig - 1));
    pass_deferred_signals();
    // Only a wake-up for a waiting select: whether the attached thread
    // raises is up to the handler, which posts when it wants one.
    ksi_pfm_notify_channel(PFM_STATUS_INTERRUPT);
  }
  ksi_run_key_destructors(false);
  qmthread_mutex_lock(&delivery_mutex);
  ksi_pfm_signal_handler_tid.store(QMTHREAD_INVALID_TID,
                                   std::memory_order_release);
  pthread_cond_broadcast(&dispatch_done);
  qmthread_mutex_unlock(&delivery_mutex);
}

// Waits until no dispatch runs (the delivery thread lives as long as the
// process, so there is no thread to join).
void wait_for_dispatch_end() {
  qmthread_mutex_lock(&delivery_mutex);
  while (!qmthread_is_null(
      ksi_pfm_signal_handler_tid.load(std::memory_order_acquire)))
    qmthread_cond_wait(&dispatch_done, &delivery_mutex);
  qmthread_mutex_unlock(&delivery_mutex);
}

// Installed for SIGINT and SIGTERM: the attached thread takes an interrupt
// at its next delivery check.
void default_interrupt_handler(int, uint32_t) {
  if (ksi_pfm_inited.load(std::memory_order_acquire))
    ksi_pfm_post(PFM_STATUS_INTERRUPT);
}

}  // namespace

void ksi_pfm_signals_init(void) {
  for (int sig = 1; sig <= kMaxSignal; ++sig) {
    struct sigaction *sa = &initial_action[sig - 1];
    if (sigaction(sig, nullptr, sa) != 0) {
      *sa = {};
      sa->sa_handler = SIG_IGN;
    }
    handler_sigvec[sig - 1] = initial_handler(sig);
  }
  qmthread_mutex_lock(&signal_mutex);
  deferred_mask = 0;
  deferred_state = 0;
  qmthread_mutex_unlock(&signal_mutex);
}

void ksi_pfm_install_interrupt_handlers(void) {
  pfm_signal(SIGINT, default_interrupt_handler);
  pfm_signal(SIGTERM, default_interrupt_handler);
}

void ksi_pfm_restore_initial_handlers(void) {
  qmthread_mutex_lock(&ksi_pfm_mutex);
  for (int sig = 1; sig <= kMaxSignal; ++sig)
    sigaction(sig, &initial_action[sig - 1], nullptr);
  qmthread_mutex_unlock(&ksi_pfm_mutex);
}

void ksi_pfm_pass_deferred_signals(void) { pass_deferred_signals(); }

void ksi_pfm_set_pass_deferred(bool on) {
  pass_deferred_on.store(on, std::memory_order_release);
}

void ksi_pfm_wait_for_dispatch_end(void) { wait_for_dispatch_end(); }

void ksi_pfm_start_delivery_if_missing(void) {
  // One attempt: a failure is reported through message output, whose own
  // delivery checks come back here.
  if (delivery_missing.load(std::memory_order_acquire) &&
      delivery_missing.exchange(false))
    start_delivery();
}

extern "C" {

KS_API int pfm_proc_asignals(int how) {
  KSI_PFM_CHECK(how == SIG_BLOCK || how == SIG_UNBLOCK,
                "how == SIG_BLOCK || how == SIG_UNBLOCK");
  return 0;
}

KS_API pfm_signal_t pfm_signal(int sig, pfm_signal_t handler) {
  // No signal may be handled by the library inside a foreign process.
  KSI_PFM_CHECK(!pfm_in_safe_mode(),
                "!pfm_in_safe_mode() || pfm_is_safemode_signal(sig)");
  ksi_pfm_init_if_needed();
  if (sig < 1 || sig > kMaxSignal) return as_pfm(SIG_ERR);
  qmthread_mutex_lock(&ksi_pfm_mutex);
  bool dispatcher = is_function(handler) && handler != initial_handler(sig);
  pfm_signal_t old = handler_sigvec[sig - 1];
  install(sig, handler, dispatcher);
  handler_sigvec[sig - 1] = handler;
  qmthread_mutex_unlock(&ksi_pfm_mutex);
  return old;
}

}  // extern "C"
