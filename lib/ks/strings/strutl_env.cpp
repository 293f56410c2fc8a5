// Expansion of environment references ("$NAME", "${NAME}") in texts.
//
// A pass builds its result in a temporary storage area, so the many small
// pieces cost no heap traffic; only the finished text is copied to the
// heap. A raise that passes through a pass deletes the area on its way.
#include "strings/strutl_internal.h"

#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>
#include <orvexnt/nt_env.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr uint64_t kPassAreaSize = 1024;
constexpr int kDefaultPassLimit = 8;

// Letters, digits and '_' in any locale (names are ASCII).
bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '_';
}

// A text growing in the pass's area: a full block is replaced by one twice
// its size (the old one goes with the area).
struct Builder {
  stg_area_t area;
  char *buf;
  size_t len;
  size_t cap;
  bool failed;
};

void append(Builder *b, const char *bytes, size_t n) {
  if (b->failed) return;
  if (b->len + n + 1 > b->cap) {
    size_t cap = b->cap * 2;
    if (cap < b->len + n + 1) cap = b->len + n + 1;
    auto *grown = static_cast<char *>(stg_alloc(b->area, cap));
    if (grown == nullptr) {
      b->failed = true;
      return;
    }
    if (b->len > 0) std::memcpy(grown, b->buf, b->len);
    b->buf = grown;
    b->cap = cap;
  }
  std::memcpy(b->buf + b->len, bytes, n);
  b->len += n;
  b->buf[b->len] = '\0';
}

// Appends the value of the variable whose name is the n bytes at `name`.
void append_variable(Builder *b, const char *name, size_t n) {
  if (b->failed) return;
  auto *copy = static_cast<char *>(stg_alloc(b->area, n + 1));
  if (copy == nullptr) {
    b->failed = true;
    return;
  }
  std::memcpy(copy, name, n);
  copy[n] = '\0';
  // nt_getenv_safe reads under the environment lock and returns a copy
  // that later changes of the environment leave alone.
  const char *value = nt_getenv_safe(copy);
  if (value != nullptr) append(b, value, std::strlen(value));
}

// The '}' that ends a "${" name, stepping over whole characters (a
// multibyte character may hold a '}' byte); null when the text ends first.
const char *closing_brace(const char *p) {
  while (*p != '\0' && *p != '}') p += ksi_mb_step(p);
  return *p == '}' ? p : nullptr;
}

// One pass over text; the result is a heap text or null (memory).
char *expand_in_area(stg_area_t area, const char *text, int *expanded) {
  Builder b{area, nullptr, 0, 0, false};
  append(&b, "", 0);
  const char *p = text;
  while (*p != '\0' && !b.failed) {
    if (*p == '\\' && p[1] != '\0') {
      int step = ksi_mb_step(p + 1);
      append(&b, p + 1, static_cast<size_t>(step));
      p += 1 + step;
    } else if (*p == '$' && is_name_char(p[1])) {
      const char *name = p + 1;
      const char *end = name;
      while (is_name_char(*end)) ++end;
      append_variable(&b, name, static_cast<size_t>(end - name));
      *expanded = 1;
      p = end;
    } else if (*p == '$' && p[1] == '{' && closing_brace(p + 2) != nullptr) {
      const char *name = p + 2;
      const char *end = closing_brace(name);
      append_variable(&b, name, static_cast<size_t>(end - name));
      *expanded = 1;
      p = end + 1;
    } else {
      int step = ksi_mb_step(p);
      append(&b, p, static_cast<size_t>(step));
      p += step;
    }
  }
  if (b.failed) return nullptr;
  return stg_strdup(b.buf);
}
// One pass in its own storage area, deleted at the end or when a raise
// passes through.
void protected_pass(const char *text, int *found, char **result) {
  pfm_cleanup_rec rec;
  stg_area_t volatile area = STG_AREA_NULL;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    area = stg_create_area(kPassAreaSize);
    if (area != STG_AREA_NULL) *result = expand_in_area(area, text, found);
    pfm_cleanup_rls(&rec);
  } else {
    stg_area_t doomed = area;
    if (doomed != STG_AREA_NULL) stg_delete_area(&doomed);
    pfm_raise(static_cast<uint32_t>(rec.status));
  }
  stg_area_t done = area;
  if (done != STG_AREA_NULL) stg_delete_area(&done);
}

}  // namespace

extern "C" {

KS_API char *strutl_expand_evs_status(const char *text, int *expanded) {
  int found = 0;
  char *result = nullptr;
  protected_pass(text == nullptr ? "" : text, &found, &result);
  if (expanded != nullptr) *expanded = found;
  if (result == nullptr) errno = ENOMEM;
  return result;
}

KS_API char *strutl_expand_evs(const char *text) {
  return strutl_expand_evs_status(text, nullptr);
}

KS_API char *strutl_expand_evs_iterate(const char *text, int limit) {
  if (limit <= 0) limit = kDefaultPassLimit;
  int expanded = 0;
  char *current = strutl_expand_evs_status(text, &expanded);
  for (int passes = 1; current != nullptr && expanded; ++passes) {
    if (passes > limit) {
      stg_free(current);
      errno = EINVAL;
      return nullptr;
    }
    char *next = strutl_expand_evs_status(current, &expanded);
    stg_free(current);
    current = next;
  }
  return current;
}

}  // extern "C"
