// Arbitrary bytes through a memory stream into a decoding filter chosen by
// the first byte (the second byte's low bit picks an unaligned stream),
// then xdr_free with the same filter: nothing may crash, read outside the
// input, or leak.
#include <orvexks/rpc/xdr.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

template <typename T>
xdrproc_t proc(T fn) {
  return reinterpret_cast<xdrproc_t>(fn);
}

// Decodes one object of type T with `filter` and frees it.
template <typename T, typename Filter>
void decode_and_free(XDR *xdrs, Filter filter) {
  T object;
  std::memset(&object, 0, sizeof object);
  filter(xdrs, &object);
  xdr_free(proc(filter), &object);
}

struct Bytes {
  char *data;
  uint32_t len;
};
bool_t bytes_filter(XDR *x, Bytes *b) {
  return xdr_bytes(x, &b->data, &b->len, 1u << 20);
}
bool_t netobj_filter(XDR *x, netobj *n) { return xdr_netobj(x, n); }
bool_t bounded_string(XDR *x, char **s) { return xdr_string(x, s, 4096); }

struct Array {
  char *elements;
  uint32_t count;
};
bool_t word_array(XDR *x, Array *a) {
  return xdr_array(x, &a->elements, &a->count, UINT32_MAX, 4, proc(xdr_u_int));
}
bool_t string_array(XDR *x, Array *a) {
  return xdr_array(x, &a->elements, &a->count, 100000, sizeof(char *),
                   proc(xdr_wrapstring));
}
bool_t hyper_vector(XDR *x, int64_t (*v)[4]) {
  return xdr_vector(x, reinterpret_cast<char *>(*v), 4, 8, proc(xdr_hyper));
}

struct Node {
  int value;
  char *name;
  Node *next;
};
bool_t xdr_node(XDR *x, Node *n) {
  return xdr_int(x, &n->value) && xdr_wrapstring(x, &n->name) &&
         xdr_pointer(x, reinterpret_cast<char **>(&n->next), sizeof(Node),
                     proc(xdr_node));
}
bool_t node_list(XDR *x, Node **head) {
  return xdr_pointer(x, reinterpret_cast<char **>(head), sizeof(Node),
                     proc(xdr_node));
}

struct Tagged {
  enum_t tag;
  union {
    int64_t number;
    char *text;
    Array words;
  } u;
};
bool_t text_arm(XDR *x, char **t) { return xdr_wrapstring(x, t); }
const xdr_discrim tagged_arms[] = {{1, proc(xdr_hyper)},
                                   {2, proc(text_arm)},
                                   {3, proc(word_array)},
                                   {0, nullptr}};
bool_t tagged(XDR *x, Tagged *t) {
  return xdr_union(x, &t->tag, reinterpret_cast<char *>(&t->u), tagged_arms,
                   nullptr);
}
bool_t optional_string(XDR *x, char **s) {
  return xdr_string_pointer(x, s, 1024);
}

using Decoder = void (*)(XDR *);

const Decoder kDecoders[] = {
    [](XDR *x) { decode_and_free<int>(x, xdr_int); },
    [](XDR *x) { decode_and_free<long>(x, xdr_long); },
    [](XDR *x) { decode_and_free<unsigned long>(x, xdr_u_long); },
    [](XDR *x) { decode_and_free<short>(x, xdr_short); },
    [](XDR *x) { decode_and_free<char>(x, xdr_char); },
    [](XDR *x) { decode_and_free<bool_t>(x, xdr_bool); },
    [](XDR *x) { decode_and_free<uint64_t>(x, xdr_u_hyper); },
    [](XDR *x) { decode_and_free<float>(x, xdr_float); },
    [](XDR *x) { decode_and_free<double>(x, xdr_double); },
    [](XDR *x) { decode_and_free<struct timeval>(x, xdr_timeval); },
    [](XDR *x) { decode_and_free<Bytes>(x, bytes_filter); },
    [](XDR *x) { decode_and_free<netobj>(x, netobj_filter); },
    [](XDR *x) { decode_and_free<char *>(x, xdr_wrapstring); },
    [](XDR *x) { decode_and_free<char *>(x, bounded_string); },
    [](XDR *x) { decode_and_free<Array>(x, word_array); },
    [](XDR *x) { decode_and_free<Array>(x, string_array); },
    [](XDR *x) { decode_and_free<int64_t[4]>(x, hyper_vector); },
    [](XDR *x) { decode_and_free<Node *>(x, node_list); },
    [](XDR *x) { decode_and_free<Tagged>(x, tagged); },
    [](XDR *x) { decode_and_free<int8_t>(x, xdr_ks_char_t); },
    [](XDR *x) { decode_and_free<int64_t>(x, xdr_ks_int64_t); },
    [](XDR *x) { decode_and_free<stg_area_t>(x, xdr_stg_area_rpc_ptr_t); },
    [](XDR *x) { decode_and_free<char *>(x, optional_string); },
    [](XDR *x) {
      decode_and_free<strutl_flag_item_t>(x, xdr_strutl_flag_item_t);
    },
    [](XDR *x) { decode_and_free<sockaddr_in>(x, xdr_sockaddr_in); },
    [](XDR *x) { decode_and_free<sockaddr_in6>(x, xdr_sockaddr_in6); },
    [](XDR *x) {
      decode_and_free<sockaddr_storage>(x, xdr_ks_sockaddr_storage_t);
    },
    [](XDR *x) { decode_and_free<char *>(x, xdr_ks_canon_pname_p_t); },
    [](XDR *x) {
      // Decodes into a caller buffer as large as anything the input holds.
      std::vector<char> buf(x->x_handy + 1);
      xdr_ks_canon_pname_t(x, buf.data());
    },
    [](XDR *x) {
      uint64_t *slots = nullptr;
      uint32_t count = 0, index = 0;
      void *cursor = nullptr;
      qmthread_mutex_t mutex;
      qmthread_mutex_init(&mutex);
      xdr_ks_generic_cursor_t(x, &cursor, &index, &slots, &count, &mutex);
      if (slots != nullptr) stg_free(reinterpret_cast<char *>(slots) - 16);
      qmthread_mutex_destroy(&mutex);
    },
};

constexpr size_t kDecoderCount = sizeof kDecoders / sizeof kDecoders[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const Decoder decode = kDecoders[data[0] % kDecoderCount];
  size_t offset = data[1] & 1;
  size_t len = size - 2;
  // A fresh heap block of exactly the input, so the sanitizer sees any
  // read past its end.
  char *block =
      static_cast<char *>(std::malloc(std::max<size_t>(len + offset, 1)));
  std::memcpy(block + offset, data + 2, len);
  XDR xdrs;
  xdrmem_create(&xdrs, block + offset, static_cast<uint32_t>(len), XDR_DECODE);
  decode(&xdrs);
  std::free(block);
  return 0;
}
