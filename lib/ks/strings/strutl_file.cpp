// Whole-file reads into a storage area or the heap, and whole-text writes.
// Paths are mapped onto host paths as the file layer maps them, and a write
// replaces the file only once complete. Each runs with asynchronous raises
// held off, so a raise can never leave a stream open or a heap buffer
// behind.
#include "file/fileutl_internal.h"
#include "msg/msg_out.h"
#include "startup/ks_msgs.h"
#include "strings/strutl_msgs.h"

#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kReadIncrement = 8192;
// "No memory available for storage allocation.\n" of the strutl table.
constexpr int kStrutlNoMemory = 2;

void release(stg_area_t area, char *buf) {
  if (area == STG_AREA_HEAP) stg_free(buf);
}

// Replaces buf (cap bytes, len used) by one kReadIncrement bytes larger:
// the heap block is reallocated, an area block is copied to a new one.
char *grow(stg_area_t area, char *buf, size_t len, size_t cap) {
  size_t bigger = cap + kReadIncrement;
  if (area == STG_AREA_HEAP) {
    auto *moved = static_cast<char *>(stg_realloc(buf, bigger));
    if (moved == nullptr) stg_free(buf);
    return moved;
  }
  auto *copy = static_cast<char *>(stg_alloc(area, bigger));
  if (copy != nullptr) std::memcpy(copy, buf, len);
  return copy;
}

// Reads the rest of stream into a terminated buffer of `size` bytes (0:
// growing). Sets *changed when a fixed buffer could not take everything;
// *len receives the bytes read. Whole blocks are read rather than lines,
// so a NUL byte in the data cannot make a later read overwrite text.
char *read_stream(stg_area_t area, size_t size, FILE *stream, bool quiet,
                  int *changed, size_t *len) {
  *len = 0;
  bool fixed = size != 0;
  size_t cap = fixed ? size : kReadIncrement;
  auto *buf = static_cast<char *>(stg_alloc(area, cap));
  size_t used = 0;
  while (buf != nullptr) {
    if (used + 1 == cap) {
      if (fixed) {
        if (std::fgetc(stream) != EOF) *changed = 1;
        break;
      }
      buf = grow(area, buf, used, cap);
      cap += kReadIncrement;
      continue;
    }
    size_t got = std::fread(buf + used, 1, cap - 1 - used, stream);
    used += got;
    if (used + 1 < cap) break;  // a short read: the end or an error
  }
  if (buf == nullptr) {
    if (!quiet) imsg_print(IMSG_WARNING, &ksi_strutl_msgs, kStrutlNoMemory);
    return nullptr;
  }
  if (std::ferror(stream)) {
    int err = errno;
    if (!quiet)
      imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_OPERATION_FAILED, "read",
                 imsg_strerror(err));
    release(area, buf);
    errno = err;
    return nullptr;
  }
  buf[used] = '\0';
  *len = used;
  return buf;
}

char *read_file(stg_area_t area, const char *path, bool binary, bool quiet,
                bool missing_ok) {
  char host[ksi_host_path_max];
  struct stat st;
  const int mapped = ksi_map_host_path(path, host);
  if (mapped != 0 || stat(host, &st) != 0) {
    int err = mapped != 0 ? mapped : errno;
    if (missing_ok && err == ENOENT) {
      auto *empty = static_cast<char *>(stg_alloc(area, 1));
      if (empty != nullptr) *empty = '\0';
      return empty;
    }
    if (!quiet)
      imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_CANT_OPEN, path,
                 imsg_strerror(err));
    errno = err;
    return nullptr;
  }
  if (fileutl_chk_large_file_overflow(static_cast<uint64_t>(st.st_size),
                                      quiet ? nullptr : path)) {
    errno = EFBIG;
    return nullptr;
  }
  FILE *stream = std::fopen(host, binary ? "rb" : "r");
  if (stream == nullptr) {
    int err = errno;
    if (!quiet)
      imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_CANT_OPEN, path,
                 imsg_strerror(err));
    errno = err;
    return nullptr;
  }
  // Two spare bytes: the terminator, and one more so that a file that grew
  // since stat shows up as more bytes than its size.
  size_t expected = static_cast<size_t>(st.st_size);
  int changed = 0;
  size_t len = 0;
  char *text = read_stream(area, expected + 2, stream, quiet, &changed, &len);
  int err = errno;
  std::fclose(stream);
  if (text != nullptr && (changed || len > expected)) {
    release(area, text);
    if (!quiet)
      imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_FILE_CHANGED_SIZE, path);
    errno = EFBIG;
    return nullptr;
  }
  if (text == nullptr) errno = err;
  return text;
}

// Text and binary writes are the same bytes on this platform.
int write_file(const char *text, const char *path, bool quiet) {
  bool opened = false;
  const int err = ksi_dump(text, std::strlen(text), path, &opened);
  if (err == 0) return 0;
  if (!quiet && !opened)
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_CANT_OPEN, path,
               imsg_strerror(err));
  else if (!quiet)
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_OPERATION_ON_FAILED, "write",
               path, imsg_strerror(err));
  errno = err;
  return 1;
}

}  // namespace

extern "C" {

KS_API char *strutl_read(stg_area_t area, const char *path, int binary,
                         int quiet, int missing_ok) {
  if (path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  pfm_inhibit();
  char *text = read_file(area, path, binary != 0, quiet != 0, missing_ok != 0);
  int err = errno;
  pfm_enable();
  errno = err;
  return text;
}

KS_API char *strutl_read_fp(stg_area_t area, uint32_t size, FILE *stream,
                            int quiet, int *changed) {
  int grew = 0;
  size_t len = 0;
  char *text = read_stream(area, size, stream, quiet != 0, &grew, &len);
  if (changed != nullptr) *changed = grew;
  return text;
}

KS_API int strutl_write(const char *text, const char *path, int /*binary*/,
                        int quiet) {
  if (text == nullptr) return 0;
  if (path == nullptr) return 1;
  pfm_inhibit();
  int rc = write_file(text, path, quiet != 0);
  int err = errno;
  pfm_enable();
  errno = err;
  return rc;
}

}  // extern "C"
