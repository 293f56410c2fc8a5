// Globbing's texts: growable scratch texts, splitting a command line into
// words, the home directory of "~", and quoting the names of the result.
#include <orvexks/stg.h>
#include <orvexks/sysutl.h>
#include <orvexks/wild.h>

#include <cstring>
#include <utility>

#include "wild/wild_glob_internal.h"
#include "wild/wild_internal.h"

bool wild_text_reserve(WildText *t, size_t n) {
  if (t->length + n + 1 <= t->capacity) return true;
  size_t bigger = t->capacity < 64 ? 64 : t->capacity * 2;
  while (bigger < t->length + n + 1) bigger *= 2;
  auto *grown = static_cast<char *>(stg_realloc(t->data, bigger));
  if (grown == nullptr) return false;
  t->data = grown;
  t->capacity = bigger;
  return true;
}

bool wild_text_append(WildText *t, const char *bytes, size_t n) {
  if (!wild_text_reserve(t, n)) return false;
  std::memcpy(t->data + t->length, bytes, n);
  t->length += n;
  t->data[t->length] = '\0';
  return true;
}

bool wild_text_append(WildText *t, const char *s) {
  return wild_text_append(t, s, std::strlen(s));
}

void wild_text_free(WildText *t) {
  stg_free(t->data);
  *t = WildText{};
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Characters that make a name of the result go in double quotes: those
// that split words or quote here, and those a command shell treats
// specially.
constexpr char kNeedsQuotes[] = " \t\n\r\"'^&|<>();";

}  // namespace

int wild_next_word(WildGlob *g, const char **cursor, int multi) {
  const char *p = *cursor;
  g->word.length = 0;
  if (!multi) {
    if (p == nullptr) return 0;
    *cursor = nullptr;
    return wild_text_append(&g->word, p) ? 1 : WILD_NO_ROOM;
  }
  WildChars chars;
  // Quotes alone ("") make no word: go on to the next.
  while (g->word.length == 0) {
    while (is_blank(*p)) ++p;
    if (*p == '\0') return 0;
    char quote = '\0';
    while (*p != '\0' && (quote != '\0' || !is_blank(*p))) {
      if (quote == '\0' && (*p == '\'' || *p == '"')) {
        quote = *p++;
        continue;
      }
      if (*p == quote) {
        quote = '\0';
        ++p;
        continue;
      }
      // '^' keeps the character after it in the word, quote or blank alike.
      int len = chars.step(p);
      if (*p == '^' && p[1] != '\0') len = 1 + chars.step(p + 1);
      if (!wild_text_append(&g->word, p, static_cast<size_t>(len)))
        return WILD_NO_ROOM;
      p += len;
    }
  }
  *cursor = p;
  return 1;
}

int wild_expand_home(WildGlob *g) {
  const char *word = g->word.data;
  if (word == nullptr || word[0] != '~') return 0;
  size_t end = 1;
  while (word[end] != '\0' && !wild_is_sep(word[end])) ++end;
  char user[256];
  if (end - 1 >= sizeof user) return 0;
  std::memcpy(user, word + 1, end - 1);
  user[end - 1] = '\0';
  const char *name = user;
  if (user[0] == '\0') name = sysutl_myloginname();
  char home[kWildPathMax];
  if (name == nullptr || !sysutl_get_homedir(name, sizeof home, home) ||
      home[0] == '\0')
    return 0;
  g->scratch.length = 0;
  if (!wild_text_append(&g->scratch, home) ||
      !wild_text_append(&g->scratch, word + end))
    return WILD_NO_ROOM;
  std::swap(g->word, g->scratch);
  return 0;
}

int wild_add_result(WildGlob *g, const char *name, size_t length) {
  WildText *r = &g->result;
  if (r->length > 0 && !wild_text_append(r, " ", 1)) return WILD_NO_ROOM;
  bool quote = false;
  for (size_t i = 0; i < length && !quote; ++i)
    quote = std::strchr(kNeedsQuotes, name[i]) != nullptr;
  if (!quote) return wild_text_append(r, name, length) ? 0 : WILD_NO_ROOM;
  if (!wild_text_append(r, "\"", 1)) return WILD_NO_ROOM;
  for (size_t i = 0; i < length; ++i) {
    if (name[i] == '"' && !wild_text_append(r, "\\", 1)) return WILD_NO_ROOM;
    if (!wild_text_append(r, name + i, 1)) return WILD_NO_ROOM;
  }
  return wild_text_append(r, "\"", 1) ? 0 : WILD_NO_ROOM;
}
