// Running command lines and programs and waiting for them: the redirect
// calls (output captured for a window writer, listener ticks) and the
// calls without a window.
#include <orvexks/fileutl.h>
#include <orvexks/pfm.h>
#include <orvexnt/nt_registry.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/sysutl_msgs.h"
#include "proc/sysutl_cmdline.h"
#include "proc/sysutl_invoke.h"

namespace {

// What to execute: a program and its argument vector.
struct Program {
  char path[PATH_MAX];
  char *const *argv;
  char *shell_argv[4];
  char shell_name[SYSUTL_PATH_SIZE];
  char *line;  // the interpreter's command line (heap), or null
};

// The host path of the program file prog names; prog itself when there
// is none, so that the start fails with the system's answer.
bool find_program(const char *prog, char *out, size_t size) {
  char found[PATH_MAX];
  int not_found = 1;
  if (fileutl_expand_prog_pn(prog, &not_found, found, sizeof found) != 0)
    return false;
  return nt_map_path(found, out, size) == 0;
}

// The command line as the interpreter gets it: references expanded, blanks
// around it removed, and its first word replaced by the full name of the
// program file it names, if there is one. 0, or an error number.
int rebuild_line(const char *cmdline, char *out) {
  char *expanded = static_cast<char *>(std::malloc(ksi_cmdline_max));
  if (expanded == nullptr) return ENOMEM;
  int err = 0;
  char word[PATH_MAX], path[PATH_MAX];
  size_t end = 0, len = 0;
  if (!ksi_expand_env_refs(cmdline, expanded, ksi_cmdline_max)) {
    imsg_print(IMSG_ERROR, &ksi_sysutl_msgs, KSI_SYSUTL_CANT_EXPAND, cmdline);
    err = E2BIG;
  } else {
    const char *line = expanded;
    while (*line == ' ' || *line == '\t') ++line;
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t')) --n;
    int not_found = 1;
    const bool replace =
        ksi_first_word(line, word, sizeof word, &end) && end <= n &&
        fileutl_expand_prog_pn(word, &not_found, path, sizeof path) == 0 &&
        not_found == 0 && nt_map_path(path, word, sizeof word) == 0;
    out[0] = '\0';
    if (replace && !ksi_append_shell_word(word, out, ksi_cmdline_max, &len))
      err = E2BIG;
    const size_t from = replace ? end : 0;
    if (err == 0 && len + (n - from) >= ksi_cmdline_max) err = E2BIG;
    if (err == 0) {
      std::memcpy(out + len, line + from, n - from);
      out[len + n - from] = '\0';
    }
  }
  std::free(expanded);
  return err;
}

// Fills prog for a mode: 0, or an error number.
int prepare(int mode, const char *prog_or_cmd, char *const argv[],
            Program *prog) {
  prog->line = nullptr;
  if (prog_or_cmd == nullptr) return EINVAL;
  if (mode == SYSUTL_INVOKE_ARGV) {
    if (argv == nullptr || argv[0] == nullptr) return EINVAL;
    if (!find_program(prog_or_cmd, prog->path, sizeof prog->path))
      return ENAMETOOLONG;
    prog->argv = argv;
    return 0;
  }
  if (mode != SYSUTL_INVOKE_CMDLINE) return EINVAL;
  prog->line = static_cast<char *>(std::malloc(ksi_cmdline_max));
  if (prog->line == nullptr) return ENOMEM;
  const int err = rebuild_line(prog_or_cmd, prog->line);
  if (err != 0) return err;
  sysutl_get_shell_info(prog->path, prog->shell_name, nullptr, 0);
  static char dash_c[] = "-c";
  prog->shell_argv[0] = prog->shell_name;
  prog->shell_argv[1] = dash_c;
  prog->shell_argv[2] = prog->line;
  prog->shell_argv[3] = nullptr;
  prog->argv = prog->shell_argv;
  return 0;
}

void call_listener(const sysutl_listener_t *listener, int phase, int status) {
  if (listener != nullptr && listener->callback != nullptr)
    listener->callback(listener->arg, phase, status);
}

int fail(int err, int *err_out) {
  if (err_out != nullptr) *err_out = err;
  errno = err;
  return -1;
}

// Starts argv[0]'s program path and waits for it, without capture; raises
// are held off meanwhile, as in ksi_invoke.
int start_and_wait(const char *path, char *const argv[]) {
  pfm_inhibit();
  ksi_child child;
  int err = ksi_child_start(path, argv, false, &child);
  const int code = err == 0 ? ksi_child_wait(&child, nullptr) : -1;
  if (err == 0) err = errno;
  pfm_enable();
  errno = err;
  return code;
}

}  // namespace

