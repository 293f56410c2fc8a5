// Prompt answers on arbitrary text: console list answers in both modes,
// the prompting tool's answer files, and the words of the proceed and
// yes/no prompts. Every stored choice must be in range and the counts
// within their bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "msg/imsg_prompt.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the list's item count; the rest is the answer.
  const int items = data[0];
  const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  const char *answer = text.c_str();
  int out[kKsiMaxChoices];

  for (bool multi : {false, true}) {
    const int count =
        ksi_prompt_parse_choices(answer, items, multi, out, kKsiMaxChoices);
    check(count >= -1 && count <= kKsiMaxChoices && (multi || count <= 1));
    for (int i = 0; i < count; ++i) check(out[i] >= 1 && out[i] <= items);
  }
  int count = ksi_prompt_digit_runs(answer, out, kKsiMaxChoices);
  check(count >= 0 && count <= kKsiMaxChoices);
  for (int i = 0; i < count; ++i) check(out[i] > 0);
  count = ksi_prompt_line_numbers(answer, out, kKsiMaxChoices);
  check(count >= 0 && count <= kKsiMaxChoices);
  for (int i = 0; i < count; ++i) check(out[i] > 0);

  char normal[129];
  if (ksi_prompt_normalise(answer, normal, sizeof normal)) {
    check(std::strlen(normal) < sizeof normal);
    const ksi_prompt_word words[] = {
        {IMSG_ANSWER_YES, "yes"}, {IMSG_ANSWER_NO, "no"}, {1, "abort"}};
    const int bit = ksi_prompt_match(normal, words, 3);
    check(bit == -1 || bit == 0 || bit == 1 || bit == 4 || bit == 8);
  }
  return 0;
}
