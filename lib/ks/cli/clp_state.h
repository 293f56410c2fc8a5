// The calling thread's command state: its logged command text, the token
// buffer of command-text splitting and the stack of nested command names.
#pragma once

#include <orvexks/clp.h>

#include <cstddef>

constexpr size_t kClpCommandSize = 257;
constexpr size_t kClpTokenSize = 8192;
constexpr int kClpStackNames = 10;

struct ksi_clp_tls {
  char command[kClpCommandSize];
  bool has_command;
  char token[kClpTokenSize + 1];  // a word of up to kClpTokenSize bytes, ended
  const char *stack[kClpStackNames];
  int depth;
  int stored;
  int changes;
  int built_at;  // the change counter when stack_text was built
  char stack_text[CLP_MAX_STACK_STRING + 1];
};

// The thread's state, made zero-filled on first use; failure to make it
// ends the process like any failure of the thread-local block.
ksi_clp_tls *ksi_clp_state();
