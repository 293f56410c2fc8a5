// Flag words as texts and back, through a caller's table of
// {name, mask} entries.
#include "strings/strutl_internal.h"

#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kMaxFlagText = 1023;

const char *separator_or_blank(const char *sep) {
  return sep == nullptr || *sep == '\0' ? " " : sep;
}

// Appends text to the bounded buffer, cutting it where the buffer ends.
void append_bounded(char *buf, size_t size, size_t *len, const char *text) {
  size_t n = std::strlen(text);
  if (*len + n >= size) n = size - 1 - *len;
  std::memcpy(buf + *len, text, n);
  *len += n;
  buf[*len] = '\0';
}

// The first byte position at or after `from` where sep starts, stepping
// over whole characters; the terminator's position when there is none.
size_t find_separator(const char *text, size_t from, const char *sep) {
  size_t sep_len = std::strlen(sep);
  size_t pos = from;
  while (text[pos] != '\0' && std::strncmp(text + pos, sep, sep_len) != 0)
    pos += static_cast<size_t>(ksi_mb_step(text + pos));
  return pos;
}

// The mask of the first entry named piece, or false when none is.
bool lookup_name(const char *piece, bool case_sensitive,
                 const strutl_flag_name_t *table, int count, uint32_t *mask) {
  for (int i = 0; i < count; ++i) {
    if (table[i].name == nullptr) continue;
    bool same = case_sensitive ? std::strcmp(piece, table[i].name) == 0
                               : strutl_stricoll(piece, table[i].name) == 0;
    if (same) {
      *mask = table[i].mask;
      return true;
    }
  }
  return false;
}

void free_vector(char **vector, int n) {
  for (int i = 0; i < n; ++i) stg_free(vector[i]);
  stg_free(vector);
}

}  // namespace

extern "C" {

KS_API const char *strutl_flags_to_str(uint32_t flags, const char *sep,
                                       const strutl_flag_name_t *table,
                                       int count) {
  char *buf = ksi_strutl_tls_get()->flags_buf;
  constexpr size_t kSize = sizeof(ksi_strutl_tls::flags_buf);
  size_t len = 0;
  buf[0] = '\0';
  sep = separator_or_blank(sep);
  bool first = true;
  for (int i = 0; i < count && flags != 0; ++i) {
    if ((table[i].mask & flags) == 0) continue;
    if (!first) append_bounded(buf, kSize, &len, sep);
    first = false;
    append_bounded(buf, kSize, &len, table[i].name);
    flags &= ~table[i].mask;
  }
  if (flags != 0) {
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, " UNKNOWN(0x%x)", flags);
    append_bounded(buf, kSize, &len, unknown);
  }
  return buf;
}

KS_API int strutl_flags_to_str_list(uint32_t flags,
                                    const strutl_flag_name_t *table, int count,
                                    char ***vector, int *n) {
  *vector = nullptr;
  *n = 0;
  // At most one element per entry plus the unknown bits.
  auto **list = static_cast<char **>(stg_malloc(
      sizeof(char *) * (static_cast<size_t>(count > 0 ? count : 0) + 1)));
  if (list == nullptr) return 1;
  int used = 0;
  for (int i = 0; i < count && flags != 0; ++i) {
    uint32_t mask = table[i].mask;
    if (mask == 0 || (mask & flags) != mask) continue;
    if ((list[used] = stg_strdup(table[i].name)) == nullptr) {
      free_vector(list, used);
      return 1;
    }
    ++used;
    flags &= ~mask;
  }
  if (flags != 0) {
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, " UNKNOWN(0x%x)", flags);
    if ((list[used] = stg_strdup(unknown)) == nullptr) {
      free_vector(list, used);
      return 1;
    }
    ++used;
  }
  if (used == 0) {
    stg_free(list);
    return 0;
  }
  *vector = list;
  *n = used;
  return 0;
}

KS_API uint32_t strutl_flags_from_str(const char *text, int case_sensitive,
                                      const char *sep,
                                      const strutl_flag_name_t *table,
                                      int count, const char **bad) {
  *bad = nullptr;
  if (text == nullptr || *text == '\0') return 0;
  sep = separator_or_blank(sep);
  size_t sep_len = std::strlen(sep);
  // Pieces are cut in a private copy so that each can be terminated.
  char copy[kMaxFlagText + 1];
  size_t len = std::strlen(text);
  if (len > kMaxFlagText) len = kMaxFlagText;
  std::memcpy(copy, text, len);
  copy[len] = '\0';

  uint32_t flags = 0;
  size_t start = 0;
  for (;;) {
    size_t end = find_separator(copy, start, sep);
    bool last = copy[end] == '\0';
    copy[end] = '\0';
    uint32_t mask = 0;
    if (!lookup_name(copy + start, case_sensitive != 0, table, count, &mask)) {
      *bad = text + start;
      return 0;
    }
    flags |= mask;
    if (last) return flags;
    start = end + sep_len;
  }
}

}  // extern "C"
