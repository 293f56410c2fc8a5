// The product's quoting rules: splitting a command text into words and
// joining words back into a command text.
#include "cli/clp_state.h"

#include <orvexks/imsg.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <climits>
#include <cstring>

#include "cli/clp_msgs.h"
#include "strings/strutl_internal.h"

namespace {

bool is_space(const char *p, int *len) {
  return strutl_test_char(p, MB_LEN_MAX, STRUTL_CHAR_SPACE, len) != 0;
}

int step(const char *p) {
  const int len = ksi_mb_step(p);
  return len > 0 ? len : 1;
}

bool is_quote(char c) { return c == '"' || c == '\''; }

// A bound on the words of text: each starts after a blank or after a
// closing quote.
int count_bound(const char *text) {
  int bound = 0;
  bool in_run = false;
  for (const char *p = text; *p != '\0';) {
    int len = 1;
    const bool blank = is_space(p, &len);
    if (!blank && !in_run) ++bound;
    if (is_quote(*p)) ++bound;
    in_run = !blank;
    p += len > 0 ? len : 1;
  }
  return bound;
}

enum class Word { kDone, kEnd, kUnterminated, kOverflow };

// Reads the word at *text into token (room for kClpTokenSize bytes and a
// terminator) and moves *text past it. kEnd when only blanks were left.
Word read_word(const char **text, char *token, size_t *length) {
  const char *p = *text;
  int len = 1;
  while (*p != '\0' && is_space(p, &len)) p += len > 0 ? len : 1;
  size_t n = 0;
  char quote = '\0';
  bool started = false, closed = false;
  auto put = [&](const char *src, size_t k) {
    if (n + k > kClpTokenSize) return false;
    std::memcpy(token + n, src, k);
    n += k;
    return true;
  };
  while (*p != '\0' && !closed) {
    if (quote == '\0' && is_space(p, &len)) break;
    started = true;
    bool fits = true;
    if (quote == '\0' && is_quote(*p)) {
      quote = *p++;
    } else if (quote != '\0' && *p == quote) {
      ++p;
      closed = true;  // a closing quote ends the word
    } else if (*p == '^' && (is_quote(p[1]) || p[1] == '\\')) {
      // Outside quotes the pair stands for its second character; inside,
      // for a backslash and that character.
      fits = quote == '\0' ? put(p + 1, 1) : put("\\", 1) && put(p + 1, 1);
      p += 2;
    } else {
      const int k = step(p);
      fits = put(p, static_cast<size_t>(k));
      p += k;
    }
    if (!fits) return Word::kOverflow;
  }
  *text = p;
  token[n] = '\0';
  *length = n;
  if (quote != '\0' && !closed) return Word::kUnterminated;
  return started ? Word::kDone : Word::kEnd;
}

// Characters that make a word need double quotes when joined.
constexpr const char *kNeedQuotes = " \t\r\n?*~[]";

}  // namespace

extern "C" {

int clp_parse_string(const char *text, stg_area_t area, int *argc,
                     char ***argv) {
  *argc = 0;
  *argv = nullptr;
  if (text == nullptr) text = "";
  const int bound = count_bound(text);
  auto **words =
      static_cast<char **>(stg_alloc(area, (bound + 1) * sizeof(char *)));
  if (words == nullptr) return 1;
  char *token = ksi_clp_state()->token;
  int count = 0;
  for (;;) {
    size_t length = 0;
    const Word result = read_word(&text, token, &length);
    if (result == Word::kUnterminated) {
      imsg_print(IMSG_ERROR, &ksi_clp_msgs, KSI_CLP_UNTERMINATED_QUOTE);
      return 1;
    }
    if (result == Word::kOverflow) {
      imsg_print(IMSG_ERROR, &ksi_clp_msgs, KSI_CLP_TOKEN_OVERFLOW,
                 static_cast<int>(kClpTokenSize));
      return 1;
    }
    // An empty word at the end of the text ends the list.
    if (result == Word::kEnd || (length == 0 && *text == '\0') ||
        count == bound)
      break;
    words[count] = stg_area_strdup(area, token);
    if (words[count] == nullptr) return 1;
    ++count;
  }
  words[count] = nullptr;
  *argc = count;
  *argv = words;
  return 0;
}

int clp_argv_to_string(int argc, char **argv, stg_area_t area, int escape,
                       char **text) {
  *text = nullptr;
  size_t size = 1;
  for (int i = 0; i < argc; ++i) size += std::strlen(argv[i]) + 3;
  auto *out = static_cast<char *>(stg_alloc(area, size));
  if (out == nullptr) return 1;
  char *p = out;
  for (int i = 0; i < argc; ++i) {
    const char *word = argv[i];
    const size_t n = std::strlen(word);
    if (i > 0) *p++ = ' ';
    if (is_quote(word[0])) {
      if (n < 2 || word[n - 1] != word[0]) {
        imsg_print(IMSG_ERROR, &ksi_clp_msgs, KSI_CLP_UNTERMINATED_QUOTE);
        if (area == STG_AREA_HEAP) stg_free(out);
        return 1;
      }
      if (escape != 0) *p++ = static_cast<char>(escape);
      std::memcpy(p, word, n - 1);
      p += n - 1;
      if (escape != 0) *p++ = static_cast<char>(escape);
      *p++ = word[n - 1];
    } else if (std::strpbrk(word, kNeedQuotes) != nullptr) {
      *p++ = '"';
      std::memcpy(p, word, n);
      p += n;
      *p++ = '"';
    } else {
      std::memcpy(p, word, n);
      p += n;
    }
  }
  *p = '\0';
  *text = out;
  return 0;
}

}  // extern "C"
