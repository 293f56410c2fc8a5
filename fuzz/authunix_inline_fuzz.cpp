// The AUTH_UNIX and AUTH_NT server authenticators on arbitrary credential
// bodies: aligned bodies take the inline parser, unaligned ones the filter.
// Nothing may be written outside the request's scratch area.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <orvexks/rpc/svc.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > MAX_AUTH_BYTES + 1) return 0;
  // The first byte picks the flavour and the alignment.
  int flavor = (data[0] & 1) ? AUTH_NT : AUTH_UNIX;
  size_t misalign = (data[0] >> 1) & 1;
  ++data;
  --size;
  alignas(8) char body[MAX_AUTH_BYTES + 8];
  memcpy(body + misalign, data, size);
  alignas(8) char area[KS_SVC_CLNTCRED_SIZE];
  SVCXPRT xprt = {};
  svc_req req = {};
  req.rq_xprt = &xprt;
  req.rq_clntcred = area;
  rpc_msg msg = {};
  msg.rm_call.cb_cred = {flavor, body + misalign, static_cast<uint32_t>(size)};
  _ks_authenticate(&req, &msg);
  return 0;
}

// The inline parser reports overlong bodies on standard output; keep the
// fuzzer's output readable.
__attribute__((constructor)) static void quiet_stdout() {
  freopen("/dev/null", "w", stdout);
}
