// Fault management: protected regions, raises, inhibition, posting of
// asynchronous statuses, the raise notification channel and the abort.
//
// Each thread keeps a chain of armed cleanup records and an inhibit count
// in its fault state. A synchronous raise jumps to the innermost record; an
// asynchronous status is posted into every registered thread's registry
// entry and taken by each thread at its next delivery check, provided its
// inhibit count is 0.
#include "containers/ilist.h"
#include "fault/pfm_msgs.h"
#include "fault/pfm_state.h"
#include "internal/report_line.h"
#include "msg/msg_out.h"
#include "thread/qmthread_internal.h"

#include <orvexnt/nt_thread.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

qmthread_mutex_t ksi_pfm_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(ksi_pfm_mutex);
std::atomic<bool> ksi_pfm_inited{false};
std::atomic<uint32_t> ksi_pfm_proc_type{PFM_PROCESS_INVALID};
std::atomic<qmthread_t> ksi_pfm_signal_handler_tid{QMTHREAD_INVALID_TID};

extern "C" {
KS_API char pfm_abort_buffer[PFM_ABORT_BUFFER_SIZE];
}

namespace {

std::atomic<pfm_abort_hook_t> abort_hook{nullptr};

// The notification channel; -1 until created.
std::atomic<int> raise_socket{-1};

ksi_thread_entry *entry_of(pfm_thread_state *st) {
  if (st->entry == nullptr) st->entry = ksi_registry_find_or_add_self();
  return st->entry;
}

// The raise of a status that is no longer pending: a jump to the caller's
// innermost record, or the exit when there is none (which returns in
// process types 2 and 3 with the default exit function).
void raise_taken(pfm_thread_state *st, uint32_t status) {
  pfm_cleanup_rec *root = st->cl_rec_root;
  if (root == nullptr) {
    pfm_exit(static_cast<int>(status));
    return;
  }
  KSI_PFM_CHECK(pthread_equal(pthread_self(), root->thr_id),
                "qmthread_equal(qmthread_self(), cl_rec_root->thr_id)");
  longjmp(root->jmpbuf, static_cast<int>(status));
}

// Takes a posted status or a pending exit when raises are not inhibited.
// The status is taken and cleared in one exchange, so a status posted
// meanwhile is either the one taken or stays pending for the next check.
void delivery_check(pfm_thread_state *st) {
  ksi_pfm_init_if_needed();
  ksi_pfm_start_delivery_if_missing();
  ksi_thread_entry *entry = entry_of(st);
  if (st->pfm_inh_count != 0) return;
  int code;
  if (ksi_pfm_pending_exit(&code)) pfm_exit(code);
  if (ksi_entry_pending(entry) == 0) return;
  uint32_t pending = ksi_entry_take_pending(entry);
  if (pending == 0) return;
  ksi_pfm_drain_channel();
  if (ksi_on_signal_handler_thread()) {
    ksi_pfm_post(pending);
    return;
  }
  raise_taken(st, pending);
}

void send_on_channel(uint32_t status) {
  int fd = raise_socket.load(std::memory_order_acquire);
  if (fd < 0) return;
  ssize_t rc = send(fd, &status, sizeof status, MSG_DONTWAIT);
  (void)rc;  // a full queue already wakes the waiting select
}

int create_channel() {
  sockaddr_storage ss{};
  socklen_t len;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    auto *in4 = reinterpret_cast<sockaddr_in *>(&ss);
    in4->sin_family = AF_INET;
    in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof(sockaddr_in);
  } else {
    fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(&ss);
    in6->sin6_family = AF_INET6;
    in6->sin6_addr = in6addr_loopback;
    len = sizeof(sockaddr_in6);
  }
  KSI_PFM_CHECK(fd >= 0, "raise_socket != KS_INVALID_SOCKET");
  auto *sa = reinterpret_cast<sockaddr *>(&ss);
  KSI_PFM_CHECK(bind(fd, sa, len) == 0,
                "bind(raise_socket, &sa.ks_ss_s, "
                "sysutl_sockaddr_size(&sa.ks_ss_s)) == 0");
  socklen_t sa_len = sizeof ss;
  KSI_PFM_CHECK(getsockname(fd, sa, &sa_len) == 0,
                "getsockname(raise_socket, &sa.ks_ss_s, &sa_len) == 0");
  KSI_PFM_CHECK(connect(fd, sa, len) == 0,
                "connect(raise_socket, &sa.ks_ss_s, "
                "sysutl_sockaddr_size(&sa.ks_ss_s)) == 0");
  int nonblock = 1;
  KSI_PFM_CHECK(ioctl(fd, FIONBIO, &nonblock) == 0,
                "ioctlsocket(raise_socket, FIONBIO, &nonblock) == 0");
  return fd;
}

