// Wire forms of ids, SIDs and credentials records.
//
// Decoders never trust a count before checking it: inline group counts
// must lie in 0..32, and the open-ended arrays of whole credentials grow as
// their elements arrive, so a large count in a short message fails at the
// end of the data instead of allocating for elements that never come.
#include <orvexks/credutl.h>
#include <orvexks/stg.h>

#include <cstdlib>
#include <cstring>

#include "internal/alloc_fault.h"

namespace {

constexpr uint32_t kFirstChunk = 16;
constexpr int32_t kInlineGroups = CREDUTL_MAX_GROUPS;

char kEmpty[] = "";

bool inline_count_ok(int32_t n) { return n >= 0 && n <= kInlineGroups; }

// A name through xdr_ez_string8; encoding sends a null name as "".
bool_t code_name(XDR *xdrs, char **name) {
  if (xdrs->x_op == XDR_ENCODE && *name == nullptr) {
    char *empty = kEmpty;
    return xdr_ez_string8(xdrs, &empty);
  }
  return xdr_ez_string8(xdrs, name);
}

// An unbounded name (account records); null travels as "".
bool_t code_long_name(XDR *xdrs, char **name) {
  if (xdrs->x_op == XDR_ENCODE && *name == nullptr) {
    char *empty = kEmpty;
    return xdr_wrapstring(xdrs, &empty);
  }
  return xdr_wrapstring(xdrs, name);
}

// Where an open-ended array's memory comes from and goes back to.
struct array_heap {
  void *(*grow)(void *block, size_t size);
  void (*release)(void *block);
};

const array_heap kGuardedHeap = {stg_realloc, stg_free};
const array_heap kPlainHeap = {nt_realloc, std::free};

// Codes a counted array of T whose count is *n. Decoding grows the array
// (doubling from kFirstChunk) as elements arrive and keeps *n equal to the
// elements decoded so far, so a failed decode can be freed by the same
// filter.
template <typename T>
bool_t code_counted(XDR *xdrs, T **array, int32_t *n, const array_heap &heap,
                    bool_t (*element)(XDR *, T *)) {
  switch (xdrs->x_op) {
    case XDR_ENCODE: {
      if (*n < 0 || (*n > 0 && *array == nullptr)) return FALSE;
      uint32_t count = static_cast<uint32_t>(*n);
      if (!xdr_u_int32_t(xdrs, &count)) return FALSE;
      for (uint32_t i = 0; i < count; ++i)
        if (!element(xdrs, &(*array)[i])) return FALSE;
      return TRUE;
    }
    case XDR_DECODE: {
      uint32_t count;
      *array = nullptr;
      *n = 0;
      if (!xdr_u_int32_t(xdrs, &count) || count > INT32_MAX) return FALSE;
      uint32_t capacity = 0;
      for (uint32_t i = 0; i < count; ++i) {
        if (i == capacity) {
          uint32_t wanted = capacity == 0 ? kFirstChunk : capacity * 2;
          if (wanted > count) wanted = count;
          void *grown = heap.grow(*array, wanted * sizeof(T));
          if (grown == nullptr) return FALSE;
          *array = static_cast<T *>(grown);
          std::memset(*array + capacity, 0, (wanted - capacity) * sizeof(T));
          capacity = wanted;
        }
        // Counted before decoding, so that a half-decoded element is freed.
        *n = static_cast<int32_t>(i + 1);
        if (!element(xdrs, &(*array)[i])) return FALSE;
      }
      return TRUE;
    }
    case XDR_FREE:
      if (*array != nullptr)
        for (int32_t i = 0; i < *n; ++i) element(xdrs, &(*array)[i]);
      heap.release(*array);
      *array = nullptr;
      *n = 0;
      return TRUE;
  }
  return FALSE;
}

}  // namespace

extern "C" {

bool_t xdr_credutl_uid_t(XDR *xdrs, credutl_uid_t *uid) {
  return xdr_u_int32_t(xdrs, uid);
}

bool_t xdr_credutl_gid_t(XDR *xdrs, credutl_gid_t *gid) {
  return xdr_u_int32_t(xdrs, gid);
}

bool_t xdr_credutl_sid_t(XDR *xdrs, credutl_sid_t *sid) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  if (xdrs->x_op == XDR_DECODE) std::memset(sid, 0, sizeof *sid);
  int32_t length = sid->length;
  if (!xdr_int32_t(xdrs, &length)) return FALSE;
  if (length == 0) return TRUE;
  if (length < CREDUTL_SID_PLACEHOLDER_LENGTH || length > CREDUTL_SID_SIZE)
    return FALSE;
  int32_t type = sid->type;
  if (!xdr_int32_t(xdrs, &type) || type < 0 || type > 0xFF) return FALSE;
  if (xdrs->x_op == XDR_DECODE) {
    sid->length = static_cast<signed char>(length);
    sid->type = static_cast<unsigned char>(type);
  }
  return xdr_opaque(xdrs, reinterpret_cast<char *>(sid->data),
                    static_cast<uint32_t>(length - 2));
}

