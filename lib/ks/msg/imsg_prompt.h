// What the prompt units share: the choice of setting (a window's
// procedures, the prompting tool, the console), the console's writes and
// line reader, the prompting tool's start, and the parsers of answers.
#pragma once

#include <cstddef>

#include <orvexks/imsg.h>

#include "msg/msg_lock.h"

// ---- Choice of setting.

enum class ksi_prompt_setting { daemon, procs, tool, console };

// The entries of imsg_prompt_procs_t.
enum class ksi_prompt_proc { text, file, list, proceed, yes_no, password };

// Where a prompt of kind `which` goes. For `procs`, *procs and *data
// receive the installed procedures (the matching entry is set).
ksi_prompt_setting ksi_prompt_choose(ksi_prompt_proc which,
                                     imsg_prompt_procs_t *procs, void **data);

// ---- The console: questions on the error stream, answers from standard
// input, all under the message lock.

// Takes the message lock; with the interleave flag on, flushes both
// streams so that a question follows the output before it.
void ksi_prompt_console_begin(void) KSI_ACQUIRE(ksi_msg_lock);
void ksi_prompt_console_end(void) KSI_RELEASE(ksi_msg_lock);

// Writes text to the error stream.
void ksi_prompt_write(const char *text) KSI_REQUIRES(ksi_msg_lock);

// What one answer read from standard input gave.
enum class ksi_prompt_read {
  answer,  // *answer holds the text (heap, stg_free)
  empty,   // the user entered nothing (an empty line, or only ".")
  end,     // end of input before anything was entered
  failed   // a read error
};

// One answer: a line without its newline, or with multi_line the lines up
// to one holding only "." (kept with their newlines, the "." line
// dropped). Lines are read in pieces of at most 127 bytes; interrupted
// reads are retried.
ksi_prompt_read ksi_prompt_read_answer(bool multi_line, char **answer)
    KSI_REQUIRES(ksi_msg_lock);

// Writes text, then reads one line with echo off when standard input is a
// terminal (restored after). An empty line is an answer.
ksi_prompt_read ksi_prompt_read_password(const char *text, char **answer)
    KSI_REQUIRES(ksi_msg_lock);

// ---- The prompting tool.

// The argument vector after the tool's path.
struct ksi_tool_args {
  static constexpr int kMax = 24;
  const char *argv[kMax + 2];  // the tool's path first, a null last
  int argc = 1;
  void add(const char *arg) {
    if (argc <= kMax) argv[argc++] = arg;
  }
};

// Starts the tool with args and waits for it: its exit status, or -1 when
// it could not be started or did not exit.
int ksi_prompt_tool_status(ksi_tool_args *args);

// Runs a prompt that answers through a file: the tool gets `command`,
// "-prompt" text, "-outfile" and a new temporary file, then `extra` (null
// ended). On exit status 0 returns the file's content (heap), else null.
// The file is removed.
char *ksi_prompt_tool_answer(const char *command, const char *text,
                             const char *const *extra);

// "ok", "warning" or "error": how the tool shows a question of this kind.
const char *ksi_prompt_tool_type(int kind);

// ---- Answers.

// Choice arrays hold at most this many numbers, then the 0 end mark.
constexpr int kKsiMaxChoices = 128;

// One answer word of the proceed and yes/no prompts.
struct ksi_prompt_word {
  int bit;
  const char *word;  // lower case
};

// The answer line as the words are matched: leading blanks and tabs and
// trailing white space removed, lower case, at most size-1 bytes. False
// when nothing is left (a blank line).
bool ksi_prompt_normalise(const char *line, char *out, size_t size);
// The bit of the one word that `answer` is a prefix of; 0 when none is,
// -1 when several are.
int ksi_prompt_match(const char *answer, const ksi_prompt_word *words,
                     int count);

// A console answer to a list of `items` entries: the first number, and in
// multi mode further numbers each after one separator character, until
// no number follows (or a 0). Returns the count stored in out (at most
// max), 0 when the first number is 0 (cancel), -1 when there is no number
// or one is out of range (ask again).
int ksi_prompt_parse_choices(const char *line, int items, bool multi, int *out,
                             int max);
// The tool's list answer: every run of digits is a number (0 is skipped).
int ksi_prompt_digit_runs(const char *text, int *out, int max);
// The tool's text-list answer: the number that starts each line.
int ksi_prompt_line_numbers(const char *text, int *out, int max);

// A heap array of the count numbers of `numbers`, ended by 0; null when
// memory ran out.
int *ksi_prompt_choice_array(const int *numbers, int count);
