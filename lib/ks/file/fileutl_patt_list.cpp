// Pattern lists and scope lists: which of a list of path patterns a name
// matches by its trailing components, and which of a list of paths holds a
// path.
#include <orvexks/fileutl.h>
#include <orvexks/list.h>
#include <orvexks/pfm.h>

#include <cstring>

#include "file/fileutl_internal.h"

namespace {

#define KSI_FILEUTL_ASSERT(cond, text)                      \
  do {                                                      \
    if (!(cond)) pfm_assert_fail(text, __FILE__, __LINE__); \
  } while (0)

size_t count_separators(const char *p) {
  size_t n = 0;
  for (; *p != '\0'; p += ksi_path_step(p)) n += ksi_is_sep(*p);
  return n;
}

// The tail of name that holds n separators: name itself when it holds
// exactly n, else what follows its (n+1)-th separator from the end; null
// when it holds fewer than n.
const char *tail_with(const char *name, size_t n) {
  const size_t total = count_separators(name);
  if (total < n) return nullptr;
  size_t skip = total - n;
  const char *p = name;
  for (; skip > 0; p += ksi_path_step(p))
    if (ksi_is_sep(*p)) --skip;
  return p;
}

bool has_separator(const char *p) { return count_separators(p) > 0; }

// A '%' pattern: tail starts with the text before the '%' and ends with the
// text after it, which holds no separator.
bool percent_match(const char *pattern, const char *percent, const char *tail) {
  const size_t before = static_cast<size_t>(percent - pattern);
  const char *after = percent + 1;
  const size_t after_len = std::strlen(after);
  const size_t len = std::strlen(tail);
  return !has_separator(after) && len >= before + after_len &&
         std::strncmp(tail, pattern, before) == 0 &&
         std::memcmp(tail + len - after_len, after, after_len) == 0;
}

}  // namespace

extern "C" {

int fileutl_patt_list_matched_cell(list_t *list, const char *name,
                                   list_elem_t **cursor_out, int *exact_out) {
  KSI_FILEUTL_ASSERT(name != nullptr, "name != NULL");
  KSI_FILEUTL_ASSERT(cursor_out != nullptr, "match_cursor_p != NULL");
  KSI_FILEUTL_ASSERT(exact_out != nullptr, "exact != NULL");
  *exact_out = 0;
  *cursor_out = nullptr;
  if (list == nullptr) return 0;
  void *data = nullptr;
  for (list_elem_t *elem = list_next(list, nullptr, &data); elem != nullptr;
       elem = list_next(list, elem, &data)) {
    const auto *pattern = static_cast<const char *>(data);
    if (pattern == nullptr) continue;
    const char *tail = tail_with(name, count_separators(pattern));
    if (tail == nullptr) continue;
    const char *percent = std::strchr(pattern, '%');
    const bool exact = percent == nullptr && fileutl_pname_equal(tail, pattern);
    if (exact ||
        (percent != nullptr && percent_match(pattern, percent, tail))) {
      *exact_out = exact;
      *cursor_out = elem;
      return 1;
    }
  }
  return 0;
}

int fileutl_patt_list_match(list_t *list, const char *name, int *exact_out) {
  list_elem_t *cursor;
  return fileutl_patt_list_matched_cell(list, name, &cursor, exact_out);
}

uint32_t fileutl_pname_scoped_by_list(const char *const *paths, uint32_t count,
                                      const char *path) {
  if (paths == nullptr || path == nullptr) return FILEUTL_NOT_SCOPED;
  for (uint32_t i = 0; i < count; ++i)
    if (paths[i] != nullptr && fileutl_pname_equal_or_parent(paths[i], path))
      return i;
  return FILEUTL_NOT_SCOPED;
}

}  // extern "C"
