// The prompts that answer with item numbers: a choice from a list of
// texts, and (through the prompting tool only) from the lines of a text
// file.
#include <orvexks/imsg.h>
#include <orvexks/ks_product.h>
#include <orvexks/stg.h>

#include <cstdio>

#include "msg/imsg_prompt.h"

namespace {

// The tool is offered at most this many items.
constexpr int kMaxToolItems = 100;

int count_items(const char *const *items) {
  int count = 0;
  if (items != nullptr)
    while (items[count] != nullptr) ++count;
  return count;
}

// Turns the tool's answer into the choice array.
int tool_choices(char *content, bool by_line, int **choices) {
  if (content == nullptr) return IMSG_PROMPT_NO_ANSWER;
  int numbers[kKsiMaxChoices];
  const int count =
      by_line ? ksi_prompt_line_numbers(content, numbers, kKsiMaxChoices)
              : ksi_prompt_digit_runs(content, numbers, kKsiMaxChoices);
  stg_free(content);
  *choices = ksi_prompt_choice_array(numbers, count);
  return *choices != nullptr ? IMSG_PROMPT_ANSWERED : IMSG_PROMPT_NO_ANSWER;
}

int ask_tool(const char *text, int items, bool multi, int **choices) {
  // "1,2,...,n": at most 100 numbers of at most 3 digits and a comma.
  char numbers[kMaxToolItems * 4 + 1] = "";
  size_t used = 0;
  for (int i = 1; i <= items && i <= kMaxToolItems; ++i)
    used += static_cast<size_t>(std::snprintf(
        numbers + used, sizeof numbers - used, i == 1 ? "%d" : ",%d", i));
  const char *extra[] = {"-items", numbers, multi ? "-choices" : "-prefer_gui",
                         multi ? "-prefer_gui" : nullptr, nullptr};
  return tool_choices(ksi_prompt_tool_answer("list", text, extra), false,
                      choices);
}

// The list, then the question, until the answer is a valid choice, 0 or
// the end of input.
int ask_console(const char *text, const char *const *items, int count,
                bool multi, int **choices) {
  int numbers[kKsiMaxChoices];
  int chosen = -1;
  ksi_prompt_console_begin();
  while (chosen < 0) {
    imsg_print(IMSG_OK, "%s\n\n", -1, text != nullptr ? text : "");
    for (int i = 0; i < count; ++i)
      imsg_print(IMSG_OK, "%d)\t%s\n", -1, i + 1, items[i]);
    imsg_print(IMSG_OK, "\nEnter a value from 1-%d, 0 to Cancel: \n", -1,
               count);
    char *line = nullptr;
    const ksi_prompt_read read = ksi_prompt_read_answer(false, &line);
    if (read == ksi_prompt_read::end || read == ksi_prompt_read::failed) {
      chosen = 0;
      break;
    }
    if (line != nullptr)
      chosen =
          ksi_prompt_parse_choices(line, count, multi, numbers, kKsiMaxChoices);
    stg_free(line);
    if (chosen < 0) imsg_print(IMSG_OK, "\n\n", -1);
  }
  ksi_prompt_console_end();
  if (chosen == 0) return IMSG_PROMPT_NO_ANSWER;
  *choices = ksi_prompt_choice_array(numbers, chosen);
  return *choices != nullptr ? IMSG_PROMPT_ANSWERED : IMSG_PROMPT_NO_ANSWER;
}

}  // namespace

extern "C" {

KS_API int imsg_prompt_list(const char *text, const char *const *items,
                            void *reserved, int multi, int **choices) {
  *choices = nullptr;
  imsg_prompt_procs_t procs;
  void *data;
  const int count = count_items(items);
  switch (ksi_prompt_choose(ksi_prompt_proc::list, &procs, &data)) {
    case ksi_prompt_setting::daemon:
      return IMSG_PROMPT_NO_ANSWER;
    case ksi_prompt_setting::procs:
      return procs.list(text, items, reserved, multi, choices, data);
    case ksi_prompt_setting::tool:
      return ask_tool(text, count, multi != 0, choices);
    case ksi_prompt_setting::console:
      break;
  }
  return ask_console(text, items, count, multi != 0, choices);
}

KS_API int imsg_prompt_txt_list(const char *text, const char *item_file,
                                int multi, int **choices) {
  *choices = nullptr;
  if (imsg_am_daemon() != 0) return IMSG_PROMPT_NO_ANSWER;
  if (ks_force_gui() == 0 && ks_cte_dynamic() == 0) return IMSG_PROMPT_ANSWERED;
  const char *extra[] = {"-dfile", item_file != nullptr ? item_file : "",
                         multi != 0 ? "-choices" : "-prefer_gui",
                         multi != 0 ? "-prefer_gui" : nullptr, nullptr};
  return tool_choices(ksi_prompt_tool_answer("list", text, extra), true,
                      choices);
}

}  // extern "C"
