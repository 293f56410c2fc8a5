// Search lists: a name looked for along a ';'-separated list of
// directories, as it stands and with extensions appended, and a wildcard
// pattern resolved in the first directory that holds matches.
#include <orvexks/fileutl.h>
#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/wild.h>
#include <orvexnt/nt_registry.h>

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "file/fileutl_internal.h"

namespace {

constexpr size_t kCandidateMax = 1024;
constexpr size_t kPathMax = 4096;
constexpr int kFound = 0;
constexpr int kTooLong = 1;
constexpr int kNone = 2;

bool accessible(const char *candidate, int mode) {
  char host_path[kPathMax];
  return nt_map_path(candidate, host_path, sizeof host_path) == 0 &&
         access(host_path, mode) == 0;
}

// candidate = base + extension (n bytes of it); false with ENAMETOOLONG
// past the candidate limit.
bool compose(char *candidate, const char *base, const char *ext, size_t n) {
  const size_t len = std::strlen(base);
  if (len + n > kCandidateMax) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(candidate, base, len);
  std::memcpy(candidate + len, ext, n);
  candidate[len + n] = '\0';
  return true;
}

// base as it stands, then with each ';'-separated extension of exts.
int try_extensions(const char *base, int mode, const char *exts, size_t size,
                   char *out) {
  char candidate[kCandidateMax + 1];
  if (!compose(candidate, base, "", 0)) return kTooLong;
  if (accessible(candidate, mode))
    return ksi_path_copy(out, size, candidate) ? kFound : kTooLong;
  for (const char *ext = exts; ext != nullptr && *ext != '\0';) {
    const size_t n = std::strcspn(ext, ";");
    if (n > 0) {
      if (!compose(candidate, base, ext, n)) return kTooLong;
      if (accessible(candidate, mode))
        return ksi_path_copy(out, size, candidate) ? kFound : kTooLong;
    }
    ext += n + (ext[n] == ';');
  }
  return kNone;
}

// An entry of a ';'-separated list: its start and length.
struct Entry {
  const char *start;
  size_t length;
};

// Calls visit(entry, index) for each non-empty entry of dirs from index
// start on, until one gives something other than kNone.
template <typename Visit>
int for_each_dir(const char *dirs, int start, Visit visit) {
  int index = 0;
  for (const char *p = dirs;; ++index) {
    const size_t n = std::strcspn(p, ";");
    if (index >= start && n > 0) {
      const int rc = visit(Entry{p, n}, index);
      if (rc != kNone) return rc;
    }
    if (p[n] == '\0') return kNone;
    p += n + 1;
  }
}

// dir (n bytes), a '\' unless it ends in a separator, and name.
bool join(char *out, const Entry &dir, const char *name) {
  const bool sep = ksi_is_sep(dir.start[dir.length - 1]);
  if (dir.length + !sep + std::strlen(name) > kCandidateMax) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(out, dir.start, dir.length);
  if (!sep) out[dir.length] = '\\';
  std::strcpy(out + dir.length + !sep, name);
  return true;
}

}  // namespace

