// Child process tracking: announcements, the living children, and the
// death handler that runs on the event-loop thread when the watcher
// reports a child that ended.

#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>
#include <orvexks/rt.h>
#include <orvexks/rt_proc.h>
#include <orvexks/stg.h>
#include <orvexks/sysutl.h>

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "event/rt_msgs.h"
#include "internal/thread_safety.h"
#include "proc/rt_proc_internal.h"
#include "proc/rt_proc_msgs.h"

ksi_mortician mortician = {-1,      -1, -1, PTHREAD_MUTEX_INITIALIZER,
                           nullptr, 0,  0};

namespace {

constexpr int kInitialHandles = 2048;
constexpr int kHandleGrowth = 128;

qmthread_mutex_t proc_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
std::atomic<bool> initialized{false};
// The living announced children, newest first.
llist_d_t active_list KSI_GUARDED_BY(proc_mutex) = LLIST_D_HEAD_INITIALIZER;

void report_no_memory(int line) {
  imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_MALLOC_FAILED, __FILE__, line);
}

// Iterates the active list (empty while its head is still zeroed).
template <typename Fn>
ksi_rt_proc *find(Fn matches) KSI_REQUIRES(proc_mutex) {
  for (llist_d_t *n = active_list.next; n != nullptr && n != &active_list;
       n = n->next) {
    auto *record = static_cast<ksi_rt_proc *>(n->data);
    if (matches(record)) return record;
  }
  return nullptr;
}

// Puts the wake descriptor and every living child's pidfd in the wait set
// and wakes the watcher, so it waits on the new set at once.
void rebuild_wait_set() KSI_REQUIRES(proc_mutex) {
  pthread_mutex_lock(&mortician.section);
  mortician.count = 1;
  find([](ksi_rt_proc *record) {
    if (mortician.count == mortician.capacity) {
      mortician.capacity += kHandleGrowth;
      mortician.wait_handles = static_cast<int *>(
          stg_realloc(mortician.wait_handles,
                      sizeof(int) * static_cast<size_t>(mortician.capacity)));
      KSI_RT_PROC_CHECK(mortician.wait_handles != nullptr,
                        "mortician.wait_handles != NULL");
    }
    mortician.wait_handles[mortician.count++] = record->rp_phandle;
    return false;
  });
  pthread_mutex_unlock(&mortician.section);
  uint64_t one = 1;
  ssize_t put = write(mortician.wake, &one, sizeof one);
  (void)put;  // a full counter still wakes the watcher
}

// The exit code of a child that ended: its status, or 128 + the signal
// that ended it.
uint32_t exit_code_of(const siginfo_t &info) {
  if (info.si_code == CLD_EXITED) return static_cast<uint32_t>(info.si_status);
  return 128u + static_cast<uint32_t>(info.si_status);
}

void forget(ksi_rt_proc *record) {
  close(record->rp_phandle);
  stg_free(record);
  uint64_t one = 1;
  ssize_t put = write(mortician.resume, &one, sizeof one);
  (void)put;
}

// The tracker socket's read handler: one death per datagram.
void on_death(int fd, void *) {
  PFM_ASSERT(fd == mortician.sock);
  int64_t phandle = -1;
  KSI_RT_PROC_CHECK(
      recv(mortician.sock, &phandle, sizeof phandle, 0) == sizeof phandle,
      "recv(mortician.sock, (char *) &phandle, sizeof(HANDLE), "
      "0) == sizeof(HANDLE)");
  pfm_inhibit();
  qmthread_mutex_lock(&proc_mutex);
  ksi_rt_proc *record =
      find([phandle](ksi_rt_proc *r) { return r->rp_phandle == phandle; });
  KSI_RT_PROC_CHECK(record != nullptr, "!llist_d_end(&active_list, elem)");
  llist_d_remove(&record->node);
  rebuild_wait_set();
  qmthread_mutex_unlock(&proc_mutex);
  pfm_enable();

  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  KSI_RT_PROC_CHECK(
      waitid(P_PIDFD, static_cast<id_t>(record->rp_phandle), &info, WEXITED) ==
          0,
      "GetExitCodeProcess(rp_handle->rp_phandle, &rp_handle->rp_status)");
  record->rp_status = exit_code_of(info);
  if (record->callback == nullptr) {
    forget(record);
    return;
  }
  // A raise out of the callback still releases the child and lets the
  // watcher go on.
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    record->callback(record->pid, record->rp_status, record->arg, record);
    pfm_cleanup_rls(&rec);
    forget(record);
  } else {
    forget(record);
    pfm_raise(static_cast<uint32_t>(rec.status));
  }
}

