// Globbing's scratch storage and the steps of a word's expansion.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <cstdint>

// A growable NUL-terminated text on the guarded heap. Plain data: a raise
// may abandon the frames that use it, and the glob's cleanup frees it.
struct WildText {
  char *data;
  size_t length;
  size_t capacity;
};

// Appends n bytes (keeping a terminator); false when memory runs out.
bool wild_text_append(WildText *t, const char *bytes, size_t n);
bool wild_text_append(WildText *t, const char *s);
// Makes room for n more bytes after the text; false when memory runs out.
bool wild_text_reserve(WildText *t, size_t n);
void wild_text_free(WildText *t);

// Room for a path name, written or mapped to the host.
inline constexpr size_t kWildPathMax = 4096;

// One component of a word: its text and the separators after it (offsets
// into the word), and its compiled form (offset into the compiled texts).
struct WildComponent {
  size_t text, text_length;
  size_t seps, seps_length;
  size_t compiled;
  bool wild;    // holds wildcards
  bool levels;  // is "..."
};

// The state of one wild_glob_ext call, on the heap so that the cleanup of
// a raise reaches it.
struct WildGlob {
  uint32_t flags;
  const char *base;  // relative words are looked up under it (null: ".")
  DIR *dir;          // the directory being read, if any
  WildText result;
  WildText word;
  WildText compiled;  // the compiled word, then its compiled components
  WildText scratch;   // a component's text, terminated for compiling
  WildText names;     // a stack of matched entry names, NUL-separated
  uint32_t *name_at;  // where each stacked name starts in names
  size_t name_count, name_capacity;
  WildComponent *comps;
  size_t comp_count, comp_capacity;
  bool relative;              // the word names a relative path
  bool ends_with_sep;         // the word ends with a separator
  char path[kWildPathMax];    // the name being built, as written
  char lookup[kWildPathMax];  // the same under base, before host mapping
  char host[kWildPathMax];    // the same as a host path
};

// Splits text at *cursor into its next word (into g->word): with multi,
// words end at blanks, tabs and newlines outside quotes and not after a
// '^', and quotes are removed; without it, the whole text is the word.
// 1 for a word, 0 when no word is left, or WILD_NO_ROOM.
int wild_next_word(WildGlob *g, const char **cursor, int multi);

// Puts the home directory in place of a leading "~" or "~name" of
// g->word. 0, or WILD_NO_ROOM.
int wild_expand_home(WildGlob *g);

// Appends name to g->result: after a blank unless it is the first, and in
// double quotes (each '"' preceded by '\') when it holds characters that a
// command line treats specially. 0, or WILD_NO_ROOM.
int wild_add_result(WildGlob *g, const char *name, size_t length);

// Expands g->word against the file system into g->result. 0, WILD_NO_ROOM,
// or the error number of a directory that could not be read.
int wild_expand_word(WildGlob *g);
