// Internals shared by the client-authentication sources of the credutl
// family.
#pragma once

#include <cstddef>
#include <cstring>

#include <orvexks/credutl.h>

// What a domain or host that cannot be told reads as.
inline constexpr const char *kKsiUnknownName = "<unknown>";

// Copies the first n bytes of src (fewer at its end) into dst, cut to size
// bytes and terminated. A null dst or a size of 0 is left alone.
inline void ksi_copy_part(char *dst, size_t size, const char *src, size_t n) {
  if (dst == nullptr || size == 0) return;
  if (n >= size) n = size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}

inline void ksi_copy_out(char *dst, size_t size, const char *src) {
  ksi_copy_part(dst, size, src, strlen(src));
}

// The request's caller as SID credentials with its host (room for
// CREDUTL_AUTH_NAME_SIZE bytes), or NOBODY and "<unknown>" when the request
// is missing or cannot be cracked. Returns the crack status (0 success).
int ksi_crack_onc_client(struct svc_req *req, credutl_sid_credentials_t *out,
                         size_t dsize, char *domain, size_t hsize, char *host);

// True when the request came from a loopback address or an address of one
// of this host's interfaces, or when its transport does not say where it
// came from (a request made up in memory).
bool ksi_request_from_this_host(const struct svc_req *req);