int ksi_invoke(int mode, const char *prog_or_cmd, char *const argv[],
               const sysutl_listener_t *listener, int *err_out, bool quiet) {
  // Messages and the listener are delivery points; a raise must not leave
  // the child unreaped and its descriptors open. It is delivered at the
  // end instead.
  pfm_inhibit();
  const bool capture = imsg_in_gui() != 0;
  Program prog;
  int result;
  int err = prepare(mode, prog_or_cmd, argv, &prog);
  call_listener(listener, SYSUTL_LISTENER_START, 0);
  ksi_child child;
  if (err == 0) err = ksi_child_start(prog.path, prog.argv, capture, &child);
  if (err != 0) {
    if (!quiet)
      imsg_print(IMSG_ERROR, &ksi_sysutl_msgs, KSI_SYSUTL_CANT_EXEC,
                 prog_or_cmd != nullptr ? prog_or_cmd : "", imsg_strerror(err));
    result = fail(err, err_out);
  } else {
    result = ksi_child_wait(&child, listener);
    err = errno;
  }
  call_listener(listener, SYSUTL_LISTENER_END, result);
  std::free(prog.line);
  pfm_enable();
  errno = err;
  return result;
}

extern "C" {

KS_API int sysutl_system_redirect(const char *cmdline, int *err_out) {
  return ksi_invoke(SYSUTL_INVOKE_CMDLINE, cmdline, nullptr, nullptr, err_out,
                    false);
}

KS_API int sysutl_system_redirect_with_listener(
    const char *cmdline, const sysutl_listener_t *listener, int *err_out) {
  return ksi_invoke(SYSUTL_INVOKE_CMDLINE, cmdline, nullptr, listener, err_out,
                    false);
}

KS_API int sysutl_invokev_redirect(const char *prog, char *const argv[],
                                   int *err_out) {
  return ksi_invoke(SYSUTL_INVOKE_ARGV, prog, argv, nullptr, err_out, false);
}

KS_API int sysutl_invoke_general_redirect(int mode, const char *prog_or_cmd,
                                          char *const argv[], int *err_out) {
  return ksi_invoke(mode, prog_or_cmd, argv, nullptr, err_out, false);
}

KS_API int sysutl_invoke_general_redirect_with_listener(
    int mode, const char *prog_or_cmd, char *const argv[],
    const sysutl_listener_t *listener, int *err_out) {
  return ksi_invoke(mode, prog_or_cmd, argv, listener, err_out, false);
}

KS_API int sysutl_system_no_window(const char *cmdline) {
  if (cmdline == nullptr) return fail(EINVAL, nullptr);
  char shell[SYSUTL_PATH_SIZE], name[SYSUTL_PATH_SIZE], dash_c[] = "-c";
  sysutl_get_shell_info(shell, name, nullptr, 0);
  char *argv[] = {name, dash_c, const_cast<char *>(cmdline), nullptr};
  return start_and_wait(shell, argv);
}

KS_API int sysutl_invoke_no_window_no_wait(const char *cmdline) {
  if (cmdline == nullptr) return fail(EINVAL, nullptr);
  char shell[SYSUTL_PATH_SIZE];
  ksi_shell_path(shell, 0);
  if (access(shell, X_OK) != 0) return fail(errno, nullptr);
  // A short-lived /bin/sh starts the interpreter in the background and
  // ends: the caller waits only for it, and the real child, no longer the
  // caller's, is reaped by the system.
  char line[SYSUTL_PATH_SIZE + 32];
  size_t len = 0;
  line[0] = '\0';
  if (!ksi_append_shell_word(shell, line, sizeof line, &len) ||
      len + 16 >= sizeof line)
    return fail(ENAMETOOLONG, nullptr);
  std::strcat(line, " -c \"$0\" &");
  char sh[] = "sh", dash_c[] = "-c";
  char *argv[] = {sh, dash_c, line, const_cast<char *>(cmdline), nullptr};
  const int code = start_and_wait("/bin/sh", argv);
  return code == 0 ? 0 : fail(code < 0 ? errno : ECHILD, nullptr);
}

}  // extern "C"
