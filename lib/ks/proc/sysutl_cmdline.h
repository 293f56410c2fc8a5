// Command-line texts for the interpreter: environment references, the
// first word, and quoting a program path for /bin/sh.
#pragma once

#include <cstddef>

// The longest command line after its environment references are expanded,
// with its terminating NUL.
constexpr size_t ksi_cmdline_max = 32768;

// Copies in to out (size bytes) with every %NAME% whose NAME is set in the
// environment replaced by its value. A reference to an unset name, "%%"
// and a lone '%' stay as written; scanning goes on at the '%' that closed
// an unknown name, so it may open the next reference. False when the
// result does not fit.
bool ksi_expand_env_refs(const char *in, char *out, size_t size);

// The first word of line (leading blanks and tabs skipped): it ends at a
// blank or tab outside quotes; '...' and "..." quote and are dropped, and
// '^' before a quote or '\' stands for that character. The word goes to
// word (size bytes) and *end is the offset in line just past it. False
// when line has no word or the word does not fit.
bool ksi_first_word(const char *line, char *word, size_t size, size_t *end);

// Appends path to out (holding *len bytes of size) as one /bin/sh word:
// as it is when it holds only characters the shell leaves alone, else in
// single quotes with each quote inside written as '\''. False when it
// does not fit.
bool ksi_append_shell_word(const char *path, char *out, size_t size,
                           size_t *len);
