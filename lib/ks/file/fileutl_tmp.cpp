// The temporary directory, chosen once per process, and temporary files
// named dir\<prefix><five digits>[.ext] and created exclusively.
#include <orvexks/fileutl.h>
#include <orvexks/qmthread.h>
#include <orvexnt/nt_env.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "file/fileutl_internal.h"

namespace {

// A directory name must leave room for a temporary file's name after it.
constexpr size_t kDirMax = 1008;
constexpr size_t kNameRoom = 16;
constexpr int kCounterWrap = 100000;

qmthread_mutex_t tmp_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
char tmp_dir[kDirMax];  // guarded by tmp_mutex; empty until chosen
int tmp_counter = -1;   // guarded by tmp_mutex; -1 until seeded

bool writable_dir(const char *dir) {
  char host[ksi_host_path_max];
  return dir != nullptr && dir[0] != '\0' && std::strlen(dir) < kDirMax &&
         ksi_map_host_path(dir, host) == 0 && access(host, W_OK) == 0;
}

// Copies dir without its trailing separators (a lone root keeps its own).
void set_without_trailing_seps(char *out, const char *dir) {
  size_t n = std::strlen(dir);
  while (n > 1 && ksi_is_sep(dir[n - 1])) --n;
  std::memcpy(out, dir, n);
  out[n] = '\0';
}

// TMP, then TMPDIR, then c:\, then the current directory.
void choose_tmp_dir() {
  const char *choices[] = {nt_getenv_safe("TMP"), nt_getenv_safe("TMPDIR"),
                           "c:\\"};
  for (const char *dir : choices) {
    if (writable_dir(dir)) {
      set_without_trailing_seps(tmp_dir, dir);
      return;
    }
  }
  std::strcpy(tmp_dir, ".");
}

// The next number to try: the first starts at random below the wrap (the
// process id as seed, so concurrent processes spread out).
int next_number() {
  qmthread_mutex_lock(&tmp_mutex);
  if (tmp_counter < 0) {
    unsigned seed = static_cast<unsigned>(getpid());
    tmp_counter = rand_r(&seed) % kCounterWrap;
  }
  const int n = tmp_counter;
  tmp_counter = (tmp_counter + 1) % kCounterWrap;
  qmthread_mutex_unlock(&tmp_mutex);
  return n;
}

}  // namespace

extern "C" {

int fileutl_get_tmpdir(const char *preferred, char *out, size_t size,
                       size_t *len_out) {
  char dir[kDirMax];
  if (writable_dir(preferred)) {
    set_without_trailing_seps(dir, preferred);
  } else {
    qmthread_mutex_lock(&tmp_mutex);
    if (tmp_dir[0] == '\0') choose_tmp_dir();
    std::strcpy(dir, tmp_dir);
    qmthread_mutex_unlock(&tmp_mutex);
  }
  const size_t n = std::strlen(dir);
  if (out == nullptr || size < kNameRoom || n > size - kNameRoom) {
    errno = ENAMETOOLONG;
    return ENAMETOOLONG;
  }
  std::memcpy(out, dir, n + 1);
  if (len_out != nullptr) *len_out = n;
  return 0;
}

int fileutl_tmpdir(char *out, size_t size) {
  return fileutl_get_tmpdir(nullptr, out, size, nullptr);
}

FILE *fileutl_tmpfile_ext_opt(const char *dir, const char *prefix,
                              const char *ext, char *name_out, size_t size,
                              int binary, int mode) {
  char base[kDirMax], name[ksi_host_path_max], host[ksi_host_path_max];
  size_t len = 0;
  int err = fileutl_get_tmpdir(dir, base, sizeof base, &len);
  if (err != 0) return nullptr;
  const char *sep = len > 0 && ksi_is_sep(base[len - 1]) ? "" : "\\";
  if (prefix == nullptr) prefix = "tmp";
  if (mode == 0) mode = 0666;
  // Each number is tried at most once: the counter comes back to where it
  // started after kCounterWrap tries.
  for (int tries = 0; tries < kCounterWrap; ++tries) {
    const int n = next_number();
    const int written =
        std::snprintf(name, sizeof name, "%s%s%s%5.5d%s%s", base, sep, prefix,
                      n, ext != nullptr ? "." : "", ext != nullptr ? ext : "");
    if (written < 0 || static_cast<size_t>(written) >= sizeof name ||
        (name_out != nullptr && static_cast<size_t>(written) >= size)) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    err = ksi_map_host_path(name, host);
    if (err != 0) break;
    const int fd = open(host, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                        static_cast<mode_t>(mode));
    if (fd >= 0) {
      // Without a name for the caller the file goes when it is closed.
      if (name_out == nullptr)
        unlink(host);
      else
        std::memcpy(name_out, name, written + 1);
      FILE *stream = fdopen(fd, binary ? "w+b" : "w+");
      if (stream == nullptr) {
        err = errno;
        close(fd);
        if (name_out != nullptr) unlink(host);
        break;
      }
      return stream;
    }
    err = errno;
    const bool name_taken =
        err == EEXIST || (err == EACCES && access(host, F_OK) == 0);
    if (!name_taken) break;
  }
  errno = err;
  return nullptr;
}

FILE *fileutl_tmpfile_ext(const char *dir, const char *prefix, const char *ext,
                          char *name_out, size_t size) {
  return fileutl_tmpfile_ext_opt(dir, prefix, ext, name_out, size, 0, 0);
}

FILE *fileutl_tmpfile_ext_binary(const char *dir, const char *prefix,
                                 const char *ext, char *name_out, size_t size) {
  return fileutl_tmpfile_ext_opt(dir, prefix, ext, name_out, size, 1, 0);
}

}  // extern "C"
