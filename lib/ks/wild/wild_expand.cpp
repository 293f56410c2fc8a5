// Expanding one word against the file system, component by component:
// plain components are joined as written, wildcard components are matched
// against the entries of the directory reached so far, and "..." stands
// for that directory and every directory below it.
#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/wild.h>
#include <orvexnt/nt_registry.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wild/wild_glob_internal.h"
#include "wild/wild_internal.h"

namespace {

// More matches than this in one directory end the expansion.
constexpr size_t kMaxMatches = 4095;

// The host path of the first len bytes of the written path, in g->host:
// relative paths under base, the empty path as base or ".". 0 or an errno.
int map_to_host(WildGlob *g, size_t len) {
  const char *text = g->path;
  if (g->relative && g->base != nullptr && g->base[0] != '\0') {
    const size_t blen = std::strlen(g->base);
    const bool sep = wild_is_sep(g->base[blen - 1]);
    if (blen + 1 + len >= sizeof g->lookup) return ENAMETOOLONG;
    std::memcpy(g->lookup, g->base, blen);
    size_t at = blen;
    if (!sep && len > 0) g->lookup[at++] = '\\';
    std::memcpy(g->lookup + at, g->path, len);
    g->lookup[at + len] = '\0';
    text = g->lookup;
  } else if (len == 0) {
    text = ".";
  }
  const char saved = g->path[len];
  g->path[len] = '\0';
  const int rc = nt_map_path(text, g->host, sizeof g->host);
  g->path[len] = saved;
  return rc;
}

// Appends n bytes to the written path at len; the new length, or 0 with
// *rc set when it does not fit.
size_t path_append(WildGlob *g, size_t len, const char *bytes, size_t n,
                   int *rc) {
  if (len + n >= sizeof g->path) {
    *rc = ENAMETOOLONG;
    return 0;
  }
  std::memcpy(g->path + len, bytes, n);
  g->path[len + n] = '\0';
  return len + n;
}

// A directory that cannot be read: its error, unless the caller asked to
// pass over such directories.
int unreadable(const WildGlob *g, int err) {
  return (g->flags & WILD_GLOB_IGNORE_UNREADABLE) != 0 ? 0 : err;
}

bool is_dot_entry(const char *name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// True when the entry of the open directory is a directory (through a
// link when follow is set).
bool entry_is_dir(DIR *d, const dirent *e, bool follow) {
  if (e->d_type == DT_DIR) return true;
  if (e->d_type != DT_UNKNOWN && !(follow && e->d_type == DT_LNK)) return false;
  struct stat st;
  return fstatat(dirfd(d), e->d_name, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) ==
             0 &&
         S_ISDIR(st.st_mode);
}

bool push_name(WildGlob *g, const char *name) {
  if (g->name_count == g->name_capacity) {
    const size_t bigger = g->name_capacity == 0 ? 64 : g->name_capacity * 2;
    auto *grown = static_cast<uint32_t *>(
        stg_realloc(g->name_at, sizeof(uint32_t) * bigger));
    if (grown == nullptr) return false;
    g->name_at = grown;
    g->name_capacity = bigger;
  }
  g->name_at[g->name_count++] = static_cast<uint32_t>(g->names.length);
  return wild_text_append(&g->names, name, std::strlen(name) + 1);
}

// What a directory read keeps: the entries matching comp (null: every
// subdirectory, links not followed); with need_dir only directories.
struct Filter {
  const WildComponent *comp;
  const char *compiled;
  bool dots;  // "." and ".." take part
  bool need_dir;
};

// Stacks the kept entries of the directory at the first len bytes of the
// written path, sorted by byte value. 0 (also for a directory that does not
// exist), WILD_NO_ROOM, or the directory's error.
int read_dir(WildGlob *g, size_t len, const Filter &f) {
  const int mapped = map_to_host(g, len);
  if (mapped == ENOENT) return 0;
  if (mapped != 0) return unreadable(g, mapped);
  // An interrupt may end a long expansion here; the cleanup closes the
  // directory and frees the scratch storage.
  pfm_test_raise(nullptr);
  g->dir = opendir(g->host);
  if (g->dir == nullptr) {
    const int err = errno;
    return err == ENOENT || err == ENOTDIR ? 0 : unreadable(g, err);
  }
  const size_t first = g->name_count;
  int rc = 0;
  for (;;) {
    errno = 0;
    const dirent *e = readdir(g->dir);
    if (e == nullptr) {
      if (errno != 0) rc = unreadable(g, errno);
      break;
    }
    const char *name = e->d_name;
    if (is_dot_entry(name) && !f.dots) continue;
    if (f.comp != nullptr && !wild_match(f.compiled, name, 1)) continue;
    if (f.need_dir && !entry_is_dir(g->dir, e, f.comp != nullptr)) continue;
    if (g->name_count - first == kMaxMatches || !push_name(g, name)) {
      rc = WILD_NO_ROOM;
      break;
    }
  }
  closedir(g->dir);
  g->dir = nullptr;
  const char *names = g->names.data;
  std::sort(g->name_at + first, g->name_at + g->name_count,
            [names](uint32_t a, uint32_t b) {
              return std::strcmp(names + a, names + b) < 0;
            });
  return rc;
}

// Drops the names stacked since first.
void pop_names(WildGlob *g, size_t first) {
  if (g->name_count > first) g->names.length = g->name_at[first];
  g->name_count = first;
}

// Adds the written path (its first len bytes) to the result. A name that
// ends in plain components (listed false) must exist; a word that ends
// with a separator names directories only.
int emit(WildGlob *g, size_t len, bool listed) {
  if (!g->ends_with_sep)
    while (len > 1 && wild_is_sep(g->path[len - 1])) --len;
  if (!listed) {
    if (map_to_host(g, len) != 0) return 0;
    struct stat st;
    const int rc = g->ends_with_sep ? stat(g->host, &st) : lstat(g->host, &st);
    if (rc != 0 || (g->ends_with_sep && !S_ISDIR(st.st_mode))) return 0;
  }
  return wild_add_result(g, g->path, len);
}

int expand(WildGlob *g, size_t i, size_t len, bool listed);

// The compiled form of a component.
const char *compiled_of(const WildGlob *g, const WildComponent &c) {
  return g->compiled.data + c.compiled;
}

// Appends name and then n bytes of separators to the written path at len:
// the new length, or 0 with *rc set.
size_t join(WildGlob *g, size_t len, const char *name, const char *seps,
            size_t n, int *rc) {
  const size_t at = path_append(g, len, name, std::strlen(name), rc);
  return at == 0 ? 0 : path_append(g, at, seps, n, rc);
}

// "...": the rest of the word here, then below every subdirectory.
int expand_levels(WildGlob *g, size_t i, size_t len, bool listed) {
  int rc = expand(g, i + 1, len, listed);
  if (rc != 0) return rc;
  const WildComponent &c = g->comps[i];
  // A "..." that ends the word joins the levels with the separator
  // written before it.
  const char *seps = g->word.data + c.seps;
  size_t seps_length = c.seps_length;
  if (seps_length == 0) {
    seps = i > 0 ? g->word.data + g->comps[i - 1].seps : "\\";
    seps_length = 1;
  }
  const size_t first = g->name_count;
  rc = read_dir(g, len, Filter{nullptr, nullptr, false, true});
  for (size_t k = first; rc == 0 && k < g->name_count; ++k) {
    const size_t at =
        join(g, len, g->names.data + g->name_at[k], seps, seps_length, &rc);
    if (rc == 0) rc = expand_levels(g, i, at, true);
  }
  pop_names(g, first);
  return rc;
}

// A wildcard component: every matching entry of the directory so far.
int expand_matches(WildGlob *g, size_t i, size_t len) {
  const WildComponent &c = g->comps[i];
  const char *text = g->word.data + c.text;
  const bool need_dir = i + 1 < g->comp_count || c.seps_length > 0;
  const size_t first = g->name_count;
  int rc =
      read_dir(g, len, Filter{&c, compiled_of(g, c), text[0] == '.', need_dir});
  for (size_t k = first; rc == 0 && k < g->name_count; ++k) {
    const size_t at = join(g, len, g->names.data + g->name_at[k],
                           g->word.data + c.seps, c.seps_length, &rc);
    if (rc == 0) rc = expand(g, i + 1, at, true);
  }
  pop_names(g, first);
  return rc;
}

// Expands components i and after onto the written path's first len bytes.
// listed: the path so far was read from a directory, so it exists.
int expand(WildGlob *g, size_t i, size_t len, bool listed) {
  if (i == g->comp_count) return emit(g, len, listed);
  const WildComponent &c = g->comps[i];
  if (c.levels) return expand_levels(g, i, len, listed);
  if (c.wild) return expand_matches(g, i, len);
  // A plain component: its text with quoting removed, then its separators.
  int rc = 0;
  size_t at = len;
  for (const char *q = compiled_of(g, c); *q != '\0' && rc == 0;) {
    const size_t n = q[0] == kWildEsc ? 2 : 1;  // a literal 0x01
    at = path_append(g, at, q + n - 1, 1, &rc);
    q += n;
  }
  if (rc == 0 && c.seps_length > 0)
    at = path_append(g, at, g->word.data + c.seps, c.seps_length, &rc);
  return rc != 0 ? rc : expand(g, i + 1, at, false);
}

bool add_component(WildGlob *g, const WildComponent &c) {
  if (g->comp_count == g->comp_capacity) {
    const size_t bigger = g->comp_capacity == 0 ? 16 : g->comp_capacity * 2;
    auto *grown = static_cast<WildComponent *>(
        stg_realloc(g->comps, sizeof(WildComponent) * bigger));
    if (grown == nullptr) return false;
    g->comps = grown;
    g->comp_capacity = bigger;
  }
  g->comps[g->comp_count++] = c;
  return true;
}

// Compiles the n bytes at text onto the end of g->compiled: their offset
// there and *wild, or WILD_BAD_PATTERN, WILD_NO_ROOM.
long compile_into(WildGlob *g, const char *text, size_t n, int *wild) {
  g->scratch.length = 0;
  if (!wild_text_append(&g->scratch, text, n)) return WILD_NO_ROOM;
  // The compiled form takes at most two bytes a character, plus the
  // reserve.
  const size_t size = 2 * n + 8, at = g->compiled.length;
  if (!wild_text_reserve(&g->compiled, size)) return WILD_NO_ROOM;
  const int rc =
      wild_compile_pattern(g->scratch.data, size, g->compiled.data + at, wild);
  if (rc < 0) return rc;
  g->compiled.length = at + static_cast<size_t>(rc);
  return static_cast<long>(at);
}

// Splits the word at its separator runs into compiled components. 0, or
// WILD_BAD_PATTERN, WILD_NO_ROOM.
int split_components(WildGlob *g) {
  g->comp_count = 0;
  const char *w = g->word.data;
  const size_t n = g->word.length;
  WildChars chars;
  size_t start = 0;
  while (start < n) {
    size_t end = start;
    while (end < n && !wild_is_sep(w[end]))
      end += static_cast<size_t>(chars.step(w + end));
    size_t seps_end = end;
    while (seps_end < n && wild_is_sep(w[seps_end])) ++seps_end;
    WildComponent c{start, end - start, end, seps_end - end, 0, false, false};
    int wild = 0;
    const long at = compile_into(g, w + start, end - start, &wild);
    if (at < 0) return static_cast<int>(at);
    c.compiled = static_cast<size_t>(at);
    c.wild = wild != 0;
    c.levels = std::strcmp(compiled_of(g, c), "\x01\x05") == 0;
    if (!add_component(g, c)) return WILD_NO_ROOM;
    start = seps_end;
  }
  return 0;
}

}  // namespace

int wild_expand_word(WildGlob *g) {
  const char *w = g->word.data;
  const size_t n = g->word.length;
  if (n == 0) return 0;
  g->compiled.length = 0;
  int wild = 0;
  const long whole = compile_into(g, w, n, &wild);
  if (whole == WILD_NO_ROOM) return WILD_NO_ROOM;
  // A malformed pattern names itself, as written.
  if (whole == WILD_BAD_PATTERN) return wild_add_result(g, w, n);
  if (wild == 0) {
    // No wildcards: the word itself, its quoting removed.
    int rc = 0;
    size_t at = 0;
    for (const char *q = g->compiled.data; *q != '\0' && rc == 0;) {
      const size_t step = q[0] == kWildEsc ? 2 : 1;
      at = path_append(g, at, q + step - 1, 1, &rc);
      q += step;
    }
    return rc != 0 ? rc : wild_add_result(g, g->path, at);
  }
  g->compiled.length = 0;
  const int split = split_components(g);
  if (split == WILD_BAD_PATTERN) return wild_add_result(g, w, n);
  if (split != 0) return split;
  g->relative = !wild_is_sep(w[0]) && !(w[0] != '\0' && w[1] == ':');
  g->ends_with_sep = wild_is_sep(w[n - 1]);
  return expand(g, 0, 0, false);
}
