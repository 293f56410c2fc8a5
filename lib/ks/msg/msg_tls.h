// The message family's per-thread record (a slot of the library's
// thread-local block).
#pragma once

#include "thread/tls_impl.h"

struct ksi_msg_tls_t {
  char *translation;            // last translated text returned (malloc)
  char strerror_result[256];    // imsg_strerror's result
  char strerror_compose[1024];  // imsg_strerror's composition
};

extern ksi_tls_slot_t ksi_msg_tls_slot;

// The caller's record; running out of memory for it ends the process.
inline ksi_msg_tls_t &ksi_msg_tls(void) {
  return *ksi_tls_needed<ksi_msg_tls_t>(&ksi_msg_tls_slot);
}
