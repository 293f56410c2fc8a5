// Call and reply message decoding on arbitrary bytes, over an aligned
// memory stream (inline paths) and an unaligned one (word by word), then
// freeing whatever was decoded.
#include <cstdint>
#include <cstring>
#include <vector>

#include <orvexks/rpc/rpc_msg.h>

namespace {

void decode_both(const uint8_t *data, size_t size, char *buf) {
  memcpy(buf, data, size);
  XDR xdrs;
  rpc_msg call = {};
  xdrmem_create(&xdrs, buf, static_cast<uint32_t>(size), XDR_DECODE);
  xdr_ks_callmsg(&xdrs, &call);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_callmsg), &call);

  uint32_t result = 0;
  rpc_msg reply = {};
  reply.acpted_rply.ar_results.where = &result;
  reply.acpted_rply.ar_results.proc =
      reinterpret_cast<xdrproc_t>(xdr_u_int32_t);
  xdrmem_create(&xdrs, buf, static_cast<uint32_t>(size), XDR_DECODE);
  xdr_ks_replymsg(&xdrs, &reply);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_replymsg), &reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint64_t> storage(size / 8 + 2);
  char *aligned = reinterpret_cast<char *>(storage.data());
  decode_both(data, size, aligned);
  decode_both(data, size, aligned + 1);
  return 0;
}
