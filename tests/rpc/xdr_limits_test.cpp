// Decode limits that guard against hostile peers, each tested with every
// byte of the oversized item present, so that only the limit itself can
// refuse it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <vector>

#include <orvexks/rpc/rpc_msg.h>
#include <orvexks/rpc/xdr.h>

namespace {

// A decode stream over a copy of `words` (host order, stored big-endian),
// `offset` bytes into an aligned block: offset 0 lets filters take inline
// blocks, an odd offset makes them go word by word.
struct WireDecoder {
  WireDecoder(const std::vector<uint32_t> &words, size_t offset)
      : storage(words.size() + 2) {
    char *start = reinterpret_cast<char *>(storage.data()) + offset;
    for (size_t i = 0; i < words.size(); ++i) {
      uint32_t be = htonl(words[i]);
      std::memcpy(start + 4 * i, &be, 4);
    }
    xdrmem_create(&xdrs, start, static_cast<uint32_t>(words.size() * 4),
                  XDR_DECODE);
  }
  std::vector<uint32_t> storage;
  XDR xdrs;
};

TEST(XdrLimits, BytesLongerThanTheMaximumAreRefusedWhenAllArePresent) {
  alignas(8) char buf[64];
  XDR enc;
  xdrmem_create(&enc, buf, sizeof buf, XDR_ENCODE);
  char ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  char *p = ten;
  uint32_t n = 10;
  ASSERT_TRUE(xdr_bytes(&enc, &p, &n, 10));
  uint32_t used = XDR_GETPOS(&enc);
  ASSERT_EQ(16u, used);
  alignas(8) char spare[64];
  XDR over;
  xdrmem_create(&over, spare, sizeof spare, XDR_ENCODE);
  EXPECT_FALSE(xdr_bytes(&over, &p, &n, 9)) << "encoding keeps the maximum too";

  for (uint32_t maxsize : {8u, 9u, 10u}) {
    XDR dec;
    xdrmem_create(&dec, buf, used, XDR_DECODE);
    char *out = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(maxsize >= 10, xdr_bytes(&dec, &out, &len, maxsize) != 0)
        << maxsize;
    EXPECT_EQ(maxsize >= 10, out != nullptr)
        << "nothing allocated when refused";
    dec.x_op = XDR_FREE;
    xdr_bytes(&dec, &out, &len, maxsize);
  }
}

// The words of a call with a credential body of cred_len bytes and a
// verifier body of verf_len bytes, every byte present.
std::vector<uint32_t> call_words(uint32_t cred_len, uint32_t verf_len) {
  std::vector<uint32_t> w = {77, CALL, 2, 100003, 3, 1, AUTH_UNIX, cred_len};
  w.insert(w.end(), (cred_len + 3) / 4, 0x01020304u);
  w.push_back(AUTH_NONE);
  w.push_back(verf_len);
  w.insert(w.end(), (verf_len + 3) / 4, 0x05060708u);
  return w;
}

TEST(XdrLimits, CallCredentialAndVerifierAtMostFourHundredBytes) {
  struct Case {
    uint32_t cred, verf;
    bool ok;
  } cases[] = {{400, 0, true},  {401, 0, false},  {0, 400, true},
               {0, 401, false}, {400, 400, true}, {404, 8, false}};
  for (const Case &c : cases) {
    for (size_t offset : {0u, 1u}) {
      WireDecoder d(call_words(c.cred, c.verf), offset);
      struct rpc_msg msg;
      std::memset(&msg, 0, sizeof msg);
      EXPECT_EQ(c.ok, xdr_ks_callmsg(&d.xdrs, &msg) != 0)
          << "credential " << c.cred << ", verifier " << c.verf
          << (offset ? ", word by word" : ", inline");
      xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_callmsg), &msg);
    }
  }
}

TEST(XdrLimits, CallEncodingHoldsTheVerifierToFourHundredBytes) {
  static char body[401];
  for (uint32_t len : {400u, 401u}) {
    struct rpc_msg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.rm_direction = CALL;
    msg.rm_call.cb_rpcvers = 2;
    msg.rm_call.cb_verf.oa_base = body;
    msg.rm_call.cb_verf.oa_length = len;
    alignas(8) static char buf[1024];
    XDR xdrs;
    xdrmem_create(&xdrs, buf, sizeof buf, XDR_ENCODE);
    EXPECT_EQ(len <= 400, xdr_ks_callmsg(&xdrs, &msg) != 0) << len;
  }
}

}  // namespace