namespace {

struct NameList {
  char **names = nullptr;
  int count = 0;
  int capacity = 0;
};

void free_names(char **names) {
  if (names == nullptr) return;
  for (char **p = names; *p != nullptr; ++p) stg_free(*p);
  stg_free(names);
}

// Appends a copy of text, keeping a null after the last name.
bool add_name(NameList *list, const char *text) {
  if (list->count + 1 >= list->capacity) {
    const int bigger = list->capacity == 0 ? 16 : list->capacity * 2;
    auto *grown = static_cast<char **>(
        stg_realloc(list->names, sizeof(char *) * static_cast<size_t>(bigger)));
    if (grown == nullptr) return false;
    list->names = grown;
    list->capacity = bigger;
  }
  char *copy = stg_strdup(text);
  if (copy == nullptr) return false;
  list->names[list->count++] = copy;
  list->names[list->count] = nullptr;
  return true;
}

int compare_names(const void *a, const void *b) {
  return std::strcmp(*static_cast<char *const *>(a),
                     *static_cast<char *const *>(b));
}

// The entries of directory dir that match the compiled pattern, as full
// names. kFound
// with at least one, kNone with none or an unreadable directory, kTooLong
// with errno (ENAMETOOLONG, ENOMEM).
int match_directory(const Entry &dir, const char *compiled, NameList *list) {
  char dir_text[kCandidateMax + 1], host_dir[kPathMax];
  if (dir.length > kCandidateMax) {
    errno = ENAMETOOLONG;
    return kTooLong;
  }
  std::memcpy(dir_text, dir.start, dir.length);
  dir_text[dir.length] = '\0';
  if (nt_map_path(dir_text, host_dir, sizeof host_dir) != 0) return kNone;
  DIR *d = opendir(host_dir);
  if (d == nullptr) return kNone;
  const bool dots = compiled[0] == '.';
  int rc = kNone;
  while (const dirent *entry = readdir(d)) {
    const char *name = entry->d_name;
    const bool is_dot =
        std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
    if ((is_dot && !dots) || !wild_match(compiled, name, 1)) continue;
    char full[kCandidateMax + 1];
    if (!join(full, dir, name) || !add_name(list, full)) {
      if (errno != ENAMETOOLONG) errno = ENOMEM;
      rc = kTooLong;
      break;
    }
    rc = kFound;
  }
  closedir(d);
  if (rc == kTooLong) {
    free_names(list->names);
    *list = NameList{};
  }
  return rc;
}

}  // namespace

extern "C" {

int fileutl_resolve_pathname_index_with_ext(const char *dirs, const char *name,
                                            int start, int mode,
                                            const char *exts, size_t size,
                                            char *out, int *index_out) {
  if (dirs == nullptr || name == nullptr) return kNone;
  return for_each_dir(dirs, start, [&](const Entry &dir, int index) {
    char base[kCandidateMax + 1];
    if (!join(base, dir, name)) return kTooLong;
    const int rc = try_extensions(base, mode, exts, size, out);
    if (rc == kFound && index_out != nullptr) *index_out = index;
    return rc;
  });
}

int fileutl_resolve_pathname_index(const char *dirs, const char *name,
                                   int start, int mode, size_t size, char *out,
                                   int *index_out) {
  return fileutl_resolve_pathname_index_with_ext(dirs, name, start, mode,
                                                 nullptr, size, out, index_out);
}

int fileutl_resolve_pathname(const char *dirs, const char *name, int mode,
                             size_t size, char *out) {
  return fileutl_resolve_pathname_index_with_ext(dirs, name, 0, mode, nullptr,
                                                 size, out, nullptr);
}

int fileutl_resolve_pathname_by_ext(const char *path, int mode,
                                    const char *exts, size_t size, char *out) {
  if (path == nullptr) return kNone;
  return try_extensions(path, mode, exts, size, out);
}

int fileutl_resolve_pattern_index(const char *dirs, const char *pattern,
                                  int start, char ***names_out, int *count_out,
                                  int *index_out) {
  if (names_out != nullptr) *names_out = nullptr;
  if (dirs == nullptr || pattern == nullptr || names_out == nullptr) {
    errno = EINVAL;
    return kTooLong;
  }
  char compiled[2 * kCandidateMax + 8];
  const int length =
      wild_compile_pattern(pattern, sizeof compiled, compiled, nullptr);
  if (length < 0) {
    errno = length == WILD_BAD_PATTERN ? EINVAL : ENAMETOOLONG;
    return kTooLong;
  }
  // Raises are held off while a directory is open: running out of memory
  // prints a message, where a raise could be delivered.
  NameList list;
  pfm_inhibit();
  const int rc = for_each_dir(dirs, start, [&](const Entry &dir, int index) {
    const int found = match_directory(dir, compiled, &list);
    if (found == kFound && index_out != nullptr) *index_out = index;
    return found;
  });
  const int err = errno;
  pfm_enable();
  errno = err;
  if (rc != kFound) return rc;
  std::qsort(list.names, static_cast<size_t>(list.count), sizeof(char *),
             compare_names);
  *names_out = list.names;
  if (count_out != nullptr) *count_out = list.count;
  return kFound;
}

void fileutl_resolve_pattern_free(char **names) { free_names(names); }

}  // extern "C"
