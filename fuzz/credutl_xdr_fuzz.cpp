// Credentials and client records on arbitrary bytes: every wire form
// decodes the input, whatever decoded encodes again in no more bytes than
// it took (less only when a decoded name held a NUL, which ends it in
// memory), and freeing releases everything (the leak checker sees the
// rest).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <orvexks/credutl.h>

namespace {

template <typename T>
void exercise(bool_t (*filter)(XDR *, T *), const uint8_t *data, size_t size) {
  std::vector<char> in(data, data + size);
  XDR xdrs;
  xdrmem_create(&xdrs, in.data(), static_cast<uint32_t>(size), XDR_DECODE);
  T value;
  memset(&value, 0, sizeof value);
  if (filter(&xdrs, &value)) {
    uint32_t consumed = XDR_GETPOS(&xdrs);
    std::vector<char> out(size + 8);
    XDR enc;
    xdrmem_create(&enc, out.data(), static_cast<uint32_t>(out.size()),
                  XDR_ENCODE);
    if (!filter(&enc, &value) || XDR_GETPOS(&enc) > consumed) abort();
  }
  xdr_free(reinterpret_cast<xdrproc_t>(filter), &value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) return 0;
  exercise(xdr_credutl_sid_t, data, size);
  exercise(xdr_credutl_credentials_t, data, size);
  exercise(xdr_credutl_sid_credentials_t, data, size);
  exercise(xdr_credutl_string_credentials_t, data, size);
  exercise(xdr_credutl_whole_credentials_t, data, size);
  exercise(xdr_credutl_whole_string_credentials_t, data, size);
  exercise(xdr_credutl_user_sid_t, data, size);
  exercise(xdr_credutl_group_sid_t, data, size);
  exercise(xdr_credutl_passwd_sid_t, data, size);
  exercise(xdr_credutl_auth_quillmere_t, data, size);
  exercise(xdr_credutl_auth_quillmere_p_t, data, size);
  exercise(xdr_credutl_client_t, data, size);
  return 0;
}
