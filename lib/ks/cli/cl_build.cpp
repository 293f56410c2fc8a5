// Building and freeing scanner handles: from an argument vector as it is,
// or from a command line split with the scanner's quoting rules.
#include "cli/cl_handle.h"

#include <orvexks/pfm.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <cstring>

#include "strings/strutl_internal.h"

void ksi_cl_check(const cl_handle *clh) {
  PFM_ASSERT(clh->cl_magic == CL_MAGIC);
}

void ksi_cl_set_word(cl_handle *clh, int32_t index) {
  clh->current = index;
  clh->word_start = clh->words[index].text;
  clh->cursor = clh->word_start;
}

namespace {

// A handle with room for `words` words and `bytes` bytes of text; the
// seen-options buffer has room for every option character there is. One
// block holds the handle, the word table and both buffers.
cl_handle *allocate(int32_t words, size_t bytes, int *status) {
  const size_t table = (static_cast<size_t>(words) + 1) * sizeof(cl_word);
  auto *block = static_cast<char *>(
      stg_malloc(sizeof(cl_handle) + table + 2 * (bytes + 1)));
  if (block == nullptr) {
    if (status != nullptr) *status = CL_ERR_NOMEM;
    return nullptr;
  }
  auto *clh = reinterpret_cast<cl_handle *>(block);
  std::memset(clh, 0, sizeof *clh);
  clh->words = reinterpret_cast<cl_word *>(block + sizeof(cl_handle));
  clh->text = block + sizeof(cl_handle) + table;
  clh->seen = clh->text + bytes + 1;
  if (status != nullptr) *status = 0;
  return clh;
}

// Closes the word table after `count` words whose text ends at `end`, and
// makes `first` the current word.
void finish(cl_handle *clh, int32_t count, char *end, int32_t first) {
  *end = '\0';
  clh->cl_magic = CL_MAGIC;
  clh->word_count = count;
  clh->text_length = static_cast<int32_t>(end - clh->text);
  clh->words[count] = {0, end};
  clh->options_end = end;
  clh->seen[0] = '\0';
  ksi_cl_set_word(clh, first < count ? first : count);
}

bool is_space(const char *p, int *len) {
  return strutl_test_char(p, MB_LEN_MAX, STRUTL_CHAR_SPACE, len) != 0;
}

// An upper bound of the words of a line: its runs of non-blank characters.
int32_t count_runs(const char *text) {
  int32_t runs = 0;
  bool in_run = false;
  for (const char *p = text; *p != '\0';) {
    int len = 1;
    const bool blank = *p == '\n' || is_space(p, &len);
    if (!blank && !in_run) ++runs;
    in_run = !blank;
    p += len > 0 ? len : 1;
  }
  return runs;
}

}  // namespace

extern "C" {

cl_handle_t *cl_parse_argv(int argc, char **argv, int *status) {
  if (argc < 0) argc = 0;
  size_t total = 0;
  for (int i = 0; i < argc; ++i) total += std::strlen(argv[i]) + 1;
  cl_handle *clh = allocate(argc, total, status);
  if (clh == nullptr) return nullptr;
  char *out = clh->text;
  for (int i = 0; i < argc; ++i) {
    const size_t n = std::strlen(argv[i]);
    std::memcpy(out, argv[i], n + 1);
    clh->words[i] = {static_cast<int32_t>(n), out};
    out += n + 1;
  }
  finish(clh, argc, out, 1);
  return clh;
}

cl_handle_t *cl_parse_line(const char *text, int *status) {
  if (text == nullptr) text = "";
  const int32_t bound = count_runs(text);
  const size_t length = std::strlen(text);
  cl_handle *clh = allocate(bound, length + bound + 1, status);
  if (clh == nullptr) return nullptr;

  char *out = clh->text, *word = nullptr;
  int32_t count = 0;
  char quote = '\0';
  bool escaped = false;
  auto end_word = [&] {
    *out++ = '\0';
    clh->words[count++] = {static_cast<int32_t>(out - 1 - word), word};
    word = nullptr;
  };
  for (const char *p = text; *p != '\0';) {
    if (*p == '\n' && !escaped) break;
    int len = 1;
    if (quote == '\0' && is_space(p, &len)) {
      // Blanks separate words outside quotes, even after '^'.
      if (word != nullptr) end_word();
      escaped = false;
      p += len > 0 ? len : 1;
      continue;
    }
    len = ksi_mb_step(p);
    if (!escaped) {
      if (*p == quote || (quote == '\0' && (*p == '"' || *p == '\''))) {
        quote = quote == '\0' ? *p : '\0';
        if (word == nullptr) word = out;  // "" makes an empty word
        ++p;
        continue;
      }
      if (*p == '^') {
        escaped = true;
        ++p;
        continue;
      }
    }
    escaped = false;
    if (word == nullptr) word = out;
    std::memcpy(out, p, len);
    out += len;
    p += len;
  }
  if (word != nullptr) end_word();
  finish(clh, count, out, 0);
  return clh;
}

void cl_destroy(cl_handle_t **handle) {
  if (handle == nullptr || *handle == nullptr) return;
  ksi_cl_check(*handle);
  (*handle)->cl_magic = 0;
  stg_free(*handle);
  *handle = nullptr;
}

}  // extern "C"
