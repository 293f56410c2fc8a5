// Trace selection: TRACE_VERBOSITY gives the level, TRACE_SUBSYS the
// colon-separated list of traced subsystems ("*" traces everything).
#include <orvexks/imsg.h>
#include <orvexks/qmthread.h>
#include <orvexks/stg.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "msg/msg_lock.h"

namespace {

constexpr int kVerbosityUnread = 32767;

std::atomic<int> verbosity{kVerbosityUnread};
const char *subsys_list = nullptr;  // guarded by the message lock

// True when `subsys` is a whole element of the colon-separated `list`.
bool list_names(const char *list, const char *subsys) {
  size_t len = std::strlen(subsys);
  for (const char *p = list; *p != '\0';) {
    const char *end = std::strchr(p, ':');
    size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (n == len && std::strncmp(p, subsys, len) == 0) return true;
    if (end == nullptr) break;
    p = end + 1;
  }
  return false;
}

}  // namespace

extern "C" {

int imsg_get_desired_verbosity(void) {
  return verbosity.load(std::memory_order_relaxed);
}

int imsg_get_verbosity_ev(void) {
  const char *value = std::getenv("TRACE_VERBOSITY");
  int level = 0;
  if (value == nullptr || std::sscanf(value, "%d", &level) != 1) return 0;
  return level;
}

void imsg_set_trace_verbosity(int level) {
  verbosity.store(level, std::memory_order_relaxed);
}

void imsg_set_trace_subsys(const char *list) {
  qmthread_mutex_lock(&ksi_msg_lock);
  subsys_list = list;
  qmthread_mutex_unlock(&ksi_msg_lock);
}

int imsg_should_trace(const char *subsys, int level) {
  if (verbosity.load(std::memory_order_relaxed) < level) return 0;
  qmthread_mutex_lock(&ksi_msg_lock);
  if (verbosity.load(std::memory_order_relaxed) == kVerbosityUnread) {
    verbosity.store(imsg_get_verbosity_ev(), std::memory_order_relaxed);
    if (subsys_list == nullptr) {
      const char *env = std::getenv("TRACE_SUBSYS");
      // A copy that lives for the process; the list is read on every check.
      if (env != nullptr) subsys_list = stg_strdup(env);
    }
  }
  int result = 0;
  if (verbosity.load(std::memory_order_relaxed) >= level &&
      subsys_list != nullptr && subsys_list[0] != '\0') {
    result = (std::strcmp(subsys_list, "*") == 0 ||
              list_names(subsys_list, subsys != nullptr ? subsys : ""))
                 ? 1
                 : 0;
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
  return result;
}

}  // extern "C"
