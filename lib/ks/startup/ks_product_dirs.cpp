// The installation's directories: product, tools, host data, configuration
// and the monitoring product. Each is read from the settings store once,
// under the start-up lock, and kept for the life of the process.
#include <orvexks/ks_product.h>

#include <orvexks/imsg.h>
#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>
#include <orvexnt/nt_registry.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include <atomic>

#include "msg/msg_out.h"
#include "startup/ks_msgs.h"
#include "startup/ks_product_internal.h"
#include "thread/qmthread_internal.h"

namespace {

constexpr uint32_t kProductDirParam = 8;
constexpr uint32_t kHostdataParam = 16;
constexpr size_t kParamBufSize = 1023;
constexpr const char *kDefaultProductDir = "c:\\orvex";
constexpr const char *kSmxKey = "Software\\Fennick\\Sentrymon";
constexpr const char *kSmxValue = "Directory";

// Guards the reading of the directories below. Raise mode (a raise is
// held off while a directory is read and cached); taken before the
// message lock, since failures are reported while it is held, and never
// taken by message output.
qmthread_mutex_t startup_lock = QMTHREAD_MUTEX_INITIALIZER;
KSI_FORK_GUARDED(startup_lock);

std::atomic<const char *> product_dir{nullptr};
std::atomic<const char *> hostdata_dir{nullptr};
std::atomic<const char *> smx_dir{nullptr};

// buf = text (which may be buf itself), then "\" sub when sub is not
// null; cut at the buffer's size.
char *ksi_compose(char *buf, const char *text, const char *sub) {
  if (text != buf) snprintf(buf, KS_DIR_BUF_SIZE, "%s", text);
  if (sub != nullptr) {
    const size_t len = strlen(buf);
    snprintf(buf + len, KS_DIR_BUF_SIZE - len, "\\%s", sub);
  }
  return buf;
}

const char *ksi_product_dir_text() {
  const char *dir = product_dir.load(std::memory_order_acquire);
  if (dir != nullptr) return dir;
  qmthread_mutex_lock(&startup_lock);
  dir = product_dir.load(std::memory_order_relaxed);
  if (dir == nullptr) {
    char value[kParamBufSize + 1];
    dir = kDefaultProductDir;
    if (ntregy_get_param(kProductDirParam, kParamBufSize, value,
                         NTREGY_TYPE_TEXT) == NTREGY_OK) {
      char *copy = strdup(value);
      if (copy == nullptr)
        imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_NO_STORAGE);
      else
        dir = copy;
    }
    product_dir.store(dir, std::memory_order_release);
  }
  qmthread_mutex_unlock(&startup_lock);
  return dir;
}

// Reports a missing host-data directory and ends the process: without it
// no tool can work. Called with the start-up lock held, which it releases.
[[noreturn]] void ksi_hostdata_missing(const char *tried)
    KSI_RELEASE(startup_lock) {
  imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_NOT_INSTALLED);
  imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_NO_HOSTDATA_DIR, tried);
  if (imsg_in_gui()) {
    char notice[256];
    imsg_snprintf(notice, sizeof notice, &ksi_ks_msgs,
                  KSI_KS_APPLICATION_WILL_EXIT);
    imsg_prompt_proceed(IMSG_ERROR, notice, IMSG_ANSWER_ABORT,
                        IMSG_ANSWER_ABORT);
  }
  qmthread_mutex_unlock(&startup_lock);
  pfm_exit(2);
  abort();  // pfm_exit does not return
}

