// The prompting tool: a console program forced into GUI mode asks its
// questions through the installation's "qmprompt", started directly with
// an argument vector (no shell, each argument as it is) and waited for.
// Answers come back in its exit status or in a temporary file.
#include <orvexks/ks_product.h>
#include <orvexks/pfm.h>
#include <orvexks/stg.h>

#include <orvexnt/nt_env.h>
#include <orvexnt/nt_registry.h>

#include <climits>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "msg/imsg_prompt.h"

extern char **environ;

namespace {

constexpr size_t kFirstReadSize = 128;
constexpr size_t kMaxTmpDirLen = 1008;

// The directory for answer files: TMP, then TMPDIR (each when short
// enough and writable), else /tmp.
const char *answer_dir() {
  for (const char *name : {"TMP", "TMPDIR"}) {
    const char *dir = nt_getenv_safe(name);
    if (dir != nullptr && dir[0] != '\0' && std::strlen(dir) < kMaxTmpDirLen &&
        access(dir, W_OK) == 0)
      return dir;
  }
  return "/tmp";
}

// Creates an empty answer file only this user can read; false when none
// could be made.
bool make_answer_file(char *name, size_t size) {
  const char *dir = answer_dir();
  const char *sep = dir[std::strlen(dir) - 1] == '/' ? "" : "/";
  if (static_cast<size_t>(
          std::snprintf(name, size, "%s%sqmprompt_XXXXXX", dir, sep)) >= size)
    return false;
  const int fd = mkstemp(name);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace

int ksi_prompt_tool_status(ksi_tool_args *args) {
  char tool[KS_DIR_BUF_SIZE];
  char host[PATH_MAX];
  ks_product_tool_dir(tool, "qmprompt");
  if (nt_map_path(tool, host, sizeof host) != 0) return -1;
  args->argv[0] = host;
  args->argv[args->argc] = nullptr;
  pid_t pid;
  // The environment is read while the child is made; no thread may change
  // it meanwhile.
  nt_environment_lock();
  const int rc = posix_spawn(&pid, host, nullptr, nullptr,
                             const_cast<char *const *>(args->argv), environ);
  nt_environment_unlock();
  if (rc != 0) return -1;
  int status;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

char *ksi_prompt_tool_answer(const char *command, const char *text,
                             const char *const *extra) {
  char outfile[PATH_MAX];
  if (!make_answer_file(outfile, sizeof outfile)) return nullptr;
  ksi_tool_args args;
  args.add(command);
  args.add("-prompt");
  args.add(text != nullptr ? text : "");
  args.add("-outfile");
  args.add(outfile);
  for (; *extra != nullptr; ++extra) args.add(*extra);
  char *content =
      ksi_prompt_tool_status(&args) == 0 ? imsg_read_outfile(outfile) : nullptr;
  unlink(outfile);
  return content;
}

const char *ksi_prompt_tool_type(int kind) {
  if (kind >= IMSG_WARNING && kind <= IMSG_WARNING_PLAIN) return "warning";
  if (kind >= IMSG_ERROR && kind <= IMSG_TRACE_PLAIN) return "error";
  return "ok";
}

extern "C" {

KS_API char *imsg_read_outfile(const char *path) {
  char host[PATH_MAX];
  if (path == nullptr || nt_map_path(path, host, sizeof host) != 0)
    return nullptr;
  FILE *const file = std::fopen(host, "r");
  if (file == nullptr) return nullptr;
  // A raise passing through (a failed allocation prints) closes the file
  // and frees the buffer.
  char *volatile buf = nullptr;
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    size_t size = kFirstReadSize, len = 0;
    buf = static_cast<char *>(stg_malloc(size));
    while (buf != nullptr) {
      len += std::fread(buf + len, 1, size - 1 - len, file);
      if (len < size - 1) break;
      size *= 2;
      char *grown = static_cast<char *>(stg_realloc(buf, size));
      if (grown == nullptr) stg_free(buf);
      buf = grown;
    }
    if (buf != nullptr && std::ferror(file) != 0) {
      stg_free(buf);
      buf = nullptr;
    }
    if (buf != nullptr) buf[len] = '\0';
    pfm_cleanup_rls(&rec);
  } else {
    std::fclose(file);
    stg_free(buf);
    pfm_raise(static_cast<uint32_t>(rec.status));
  }
  std::fclose(file);
  return buf;
}

}  // extern "C"
