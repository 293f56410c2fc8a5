// Descriptor handlers: seven lists, newest handler first, turned into the
// select sets of a pass and dispatched in a fixed order after the wait.

#include <orvexks/pfm.h>
#include <orvexks/rt.h>
#include <orvexks/stg.h>
#include <orvexks/sysutl.h>

#include "event/rt_internal.h"
#include "event/rt_msgs.h"

namespace {

// A list refuses its 1024th handler, as a select set has room for 1024
// descriptors and the wait needs one of its own.
constexpr int kMaxHandlers = 1023;

struct fd_handler {
  fd_handler *next;
  rt_fd_callback_t callback;
  int fd;
  void *arg;
};

struct set_handler {
  set_handler *next;
  rt_fd_set_callback_t callback;
  fd_set *fd_set_fds;
  void *arg;
};

struct fd_list {
  fd_handler *head;
  int count;
};

fd_list read_list KSI_GUARDED_BY(ksi_rt_mutex);
fd_list write_list KSI_GUARDED_BY(ksi_rt_mutex);
fd_list except_list KSI_GUARDED_BY(ksi_rt_mutex);
fd_list read2_list KSI_GUARDED_BY(ksi_rt_mutex);
set_handler *read_sets KSI_GUARDED_BY(ksi_rt_mutex);
set_handler *write_sets KSI_GUARDED_BY(ksi_rt_mutex);
set_handler *except_sets KSI_GUARDED_BY(ksi_rt_mutex);
// Set when a handler is removed: a dispatch walk restarts its list.
bool lists_changed KSI_GUARDED_BY(ksi_rt_mutex);

fd_list *fd_list_of(int kind) KSI_REQUIRES(ksi_rt_mutex) {
  switch (kind) {
    case RT_FD_READ:
      return &read_list;
    case RT_FD_WRITE:
    case RT_FD_WRITE2:
      return &write_list;
    case RT_FD_EXCEPT:
      return &except_list;
    case RT_FD_READ2:
      return &read2_list;
    default:
      return nullptr;
  }
}

set_handler **set_list_of(int kind) KSI_REQUIRES(ksi_rt_mutex) {
  switch (kind) {
    case RT_FD_READ:
      return &read_sets;
    case RT_FD_WRITE:
      return &write_sets;
    case RT_FD_EXCEPT:
      return &except_sets;
    default:
      return nullptr;
  }
}

// A select set being built: its descriptor count and highest descriptor.
struct building {
  fd_set *set;
  int count;
  int nfds;
};

void add_fd(building *b, int fd) {
  if (FD_ISSET(fd, b->set) || b->count >= FD_SETSIZE) return;
  FD_SET(fd, b->set);
  ++b->count;
  if (fd >= b->nfds) b->nfds = fd + 1;
}

// A handler's set joins only when both together stay below a full set.
void merge_set(building *b, const fd_set *fds) {
  if (b->count + sysutl_fd_set_popcount(fds) > kMaxHandlers) return;
  for (int fd = 0; fd < FD_SETSIZE; ++fd)
    if (FD_ISSET(fd, fds)) add_fd(b, fd);
}

void add_list(building *b, const fd_list *list) {
  if (list == nullptr) return;
  for (const fd_handler *h = list->head; h != nullptr; h = h->next)
    add_fd(b, h->fd);
}

void build(building *b, const fd_list *first, const fd_list *second,
           const set_handler *sets) {
  FD_ZERO(b->set);
  add_list(b, first);
  add_list(b, second);
  for (const set_handler *s = sets; s != nullptr; s = s->next)
    merge_set(b, s->fd_set_fds);
}

void dispatch_fds(fd_list *list, fd_set *ready) KSI_REQUIRES(ksi_rt_mutex) {
  fd_handler *h = list->head;
  while (h != nullptr) {
    if (!FD_ISSET(h->fd, ready)) {
      h = h->next;
      continue;
    }
    FD_CLR(h->fd, ready);
    rt_fd_callback_t callback = h->callback;
    int fd = h->fd;
    void *arg = h->arg;
    qmthread_mutex_unlock(&ksi_rt_mutex);
    callback(fd, arg);
    qmthread_mutex_lock(&ksi_rt_mutex);
    if (lists_changed) {
      lists_changed = false;
      h = list->head;
    } else {
      h = h->next;
    }
  }
}

// Moves the descriptors of fds that are ready into out; true when any were.
bool take_ready(const fd_set *fds, fd_set *ready, fd_set *out, int nfds) {
  FD_ZERO(out);
  bool any = false;
  for (int fd = 0; fd < nfds; ++fd) {
    if (FD_ISSET(fd, fds) && FD_ISSET(fd, ready)) {
      FD_CLR(fd, ready);
      FD_SET(fd, out);
      any = true;
    }
  }
  return any;
}

void dispatch_sets(set_handler **list, fd_set *ready, fd_set *scratch, int nfds)
    KSI_REQUIRES(ksi_rt_mutex) {
  set_handler *h = *list;
  while (h != nullptr) {
    if (!take_ready(h->fd_set_fds, ready, scratch, nfds)) {
      h = h->next;
      continue;
    }
    rt_fd_set_callback_t callback = h->callback;
    void *arg = h->arg;
    qmthread_mutex_unlock(&ksi_rt_mutex);
    callback(scratch, arg);
    qmthread_mutex_lock(&ksi_rt_mutex);
    if (lists_changed) {
      lists_changed = false;
      h = *list;
    } else {
      h = h->next;
    }
  }
}

void report_no_memory(int line) {
  imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_MALLOC_FAILED, __FILE__, line);
}

}  // namespace

