// Handing out options, option arguments, operands and sub-command names,
// and the error of the last step.
#include "cli/cl_handle.h"

#include <orvexks/imsg.h>
#include <orvexks/qmthread.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>

#include <cstring>

#include "startup/ks_msgs.h"
#include "strings/strutl_internal.h"

namespace {

void clear_error(cl_handle *clh) {
  clh->error = 0;
  clh->error_text = nullptr;
}

void set_error(cl_handle *clh, int code, const char *text) {
  clh->error = code;
  clh->error_text = text;
}

void next_word(cl_handle *clh) {
  if (clh->current < clh->word_count) ksi_cl_set_word(clh, clh->current + 1);
}

bool at_end(const cl_handle *clh) { return clh->current >= clh->word_count; }

// The letters of the group of spec that holds letter, or null when letter
// is outside every group; *found tells whether spec holds it at all.
const char *find_letter(const char *spec, char letter, bool *found,
                        size_t *group_length) {
  *found = false;
  const char *group = nullptr;
  for (const char *p = spec; *p != '\0'; ++p) {
    if (*p == '[') {
      group = p + 1;
    } else if (*p == ']') {
      group = nullptr;
    } else if (*p != ':' && *p == letter) {
      *found = true;
      if (group == nullptr) return nullptr;
      const char *close = std::strchr(group, ']');
      *group_length = close != nullptr ? static_cast<size_t>(close - group)
                                       : std::strlen(group);
      return group;
    }
  }
  return nullptr;
}

bool group_seen(const cl_handle *clh, const char *group, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (group[i] != ':' &&
        std::memchr(clh->seen, group[i], clh->seen_count) != nullptr)
      return true;
  return false;
}

// Passes the dashes at the cursor of a word that begins with '-', moving to
// the next word whenever they use one up: a lone "-" is passed over,
// "---a" is the option a, and the words after a used-up word are taken as
// they come, a "--" among them included.
void skip_dashes(cl_handle *clh) {
  if (clh->word_start[0] != '-') return;
  while (*clh->cursor == '-') {
    ++clh->cursor;
    if (*clh->cursor == '\0') next_word(clh);
  }
}

int scan_option(cl_handle *clh, const char *spec, char **long_name) {
  if (clh->cursor >= clh->options_end) {
    clear_error(clh);
    return 0;
  }
  if (clh->cursor == clh->word_start &&
      std::strcmp(clh->word_start, "--") == 0) {
    clh->options_end = clh->word_start;
    next_word(clh);
    clear_error(clh);
    return 0;
  }
  if (long_name != nullptr && clh->cursor == clh->word_start &&
      std::strncmp(clh->word_start, "--", 2) == 0) {
    *long_name = stg_strdup(clh->word_start + 2);
    next_word(clh);
    clear_error(clh);
    return 0;
  }
  skip_dashes(clh);
  clear_error(clh);
  if (clh->word_start[0] != '-') return 0;  // operands start here

  const char letter = *clh->cursor;
  const char *word = clh->word_start;
  clh->error_option[0] = letter;
  clh->error_option[1] = '\0';
  bool found = false;
  size_t group_length = 0;
  const char *group =
      find_letter(spec != nullptr ? spec : "", letter, &found, &group_length);
  if (!found)
    set_error(clh, CL_ERR_BADOPT, word);
  else if (group != nullptr && group_seen(clh, group, group_length))
    set_error(clh, CL_ERR_DUPOPT, word);

  ++clh->cursor;
  if (clh->error == 0) clh->seen[clh->seen_count++] = letter;
  clh->seen[clh->seen_count] = '\0';
  if (*clh->cursor == '\0') next_word(clh);
  return clh->error == 0 ? static_cast<unsigned char>(letter) : '?';
}

char *take_word(cl_handle *clh, bool refuse_options) {
  if (at_end(clh)) {
    clear_error(clh);
    return nullptr;
  }
  if (clh->cursor != clh->word_start) {
    set_error(clh, CL_ERR_BADARG, clh->cursor);
    return nullptr;
  }
  clear_error(clh);
  if (refuse_options && clh->word_start[0] == '-') return nullptr;
  char *word = clh->word_start;
  next_word(clh);
  return word;
}

// Folds the character at p (len bytes) to one case into out; its length.
int fold(const char *p, int len, char *out) {
  return strutl_cvt_case_char(p, static_cast<size_t>(len), 0, out);
}

int char_length(const char *p) {
  const int len = ksi_mb_step(p);
  return len > 0 ? len : 1;
}

const char *texts[5];
qmthread_once_t texts_once = QMTHREAD_ONCE_INIT;
char text_buffers[5][128];

void load_texts() {
  static const int positions[5] = {
      KSI_KS_CL_OUT_OF_MEMORY, KSI_KS_CL_BAD_OPTION,
      KSI_KS_CL_CONFLICTING_OPTION, KSI_KS_CL_BAD_ARGUMENT,
      KSI_KS_CL_UNKNOWN_ERROR};
  for (int i = 0; i < 5; ++i) {
    imsg_snprintf(text_buffers[i], sizeof text_buffers[i], &ksi_ks_msgs,
                  positions[i]);
    texts[i] = text_buffers[i];
  }
}

}  // namespace

