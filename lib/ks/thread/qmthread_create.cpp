// Start of the threads layer; thread creation, joining and end.
#include "thread/qmthread_internal.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace {

constexpr size_t kMinStackSize = 0x100000;

qmthread_once_t init_once = QMTHREAD_ONCE_INIT;

void init_threads_layer() {
  const char *trace = getenv("TRACE_QMTHREAD");
  ksi_qmthread_tracing.store(trace != nullptr &&
                             strcasecmp(trace, "TRUE") == 0);
  ksi_keys_init();
  ksi_registry_check_empty();
  ksi_registry_add(pthread_self());
  ksi_arm_thread_exit_hook();
}

// A thread made by qmthread_create arms its end-of-thread hook first.
struct thread_start {
  void *(*start)(void *);
  void *arg;
};

void *run_thread(void *raw) {
  thread_start launch = *static_cast<thread_start *>(raw);
  free(raw);
  ksi_arm_thread_exit_hook();
  return launch.start(launch.arg);
}

int set_stack_floor(pthread_attr_t *attr) {
  size_t size = 0;
  if (pthread_attr_getstacksize(attr, &size) == 0 && size >= kMinStackSize)
    return 0;
  return pthread_attr_setstacksize(attr, kMinStackSize);
}

}  // namespace

extern "C" {

KS_API void qmthread_init(void) {
  pthread_once(&init_once, init_threads_layer);
}

KS_API int qmthread_create(qmthread_t *tid, pthread_attr_t *attr,
                           void *(*start)(void *), void *arg) {
  char buf[128];
  pthread_attr_t own_attr;
  pthread_attr_t *use = attr;
  int err;
  if (use == nullptr) {
    err = pthread_attr_init(&own_attr);
    if (err != 0) {
      KSI_QMTHREAD_TRACE("Unable to create thread ('%s' failed): %s\n",
                         "pthread_attr_init",
                         ksi_error_text(err, buf, sizeof buf));
      return err;
    }
    use = &own_attr;
  }
  err = set_stack_floor(use);
  if (err != 0) {
    KSI_QMTHREAD_TRACE("Unable to create thread ('%s' failed): %s\n",
                       "pthread_attr_setstacksize",
                       ksi_error_text(err, buf, sizeof buf));
  } else {
    auto *launch = static_cast<thread_start *>(malloc(sizeof(thread_start)));
    if (launch == nullptr) {
      err = EAGAIN;
    } else {
      launch->start = start;
      launch->arg = arg;
      qmthread_init();
      // The new thread is registered before it can run any library code.
      qmthread_mutex_lock(&ksi_registry_mutex);
      err = pthread_create(tid, use, run_thread, launch);
      if (err == 0) ksi_registry_add(*tid);
      qmthread_mutex_unlock(&ksi_registry_mutex);
      if (err != 0) {
        free(launch);
        KSI_QMTHREAD_TRACE("Unable to create thread ('%s' failed): %s\n",
                           "pthread_create",
                           ksi_error_text(err, buf, sizeof buf));
      }
    }
  }
  if (use == &own_attr) pthread_attr_destroy(&own_attr);
  return err;
}

KS_API int qmthread_join(qmthread_t tid, void **value) {
  int err = pthread_join(tid, value);
  if (err != 0) {
    char buf[128];
    KSI_QMTHREAD_TRACE(
        "Unable to wait for thread termination ('%s' failed): %s\n",
        "pthread_join", ksi_error_text(err, buf, sizeof buf));
  }
  return err;
}

KS_API void qmthread_exit(void *value) {
  ksi_registry_remove(pthread_self());
  ksi_lib_lock_release_all();
  ksi_run_key_destructors(true);
  pthread_exit(value);
}

KS_API void qmthread_sleep(uint32_t milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

KS_API qmthread_t qmthread_self(void) { return pthread_self(); }

KS_API int qmthread_equal(qmthread_t a, qmthread_t b) {
  return pthread_equal(a, b);
}

KS_API int qmthread_is_null(qmthread_t tid) {
  return pthread_equal(tid, QMTHREAD_INVALID_TID) ? 1 : 0;
}

KS_API void qmthread_set_null(qmthread_t *tid) { *tid = QMTHREAD_INVALID_TID; }

}  // extern "C"
