/* Scenario "xdr": one value of every standard filter, in the order of
 * xdr_peer_values.h. decode prints one line per value; doubles and floats
 * print as their bit patterns so that word order stays visible. */
#include "tirpc_peer.h"

#include <inttypes.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xdr_peer_values.h"

struct peer_union {
  int disc;
  union {
    int number;
    char *text;
  } u;
};

static bool_t union_text(XDR *xdrs, char **text) {
  return xdr_string(xdrs, text, 100);
}

static const struct xdr_discrim union_arms[] = {
    {1, (xdrproc_t)xdr_int},
    {2, (xdrproc_t)union_text},
    {0, NULL},
};

struct values {
  int i;
  u_int ui;
  quad_t h;
  u_quad_t uh;
  bool_t b;
  enum_t e;
  float f;
  double d;
  char opaque[PV_OPAQUE_LEN];
  char *bytes;
  u_int bytes_len;
  char *string;
  u_int *array;
  u_int array_len;
  short vector[PV_VECTOR_LEN];
  struct peer_union un;
  int *present, *absent;
};

/* Every value in wire order, in the stream's direction; decoding
 * allocates what the pointers of v (null) point to. */
static int code_values(XDR *xdrs, struct values *v) {
  PEER_CHECK(xdr_int(xdrs, &v->i));
  PEER_CHECK(xdr_u_int(xdrs, &v->ui));
  PEER_CHECK(xdr_hyper(xdrs, &v->h));
  PEER_CHECK(xdr_u_hyper(xdrs, &v->uh));
  PEER_CHECK(xdr_bool(xdrs, &v->b));
  PEER_CHECK(xdr_enum(xdrs, &v->e));
  PEER_CHECK(xdr_float(xdrs, &v->f));
  PEER_CHECK(xdr_double(xdrs, &v->d));
  PEER_CHECK(xdr_opaque(xdrs, v->opaque, PV_OPAQUE_LEN));
  PEER_CHECK(xdr_bytes(xdrs, &v->bytes, &v->bytes_len, 100));
  PEER_CHECK(xdr_string(xdrs, &v->string, 100));
  PEER_CHECK(xdr_array(xdrs, (char **)&v->array, &v->array_len, 100,
                       sizeof(u_int), (xdrproc_t)xdr_u_int));
  PEER_CHECK(xdr_vector(xdrs, (char *)v->vector, PV_VECTOR_LEN, sizeof(short),
                        (xdrproc_t)xdr_short));
  PEER_CHECK(xdr_union(xdrs, &v->un.disc, (char *)&v->un.u, union_arms,
                       (xdrproc_t)xdr_void));
  PEER_CHECK(
      xdr_pointer(xdrs, (char **)&v->present, sizeof(int), (xdrproc_t)xdr_int));
  PEER_CHECK(
      xdr_pointer(xdrs, (char **)&v->absent, sizeof(int), (xdrproc_t)xdr_int));
  return 0;
}

static int encode_values(XDR *xdrs) {
  u_int array[] = PV_ARRAY;
  short vector[] = PV_VECTOR;
  int pointee = PV_POINTER_VALUE;
  struct values v = {.i = PV_INT,
                     .ui = PV_U_INT,
                     .h = PV_HYPER,
                     .uh = PV_U_HYPER,
                     .b = PV_BOOL,
                     .e = PV_ENUM,
                     .f = PV_FLOAT,
                     .d = PV_DOUBLE};
  memcpy(v.opaque, PV_OPAQUE, PV_OPAQUE_LEN);
  v.bytes = PV_BYTES;
  v.bytes_len = PV_BYTES_LEN;
  v.string = PV_STRING;
  v.array = array;
  v.array_len = PV_ARRAY_LEN;
  memcpy(v.vector, vector, sizeof vector);
  v.un.disc = PV_UNION_DISC;
  v.un.u.text = PV_UNION_STRING;
  v.present = &pointee;
  return code_values(xdrs, &v);
}

static int decode_values(XDR *xdrs, FILE *out) {
  struct values v;
  memset(&v, 0, sizeof v);
  if (code_values(xdrs, &v) != 0) return 1;
  uint32_t fbits;
  uint64_t dbits;
  memcpy(&fbits, &v.f, 4);
  memcpy(&dbits, &v.d, 8);
  fprintf(out, "int %d\nu_int %u\n", v.i, v.ui);
  fprintf(out, "hyper %" PRId64 "\nu_hyper %" PRIu64 "\n", (int64_t)v.h,
          (uint64_t)v.uh);
  fprintf(out, "bool %d\nenum %d\n", (int)v.b, (int)v.e);
  fprintf(out, "float %08" PRIx32 "\ndouble %016" PRIx64 "\nopaque", fbits,
          dbits);
  for (int k = 0; k < PV_OPAQUE_LEN; ++k)
    fprintf(out, " %02x", (unsigned char)v.opaque[k]);
  fprintf(out, "\nbytes %u %.*s\n", v.bytes_len, (int)v.bytes_len, v.bytes);
  fprintf(out, "string %s\narray %u", v.string, v.array_len);
  for (u_int k = 0; k < v.array_len; ++k) fprintf(out, " %u", v.array[k]);
  fprintf(out, "\nvector");
  for (int k = 0; k < PV_VECTOR_LEN; ++k) fprintf(out, " %d", v.vector[k]);
  fprintf(out, "\nunion %d %s\n", v.un.disc,
          v.un.disc == 2 ? v.un.u.text : "(not text)");
  fprintf(out, "pointer %d %s\n", v.present ? *v.present : -1,
          v.absent ? "present" : "null");

  free(v.string);
  free(v.bytes);
  free(v.array);
  if (v.un.disc == 2) free(v.un.u.text);
  free(v.present);
  return 0;
}

PEER_SCENARIO(xdr, encode_values, decode_values)