// The loopback datagram socket connected to itself: IPv4, else IPv6.
int open_socket() {
  for (int family : {AF_INET, AF_INET6}) {
    int s = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) continue;
    sockaddr_storage addr;
    socklen_t len = sizeof addr;
    if (sysutl_sockaddr_loopback_init(
            family, reinterpret_cast<sockaddr *>(&addr)) == 0 &&
        bind(s, reinterpret_cast<sockaddr *>(&addr),
             static_cast<socklen_t>(sysutl_sockaddr_size(
                 reinterpret_cast<sockaddr *>(&addr)))) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) == 0 &&
        connect(s, reinterpret_cast<sockaddr *>(&addr), len) == 0)
      return s;
    close(s);
  }
  return -1;
}

bool create_tracker() {
  mortician.sock = open_socket();
  if (mortician.sock < 0) return false;
  if (!rt_handle_fd(RT_FD_READ, on_death, mortician.sock, nullptr))
    return false;
  mortician.wait_handles = static_cast<int *>(
      stg_malloc(sizeof(int) * static_cast<size_t>(kInitialHandles)));
  if (mortician.wait_handles == nullptr) {
    report_no_memory(__LINE__);
    return false;
  }
  mortician.capacity = kInitialHandles;
  mortician.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  mortician.resume = eventfd(0, EFD_CLOEXEC);
  if (mortician.wake < 0 || mortician.resume < 0) return false;
  mortician.wait_handles[0] = mortician.wake;
  mortician.count = 1;
  int err = ksi_rt_proc_start_watcher();
  if (err != 0) {
    imsg_print(IMSG_ERROR, &ksi_rt_proc_msgs, KSI_RT_PROC_CANT_START,
               imsg_strerror(err));
    return false;
  }
  return true;
}

void ensure_tracker() { PFM_ASSERT(initialized || rt_proc_initialize() == 0); }

}  // namespace

extern "C" {

KS_API int rt_proc_initialize(void) {
  if (initialized.load(std::memory_order_acquire)) return 0;
  pfm_inhibit();
  qmthread_mutex_lock(&proc_mutex);
  // A failed attempt leaves what it made: the next attempt starts over
  // from the parts that are missing.
  bool ok = initialized.load(std::memory_order_relaxed) || create_tracker();
  if (ok) initialized.store(true, std::memory_order_release);
  qmthread_mutex_unlock(&proc_mutex);
  pfm_enable();
  return ok ? 0 : -1;
}

KS_API int rt_proc_birth_announcement(uint32_t pid, int pidfd,
                                      rt_proc_callback_t cb, void *arg) {
  ensure_tracker();
  auto *record = static_cast<ksi_rt_proc *>(stg_malloc(sizeof(ksi_rt_proc)));
  if (record == nullptr) {
    // No child is left untracked: it is killed and reaped here.
    procutl_terminate(pid);
    siginfo_t info;
    waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED);
    close(pidfd);
    report_no_memory(__LINE__);
    return 1;
  }
  std::memset(record, 0, sizeof *record);
  record->pid = pid;
  record->rp_phandle = pidfd;
  record->callback = cb;
  record->arg = arg;
  pfm_inhibit();
  qmthread_mutex_lock(&proc_mutex);
  llist_d_insert(&active_list, record, &record->node, LLIST_D_FRONT);
  rebuild_wait_set();
  qmthread_mutex_unlock(&proc_mutex);
  pfm_enable();
  return 0;
}

KS_API int rt_proc_disown(uint32_t pid) {
  ensure_tracker();
  pfm_inhibit();
  qmthread_mutex_lock(&proc_mutex);
  ksi_rt_proc *record = find([pid](ksi_rt_proc *r) { return r->pid == pid; });
  if (record != nullptr) {
    record->callback = nullptr;
    record->arg = nullptr;
  }
  qmthread_mutex_unlock(&proc_mutex);
  pfm_enable();
  return record != nullptr ? 0 : -1;
}

KS_API int rt_proc_killall(void) {
  ensure_tracker();
  pfm_inhibit();
  qmthread_mutex_lock(&proc_mutex);
  bool any = false;
  find([&any](ksi_rt_proc *r) {
    procutl_terminate(r->pid);
    any = true;
    return false;
  });
  qmthread_mutex_unlock(&proc_mutex);
  pfm_enable();
  return any ? 0 : -1;
}

KS_API int rt_proc_any_procs(void) {
  ensure_tracker();
  pfm_inhibit();
  qmthread_mutex_lock(&proc_mutex);
  bool any = find([](ksi_rt_proc *) { return true; }) != nullptr;
  qmthread_mutex_unlock(&proc_mutex);
  pfm_enable();
  return any ? 1 : 0;
}

KS_API int rt_proc_alive(uint32_t pid) {
  ensure_tracker();
  pfm_inhibit();
  qmthread_mutex_lock(&proc_mutex);
  bool alive = find([pid](ksi_rt_proc *r) { return r->pid == pid; }) != nullptr;
  qmthread_mutex_unlock(&proc_mutex);
  pfm_enable();
  return alive ? 1 : 0;
}

}  // extern "C"
