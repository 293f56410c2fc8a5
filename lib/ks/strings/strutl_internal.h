// Character stepping shared by the string utilities.
#pragma once

#include <climits>
#include <cstddef>
#include <cwchar>

#include <orvexks/strutl.h>

// True when the locale's code page has one byte per character.
bool ksi_mb_single_byte();

// Decodes the character at `s` (at most `n` bytes) into `*wc`. Returns its
// byte length, 0 at the terminator, or -1 for an invalid or incomplete
// sequence (which callers step over as one byte). In a single-byte code
// page every byte is a character; a byte the C library cannot map stands
// for its own value.
int ksi_mb_decode(const char *s, size_t n, wchar_t *wc);

// True when the `len`-byte character at `ch` is one of the characters of
// `set` (null: an empty set).
bool ksi_mb_char_in_set(const char *ch, int len, const char *set);

// Byte length of the character at `s`, never 0 before the terminator;
// the same rule as strutl_mblen without the length bound.
inline int ksi_mb_step(const char *s) { return strutl_mblen(s, MB_LEN_MAX); }

// The string utilities' per-thread record (a slot of the library's
// thread-local block), made on first use; running out of memory for it
// ends the process.
struct ksi_strutl_tls {
  char u32tostr_buf[33];  // result of strutl_u32tostr
  char flags_buf[1024];   // result of strutl_flags_to_str
  char *token_cursor;     // where strutl_tokenize resumes
};
ksi_strutl_tls *ksi_strutl_tls_get();