int ksi_rt_build_sets(const ksi_rt_sets &sets, bool *has_write,
                      bool *has_except) {
  building r{sets.read, 0, 0};
  build(&r, &read_list, &read2_list, read_sets);
  int nfds = r.nfds;
  *has_write = write_list.head != nullptr || write_sets != nullptr;
  if (*has_write) {
    building w{sets.write, 0, 0};
    build(&w, &write_list, nullptr, write_sets);
    if (w.nfds > nfds) nfds = w.nfds;
  }
  *has_except = except_list.head != nullptr || except_sets != nullptr;
  if (*has_except) {
    building e{sets.except, 0, 0};
    build(&e, &except_list, nullptr, except_sets);
    if (e.nfds > nfds) nfds = e.nfds;
  }
  return nfds;
}

void ksi_rt_dispatch(const ksi_rt_sets &sets, int nfds) {
  qmthread_mutex_lock(&ksi_rt_mutex);
  lists_changed = false;
  dispatch_fds(&read_list, sets.read);
  dispatch_fds(&read2_list, sets.read);
  dispatch_sets(&read_sets, sets.read, sets.scratch, nfds);
  dispatch_fds(&write_list, sets.write);
  dispatch_sets(&write_sets, sets.write, sets.scratch, nfds);
  dispatch_fds(&except_list, sets.except);
  dispatch_sets(&except_sets, sets.except, sets.scratch, nfds);
  qmthread_mutex_unlock(&ksi_rt_mutex);
}

extern "C" {

KS_API int rt_handle_fd(int kind, rt_fd_callback_t callback, int fd,
                        void *arg) {
  if (kind == RT_FD_IGNORED) return 1;
  if (kind < RT_FD_READ || kind > RT_FD_IGNORED) {
    imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_BAD_KIND, kind);
    pfm_panic(__FILE__, __LINE__);
  }
  if (!rt_fd_validate_max_fd(fd)) return 0;
  auto *handler = static_cast<fd_handler *>(stg_malloc(sizeof(fd_handler)));
  if (handler == nullptr) {
    report_no_memory(__LINE__);
    return 0;
  }
  *handler = {nullptr, callback, fd, arg};
  qmthread_mutex_lock(&ksi_rt_mutex);
  fd_list *list = fd_list_of(kind);
  for (const fd_handler *elem = list->head; elem != nullptr; elem = elem->next)
    PFM_ASSERT(elem->fd != fd);
  bool full = list->count >= kMaxHandlers;
  if (!full) {
    handler->next = list->head;
    list->head = handler;
    ++list->count;
  }
  qmthread_mutex_unlock(&ksi_rt_mutex);
  if (full) {
    stg_free(handler);
    return 0;
  }
  ksi_rt_wake();
  return 1;
}

KS_API int rt_unhandle_fd(int kind, int fd) {
  if (kind == RT_FD_IGNORED) return 1;
  fd_handler *found = nullptr;
  qmthread_mutex_lock(&ksi_rt_mutex);
  fd_list *list = fd_list_of(kind);
  if (list != nullptr) {
    for (fd_handler **link = &list->head; *link != nullptr;
         link = &(*link)->next) {
      if ((*link)->fd == fd) {
        found = *link;
        *link = found->next;
        --list->count;
        lists_changed = true;
        break;
      }
    }
  }
  qmthread_mutex_unlock(&ksi_rt_mutex);
  if (found != nullptr) stg_free(found);
  return found != nullptr ? 1 : 0;
}

KS_API int rt_handle_fd_set(int kind, rt_fd_set_callback_t callback,
                            fd_set *fd_set_fds, void *arg) {
  if (kind < RT_FD_READ || kind > RT_FD_EXCEPT) {
    imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_BAD_KIND, kind);
    pfm_panic(__FILE__, __LINE__);
  }
  auto *handler = static_cast<set_handler *>(stg_malloc(sizeof(set_handler)));
  if (handler == nullptr) {
    report_no_memory(__LINE__);
    return 0;
  }
  qmthread_mutex_lock(&ksi_rt_mutex);
  set_handler **list = set_list_of(kind);
  for (const set_handler *elem = *list; elem != nullptr; elem = elem->next)
    PFM_ASSERT(elem->fd_set_fds != fd_set_fds);
  *handler = {*list, callback, fd_set_fds, arg};
  *list = handler;
  qmthread_mutex_unlock(&ksi_rt_mutex);
  ksi_rt_wake();
  return 1;
}

KS_API int rt_unhandle_fd_set(int kind, fd_set *fd_set_fds) {
  set_handler *found = nullptr;
  qmthread_mutex_lock(&ksi_rt_mutex);
  set_handler **list = set_list_of(kind);
  if (list != nullptr) {
    for (set_handler **link = list; *link != nullptr; link = &(*link)->next) {
      if ((*link)->fd_set_fds == fd_set_fds) {
        found = *link;
        *link = found->next;
        lists_changed = true;
        break;
      }
    }
  }
  qmthread_mutex_unlock(&ksi_rt_mutex);
  if (found != nullptr) stg_free(found);
  return found != nullptr ? 1 : 0;
}

KS_API int rt_fd_validate_max_fd(int fd) {
  return fd >= 0 && fd < FD_SETSIZE ? 1 : 0;
}

}  // extern "C"
