// Editing a file until its user's change is accepted: the editor runs on
// the file, the caller's apply function judges the result, and the user
// may edit again after a failure.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/pfm.h>
#include <orvexnt/nt_env.h>
#include <orvexnt/nt_registry.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "host/sysutl_msgs.h"
#include "proc/sysutl_invoke.h"

namespace {

constexpr const char *kDefaultEditor = "vi";

const char *editor_name() {
  for (const char *name : {"VISUAL", "EDITOR"}) {
    const char *value = nt_getenv_safe(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return kDefaultEditor;
}

// The host path of file, made absolute: the editor runs in "/".
bool absolute_host_path(const char *file, char *out, size_t size) {
  char host[PATH_MAX], cwd[PATH_MAX];
  if (nt_map_path(file, host, sizeof host) != 0) return false;
  if (host[0] == '/') return std::snprintf(out, size, "%s", host) < int(size);
  if (getcwd(cwd, sizeof cwd) == nullptr) return false;
  return std::snprintf(out, size, "%s/%s", cwd, host) < static_cast<int>(size);
}

// Formats message index of the sysutl table onto log (null: standard
// error).
void report(FILE *log, int index, const char *a, const char *b) {
  char text[SYSUTL_PATH_SIZE + 256];
  imsg_snprintf(text, sizeof text, &ksi_sysutl_msgs, index, a, b);
  imsg_fputs(text, log != nullptr ? log : stderr);
}

bool answered_yes(const char *question, int def) {
  return imsg_prompt_yes_no(IMSG_OK, question, IMSG_ANSWER_YES | IMSG_ANSWER_NO,
                            def) == IMSG_ANSWER_YES;
}

}  // namespace

extern "C" {

KS_API int sysutl_edit_and_apply_until_ok(const char *file, FILE *log,
                                          const char *proceed_question,
                                          int proceed_default,
                                          const char *retry_question,
                                          int retry_default, void *arg,
                                          sysutl_apply_fn_t apply) {
  const char *editor = editor_name();
  char path[PATH_MAX], command[SYSUTL_PATH_SIZE];
  if (file == nullptr || apply == nullptr ||
      !absolute_host_path(file, path, sizeof path)) {
    report(log, KSI_SYSUTL_CANT_EXEC, editor, imsg_strerror(EINVAL));
    return 1;
  }
  sysutl_format_edit_cmd(command, editor, path);
  for (;;) {
    int err = 0;
    const int status = ksi_invoke(SYSUTL_INVOKE_CMDLINE, command, nullptr,
                                  nullptr, &err, true);
    if (status == -1 && err != 0) {
      report(log, KSI_SYSUTL_CANT_EXEC, editor, imsg_strerror(err));
      return 1;
    }
    if (status != 0)
      imsg_print(IMSG_WARNING, &ksi_sysutl_msgs, KSI_SYSUTL_EDITOR_STATUS,
                 editor, status);
    if (proceed_question != nullptr &&
        !answered_yes(proceed_question, proceed_default))
      return 1;
    const int result = apply(arg, file);
    if (result == 0 || retry_question == nullptr ||
        !answered_yes(retry_question, retry_default))
      return result;
  }
}

KS_API int sysutl_edit_content_from_imsg_list_and_apply_until_ok(
    imsg_list_t *list, FILE *log, const char *proceed_question,
    int proceed_default, const char *retry_question, int retry_default,
    void *arg, sysutl_apply_fn_t apply) {
  char name[PATH_MAX], host[PATH_MAX];
  FILE *tmp = fileutl_tmpfile_ext(nullptr, "edit", "txt", name, sizeof name);
  if (tmp == nullptr) {
    report(log, KSI_SYSUTL_EDIT_TMPFILE, imsg_strerror(errno), nullptr);
    return 1;
  }
  const char *text = list != nullptr ? imsg_list_get_buf(list, nullptr) : "";
  const bool written = std::fputs(text != nullptr ? text : "", tmp) >= 0;
  const bool closed = std::fclose(tmp) == 0;
  const bool mapped = nt_map_path(name, host, sizeof host) == 0;
  volatile int result = 1;
  // A raise while the user edits or answers still removes the file.
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    if (written && closed && mapped)
      result = sysutl_edit_and_apply_until_ok(host, log, proceed_question,
                                              proceed_default, retry_question,
                                              retry_default, arg, apply);
    else
      report(log, KSI_SYSUTL_EDIT_WRITE, name, imsg_strerror(errno));
    pfm_cleanup_rls(&rec);
  } else {
    if (mapped) unlink(host);
    pfm_raise(static_cast<uint32_t>(rec.status));
  }
  if (mapped) unlink(host);
  return result;
}

}  // extern "C"
