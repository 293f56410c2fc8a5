// Path names that touch the file system: the current directory, full and
// object names, names as stored on disk, and program files.
#include <orvexks/fileutl.h>
#include <orvexks/ntpfxmap.h>
#include <orvexnt/nt_env.h>
#include <orvexnt/nt_registry.h>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "file/fileutl_internal.h"

namespace {

constexpr size_t kPathMax = 4096;
constexpr size_t kProgMax = 1024;  // a program's full name fits this

bool join(char *out, size_t size, const char *dir, const char *leaf) {
  const size_t d = std::strlen(dir);
  const bool sep = d > 0 && dir[d - 1] != '/';
  if (d + sep + std::strlen(leaf) >= size) return false;
  std::memcpy(out, dir, d);
  if (sep) out[d] = '/';
  std::strcpy(out + d + sep, leaf);
  return true;
}

bool is_program_file(const char *host_path) {
  struct stat st;
  return stat(host_path, &st) == 0 && !S_ISDIR(st.st_mode);
}

// The platform's path search: the current directory, then each directory
// of $PATH; the full name joins directory and leaf with '/'.
bool search_path(const char *leaf, char *out, size_t size) {
  char cwd[kPathMax], candidate[kPathMax];
  if (getcwd(cwd, sizeof cwd) != nullptr &&
      join(candidate, sizeof candidate, cwd, leaf) &&
      is_program_file(candidate))
    return ksi_path_copy(out, size, candidate);
  const char *path = nt_getenv_safe("PATH");
  for (const char *p = path; p != nullptr && *p != '\0';) {
    const size_t n = std::strcspn(p, ":");
    char dir[kPathMax];
    if (n > 0 && n < sizeof dir) {
      std::memcpy(dir, p, n);
      dir[n] = '\0';
      if (join(candidate, sizeof candidate, dir, leaf) &&
          is_program_file(candidate))
        return ksi_path_copy(out, size, candidate);
    }
    p += n + (p[n] == ':');
  }
  return false;
}

// The stored spelling of name in the host directory dir: name itself when it
// exists, else the entry that equals it without regard to case. False with
// errno when there is none.
bool stored_name(const char *dir, const char *name, char *out, size_t size) {
  char probe[kPathMax];
  struct stat st;
  if (!join(probe, sizeof probe, dir[0] != '\0' ? dir : ".", name)) {
    errno = ENAMETOOLONG;
    return false;
  }
  if (lstat(probe, &st) == 0) return ksi_path_copy(out, size, name);
  const int saved = errno;
  DIR *d = opendir(dir[0] != '\0' ? dir : ".");
  bool found = false;
  if (d != nullptr) {
    while (const dirent *entry = readdir(d)) {
      if (strcasecmp(entry->d_name, name) == 0) {
        found = ksi_path_copy(out, size, entry->d_name);
        break;
      }
    }
    closedir(d);
  }
  if (!found && errno != ENAMETOOLONG) errno = saved;
  return found;
}

}  // namespace

int ksi_full_host_path(const char *p, char *out, size_t size) {
  char mapped[kPathMax], joined[kPathMax];
  const int rc = nt_map_path(p, mapped, sizeof mapped);
  if (rc != 0) return rc;
  const char *full = mapped;
  if (mapped[0] != '/') {
    char cwd[kPathMax];
    if (getcwd(cwd, sizeof cwd) == nullptr) return errno;
    if (!join(joined, sizeof joined, cwd, mapped)) return ENAMETOOLONG;
    full = joined;
  }
  if (fileutl_remove_embedded_dots(full, out, size) == nullptr)
    return ENAMETOOLONG;
  for (char *q = out; *q != '\0'; ++q)
    if (*q == '\\') *q = '/';
  return 0;
}

bool ksi_host_path_exists(const char *host_path) {
  struct stat st;
  return stat(host_path, &st) == 0;
}

