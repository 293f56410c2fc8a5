// Globbing: the words of a text expanded against the file system into one
// blank-separated text of names.
#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/wild.h>

#include <dirent.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

#include "wild/wild_glob_internal.h"

namespace {

// Frees everything the glob holds, closing a directory left open by a
// raise.
void release(WildGlob *g) {
  if (g->dir != nullptr) closedir(g->dir);
  wild_text_free(&g->result);
  wild_text_free(&g->word);
  wild_text_free(&g->compiled);
  wild_text_free(&g->scratch);
  wild_text_free(&g->names);
  stg_free(g->name_at);
  stg_free(g->comps);
  stg_free(g);
}

int expand_text(WildGlob *g, const char *text, int multi) {
  const char *cursor = text;
  for (;;) {
    const int got = wild_next_word(g, &cursor, multi);
    if (got <= 0) return got;
    int rc = wild_expand_home(g);
    if (rc == 0) rc = wild_expand_word(g);
    if (rc != 0) return rc;
  }
}

}  // namespace

extern "C" {

int wild_glob_ext(const char *text, uint32_t flags, const char *base, int multi,
                  char **result_out) {
  if (result_out == nullptr) return EINVAL;
  *result_out = nullptr;
  if (text == nullptr) return 0;
  auto *g = static_cast<WildGlob *>(stg_malloc(sizeof(WildGlob)));
  if (g == nullptr) return WILD_NO_ROOM;
  std::memset(g, 0, sizeof *g);
  g->flags = flags;
  g->base = base;
  // All of the expansion's storage hangs off g, which this frame owns: a
  // raise passing through (an interrupt while a large tree is read) closes
  // the open directory and frees it.
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) != 0) {
    release(g);
    pfm_raise(static_cast<uint32_t>(rec.status));
  }
  const int rc = expand_text(g, text, multi);
  pfm_cleanup_rls(&rec);
  if (rc == 0 && g->result.length > 0) {
    *result_out = g->result.data;
    g->result = WildText{};
  }
  release(g);
  return rc;
}

int wild_glob(const char *text, uint32_t flags, char **result_out) {
  return wild_glob_ext(text, flags, nullptr, 1, result_out);
}

int wild_glob_single(const char *text, uint32_t flags, char **result_out) {
  return wild_glob_ext(text, flags, nullptr, 0, result_out);
}

}  // extern "C"
