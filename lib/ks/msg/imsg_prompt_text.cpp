// The prompts that answer with a text: free text (one line or several),
// a password, a file name.
#include <orvexks/imsg.h>
#include <orvexks/stg.h>

#include <cstring>

#include "msg/imsg_msgs.h"
#include "msg/imsg_prompt.h"

namespace {

const char *or_empty(const char *text) { return text != nullptr ? text : ""; }

// The console's end of a text prompt: nothing entered takes a copy of the
// default; only a read error leaves the prompt unanswered.
int console_result(ksi_prompt_read read, const char *def, char **answer) {
  switch (read) {
    case ksi_prompt_read::answer:
      return IMSG_PROMPT_ANSWERED;
    case ksi_prompt_read::empty:
    case ksi_prompt_read::end:
      *answer = def != nullptr ? stg_strdup(def) : nullptr;
      return IMSG_PROMPT_ANSWERED;
    case ksi_prompt_read::failed:
      break;
  }
  return IMSG_PROMPT_NO_ANSWER;
}

int tool_result(const char *command, const char *text, const char *const *extra,
                char **answer) {
  *answer = ksi_prompt_tool_answer(command, text, extra);
  return *answer != nullptr ? IMSG_PROMPT_ANSWERED : IMSG_PROMPT_NO_ANSWER;
}

// The multi-line question with a default: the default shown first, then
// the question (without its final newline) and how to accept the default.
void print_default_first(const char *text, const char *def)
    KSI_REQUIRES(ksi_msg_lock) {
  imsg_print(IMSG_OK, &ksi_imsg_msgs, KSI_IMSG_PROMPT_DEFAULT);
  imsg_print(IMSG_OK, "%s\n", -1, def);
  const size_t len = std::strlen(text);
  const int shown =
      static_cast<int>(len > 0 && text[len - 1] == '\n' ? len - 1 : len);
  imsg_print(IMSG_OK, "%.*s", -1, shown, text);
  imsg_print(IMSG_OK, &ksi_imsg_msgs, KSI_IMSG_PROMPT_ACCEPT_DEFAULT);
}

void write_default(const char *def, const char *after)
    KSI_REQUIRES(ksi_msg_lock) {
  ksi_prompt_write(" [");
  ksi_prompt_write(def);
  ksi_prompt_write("]");
  ksi_prompt_write(after);
}

}  // namespace

extern "C" {

KS_API int imsg_prompt_text(const char *text, const char *def, int multi_line,
                            char **answer) {
  *answer = nullptr;
  imsg_prompt_procs_t procs;
  void *data;
  switch (ksi_prompt_choose(ksi_prompt_proc::text, &procs, &data)) {
    case ksi_prompt_setting::daemon:
      return IMSG_PROMPT_NO_ANSWER;
    case ksi_prompt_setting::procs:
      return procs.text(text, def, multi_line, answer, data);
    case ksi_prompt_setting::tool: {
      const char *extra[4] = {};
      int n = 0;
      if (multi_line != 0) extra[n++] = "-multi_line";
      if (def != nullptr) {
        extra[n++] = "-default";
        extra[n++] = def;
      }
      return tool_result("text", text, extra, answer);
    }
    case ksi_prompt_setting::console:
      break;
  }
  ksi_prompt_console_begin();
  if (def == nullptr) {
    ksi_prompt_write(or_empty(text));
  } else if (multi_line != 0) {
    print_default_first(or_empty(text), def);
  } else {
    ksi_prompt_write(or_empty(text));
    write_default(def, " ");
  }
  const ksi_prompt_read read = ksi_prompt_read_answer(multi_line != 0, answer);
  ksi_prompt_console_end();
  return console_result(read, def, answer);
}

KS_API int imsg_prompt_password(const char *text, char **answer) {
  *answer = nullptr;
  imsg_prompt_procs_t procs;
  void *data;
  switch (ksi_prompt_choose(ksi_prompt_proc::password, &procs, &data)) {
    case ksi_prompt_setting::daemon:
      return IMSG_PROMPT_NO_ANSWER;
    case ksi_prompt_setting::procs:
      return procs.password(text, answer, data);
    case ksi_prompt_setting::tool: {
      const char *const none[] = {nullptr};
      return tool_result("password", text, none, answer);
    }
    case ksi_prompt_setting::console:
      break;
  }
  ksi_prompt_console_begin();
  const ksi_prompt_read read = ksi_prompt_read_password(or_empty(text), answer);
  ksi_prompt_console_end();
  return read == ksi_prompt_read::answer ? IMSG_PROMPT_ANSWERED
                                         : IMSG_PROMPT_NO_ANSWER;
}

KS_API int imsg_prompt_file(const char *text, const char *def,
                            const char *directory, const char *pattern,
                            char **answer) {
  *answer = nullptr;
  imsg_prompt_procs_t procs;
  void *data;
  switch (ksi_prompt_choose(ksi_prompt_proc::file, &procs, &data)) {
    case ksi_prompt_setting::daemon:
      return IMSG_PROMPT_NO_ANSWER;
    case ksi_prompt_setting::procs:
      return procs.file(text, def, directory, pattern, answer, data);
    case ksi_prompt_setting::tool: {
      const char *extra[7] = {};
      int n = 0;
      const char *const options[][2] = {
          {"-pattern", pattern}, {"-default", def}, {"-directory", directory}};
      for (const auto &option : options) {
        if (option[1] == nullptr) continue;
        extra[n++] = option[0];
        extra[n++] = option[1];
      }
      return tool_result("file", text, extra, answer);
    }
    case ksi_prompt_setting::console:
      break;
  }
  ksi_prompt_console_begin();
  ksi_prompt_write(or_empty(text));
  if (def != nullptr) write_default(def, "");
  ksi_prompt_write(" ");
  const ksi_prompt_read read = ksi_prompt_read_answer(false, answer);
  ksi_prompt_console_end();
  return console_result(read, def, answer);
}

}  // extern "C"
