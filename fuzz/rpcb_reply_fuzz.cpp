// Arbitrary bytes as binder reply bodies, decoded by every binder filter
// from a memory stream and freed again, and as universal address text.
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <orvexks/rpc/rpcb.h>

#include "rpc/bind/netconfig.h"
#include "rpc/bind/rpcb_prot.h"
#include "rpc/bind/uaddr.h"

namespace {

template <typename T, typename F>
void decode_and_free(const uint8_t *data, size_t size, F filter) {
  XDR x;
  xdrmem_create(&x, const_cast<char *>(reinterpret_cast<const char *>(data)),
                static_cast<uint32_t>(size), XDR_DECODE);
  T obj{};
  filter(&x, &obj);
  xdr_free(reinterpret_cast<xdrproc_t>(+filter), &obj);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  decode_and_free<struct rpcblist *>(data, size, xdr_ks_rpcblist_ptr);
  decode_and_free<struct pmaplist *>(data, size, xdr_ks_pmaplist_ptr);
  decode_and_free<struct rpcb>(data, size, xdr_ks_rpcb);
  decode_and_free<ksi_rpcb_entry_list *>(data, size,
                                         ksi_xdr_rpcb_entry_list_ptr);
  decode_and_free<struct netbuf>(data, size, ksi_xdr_netbuf);
  decode_and_free<char *>(data, size, ksi_xdr_uaddr);
  {
    XDR x;
    xdrmem_create(&x, const_cast<char *>(reinterpret_cast<const char *>(data)),
                  static_cast<uint32_t>(size), XDR_DECODE);
    uint32_t result = 0;
    ksi_rmtcallres res = {nullptr, reinterpret_cast<xdrproc_t>(xdr_u_int32_t),
                          &result};
    ksi_xdr_rmtcallres(&x, &res);
    free(res.addr);
  }
  std::string text(reinterpret_cast<const char *>(data), size);
  for (const char *netid : {"udp", "tcp6"}) {
    sockaddr_storage ss;
    uint32_t len =
        ksi_uaddr2taddr(ksi_netconfig_lookup(netid), text.c_str(), &ss);
    if (len != 0) free(ksi_taddr2uaddr(reinterpret_cast<sockaddr *>(&ss), len));
  }
  return 0;
}
