// The mount protocol's export-list decoder on arbitrary bytes: decoding
// never overruns or recurses without bound, whatever decoded encodes again
// in no more bytes than it took (less only when a decoded name held a NUL,
// which ends it in memory), and freeing releases everything, a partly decoded
// list included (the leak checker sees the rest).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pfxmap/ntpfxmap_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 20) return 0;
  std::vector<char> in(data, data + size);
  XDR xdrs;
  xdrmem_create(&xdrs, in.data(), static_cast<uint32_t>(size), XDR_DECODE);
  shwmnt_export_t *list = nullptr;
  if (ksi_xdr_shwmnt_exports(&xdrs, &list)) {
    const uint32_t consumed = XDR_GETPOS(&xdrs);
    std::vector<char> out(consumed + 8);
    XDR enc;
    xdrmem_create(&enc, out.data(), static_cast<uint32_t>(out.size()),
                  XDR_ENCODE);
    if (!ksi_xdr_shwmnt_exports(&enc, &list) || XDR_GETPOS(&enc) > consumed)
      abort();
  }
  shwmnt_free(list);
  return 0;
}
