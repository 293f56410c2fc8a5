// The tree iterator: one entry below a root per call, depth first, with the
// open directories kept as a chain from the deepest one up. Everything the
// iterator holds lives in its own storage area.
#include <orvexks/fileutl.h>
#include <orvexks/stg.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "file/fileutl_internal.h"

namespace {

constexpr size_t kScanPathSize = 1025;
constexpr uint64_t kAreaChunk = 1024;

struct scan_dir {
  DIR *dir;
  size_t len;  // length of this directory's path in the iterator's path
  dev_t dev;
  ino_t ino;
  scan_dir *parent;
};

}  // namespace

struct fileutl_scan {
  stg_area_t area;
  scan_dir *cur;
  scan_dir *spare;  // frames of finished directories, for reuse
  int follow;
  bool enter_pending;  // the entry last returned is a directory to enter
  bool leave_pending;  // the current directory failed to read: done with it
  struct stat pending_st;
  size_t path_len;
  char path[kScanPathSize];
};

namespace {

bool is_ancestor(const fileutl_scan *scan, const struct stat *st) {
  for (const scan_dir *d = scan->cur; d != nullptr; d = d->parent)
    if (d->dev == st->st_dev && d->ino == st->st_ino) return true;
  return false;
}

// Opens the directory in scan->path and makes it the current one. 0, or
// an errno value.
int enter(fileutl_scan *scan, const struct stat *st) {
  DIR *dir = fileutl_opendir(scan->path);
  if (dir == nullptr) return errno;
  scan_dir *frame = scan->spare;
  if (frame != nullptr)
    scan->spare = frame->parent;
  else
    frame = static_cast<scan_dir *>(stg_alloc(scan->area, sizeof(scan_dir)));
  if (frame == nullptr) {
    closedir(dir);
    return ENOMEM;
  }
  *frame = {dir, scan->path_len, st->st_dev, st->st_ino, scan->cur};
  scan->cur = frame;
  return 0;
}

void leave(fileutl_scan *scan) {
  scan_dir *frame = scan->cur;
  closedir(frame->dir);
  scan->cur = frame->parent;
  frame->parent = scan->spare;
  scan->spare = frame;
  if (scan->cur != nullptr) {
    scan->path_len = scan->cur->len;
    scan->path[scan->path_len] = '\0';
  }
}

int failed(int err, int *err_out) {
  if (err_out != nullptr) *err_out = err;
  return -1;
}

}  // namespace

extern "C" {

int fileutl_scan_tree_begin(const char *root, int flags,
                            fileutl_scan_t **scan_out, int *err_out) {
  const size_t n = root != nullptr ? std::strlen(root) : 0;
  if (root == nullptr || scan_out == nullptr) return failed(EINVAL, err_out);
  if (n >= kScanPathSize) return failed(ENAMETOOLONG, err_out);
  const int follow = (flags & FILEUTL_WALK_LSTAT) == 0;
  struct stat st;
  if (fileutl_stat(root, follow, &st) != 0) return failed(errno, err_out);
  if (!S_ISDIR(st.st_mode)) return failed(ENOTDIR, err_out);

  stg_area_t area = stg_create_area(kAreaChunk);
  auto *scan =
      area == STG_AREA_NULL
          ? nullptr
          : static_cast<fileutl_scan *>(stg_alloc(area, sizeof(fileutl_scan)));
  if (scan == nullptr) {
    stg_delete_area(&area);
    return failed(ENOMEM, err_out);
  }
  scan->area = area;
  scan->cur = scan->spare = nullptr;
  scan->follow = follow;
  scan->enter_pending = scan->leave_pending = false;
  std::memcpy(scan->path, root, n + 1);
  scan->path_len = n;
  const int err = enter(scan, &st);
  if (err != 0) {
    stg_delete_area(&area);
    return failed(err, err_out);
  }
  *scan_out = scan;
  return 0;
}

int fileutl_scan_tree_next(fileutl_scan_t *scan, const char **name_out,
                           struct stat *st_out, int *err_out) {
  if (scan == nullptr) return failed(EINVAL, err_out);
  if (scan->leave_pending) {
    scan->leave_pending = false;
    leave(scan);
  }
  if (scan->enter_pending) {
    scan->enter_pending = false;
    const int err = enter(scan, &scan->pending_st);
    if (err != 0) {
      if (name_out != nullptr) *name_out = scan->path;
      return failed(err, err_out);
    }
  }
  while (scan->cur != nullptr) {
    errno = 0;
    const struct dirent *entry = readdir(scan->cur->dir);
    if (entry == nullptr) {
      const int err = errno;
      if (err == 0) {
        leave(scan);
        continue;
      }
      // Reported with the directory's name; left on the next call.
      scan->path[scan->cur->len] = '\0';
      scan->leave_pending = true;
      if (name_out != nullptr) *name_out = scan->path;
      return failed(err, err_out);
    }
    const char *name = entry->d_name;
    if (name[0] == '.' &&
        (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
      continue;
    const size_t len = scan->cur->len;
    const size_t sep = len > 0 && !ksi_is_sep(scan->path[len - 1]) ? 1 : 0;
    const size_t n = std::strlen(name);
    if (name_out != nullptr) *name_out = scan->path;
    if (len + sep + n >= kScanPathSize) return failed(ENAMETOOLONG, err_out);
    if (sep) scan->path[len] = '\\';
    std::memcpy(scan->path + len + sep, name, n + 1);
    scan->path_len = len + sep + n;
    struct stat st;
    if (fileutl_stat(scan->path, scan->follow, &st) != 0)
      return failed(errno, err_out);
    if (S_ISDIR(st.st_mode) && !is_ancestor(scan, &st)) {
      scan->enter_pending = true;
      scan->pending_st = st;
    }
    if (st_out != nullptr) *st_out = st;
    return 1;
  }
  return 0;
}

void fileutl_scan_tree_end(fileutl_scan_t **scan) {
  if (scan == nullptr || *scan == nullptr) return;
  while ((*scan)->cur != nullptr) leave(*scan);
  stg_area_t area = (*scan)->area;
  stg_delete_area(&area);
  *scan = nullptr;
}

}  // extern "C"
