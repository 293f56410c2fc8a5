// The prompts that answer with a word: proceed/abort and yes/no. The mask
// and default are normalised first (the default is always allowed); the
// console accepts any prefix of an allowed word, in any case.
#include <orvexks/imsg.h>
#include <orvexks/stg.h>

#include <cctype>
#include <cstring>
#include <initializer_list>

#include "msg/imsg_msgs.h"
#include "msg/imsg_prompt.h"

namespace {

constexpr int kAbort = IMSG_ANSWER_ABORT;
constexpr int kProceed = IMSG_ANSWER_PROCEED;
constexpr int kYes = IMSG_ANSWER_YES;
constexpr int kNo = IMSG_ANSWER_NO;
constexpr size_t kWordSize = 64;
constexpr size_t kAnswerSize = 129;  // at most 128 bytes are compared

// The answer words as the imsg table (or its catalog) spells them, in
// lower case; in the order the tool's word lists use.
struct word_texts {
  int bit[4] = {kAbort, kProceed, kYes, kNo};
  char text[4][kWordSize];

  word_texts() {
    const int index[4] = {KSI_IMSG_WORD_ABORT, KSI_IMSG_WORD_PROCEED,
                          KSI_IMSG_WORD_YES, KSI_IMSG_WORD_NO};
    for (int i = 0; i < 4; ++i) {
      imsg_snprintf(text[i], kWordSize, &ksi_imsg_msgs, index[i]);
      for (char *c = text[i]; *c != '\0'; ++c)
        *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
  }
  const char *of(int answer) const {
    for (int i = 0; i < 4; ++i)
      if (bit[i] == answer) return text[i];
    return "";
  }
  // The words of the bits set in mask joined with ",".
  void join(int mask, char *out, size_t size) const {
    out[0] = '\0';
    for (int i = 0; i < 4; ++i) {
      if ((mask & bit[i]) == 0) continue;
      if (out[0] != '\0') std::strncat(out, ",", size - std::strlen(out) - 1);
      std::strncat(out, text[i], size - std::strlen(out) - 1);
    }
  }
};

// "Please answer with one of the following: " and the allowed words.
void print_allowed(const ksi_prompt_word *words, int count)
    KSI_REQUIRES(ksi_msg_lock) {
  char line[256 + 4 * kWordSize];
  imsg_snprintf(line, sizeof line, &ksi_imsg_msgs, KSI_IMSG_ANSWER_ONE_OF);
  for (int i = 0; i < count; ++i) {
    if (i > 0) std::strncat(line, ", ", sizeof line - std::strlen(line) - 1);
    std::strncat(line, words[i].word, sizeof line - std::strlen(line) - 1);
  }
  imsg_print(IMSG_OK, "%s\n", -1, line);
}

// The console dialogue: the question with the default's word, until the
// answer matches one allowed word. An empty answer or the end of input
// gives the default.
int ask_console(const char *text, int def, const word_texts &names,
                const ksi_prompt_word *words, int count) {
  int chosen = 0;
  ksi_prompt_console_begin();
  while (chosen <= 0) {
    ksi_prompt_write(text != nullptr ? text : "");
    ksi_prompt_write(" [");
    ksi_prompt_write(names.of(def));
    ksi_prompt_write("] ");
    char *line = nullptr;
    char answer[kAnswerSize];
    const bool answered =
        ksi_prompt_read_answer(false, &line) == ksi_prompt_read::answer &&
        ksi_prompt_normalise(line, answer, sizeof answer);
    stg_free(line);
    if (!answered) {
      chosen = def;
    } else {
      chosen = ksi_prompt_match(answer, words, count);
      if (chosen < 0)
        imsg_print(IMSG_OK, &ksi_imsg_msgs, KSI_IMSG_AMBIGUOUS_RESPONSE);
      else if (chosen == 0)
        print_allowed(words, count);
    }
  }
  ksi_prompt_console_end();
  return chosen;
}

// Asks the prompting tool; its exit status is the answer.
int tool_status(const char *command, int kind, const char *text, int mask,
                int def) {
  const word_texts names;
  char def_words[kWordSize], mask_words[4 * kWordSize];
  names.join(def, def_words, sizeof def_words);
  names.join(mask, mask_words, sizeof mask_words);
  ksi_tool_args args;
  for (const char *arg : {command, "-prompt", text != nullptr ? text : "",
                          "-type", ksi_prompt_tool_type(kind), "-default",
                          static_cast<const char *>(def_words), "-mask",
                          static_cast<const char *>(mask_words)})
    args.add(arg);
  return ksi_prompt_tool_status(&args);
}

}  // namespace

extern "C" {

KS_API int imsg_prompt_proceed(int kind, const char *text, int mask, int def) {
  mask &= kAbort | kProceed;
  if (mask == 0) mask = kAbort | kProceed;
  if (def != kAbort && def != kProceed)
    def = (mask & kAbort) != 0 ? kAbort : kProceed;
  mask |= def;
  imsg_prompt_procs_t procs;
  void *data;
  switch (ksi_prompt_choose(ksi_prompt_proc::proceed, &procs, &data)) {
    case ksi_prompt_setting::daemon:
      return kAbort;
    case ksi_prompt_setting::procs:
      return procs.proceed(kind, text, mask, def, data);
    case ksi_prompt_setting::tool:
      return tool_status("proceed", kind, text, mask, def) == 0 ? kProceed
                                                                : kAbort;
    case ksi_prompt_setting::console:
      break;
  }
  const word_texts names;
  ksi_prompt_word words[2];
  int count = 0;
  if ((mask & kAbort) != 0) words[count++] = {kAbort, names.of(kAbort)};
  if ((mask & kProceed) != 0) words[count++] = {kProceed, names.of(kProceed)};
  return ask_console(text, def, names, words, count);
}

KS_API int imsg_prompt_yes_no(int kind, const char *text, int mask, int def) {
  mask &= kAbort | kYes | kNo;
  if (mask == 0) mask = kAbort | kYes | kNo;
  if (def != kAbort && def != kYes && def != kNo)
    def = (mask & kYes) != 0 ? kYes : (mask & kNo) != 0 ? kNo : kAbort;
  mask |= def;
  imsg_prompt_procs_t procs;
  void *data;
  switch (ksi_prompt_choose(ksi_prompt_proc::yes_no, &procs, &data)) {
    case ksi_prompt_setting::daemon:
      return kAbort;
    case ksi_prompt_setting::procs:
      return procs.yes_no(kind, text, mask, def, data);
    case ksi_prompt_setting::tool:
      switch (tool_status("yes_no", kind, text, mask, def)) {
        case 0:
          return kYes;
        case 1:
          return kNo;
        default:
          return kAbort;
      }
    case ksi_prompt_setting::console:
      break;
  }
  const word_texts names;
  ksi_prompt_word words[3];
  int count = 0;
  if ((mask & kYes) != 0) words[count++] = {kYes, names.of(kYes)};
  if ((mask & kNo) != 0) words[count++] = {kNo, names.of(kNo)};
  if ((mask & kAbort) != 0 || (mask & (kYes | kNo)) == 0)
    words[count++] = {kAbort, names.of(kAbort)};
  return ask_console(text, def, names, words, count);
}

}  // extern "C"
