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

static int encode_values(XDR *xdrs) {
  int i = PV_INT;
  u_int ui = PV_U_INT;
  quad_t h = PV_HYPER;
  u_quad_t uh = PV_U_HYPER;
  bool_t b = PV_BOOL;
  enum_t e = PV_ENUM;
  float f = PV_FLOAT;
  double d = PV_DOUBLE;
  char opaque[] = PV_OPAQUE;
  char *bytes = PV_BYTES;
  u_int bytes_len = PV_BYTES_LEN;
  char *string = PV_STRING;
  u_int array_values[] = PV_ARRAY;
  u_int *array = array_values;
  u_int array_len = PV_ARRAY_LEN;
  short vector[] = PV_VECTOR;
  struct peer_union un = {PV_UNION_DISC, {0}};
  un.u.text = PV_UNION_STRING;
  int pointee = PV_POINTER_VALUE;
  int *present = &pointee, *absent = NULL;

  PEER_CHECK(xdr_int(xdrs, &i));
  PEER_CHECK(xdr_u_int(xdrs, &ui));
  PEER_CHECK(xdr_hyper(xdrs, &h));
  PEER_CHECK(xdr_u_hyper(xdrs, &uh));
  PEER_CHECK(xdr_bool(xdrs, &b));
  PEER_CHECK(xdr_enum(xdrs, &e));
  PEER_CHECK(xdr_float(xdrs, &f));
  PEER_CHECK(xdr_double(xdrs, &d));
  PEER_CHECK(xdr_opaque(xdrs, opaque, PV_OPAQUE_LEN));
  PEER_CHECK(xdr_bytes(xdrs, &bytes, &bytes_len, 100));
  PEER_CHECK(xdr_string(xdrs, &string, 100));
  PEER_CHECK(xdr_array(xdrs, (char **)&array, &array_len, 100, sizeof(u_int),
                       (xdrproc_t)xdr_u_int));
  PEER_CHECK(xdr_vector(xdrs, (char *)vector, PV_VECTOR_LEN, sizeof(short),
                        (xdrproc_t)xdr_short));
  PEER_CHECK(xdr_union(xdrs, &un.disc, (char *)&un.u, union_arms,
                       (xdrproc_t)xdr_void));
  PEER_CHECK(
      xdr_pointer(xdrs, (char **)&present, sizeof(int), (xdrproc_t)xdr_int));
  PEER_CHECK(
      xdr_pointer(xdrs, (char **)&absent, sizeof(int), (xdrproc_t)xdr_int));
  return 0;
}

static int decode_values(XDR *xdrs, FILE *out) {
  int i;
  u_int ui;
  quad_t h;
  u_quad_t uh;
  bool_t b;
  enum_t e;
  float f;
  double d;
  char opaque[PV_OPAQUE_LEN];
  char *bytes = NULL;
  u_int bytes_len = 0;
  char *string = NULL;
  u_int *array = NULL;
  u_int array_len = 0;
  short vector[PV_VECTOR_LEN];
  struct peer_union un;
  int *present = NULL, *absent = NULL;
  uint32_t fbits;
  uint64_t dbits;

  memset(&un, 0, sizeof un);
  PEER_CHECK(xdr_int(xdrs, &i));
  PEER_CHECK(xdr_u_int(xdrs, &ui));
  PEER_CHECK(xdr_hyper(xdrs, &h));
  PEER_CHECK(xdr_u_hyper(xdrs, &uh));
  PEER_CHECK(xdr_bool(xdrs, &b));
  PEER_CHECK(xdr_enum(xdrs, &e));
  PEER_CHECK(xdr_float(xdrs, &f));
  PEER_CHECK(xdr_double(xdrs, &d));
  PEER_CHECK(xdr_opaque(xdrs, opaque, PV_OPAQUE_LEN));
  PEER_CHECK(xdr_bytes(xdrs, &bytes, &bytes_len, 100));
  PEER_CHECK(xdr_string(xdrs, &string, 100));
  PEER_CHECK(xdr_array(xdrs, (char **)&array, &array_len, 100, sizeof(u_int),
                       (xdrproc_t)xdr_u_int));
  PEER_CHECK(xdr_vector(xdrs, (char *)vector, PV_VECTOR_LEN, sizeof(short),
                        (xdrproc_t)xdr_short));
  PEER_CHECK(xdr_union(xdrs, &un.disc, (char *)&un.u, union_arms,
                       (xdrproc_t)xdr_void));
  PEER_CHECK(
      xdr_pointer(xdrs, (char **)&present, sizeof(int), (xdrproc_t)xdr_int));
  PEER_CHECK(
      xdr_pointer(xdrs, (char **)&absent, sizeof(int), (xdrproc_t)xdr_int));

  memcpy(&fbits, &f, 4);
  memcpy(&dbits, &d, 8);
  fprintf(out, "int %d\n", i);
  fprintf(out, "u_int %u\n", ui);
  fprintf(out, "hyper %" PRId64 "\n", (int64_t)h);
  fprintf(out, "u_hyper %" PRIu64 "\n", (uint64_t)uh);
  fprintf(out, "bool %d\n", (int)b);
  fprintf(out, "enum %d\n", (int)e);
  fprintf(out, "float %08" PRIx32 "\n", fbits);
  fprintf(out, "double %016" PRIx64 "\n", dbits);
  fprintf(out, "opaque");
  for (int k = 0; k < PV_OPAQUE_LEN; ++k)
    fprintf(out, " %02x", (unsigned char)opaque[k]);
  fprintf(out, "\nbytes %u %.*s\n", bytes_len, (int)bytes_len, bytes);
  fprintf(out, "string %s\n", string);
  fprintf(out, "array %u", array_len);
  for (u_int k = 0; k < array_len; ++k) fprintf(out, " %u", array[k]);
  fprintf(out, "\nvector");
  for (int k = 0; k < PV_VECTOR_LEN; ++k) fprintf(out, " %d", vector[k]);
  fprintf(out, "\nunion %d %s\n", un.disc,
          un.disc == 2 ? un.u.text : "(not text)");
  fprintf(out, "pointer %d %s\n", present ? *present : -1,
          absent ? "present" : "null");

  xdr_free((xdrproc_t)xdr_wrapstring, (char *)&string);
  free(bytes);
  free(array);
  if (un.disc == 2) free(un.u.text);
  free(present);
  return 0;
}

PEER_SCENARIO(xdr, encode_values, decode_values)
