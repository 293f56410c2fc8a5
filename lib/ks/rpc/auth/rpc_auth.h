// The client authentication handles that carry a full credential and
// accept a short-hand replacement from the server (AUTH_UNIX and AUTH_NT):
// their private record and the operations both flavours share.
#pragma once

#include <orvexks/rpc/auth.h>

// What differs between the flavours.
struct ksi_auth_flavor {
  uint32_t marshal_capacity;  // bytes of pre-marshalled credential and verifier
  const char
      *marshal_failure;  // written to standard error when marshalling fails
  // Re-encodes a credential body in place with the current time stamp.
  bool_t (*restamp)(char *body, uint32_t length);
};

constexpr uint32_t ksi_auth_marshal_max = 816;

struct ksi_auth_private {
  struct opaque_auth orig_cred;   // the credential the handle was made with
  struct opaque_auth short_cred;  // the server's short-hand, when it gave one
  uint32_t short_faults;          // short-hand credentials the server refused
  uint32_t marshalled_len;
  const ksi_auth_flavor *flavor;
  char marshalled[ksi_auth_marshal_max];
};

// Allocates a handle and its private record (zero-filled) and installs the
// full credential {flavor, a copy of body}, an AUTH_NONE verifier and the
// operations; writes "<oom_text>" and a newline to standard error and
// returns null when memory runs out.
AUTH *ksi_auth_full_create(const struct auth_ops *ops,
                           const ksi_auth_flavor *flavor, enum_t cred_flavor,
                           const char *body, uint32_t length,
                           const char *oom_text);

// The operations both flavours share.
void ksi_auth_full_nextverf(AUTH *auth);
bool_t ksi_auth_full_marshal(AUTH *auth, XDR *xdrs);
bool_t ksi_auth_full_validate(AUTH *auth, struct opaque_auth *verf);
bool_t ksi_auth_full_refresh(AUTH *auth);
void ksi_auth_full_destroy(AUTH *auth);

// The time stamp of a new or refreshed credential.
uint32_t ksi_auth_time_now(void);
