// The message family's record in the library's thread-local block.
#pragma once

struct ksi_tls_t;

struct ksi_msg_tls_t {
  char *translation;           // last translated text returned (malloc)
  char strerror_result[256];   // imsg_strerror's result
  char strerror_compose[1024]; // imsg_strerror's composition
};

// Frees what the record owns; run when the thread's block goes.
void ksi_msg_tls_cleanup(ksi_tls_t *block);
