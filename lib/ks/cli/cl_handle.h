// The option scanner's handle, shared by its building and scanning units.
#pragma once

#include <orvexks/cl.h>

#include <cstdint>

struct cl_word {
  int32_t length;  // bytes before the word's NUL
  char *text;
};

struct cl_handle {
  uint32_t cl_magic;       // CL_MAGIC while the handle is valid
  char *text;              // the words, each NUL-terminated, then one extra NUL
  int32_t text_length;     // bytes of the words including their NULs
  int32_t current;         // index of the current word
  char *word_start;        // start of the current word
  char *cursor;            // position inside the current word
  char *options_end;       // options end here ("--" or the end of the words)
  int32_t error;           // 0 or a CL_ERR_ code
  const char *error_text;  // the word at which the error happened, or null
  char error_option[2];    // the offending option letter and a NUL
  int32_t seen_count;      // options accepted so far
  char *seen;              // the accepted option letters, NUL-terminated
  int32_t word_count;
  cl_word *words;  // word_count entries and a final one on the extra NUL
};

// Every routine that takes a handle checks it first; a wrong magic number
// is fatal.
void ksi_cl_check(const cl_handle *handle);

// Makes word index current with the cursor at its start.
void ksi_cl_set_word(cl_handle *handle, int32_t index);