bool_t xdr_credutl_credentials_t(XDR *xdrs, credutl_credentials_t *c) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  if (!xdr_u_int32_t(xdrs, &c->uid) || !xdr_u_int32_t(xdrs, &c->gid) ||
      !xdr_int32_t(xdrs, &c->ngroups))
    return FALSE;
  if (xdrs->x_op == XDR_DECODE && !inline_count_ok(c->ngroups)) return FALSE;
  return xdr_vector(xdrs, reinterpret_cast<char *>(c->groups),
                    CREDUTL_MAX_GROUPS, sizeof c->groups[0],
                    reinterpret_cast<xdrproc_t>(xdr_u_int32_t));
}

bool_t xdr_credutl_sid_credentials_t(XDR *xdrs, credutl_sid_credentials_t *s) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  if (xdrs->x_op == XDR_DECODE) std::memset(s, 0, sizeof *s);
  if (!xdr_credutl_sid_t(xdrs, &s->user) ||
      !xdr_credutl_sid_t(xdrs, &s->group) || !xdr_int32_t(xdrs, &s->ngroups))
    return FALSE;
  if (!inline_count_ok(s->ngroups)) return FALSE;
  for (int32_t i = 0; i < s->ngroups; ++i)
    if (!xdr_credutl_sid_t(xdrs, &s->groups[i])) return FALSE;
  return TRUE;
}

bool_t xdr_credutl_string_credentials_t(XDR *xdrs,
                                        credutl_string_credentials_t *n) {
  if (xdrs->x_op == XDR_FREE) {
    credutl_free_string_credentials(n);
    return TRUE;
  }
  if (xdrs->x_op == XDR_DECODE) std::memset(n, 0, sizeof *n);
  if (xdrs->x_op == XDR_ENCODE && !inline_count_ok(n->ngroups)) return FALSE;
  if (!code_name(xdrs, &n->user) || !code_name(xdrs, &n->group)) return FALSE;
  int32_t count = n->ngroups;
  if (!xdr_int32_t(xdrs, &count) || !inline_count_ok(count)) return FALSE;
  n->ngroups = count;
  for (int32_t i = 0; i < count; ++i)
    if (!code_name(xdrs, &n->groups[i])) return FALSE;
  return TRUE;
}

bool_t xdr_credutl_whole_credentials_t(XDR *xdrs,
                                       credutl_whole_credentials_t *w) {
  if (xdrs->x_op == XDR_DECODE) {
    std::memset(&w->user, 0, sizeof w->user);
    std::memset(&w->group, 0, sizeof w->group);
    w->groups = nullptr;
    w->ngroups = 0;
  }
  if (xdrs->x_op != XDR_FREE && (!xdr_credutl_sid_t(xdrs, &w->user) ||
                                 !xdr_credutl_sid_t(xdrs, &w->group)))
    return FALSE;
  return code_counted(xdrs, &w->groups, &w->ngroups, kGuardedHeap,
                      xdr_credutl_sid_t);
}

bool_t xdr_credutl_whole_string_credentials_t(
    XDR *xdrs, credutl_whole_string_credentials_t *n) {
  if (xdrs->x_op == XDR_DECODE) std::memset(n, 0, sizeof *n);
  if (!code_name(xdrs, &n->user) || !code_name(xdrs, &n->group)) return FALSE;
  return code_counted(xdrs, &n->groups, &n->ngroups, kPlainHeap, code_name);
}

bool_t xdr_credutl_user_sid_t(XDR *xdrs, credutl_user_sid_t *u) {
  if (xdrs->x_op == XDR_DECODE) std::memset(u, 0, sizeof *u);
  return code_long_name(xdrs, &u->name) && xdr_u_int32_t(xdrs, &u->uid) &&
         xdr_credutl_sid_t(xdrs, &u->sid);
}

bool_t xdr_credutl_group_sid_t(XDR *xdrs, credutl_group_sid_t *g) {
  if (xdrs->x_op == XDR_DECODE) std::memset(g, 0, sizeof *g);
  return code_long_name(xdrs, &g->name) && xdr_u_int32_t(xdrs, &g->gid) &&
         xdr_credutl_sid_t(xdrs, &g->sid);
}

bool_t xdr_credutl_passwd_sid_t(XDR *xdrs, credutl_passwd_sid_t *p) {
  if (xdrs->x_op == XDR_DECODE) std::memset(p, 0, sizeof *p);
  return xdr_credutl_user_sid_t(xdrs, &p->user) &&
         xdr_credutl_group_sid_t(xdrs, &p->group) &&
         code_long_name(xdrs, &p->gecos) && code_long_name(xdrs, &p->home);
}

}  // extern "C"