// The host-data directory; scratch (KS_DIR_BUF_SIZE bytes) holds it when
// it could not be cached.
const char *ksi_hostdata_text(char *scratch) {
  const char *dir = hostdata_dir.load(std::memory_order_acquire);
  if (dir != nullptr) return dir;
  qmthread_mutex_lock(&startup_lock);
  dir = hostdata_dir.load(std::memory_order_relaxed);
  if (dir == nullptr) {
    char value[KS_DIR_BUF_SIZE] = "";
    int rc = ntregy_get_param(kHostdataParam, kParamBufSize, value,
                              NTREGY_TYPE_TEXT);
    if (rc == NTREGY_NOT_SET)
      rc = ntregy_get_param(kProductDirParam, kParamBufSize, value,
                            NTREGY_TYPE_TEXT);
    if (rc != NTREGY_OK) {
      value[0] = '\0';
      ksi_hostdata_missing(value);
    }
    ksi_compose(value, value, "var");
    if (!ksi_is_directory(value)) ksi_hostdata_missing(value);
    char *copy = stg_strdup(value);
    if (copy == nullptr) {
      imsg_print(IMSG_WARNING, &ksi_ks_msgs, KSI_KS_OPERATION_FAILED,
                 "stg_strdup", imsg_strerror(errno));
      snprintf(scratch, KS_DIR_BUF_SIZE, "%s", value);
      dir = scratch;
    } else {
      hostdata_dir.store(copy, std::memory_order_release);
      dir = copy;
    }
  }
  qmthread_mutex_unlock(&startup_lock);
  return dir;
}

// Reads and checks the monitoring product's directory; null when it is not
// installed. Start-up lock held.
const char *ksi_read_smx_dir() {
  ntregy_hkey_t key;
  if (ntregy_get_handle(NTREGY_HKEY_LOCAL_MACHINE, kSmxKey, &key) != NTREGY_OK)
    return nullptr;
  char value[kParamBufSize + 1];
  const int rc = ntregy_get_value(key, nullptr, kSmxValue, kParamBufSize, value,
                                  NTREGY_TYPE_TEXT);
  ntregy_close_key(key);
  if (rc != NTREGY_OK || value[0] == '\0' || !ksi_is_directory(value))
    return nullptr;
  char *copy = strdup(value);
  if (copy == nullptr)
    imsg_print(IMSG_WARNING, &ksi_ks_msgs, KSI_KS_NO_STORAGE);
  return copy;
}

}  // namespace

bool ksi_is_directory(const char *path) {
  char host_path[4096];
  struct stat st;
  return nt_map_path(path, host_path, sizeof host_path) == 0 &&
         stat(host_path, &st) == 0 && S_ISDIR(st.st_mode);
}

extern "C" {

KS_API char *ks_product_dir(char *buf, const char *sub) {
  return ksi_compose(buf, ksi_product_dir_text(), sub);
}

KS_API char *ks_product_tool_dir(char *buf, const char *tool) {
  ks_product_dir(buf, "bin");
  return ksi_compose(buf, buf, tool);
}

KS_API char *ks_product_tool_dir_quoted(char *buf, const char *tool) {
  ks_product_tool_dir(buf, tool);
  if (strutl_is_ok_name(buf, "", "")) return buf;
  const size_t len = strnlen(buf, KS_DIR_BUF_SIZE - 3);
  memmove(buf + 1, buf, len);
  buf[0] = '"';
  buf[len + 1] = '"';
  buf[len + 2] = '\0';
  return buf;
}

KS_API char *ks_hostdata_dir(char *buf, const char *sub1, const char *sub2) {
  char scratch[KS_DIR_BUF_SIZE];
  ksi_compose(buf, ksi_hostdata_text(scratch), sub1);
  return ksi_compose(buf, buf, sub2);
}

KS_API char *ks_host_config_dir(char *buf, const char *sub) {
  return ks_hostdata_dir(buf, "config", sub);
}

KS_API char *ks_smx_product_dir(char *buf, const char *sub) {
  const char *dir = smx_dir.load(std::memory_order_acquire);
  if (dir == nullptr) {
    qmthread_mutex_lock(&startup_lock);
    dir = smx_dir.load(std::memory_order_relaxed);
    if (dir == nullptr) {
      dir = ksi_read_smx_dir();
      if (dir != nullptr) smx_dir.store(dir, std::memory_order_release);
    }
    qmthread_mutex_unlock(&startup_lock);
  }
  return dir != nullptr ? ksi_compose(buf, dir, sub) : nullptr;
}

}  // extern "C"