void check_root_record(pfm_cleanup_rec *rec, pfm_thread_state *st) {
  KSI_PFM_CHECK(rec == st->cl_rec_root && rec->magic == MAGIC_SET,
                "cl_rec == cl_rec_root && cl_rec->magic == MAGIC_SET");
}

}  // namespace

// The caller's record, cached beside its key slot: every raise-mode lock
// reaches it, so the common path must not go through pthread_once and
// pthread_getspecific. Only the owning thread sets or clears it.
// Initial-exec: the one thread-local of this library on the path of every
// lock (see bench/qmthread_bench); every other one keeps the default model,
// so that the library loads late without exhausting static TLS.
static thread_local pfm_thread_state *cached_state
    __attribute__((tls_model("initial-exec"))) = nullptr;

pfm_thread_state *ksi_pfm_state_peek(void) {
  if (cached_state != nullptr) return cached_state;
  qmthread_init();
  return static_cast<pfm_thread_state *>(
      pthread_getspecific(ksi_pfm_state_key));
}

pfm_thread_state *ksi_pfm_state(void) {
  pfm_thread_state *st = ksi_pfm_state_peek();
  if (st != nullptr) return cached_state = st;
  st = static_cast<pfm_thread_state *>(calloc(1, sizeof *st));
  if (st == nullptr || pthread_setspecific(ksi_pfm_state_key, st) != 0) {
    ksi_report(" (pfm): [P%u][T%lu]Unable to set PFM TLS %p",
               static_cast<unsigned>(getpid()),
               static_cast<unsigned long>(nt_get_current_thread_id()),
               static_cast<void *>(st));
    abort();
  }
  ksi_arm_thread_exit_hook();
  return cached_state = st;
}

void ksi_pfm_state_destroy(void *state) {
  if (cached_state == state) cached_state = nullptr;
  pthread_setspecific(ksi_pfm_state_key, nullptr);
  free(state);
}

bool ksi_pfm_state_in_use(const pfm_thread_state *st) {
  return st->cl_rec_root != nullptr || st->pfm_inh_count != 0 ||
         !ksi_ilist_empty(&st->held);
}

void ksi_pfm_hold_off_delivery(void) { ksi_pfm_state()->pfm_inh_count += 1; }

void ksi_pfm_abort(const char *condition, const char *file, int line) {
  // The message output below makes delivery checks: with raises held off
  // a pending status or exit cannot turn the abort into a raise.
  ksi_pfm_hold_off_delivery();
  imsg_print(IMSG_ERROR, &ksi_pfm_msgs, KSI_PFM_ASSERT_FAILED, condition, file,
             line);
  qmthread_mutex_lock(&ksi_pfm_mutex);
  int n = std::snprintf(pfm_abort_buffer, sizeof pfm_abort_buffer,
                        "pfm_abort: %s at '%s':%d", condition, file, line);
  if (n < 0) pfm_abort_buffer[sizeof pfm_abort_buffer - 1] = '\0';
  qmthread_mutex_unlock(&ksi_pfm_mutex);
  pfm_abort_hook_t hook = abort_hook.load(std::memory_order_acquire);
  if (hook != nullptr) hook(PFM_ABORT_CODE, pfm_abort_buffer);
  abort();
}

void ksi_pfm_post(uint32_t status) {
  if (!ksi_pfm_inited.load(std::memory_order_acquire)) return;
  ksi_registry_post_all(status);
  send_on_channel(status);
}

void ksi_pfm_notify_channel(uint32_t status) { send_on_channel(status); }

