// Wire forms of client records. Only the product's own family travels: an
// RPC request stands for a caller on the server that serves it and means
// nothing anywhere else.
#include <orvexks/credutl.h>

#include <cstdlib>
#include <cstring>

#include "internal/alloc_fault.h"

namespace {

constexpr uint32_t kNameMax = CREDUTL_AUTH_NAME_SIZE - 1;

static_assert(sizeof(credutl_auth_family_t) == sizeof(enum_t),
              "the family travels as an XDR enum");

// An inline name field: decoding writes into it, encoding refuses a field
// without a terminator.
bool_t code_inline_name(XDR *xdrs, char *field) {
  if (xdrs->x_op == XDR_ENCODE &&
      strnlen(field, CREDUTL_AUTH_NAME_SIZE) == CREDUTL_AUTH_NAME_SIZE)
    return FALSE;
  return xdr_string(xdrs, &field, kNameMax);
}

}  // namespace

extern "C" {

bool_t xdr_credutl_auth_quillmere_t(XDR *xdrs, credutl_auth_quillmere_t *a) {
  if (xdrs->x_op == XDR_DECODE) std::memset(a, 0, sizeof *a);
  if (!xdr_int32_t(xdrs, &a->kind)) return FALSE;
  if (xdrs->x_op != XDR_FREE &&
      (!code_inline_name(xdrs, a->domain) || !code_inline_name(xdrs, a->host)))
    return FALSE;
  switch (a->kind) {
    case CREDUTL_AUTH_QUILLMERE_HOST_ONLY:
      return TRUE;
    case CREDUTL_AUTH_QUILLMERE_NAMES:
      return xdr_credutl_string_credentials_t(xdrs, &a->credentials);
    default:
      return FALSE;
  }
}

bool_t xdr_credutl_auth_quillmere_p_t(XDR *xdrs,
                                      credutl_auth_quillmere_t **ap) {
  return xdr_ez_pointer(
      xdrs, reinterpret_cast<char **>(ap), sizeof(credutl_auth_quillmere_t),
      reinterpret_cast<xdrproc_t>(xdr_credutl_auth_quillmere_t));
}

bool_t xdr_credutl_client_t(XDR *xdrs, credutl_client_t *client) {
  enum_t family = client->auth_family;
  if (!xdr_enum(xdrs, &family) || family != CREDUTL_AUTH_FAMILY_QUILLMERE)
    return FALSE;
  client->auth_family = CREDUTL_AUTH_FAMILY_QUILLMERE;
  // Decoding makes a record of its own: the pointer of a record being
  // decoded into holds nothing yet, and may hold anything.
  if (xdrs->x_op == XDR_DECODE) {
    client->auth_data = nt_calloc(1, sizeof(credutl_auth_quillmere_t));
    if (client->auth_data == nullptr) return FALSE;
  }
  auto *auth = static_cast<credutl_auth_quillmere_t *>(client->auth_data);
  if (auth == nullptr) return xdrs->x_op == XDR_FREE;
  bool_t ok = xdr_credutl_auth_quillmere_t(xdrs, auth);
  if (xdrs->x_op == XDR_FREE) {
    std::free(auth);
    client->auth_data = nullptr;
  }
  return ok;
}

}  // extern "C"
