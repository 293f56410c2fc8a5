// Library start-up, the connected setting, the version line and the
// exported stubs.
#include <orvexks/ks_product.h>

#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_init.h>
#include <orvexnt/nt_registry.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

#include <array>
#include <atomic>

#include "msg/msg_out.h"
#include "startup/ks_msgs.h"
#include "startup/ks_product_internal.h"

namespace {

constexpr uint32_t kConnectedParam = 25;
constexpr const char *kLibraryName = "liborvexks";
// The project version from the build, and a fourth number that counts
// rebuilds of it.
constexpr const char *kLibraryVersion = ORVEXKS_VERSION ".0";
constexpr const char *kVeridFormat = "%-*s %s (%s) %s\n";
constexpr int kVeridNameWidth = 33;

// Guarded by the library lock; the flag is also read without it.
std::atomic<bool> library_initialised{false};
bool umask_recorded = false;
mode_t recorded_umask = 022;

// Reads the mask without changing it for good: umask can only be read by
// setting it.
void ksi_record_umask() {
  if (umask_recorded) return;
  recorded_umask = umask(0777);
  umask(recorded_umask);
  umask_recorded = true;
}

// Warns when the product group is missing on an installed product, where
// tools would otherwise fail later with less helpful messages.
void ksi_check_product_group() {
  if (nt_get_enum_sid(NT_ENUM_SID_PRODUCT_GROUP) != nullptr) return;
  char tool[KS_DIR_BUF_SIZE];
  ks_product_tool_dir(tool, "qmtool.exe");
  char host_path[KS_DIR_BUF_SIZE];
  struct stat st;
  if (nt_map_path(tool, host_path, sizeof host_path) == 0 &&
      stat(host_path, &st) == 0)
    imsg_print(IMSG_WARNING, &ksi_ks_msgs, KSI_KS_NO_PRODUCT_GROUP,
               nt_get_quillmere_group_name());
}

// The one-time part of start-up; library lock held.
void ksi_initialise_process() {
  // The socket layer needs no start-up on this platform.
  nt_init();
  pfm_init();
  const char *locale = setlocale(LC_ALL, nullptr);
  if (locale != nullptr && strcmp(locale, "C") == 0) setlocale(LC_ALL, "");
  ksi_check_product_group();
  sysutl_get_max_fds();
  library_initialised.store(true, std::memory_order_release);
}

// The build time in the C library's asctime layout, without the newline.
const char *ksi_build_time() {
  static const std::array<char, 64> text = [] {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    struct tm tm = {};
    char month[4] = {};
    sscanf(__DATE__, "%3s %d %d", month, &tm.tm_mday, &tm.tm_year);
    sscanf(__TIME__, "%d:%d:%d", &tm.tm_hour, &tm.tm_min, &tm.tm_sec);
    const char *found = strstr(kMonths, month);
    tm.tm_mon = found ? static_cast<int>(found - kMonths) / 3 : 0;
    tm.tm_year -= 1900;
    const time_t t = timegm(&tm);  // works out the weekday
    struct tm normalised;
    gmtime_r(&t, &normalised);
    std::array<char, 64> out{};  // asctime_r needs at least 26 bytes
    asctime_r(&normalised, out.data());
    out[strcspn(out.data(), "\n")] = '\0';
    return out;
  }();
  return text.data();
}

}  // namespace

mode_t ksi_initial_umask(void) { return recorded_umask; }

extern "C" {

KS_API int ks_system_init(void) {
  // Libraries are never searched for in the current directory here, so
  // there is no search path to clean.
  qmthread_init();
  qmthread_enter_critical_section();
  ksi_record_umask();
  int initialised_now = 0;
  if (!library_initialised.load(std::memory_order_acquire)) {
    ksi_initialise_process();
    initialised_now = 1;
  }
  qmthread_leave_critical_section();
  if (qmthread_try_attach_lib() != 0)
    pfm_assert_fail("qmthread_try_attach_lib() == 0", "lib/ks/ks_product.cpp",
                    714);
  return initialised_now;
}

KS_API int ks_connected(void) {
  uint32_t value = 0;
  if (ntregy_get_param(kConnectedParam, sizeof value, &value,
                       NTREGY_TYPE_DWORD) != NTREGY_OK)
    return 1;
  return value == 1;
}

KS_API int ks_set_connected(int on) {
  const uint32_t value = on ? 1 : 0;
  return ntregy_set_param(kConnectedParam, sizeof value, &value,
                          NTREGY_TYPE_DWORD);
}

KS_API void ks_disable_long_path(void) { nt_disable_long_path(); }

KS_API void liborvexks_print_verid(void) {
  imsg_print(IMSG_OK, reinterpret_cast<const ks_msg_table_t *>(kVeridFormat),
             -1, kVeridNameWidth, kLibraryName, kLibraryVersion,
             ksi_build_time(), "64-bit");
}

KS_API char *liborvexks_sprint_verid(char *buf) {
  imsg_sprintf(buf, kVeridFormat, -1, kVeridNameWidth, kLibraryName,
               kLibraryVersion, ksi_build_time(), "64-bit");
  return buf;
}

KS_API int PlumbexIsRunning(void) { return 0; }
KS_API void PlumbexMarkAsInitialized(void) {}
KS_API void PlumbexMarkAsUninitialized(void) {}

}  // extern "C"
