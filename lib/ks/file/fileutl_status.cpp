// File status, file-system status, the large-file check and directory
// reading, each on the host path that a path name maps to.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/stg.h>
#include <orvexnt/nt_registry.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "file/fileutl_internal.h"
#include "startup/ks_msgs.h"

namespace {

// Files this large or larger are refused: sizes travel as 32-bit signed
// values through the product's formats.
constexpr uint64_t kLargeFileLimit = 0x80000000u;
constexpr int kFirstDirCapacity = 512;

}  // namespace

int ksi_map_host_path(const char *path, char *out) {
  return nt_map_path(path, out, ksi_host_path_max);
}

void ksi_print_path_error(const char *path, int err) {
  imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_PATH_ERROR, path,
             imsg_strerror(err));
}

extern "C" {

int fileutl_stat(const char *path, int follow, struct stat *st) {
  char host[ksi_host_path_max];
  int rc = ksi_map_host_path(path, host);
  if (rc == 0)
    rc = (follow ? stat(host, st) : lstat(host, st)) == 0 ? 0 : errno;
  if (rc == 0) return 0;
  if (st != nullptr) st->st_mode = 0;
  errno = rc;
  return -1;
}

int fileutl_exists(const char *path, int follow) {
  struct stat st;
  return fileutl_stat(path, follow, &st) == 0 ? 1 : 0;
}

int fileutl_statfs(const char *path, fileutl_statfs_t *out) {
  char host[ksi_host_path_max];
  struct statvfs vfs;
  int rc = out == nullptr ? EINVAL : ksi_map_host_path(path, host);
  if (rc == 0 && statvfs(host, &vfs) != 0) rc = errno;
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  out->block_size = vfs.f_frsize;
  out->total_blocks = vfs.f_blocks;
  out->free_blocks = vfs.f_bfree;
  out->avail_blocks = vfs.f_bavail;
  out->total_files = vfs.f_files;
  out->free_files = vfs.f_ffree;
  out->name_max = vfs.f_namemax;
  out->read_only = (vfs.f_flag & ST_RDONLY) != 0;
  return 0;
}

int fileutl_readlink(const char *, char *, size_t) {
  errno = ENOSYS;
  return -1;
}

int fileutl_chk_large_file_overflow(uint64_t size, const char *path) {
  if (size < kLargeFileLimit) return 0;
  if (path != nullptr && path[0] != '\0')
    imsg_print(IMSG_ERROR, &ksi_ks_msgs, KSI_KS_FILE_OVER_2GB, path);
  return 1;
}

DIR *fileutl_opendir(const char *path) {
  char host[ksi_host_path_max];
  const int rc = ksi_map_host_path(path, host);
  if (rc == 0) return opendir(host);
  errno = rc;
  return nullptr;
}

struct dirent *fileutl_readdir(DIR *dir) {
  return readdir(dir);
}

// Streams are never shared between threads here, and readdir on distinct
// streams is reentrant; the entry is copied out for the caller.
int fileutl_readdir_r(DIR *dir, struct dirent *entry, struct dirent **result) {
  if (dir == nullptr || entry == nullptr || result == nullptr) return EINVAL;
  errno = 0;
  const struct dirent *next = readdir(dir);
  if (next == nullptr) {
    *result = nullptr;
    return errno;
  }
  // The host's record may end with its name, short of the full size.
  std::memcpy(entry, next,
              offsetof(struct dirent, d_name) + std::strlen(next->d_name) + 1);
  *result = entry;
  return 0;
}

int fileutl_closedir(DIR *dir) { return closedir(dir); }

int fileutl_read_whole_dir(const char *dir, stg_area_t area,
                           char ***names_out) {
  DIR *stream = fileutl_opendir(dir);
  if (stream == nullptr) return -1;
  int count = 0, capacity = kFirstDirCapacity;
  auto **names =
      static_cast<char **>(stg_alloc(area, capacity * sizeof(char *)));
  int err = names == nullptr ? ENOMEM : 0;
  while (err == 0) {
    errno = 0;
    const struct dirent *entry = readdir(stream);
    if (entry == nullptr) {
      err = errno;
      break;
    }
    if (count == capacity) {
      auto **bigger =
          static_cast<char **>(stg_alloc(area, 2 * capacity * sizeof(char *)));
      if (bigger == nullptr) {
        err = ENOMEM;
        break;
      }
      std::memcpy(bigger, names, count * sizeof(char *));
      if (area == STG_AREA_HEAP) stg_free(names);
      names = bigger;
      capacity *= 2;
    }
    names[count] = stg_area_strdup(area, entry->d_name);
    if (names[count] == nullptr)
      err = ENOMEM;
    else
      ++count;
  }
  closedir(stream);
  if (err != 0) {
    if (area == STG_AREA_HEAP && names != nullptr) {
      for (int i = 0; i < count; ++i) stg_free(names[i]);
      stg_free(names);
    }
    errno = err;
    return -1;
  }
  *names_out = names;
  return count;
}

}  // extern "C"
