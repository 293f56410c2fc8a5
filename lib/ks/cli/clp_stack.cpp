// The per-thread command state and its stack of nested command names.
#include "cli/clp_state.h"

#include <orvexks/pfm.h>

#include <cstdio>
#include <cstring>

#include "thread/tls_impl.h"

namespace {

// The record owns nothing outside itself: no cleanup.
ksi_tls_slot_t clp_slot = KSI_TLS_SLOT_INIT(ksi_clp_tls, nullptr);

}  // namespace

ksi_clp_tls *ksi_clp_state() { return ksi_tls_needed<ksi_clp_tls>(&clp_slot); }

extern "C" {

void clp_push_cmd(const char *name) {
  ksi_clp_tls *s = ksi_clp_state();
  ++s->depth;
  if (s->stored < kClpStackNames) {
    s->stack[s->stored++] = name;
    ++s->changes;
  }
}

void clp_pop_cmd(void) {
  ksi_clp_tls *s = ksi_clp_state();
  // Every pop lowers the depth, an unmatched one included; only a pop from
  // a depth the kept names reach drops one.
  const int was = s->depth--;
  if (was <= kClpStackNames && s->stored > 0) {
    --s->stored;
    ++s->changes;
  }
}

const char *clp_get_cmd_stack(int *seen) {
  ksi_clp_tls *s = ksi_clp_state();
  if (*seen == s->changes) return nullptr;
  if (s->built_at != s->changes) {
    size_t ptr = 0;
    s->stack_text[0] = '\0';
    for (int i = 0; i < s->stored; ++i) {
      const int n = std::snprintf(
          s->stack_text + ptr, sizeof s->stack_text - ptr, "%s:", s->stack[i]);
      ptr += n > 0 ? static_cast<size_t>(n) : 0;
      PFM_ASSERT(ptr < CLP_MAX_STACK_STRING);
    }
    s->built_at = s->changes;
  }
  *seen = s->changes;
  return s->stack_text;
}

}  // extern "C"
