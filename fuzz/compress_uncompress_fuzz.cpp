// Fuzzes the decoder on arbitrary blocks, and the encoder with a round
// trip. A block either is refused or expands to exactly its announced
// length, never more than its codes could produce; arbitrary data
// compresses within the encoder's bound and expands back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <orvexks/compress.h>
#include <orvexks/imsg.h>
#include <orvexks/stg.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Damaged blocks are reported; the reports are not what is fuzzed.
  static bool quiet = (imsg_redirect_output(imsg_discard_writer, nullptr,
                                            imsg_discard_writer, nullptr),
                       true);
  (void)quiet;

  uint64_t len = 0;
  void *out = compress_uncompress(size, data, &len);
  if (out != nullptr) {
    // 34 bytes per 19-bit code at most.
    const uint64_t announced = size < 5 ? 0
                                        : uint64_t{data[1]} << 24 |
                                              uint64_t{data[2]} << 16 |
                                              uint64_t{data[3]} << 8 | data[4];
    if (size < 5 || len != announced || len > (size * 8 / 19 + 1) * 34) abort();
    stg_free(out);
  }

  uint64_t packed_len = 0, back_len = 0;
  void *packed = compress_compress(size, data, &packed_len);
  if (packed == nullptr || packed_len > size + size / 4 + 32) abort();
  void *back = compress_uncompress(packed_len, packed, &back_len);
  if (back == nullptr || back_len != size ||
      (size > 0 && std::memcmp(back, data, size) != 0))
    abort();
  stg_free(back);
  stg_free(packed);
  return 0;
}
