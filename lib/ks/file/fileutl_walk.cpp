// The tree walker: visitors called for a root and, depth first, for every
// entry below it, before and after each directory's contents.
//
// One walk runs at a time in the process (a library mutex is held for the
// whole walk). The walk owns its state in one heap block and records every
// directory it holds open there, so a raise out of a callback or a message
// closes them, frees the block and releases the mutex before it goes on.
#include <orvexks/fileutl.h>
#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>
#include <orvexks/stg.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

#include "file/fileutl_internal.h"

namespace {

// A walk path holds at most 1024 characters; every level adds at least a
// separator and one character, which bounds the depth.
constexpr size_t kWalkPathSize = 1025;
constexpr int kMaxDepth = kWalkPathSize / 2 + 1;

qmthread_mutex_t walk_mutex = QMTHREAD_MUTEX_INITIALIZER_NORAISE;

struct dir_id {
  dev_t dev;
  ino_t ino;
};

struct walk {
  const char *root;
  fileutl_visitor_t *visitors;
  const fileutl_walk_ops_t *ops;
  fileutl_walk_ops_t host_ops;  // the host file system's, bound to this walk
  const char *entry;            // the name the next operation is about
  char host_root[ksi_host_path_max];
  int flags;
  int follow;
  int result;
  bool stopped;
  size_t path_len;
  char path[kWalkPathSize];
  char reldir[kWalkPathSize];
  // The full text of a name too long for path, for its message.
  char too_long[2 * kWalkPathSize];
  int open_count;
  void *open_dirs[kMaxDepth];
  dir_id ancestors[kMaxDepth];
};

void fail(walk *w, const char *path, int err) {
  w->result |= FILEUTL_CB_FAILED;
  if ((w->flags & FILEUTL_WALK_STOP_ON_FAILURE) != 0) w->stopped = true;
  if ((w->flags & FILEUTL_WALK_QUIET) == 0) ksi_print_path_error(path, err);
}

// Calls the visitors that take this entry in phase, collecting their
// control bits in *control. False when the walk ends.
bool visit(walk *w, const char *name, const struct stat *st, int phase,
           int depth, int *control) {
  const bool is_dir = S_ISDIR(st->st_mode);
  const int wanted = phase == 1 ? FILEUTL_VISIT_BEFORE : FILEUTL_VISIT_AFTER;
  for (fileutl_visitor_t *v = w->visitors; v != nullptr; v = v->next) {
    if (is_dir && (v->flags & wanted) == 0) continue;
    const int rc = v->callback(v->arg, w->path, w->root, w->reldir, name, st,
                               phase, depth);
    const int error = rc & ~3;
    *control |= rc & 3;
    w->result |= error;
    if ((rc & FILEUTL_CB_STOP) != 0 ||
        (error != 0 && (w->flags & FILEUTL_WALK_STOP_ON_FAILURE) != 0)) {
      w->stopped = true;
      return false;
    }
  }
  return true;
}

// True when the directory is one of those being walked above it (a link
// loop). A status without an inode number (a caller's tree may have none)
// names no directory.
bool is_loop(const walk *w, const struct stat *st, int depth) {
  if (st->st_ino == 0) return false;
  for (int i = 0; i < depth; ++i)
    if (w->ancestors[i].dev == st->st_dev && w->ancestors[i].ino == st->st_ino)
      return true;
  return false;
}

void walk_entry(walk *w, const char *name, const struct stat *st, int depth);

// Walks the entries of the directory in w->path; name is its own name.
void descend(walk *w, const char *name, const struct stat *st, int depth) {
  const fileutl_walk_ops_t *ops = w->ops;
  w->ancestors[depth] = {st->st_dev, st->st_ino};
  w->entry = name;
  void *dir = ops->open_dir(ops->arg, w->path);
  if (dir == nullptr) {
    fail(w, w->path, errno);
    return;
  }
  w->open_dirs[w->open_count++] = dir;

  // The entries' directory relative to the root: "" below the root itself.
  const size_t rel_len = std::strlen(w->reldir);
  if (depth > 0) {
    const size_t n = std::strlen(name);
    if (rel_len > 0) w->reldir[rel_len] = '\\';
    std::memcpy(w->reldir + rel_len + (rel_len > 0), name, n + 1);
  }
  const size_t len = w->path_len;
  const size_t sep = len > 0 && !ksi_is_sep(w->path[len - 1]) ? 1 : 0;
  while (!w->stopped) {
    errno = 0;
    const char *entry = ops->read_entry(ops->arg, dir);
    if (entry == nullptr) {
      if (errno != 0) fail(w, w->path, errno);
      break;
    }
    if (entry[0] == '.' &&
        (entry[1] == '\0' || (entry[1] == '.' && entry[2] == '\0')))
      continue;
    const size_t n = std::strlen(entry);
    if (len + sep + n >= kWalkPathSize) {
      std::memcpy(w->too_long, w->path, len);
      w->too_long[len] = '\\';
      const size_t room = sizeof w->too_long - len - sep - 1;
      std::memcpy(w->too_long + len + sep, entry, n < room ? n : room);
      w->too_long[len + sep + (n < room ? n : room)] = '\0';
      fail(w, w->too_long, ENAMETOOLONG);
      continue;
    }
    if (sep) w->path[len] = '\\';
    std::memcpy(w->path + len + sep, entry, n + 1);
    w->path_len = len + sep + n;
    struct stat entry_st;
    w->entry = w->path + len + sep;
    if (ops->status(ops->arg, w->path, w->follow, &entry_st) != 0)
      fail(w, w->path, errno);
    else
      walk_entry(w, w->path + len + sep, &entry_st, depth + 1);
    w->path_len = len;
    w->path[len] = '\0';
  }
  ops->close_dir(ops->arg, dir);
  --w->open_count;
  w->reldir[rel_len] = '\0';
}

void walk_entry(walk *w, const char *name, const struct stat *st, int depth) {
  int control = 0;
  if (!visit(w, name, st, 1, depth, &control)) return;
  if (depth == 0 && control != 0) {
    w->stopped = true;
    return;
  }
  if (!S_ISDIR(st->st_mode)) return;
  if ((w->flags & FILEUTL_WALK_DESCEND) != 0 &&
      (control & FILEUTL_CB_NO_DESCEND) == 0 && !is_loop(w, st, depth)) {
    descend(w, name, st, depth);
    if (w->stopped) return;
  }
  visit(w, name, st, 2, depth, &control);
}

void run(walk *w) {
  const size_t n = std::strlen(w->root);
  if (n >= kWalkPathSize) {
    fail(w, w->root, ENAMETOOLONG);
    return;
  }
  std::memcpy(w->path, w->root, n + 1);
  w->path_len = n;
  w->reldir[0] = '\0';
  struct stat st;
  if (w->ops->status(w->ops->arg, w->root, w->follow, &st) != 0) {
    fail(w, w->root, errno);
    return;
  }
  walk_entry(w, "", &st, 0);
}

// The host file system's operations. The root is mapped once; below it
// every entry is reached from its open directory by name, so no path is
// mapped or resolved again.
int host_status(void *arg, const char *path, int follow, struct stat *st) {
  auto *w = static_cast<walk *>(arg);
  if (w->open_count == 0) {
    const int err = ksi_map_host_path(path, w->host_root);
    if (err != 0) {
      errno = err;
      return -1;
    }
    return follow ? stat(w->host_root, st) : lstat(w->host_root, st);
  }
  DIR *parent = static_cast<DIR *>(w->open_dirs[w->open_count - 1]);
  return fstatat(dirfd(parent), w->entry, st, follow ? 0 : AT_SYMLINK_NOFOLLOW);
}

void *host_open_dir(void *arg, const char *) {
  auto *w = static_cast<walk *>(arg);
  if (w->open_count == 0) return opendir(w->host_root);
  DIR *parent = static_cast<DIR *>(w->open_dirs[w->open_count - 1]);
  const int fd =
      openat(dirfd(parent), w->entry, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR *dir = fdopendir(fd);
  if (dir == nullptr) {
    const int err = errno;
    close(fd);
    errno = err;
  }
  return dir;
}

const char *host_read_entry(void *, void *dir) {
  const struct dirent *entry = readdir(static_cast<DIR *>(dir));
  return entry != nullptr ? entry->d_name : nullptr;
}

void host_close_dir(void *, void *dir) { closedir(static_cast<DIR *>(dir)); }

// Walks with ops, or with the host file system's when ops is null.
int walk_tree(const char *root, fileutl_visitor_t *visitors,
              const fileutl_walk_ops_t *ops, int flags) {
  if (root == nullptr) {
    errno = EINVAL;
    return FILEUTL_CB_FAILED;
  }
  auto *w = static_cast<walk *>(stg_malloc(sizeof(walk)));
  if (w == nullptr) return FILEUTL_CB_FAILED;
  w->host_ops = {host_status, host_open_dir, host_read_entry, host_close_dir,
                 w};
  w->root = root;
  w->visitors = visitors;
  w->ops = ops != nullptr ? ops : &w->host_ops;
  w->flags = flags;
  w->follow = (flags & FILEUTL_WALK_LSTAT) == 0;
  w->result = 0;
  w->stopped = false;
  w->open_count = 0;

  qmthread_mutex_lock(&walk_mutex);
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) != 0) {
    while (w->open_count > 0)
      w->ops->close_dir(w->ops->arg, w->open_dirs[--w->open_count]);
    qmthread_mutex_unlock(&walk_mutex);
    stg_free(w);
    pfm_raise(static_cast<uint32_t>(rec.status));
  }
  run(w);
  pfm_cleanup_rls(&rec);
  qmthread_mutex_unlock(&walk_mutex);
  const int result = w->result;
  stg_free(w);
  return result;
}

}  // namespace

extern "C" {

int fileutl_walk_tree_any(const char *root, fileutl_visitor_t *visitors,
                          const fileutl_walk_ops_t *ops, int flags) {
  if (ops == nullptr) {
    errno = EINVAL;
    return FILEUTL_CB_FAILED;
  }
  return walk_tree(root, visitors, ops, flags);
}

int fileutl_walk_tree(const char *root, fileutl_visitor_t *visitors,
                      int flags) {
  return walk_tree(root, visitors, nullptr, flags);
}

}  // extern "C"
