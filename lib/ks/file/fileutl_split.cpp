// Splitting path names: leaf and directory, base and suffix, host prefix,
// root and rest.
#include <orvexks/fileutl.h>
#include <orvexks/pfm.h>

#include <cstring>

#include "file/fileutl_internal.h"

namespace {

// The end of p without its trailing separators.
const char *trimmed_end(const char *p) {
  const char *end = p + std::strlen(p);
  while (end > p && ksi_is_sep(end[-1])) --end;
  return end;
}

// The start of the last run of separators before end (stepping whole
// characters), or null when there is none.
const char *last_sep_run(const char *p, const char *end) {
  const char *run = nullptr;
  bool in_run = false;
  for (const char *q = p; q < end; q += ksi_path_step(q)) {
    if (ksi_is_sep(*q)) {
      if (!in_run) run = q;
      in_run = true;
    } else {
      in_run = false;
    }
  }
  return run;
}

}  // namespace

extern "C" {

int fileutl_strip_leaf(const char *p, size_t dsize, char *dir, size_t lsize,
                       char *leaf) {
  const char *end = trimmed_end(p);
  if (end == p && *p != '\0')  // separators only: a root, no leaf
    return ksi_path_copy(dir, dsize, p) && ksi_path_copy(leaf, lsize, "", 0)
               ? 0
               : 1;
  const char *run = last_sep_run(p, end);
  if (run == nullptr)
    return ksi_path_copy(dir, dsize, "", 0) &&
                   ksi_path_copy(leaf, lsize, p, end - p)
               ? 0
               : 1;
  const char *leaf_start = run;
  while (ksi_is_sep(*leaf_start)) ++leaf_start;
  // A root is kept whole: \x gives \, X:\x gives X:\.
  const char *dir_end = run;
  if (run == p || (run == p + 2 && fileutl_has_drive(p))) dir_end = leaf_start;
  return ksi_path_copy(dir, dsize, p, dir_end - p) &&
                 ksi_path_copy(leaf, lsize, leaf_start, end - leaf_start)
             ? 0
             : 1;
}

int fileutl_strip_suffix(const char *p, size_t bsize, char *base, size_t ssize,
                         char *suffix) {
  const char *end = trimmed_end(p);
  const char *run = last_sep_run(p, end);
  const char *dot = nullptr;
  for (const char *q = run != nullptr ? run : p; q < end; q += ksi_path_step(q))
    if (*q == '.') dot = q;
  if (dot == nullptr)
    return ksi_path_copy(base, bsize, p, end - p) &&
                   ksi_path_copy(suffix, ssize, "", 0)
               ? 0
               : 1;
  return ksi_path_copy(base, bsize, p, dot - p) &&
                 ksi_path_copy(suffix, ssize, dot, end - dot)
             ? 0
             : 1;
}

int fileutl_strip_hostname(const char *p, size_t hsize, char *host,
                           size_t psize, char *path) {
  for (const char *q = p; *q != '\0' && !ksi_is_sep(*q);
       q += ksi_path_step(q)) {
    if (*q == ':' && q != p)
      return ksi_path_copy(host, hsize, p, q - p) &&
                     ksi_path_copy(path, psize, q + 1)
                 ? 0
                 : 1;
  }
  return ksi_path_copy(host, hsize, "", 0) && ksi_path_copy(path, psize, p) ? 0
                                                                            : 1;
}

int fileutl_root_split(const char *p, char *root, size_t rsize, char *rest,
                       size_t restsize) {
  if (!fileutl_is_abspn(p)) pfm_panic(__FILE__, __LINE__);
  const char *root_end;
  if (fileutl_is_unc_pn(p) || (fileutl_is_root_pn(p) && ksi_is_sep(p[1]))) {
    // \\host\share and one separator after it.
    root_end = p + 2;
    while (*root_end != '\0' && !ksi_is_sep(*root_end))
      root_end += ksi_path_step(root_end);
    while (ksi_is_sep(*root_end)) ++root_end;
    while (*root_end != '\0' && !ksi_is_sep(*root_end))
      root_end += ksi_path_step(root_end);
    if (*root_end != '\0') ++root_end;
  } else {
    root_end = fileutl_has_drive(p) ? p + 3 : p + 1;  // X:\ or \ .
  }
  const char *rest_start = root_end;
  while (ksi_is_sep(*rest_start)) ++rest_start;
  return ksi_path_copy(root, rsize, p, root_end - p) &&
                 ksi_path_copy(rest, restsize, rest_start)
             ? 0
             : 1;
}

}  // extern "C"