extern "C" {

int cl_getopt(cl_handle_t *clh, const char *spec) {
  ksi_cl_check(clh);
  return scan_option(clh, spec, nullptr);
}

int cl_getopt_long(cl_handle_t *clh, const char *spec, char **long_name) {
  ksi_cl_check(clh);
  return scan_option(clh, spec, long_name);
}

char *cl_getarg(cl_handle_t *clh) {
  ksi_cl_check(clh);
  return take_word(clh, false);
}

char *cl_getarg_noopt(cl_handle_t *clh) {
  ksi_cl_check(clh);
  return take_word(clh, true);
}

char *cl_getname(cl_handle_t *clh) { return cl_getarg(clh); }

int cl_get_subcommand(cl_handle_t *clh, int n, const char *const names[]) {
  const char *word = cl_getarg(clh);
  if (word == nullptr) return -1;
  for (int i = 0; i < n; ++i)
    if (names[i] != nullptr && cl_match(word, names[i])) return i;
  return -1;
}

int cl_match(const char *word, const char *pattern) {
  bool passed_mark = false;
  while (*word != '\0') {
    if (*pattern == '\0') return 0;
    const int wlen = char_length(word), plen = char_length(pattern);
    char wfold[MB_LEN_MAX], pfold[MB_LEN_MAX];
    const int wn = fold(word, wlen, wfold), pn = fold(pattern, plen, pfold);
    if (wn == pn && std::memcmp(wfold, pfold, wn) == 0) {
      word += wlen;
      pattern += plen;
    } else if (*pattern == '[') {
      passed_mark = true;
      ++pattern;
    } else {
      return 0;
    }
  }
  return *pattern == '\0' || *pattern == '[' || passed_mark ? 1 : 0;
}

int cl_getoffset(cl_handle_t *clh) {
  ksi_cl_check(clh);
  clear_error(clh);
  return static_cast<int>(clh->cursor - clh->text);
}

void cl_setoffset(cl_handle_t *clh, int offset) {
  ksi_cl_check(clh);
  clear_error(clh);
  if (offset < 0) offset = 0;
  if (offset > clh->text_length) offset = clh->text_length;
  char *position = clh->text + offset;
  int32_t index = 0;
  for (int32_t i = 0; i < clh->word_count; ++i)
    if (clh->words[i].text <= position) index = i;
  ksi_cl_set_word(clh, index);
  if (index >= clh->word_count || position < clh->word_start) return;
  clh->cursor = position;
  if (position >= clh->word_start + clh->words[index].length) next_word(clh);
}

int cl_errno(cl_handle_t *clh) {
  ksi_cl_check(clh);
  return clh->error;
}

const char *cl_estr(cl_handle_t *clh) {
  ksi_cl_check(clh);
  return clh->error_text != nullptr ? clh->error_text : "";
}

const char *cl_eopt(cl_handle_t *clh) {
  ksi_cl_check(clh);
  return clh->error_option;
}

const char *cl_strerror(int code) {
  if (code == 0) return "";
  qmthread_once(&texts_once, load_texts);
  switch (code) {
    case CL_ERR_NOMEM:
      return texts[0];
    case CL_ERR_BADOPT:
      return texts[1];
    case CL_ERR_DUPOPT:
      return texts[2];
    case CL_ERR_BADARG:
      return texts[3];
    default:
      return texts[4];
  }
}

}  // extern "C"