void ksi_pfm_drain_channel(void) {
  int fd = raise_socket.load(std::memory_order_acquire);
  if (fd < 0 || !ksi_is_attached_thread()) return;
  uint32_t status;
  while (recv(fd, &status, sizeof status, MSG_DONTWAIT) >= 1) {
  }
}

void ksi_pfm_close_channel(void) {
  ksi_pfm_drain_channel();
  int fd = raise_socket.exchange(-1);
  if (fd >= 0) close(fd);
}

extern "C" {

KS_API pfm_abort_hook_t pfm_set_abort_hook(pfm_abort_hook_t hook) {
  return abort_hook.exchange(hook);
}

KS_API int pfm_cleanup_start(pfm_cleanup_rec *rec, int32_t inhibit) {
  ksi_pfm_init_if_needed();
  pfm_thread_state *st = ksi_pfm_state();
  delivery_check(st);
  if (rec->status == 0) {
    pfm_cleanup_rec *root = st->cl_rec_root;
    if (root != nullptr)
      KSI_PFM_CHECK(pthread_equal(root->thr_id, pthread_self()),
                    "qmthread_equal(cl_rec_root->thr_id, qmthread_self())");
    rec->inh = static_cast<int32_t>(st->pfm_inh_count);
    rec->inh_susp = static_cast<int32_t>(st->pfm_inh_susp);
    rec->thr_id = pthread_self();
    if (inhibit != 0) {
      pfm_inhibit();
      st->pfm_inh_count = static_cast<uint32_t>(rec->inh);
      st->pfm_inh_susp = static_cast<uint32_t>(rec->inh_susp);
    }
    if (rec->magic == MAGIC_SET && root != nullptr)
      for (pfm_cleanup_rec *cl_tmp = root; cl_tmp != nullptr;
           cl_tmp = cl_tmp->prev)
        KSI_PFM_CHECK(cl_tmp != rec, "cl_tmp != cl_rec");
    rec->magic = MAGIC_SET;
    rec->prev = root;
    st->cl_rec_root = rec;
    return 0;
  }
  // Statuses with the top bit set reach the handler without disarming.
  if (rec->status < 0) return rec->status;
  KSI_PFM_CHECK(rec == st->cl_rec_root && rec->magic == MAGIC_SET,
                "cl_rec == cl_rec_root && cl_rec->magic == MAGIC_SET");
  KSI_PFM_CHECK(pthread_equal(pthread_self(), rec->thr_id),
                "qmthread_equal(qmthread_self(), cl_rec->thr_id)");
  KSI_PFM_CHECK(static_cast<int32_t>(st->pfm_inh_count) >= rec->inh,
                "pfm_inh_count >= cl_rec->inh");
  KSI_PFM_CHECK(static_cast<int32_t>(st->pfm_inh_susp) >= rec->inh_susp,
                "pfm_inh_susp >= cl_rec->inh_susp");
  rec->magic = MAGIC_TRIPPED;
  st->cl_rec_root = rec->prev;
  // The handler runs one inhibit level above the region's entry level.
  st->pfm_inh_count = static_cast<uint32_t>(rec->inh + 1);
  st->pfm_inh_susp = static_cast<uint32_t>(rec->inh_susp);
  return rec->status;
}

KS_API int pfm_cleanup_rls(pfm_cleanup_rec *rec) {
  pfm_thread_state *st = ksi_pfm_state();
  check_root_record(rec, st);
  if (ksi_pfm_deferred_type()) delivery_check(st);
  st->cl_rec_root = rec->prev;
  rec->magic = MAGIC_TRIPPED;
  return 0;
}

KS_API int pfm_cleanup_reset(pfm_cleanup_rec *rec) {
  pfm_thread_state *st = ksi_pfm_state();
  KSI_PFM_CHECK(rec->magic == MAGIC_TRIPPED, "cl_rec->magic == MAGIC_TRIPPED");
  if (ksi_pfm_deferred_type()) delivery_check(st);
  rec->magic = MAGIC_SET;
  rec->prev = st->cl_rec_root;
  st->cl_rec_root = rec;
  pfm_enable();
  return 0;
}

KS_API void pfm_raise(uint32_t status) {
  if (ksi_on_signal_handler_thread()) {
    ksi_pfm_post(status);
    return;
  }
  pfm_thread_state *st = ksi_pfm_state();
  // A synchronous raise also clears whatever was posted to the thread.
  if (st->cl_rec_root != nullptr) ksi_entry_set_pending(entry_of(st), 0);
  raise_taken(st, status);
}

KS_API void pfm_test_raise(pfm_thread_state_t *state) {
  if (ksi_on_signal_handler_thread()) return;
  ksi_pfm_init_if_needed();
  delivery_check(state != nullptr ? state : ksi_pfm_state());
}

KS_API void pfm_inhibit(void) {
  if (ksi_on_signal_handler_thread()) return;
  ksi_pfm_init_if_needed();
  pfm_thread_state *st = ksi_pfm_state();
  delivery_check(st);
  st->pfm_inh_count += 1;
}

KS_API void pfm_enable(void) {
  if (ksi_on_signal_handler_thread()) return;
  pfm_thread_state *st = ksi_pfm_state();
  int32_t inh_count = static_cast<int32_t>(st->pfm_inh_count) - 1;
  KSI_PFM_CHECK(inh_count >= 0, "inh_count >=0");
  st->pfm_inh_count = static_cast<uint32_t>(inh_count);
  delivery_check(st);
}

KS_API uint32_t pfm_inhibit_count(void) {
  pfm_thread_state *st = ksi_pfm_state();
  uint32_t count = st->pfm_inh_count;
  delivery_check(st);
  return count;
}

KS_API void pfm_inhibit_suspend(void) {
  if (ksi_on_signal_handler_thread()) return;
  ksi_pfm_init_if_needed();
  delivery_check(ksi_pfm_state());
}

KS_API void pfm_enable_suspend(void) {
  if (ksi_on_signal_handler_thread()) return;
  delivery_check(ksi_pfm_state());
}

KS_API uint32_t pfm_inhibit_suspend_count(void) {
  pfm_thread_state *st = ksi_pfm_state();
  uint32_t count = st->pfm_inh_susp;
  delivery_check(st);
  return count;
}

KS_API void pfm_notify_qm_thread(uint32_t status) { ksi_pfm_post(status); }

KS_API int pfm_get_notify_channel(void) {
  ksi_pfm_init_if_needed();
  int fd = raise_socket.load(std::memory_order_acquire);
  if (fd >= 0) return fd;
  qmthread_mutex_lock(&ksi_pfm_mutex);
  fd = raise_socket.load(std::memory_order_acquire);
  if (fd < 0) {
    fd = create_channel();
    raise_socket.store(fd, std::memory_order_release);
  }
  qmthread_mutex_unlock(&ksi_pfm_mutex);
  return fd;
}

KS_API int pfm_select_inhibited(int nfds, fd_set *readfds, fd_set *writefds,
                                fd_set *exceptfds, struct timeval *timeout) {
  pfm_thread_state *st = ksi_pfm_state();
  KSI_PFM_CHECK(st->pfm_inh_count == 1, "pfm_inh_count == 1");
  if (ksi_pfm_deferred_type()) delivery_check(st);
  if (!ksi_is_attached_thread())
    return select(nfds, readfds, writefds, exceptfds, timeout);

  int channel = pfm_get_notify_channel();
  fd_set own_read;
  if (readfds == nullptr) {
    FD_ZERO(&own_read);
    readfds = &own_read;
  }
  bool watched = channel < FD_SETSIZE && FD_ISSET(channel, readfds);
  if (!watched && channel < FD_SETSIZE) {
    int in_set = 0;
    for (int fd = 0; fd < nfds && fd < FD_SETSIZE; ++fd)
      if (FD_ISSET(fd, readfds)) ++in_set;
    if (in_set < FD_SETSIZE) {
      FD_SET(channel, readfds);
      if (nfds <= channel) nfds = channel + 1;
      watched = true;
    }
  }
  errno = 0;
  int result = select(nfds, readfds, writefds, exceptfds, timeout);
  if (result < 1 || !watched || !FD_ISSET(channel, readfds)) return result;
  ksi_pfm_drain_channel();
  errno = EINTR;
  return -1;
}

}  // extern "C"
