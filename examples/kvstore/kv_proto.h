/* The key-value program shared by kv_server and kv_client: its numbers
 * and the XDR filters of its arguments and results. */
#pragma once

#include <orvexks/orvexks.h>

#define KV_PROG 0x20000201u
#define KV_VERS 1u
#define KV_PORT 20611 /* the standalone server's fixed port */

enum { KV_NULL = 0, KV_GET = 1, KV_PUT = 2, KV_DELETE = 3, KV_LIST = 4 };

#define KV_MAX_TEXT 1024
#define KV_MAX_KEYS 4096

/* PUT's argument; GET's result (found = 0: no such key, value empty). */
struct kv_pair {
  char *key;
  char *value;
};
struct kv_value {
  bool_t found;
  char *value;
};
/* LIST's result. */
struct kv_keys {
  uint32_t count;
  char **keys;
};

static inline bool_t xdr_kv_text(XDR *xdrs, char **text) {
  return xdr_string(xdrs, text, KV_MAX_TEXT);
}
static inline bool_t xdr_kv_pair(XDR *xdrs, struct kv_pair *p) {
  return xdr_kv_text(xdrs, &p->key) && xdr_kv_text(xdrs, &p->value);
}
static inline bool_t xdr_kv_value(XDR *xdrs, struct kv_value *v) {
  return xdr_bool(xdrs, &v->found) && xdr_kv_text(xdrs, &v->value);
}
static inline bool_t xdr_kv_keys(XDR *xdrs, struct kv_keys *k) {
  return xdr_array(xdrs, (char **)&k->keys, &k->count, KV_MAX_KEYS,
                   sizeof(char *), (xdrproc_t)xdr_kv_text);
}