extern "C" {

int fileutl_getcwd(char *buf, size_t size) {
  if (buf == nullptr || size == 0) {
    errno = EINVAL;
    return -1;
  }
  return getcwd(buf, size) != nullptr ? 0 : -1;
}

int fileutl_abspn(const char *p, char *out, size_t size) {
  if (p == nullptr || out == nullptr || size == 0) {
    errno = EINVAL;
    return -1;
  }
  const int rc = ksi_full_host_path(p, out, size);
  if (rc == 0) return 0;
  errno = rc;
  return -1;
}

int fileutl_absobjpn(const char *p, char *out, size_t size) {
  if (size == 0) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return fileutl_abspn(p, out, size);
}

int fileutl_get_true_pname(const char *src, size_t size, char *dst) {
  char built[kPathMax], host_dir[kPathMax], name[kPathMax];
  // The part copied unchanged: \\host\share of a UNC name, the text up to
  // the last ':' of a drive path.
  const char *p = src;
  if (fileutl_is_unc_pn(src)) {
    p += 2;
    for (int part = 0; part < 2; ++part) {
      while (*p != '\0' && !ksi_is_sep(*p)) p += ksi_path_step(p);
      while (part == 0 && ksi_is_sep(*p)) ++p;
    }
  } else if (fileutl_has_drive(src)) {
    p = std::strrchr(src, ':') + 1;
  }
  if (!ksi_path_copy(built, sizeof built, src, p - src)) return 1;
  size_t len = p - src;
  while (*p != '\0') {
    const char *start = p;
    if (ksi_is_sep(*p)) {
      while (ksi_is_sep(*p)) ++p;
    } else {
      while (*p != '\0' && !ksi_is_sep(*p)) p += ksi_path_step(p);
      const size_t n = p - start;
      const bool dots = (n == 1 && *start == '.') ||
                        (n == 2 && start[0] == '.' && start[1] == '.');
      if (!dots) {
        if (n >= sizeof name) {
          errno = ENAMETOOLONG;
          return 1;
        }
        std::memcpy(name, start, n);
        name[n] = '\0';
        if (nt_map_path(built, host_dir, sizeof host_dir) != 0)
          host_dir[0] = '\0';
        if (built[0] == '\0') host_dir[0] = '\0';
        if (!stored_name(host_dir, name, name, sizeof name)) return 1;
        if (!ksi_path_copy(built + len, sizeof built - len, name)) return 1;
        len += std::strlen(name);
        continue;
      }
    }
    if (!ksi_path_copy(built + len, sizeof built - len, start, p - start))
      return 1;
    len += p - start;
  }
  return ksi_path_copy(dst, size, built) ? 0 : 1;
}

int fileutl_get_true_pn(char *p) {
  char result[kProgMax + 1];
  if (fileutl_get_true_pname(p, sizeof result, result) != 0) return 1;
  std::strcpy(p, result);
  return 0;
}

int fileutl_get_true_leaf(const char *p, size_t size, char *leaf) {
  char stored[kPathMax], dir[kPathMax];
  if (p == nullptr) {
    errno = EINVAL;
    return 1;
  }
  if (fileutl_get_true_pname(p, sizeof stored, stored) != 0) return 1;
  return fileutl_strip_leaf(stored, sizeof dir, dir, size, leaf);
}

int fileutl_expand_prog_pn(const char *prog, int *not_found, char *out,
                           size_t size) {
  static const char *const kSuffixes[] = {"", ".com", ".exe", ".bat", ".cmd"};
  char dir[kPathMax], leaf[kPathMax], hit[kProgMax + 1];
  bool found = false;
  if (fileutl_strip_leaf(prog, sizeof dir, dir, sizeof leaf, leaf) == 0) {
    if (std::strchr(leaf, '.') != nullptr) {
      found = dir[0] == '\0' && search_path(leaf, hit, sizeof hit);
    } else {
      for (const char *suffix : kSuffixes) {
        char candidate[kPathMax], host_path[kPathMax];
        const char *name = dir[0] != '\0' ? prog : leaf;
        if (std::snprintf(candidate, sizeof candidate, "%s%s", name, suffix) >=
            static_cast<int>(sizeof candidate))
          continue;
        if (dir[0] != '\0')
          found = nt_map_path(candidate, host_path, sizeof host_path) == 0 &&
                  is_program_file(host_path) &&
                  ksi_path_copy(hit, sizeof hit, candidate);
        else
          found = search_path(candidate, hit, sizeof hit);
        if (found) break;
      }
    }
  }
  if (not_found != nullptr) *not_found = found ? 0 : 1;
  return ksi_path_copy(out, size, found ? hit : prog) ? 0 : 1;
}

int fileutl_pick_path(const char *host, const char *local, char *out,
                      size_t size) {
  if (!ksi_path_copy(out, size, local)) return -1;
  if (host != nullptr && fileutl_is_localhost(host)) return 0;
  // Another host's path is reached through the drive connected to its
  // prefix.
  return ntpfxmap_convert(out, size);
}

}  // extern "C"
