// Parsers of prompt answers: the words of the proceed and yes/no prompts,
// the item numbers typed at a list prompt, and the numbers the prompting
// tool writes into its answer file. They read untrusted text: every
// number saturates, every array is bounded.
#include <orvexks/stg.h>

#include <cctype>
#include <climits>
#include <cstring>

#include "msg/imsg_prompt.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits at p as a number that stops growing at INT_MAX; *end after them.
int digits_value(const char *p, const char **end) {
  long long value = 0;
  for (; is_digit(*p); ++p)
    if (value <= INT_MAX) value = value * 10 + (*p - '0');
  *end = p;
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// A decimal number as scanf's "%d" takes it: white space, a sign, digits.
// False when no digit follows.
bool read_number(const char *p, int *value, const char **end) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (!is_digit(*p)) return false;
  const int magnitude = digits_value(p, end);
  *value = negative ? -magnitude : magnitude;
  return true;
}

}  // namespace

bool ksi_prompt_normalise(const char *line, char *out, size_t size) {
  while (*line == ' ' || *line == '\t') ++line;
  size_t len = 0;
  for (; line[len] != '\0' && len + 1 < size; ++len)
    out[len] =
        static_cast<char>(std::tolower(static_cast<unsigned char>(line[len])));
  while (len > 0 && std::isspace(static_cast<unsigned char>(out[len - 1])))
    --len;
  out[len] = '\0';
  return len > 0;
}

int ksi_prompt_match(const char *answer, const ksi_prompt_word *words,
                     int count) {
  const size_t len = std::strlen(answer);
  int found = 0;
  for (int i = 0; i < count; ++i) {
    if (std::strncmp(answer, words[i].word, len) != 0) continue;
    if (found != 0) return -1;
    found = words[i].bit;
  }
  return found;
}

int ksi_prompt_parse_choices(const char *line, int items, bool multi, int *out,
                             int max) {
  int value;
  const char *p;
  if (!read_number(line, &value, &p)) return -1;
  if (value == 0) return 0;
  int count = 0;
  for (;;) {
    if (value < 0 || value > items) return -1;
    if (count < max) out[count++] = value;
    // The next number comes after exactly one separator character.
    if (!multi || *p == '\0' || !read_number(p + 1, &value, &p) || value == 0)
      return count;
  }
}

int ksi_prompt_digit_runs(const char *text, int *out, int max) {
  int count = 0;
  const char *p = text;
  while (*p != '\0' && count < max) {
    if (!is_digit(*p)) {
      ++p;
      continue;
    }
    const int value = digits_value(p, &p);
    if (value != 0) out[count++] = value;
  }
  return count;
}

int ksi_prompt_line_numbers(const char *text, int *out, int max) {
  int count = 0;
  for (const char *line = text; *line != '\0' && count < max;) {
    const char *end;
    const int value = digits_value(line, &end);
    if (end != line && value != 0) out[count++] = value;
    const char *newline = std::strchr(end, '\n');
    if (newline == nullptr) break;
    line = newline + 1;
  }
  return count;
}

int *ksi_prompt_choice_array(const int *numbers, int count) {
  int *choices = static_cast<int *>(
      stg_malloc((static_cast<size_t>(count) + 1) * sizeof *choices));
  if (choices == nullptr) return nullptr;
  if (count > 0)
    std::memcpy(choices, numbers, static_cast<size_t>(count) * sizeof *choices);
  choices[count] = 0;
  return choices;
}
