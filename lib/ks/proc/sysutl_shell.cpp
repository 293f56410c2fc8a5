// The command interpreter, the editor's command line and the platform
// description.
#include <orvexks/sysutl.h>
#include <orvexnt/nt_env.h>

#include <sys/utsname.h>

#include <cstdio>
#include <cstring>

#include "host/sysutl_internal.h"
#include "internal/thread_safety.h"
#include "proc/sysutl_invoke.h"

namespace {

constexpr const char *kSystemShell = "/bin/sh";

// The interpreter chosen for this process; empty until first asked.
char chosen_shell[SYSUTL_PATH_SIZE] KSI_GUARDED_BY(ksi_sysutl_mutex);

void copy_out(char *out, const char *text) {
  if (out != nullptr) std::snprintf(out, SYSUTL_PATH_SIZE, "%s", text);
}

}  // namespace

void ksi_shell_path(char *out, int system_only) {
  if (system_only) {
    copy_out(out, kSystemShell);
    return;
  }
  qmthread_mutex_lock(&ksi_sysutl_mutex);
  if (chosen_shell[0] == '\0') {
    const char *comspec = nt_getenv_safe("COMSPEC");
    const bool usable = comspec != nullptr && comspec[0] != '\0' &&
                        std::strlen(comspec) < SYSUTL_PATH_SIZE;
    copy_out(chosen_shell, usable ? comspec : kSystemShell);
  }
  copy_out(out, chosen_shell);
  qmthread_mutex_unlock(&ksi_sysutl_mutex);
}

extern "C" {

KS_API int sysutl_get_shell_info(char *path_out, char *name_out,
                                 char *switch_out, int system_only) {
  char path[SYSUTL_PATH_SIZE];
  ksi_shell_path(path, system_only);
  const char *slash = std::strrchr(path, '/');
  copy_out(name_out, slash != nullptr ? slash + 1 : path);
  copy_out(path_out, path);
  copy_out(switch_out, "-c");
  return 0;
}

KS_API char *sysutl_format_edit_cmd(char *buf, const char *editor,
                                    const char *file) {
  // The file is one single-quoted shell word whatever it holds; a command
  // that does not fit is cut.
  if (editor == nullptr) editor = "";
  if (file == nullptr) file = "";
  int used = std::snprintf(buf, SYSUTL_PATH_SIZE, "cd / && %s '", editor);
  size_t len = used < SYSUTL_PATH_SIZE ? static_cast<size_t>(used) : 0;
  for (const char *p = file; len > 0 && *p != '\0'; ++p) {
    const char *piece = *p == '\'' ? "'\\''" : nullptr;
    const size_t n = piece != nullptr ? std::strlen(piece) : 1;
    if (len + n + 2 > SYSUTL_PATH_SIZE) break;
    std::memcpy(buf + len, piece != nullptr ? piece : p, n);
    len += n;
  }
  if (len > 0) std::memcpy(buf + len, "'", 2);
  return buf;
}

KS_API char *sysutl_platform_description(char *buf) {
  struct utsname names;
  if (uname(&names) == 0)
    std::snprintf(buf, SYSUTL_PATH_SIZE, "%s %s (%s)", names.sysname,
                  names.release, names.machine);
  else
    std::snprintf(buf, SYSUTL_PATH_SIZE, "UNKNOWN_HW_PLATFORM");
  return buf;
}

}  // extern "C"
