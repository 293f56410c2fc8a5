// Fuzzes the file checksum against a reference model written straight from
// its definition (table entries computed bit by bit, the zero index taken
// from a counter), over arbitrary data split into arbitrary steps: every
// way of feeding the data gives the model's value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <orvexks/fileutl.h>

namespace {

// Entry i of the reflected CRC-32 table of IEEE 802.3, entry 0 replaced.
uint32_t entry(uint32_t i) {
  if (i == 0) return 0x7FFFFFFF;
  uint32_t c = i;
  for (int bit = 0; bit < 8; ++bit)
    c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  return c;
}

uint32_t model(const uint8_t *data, size_t size) {
  uint32_t crc = 0, counter = 0;
  for (size_t n = 0; n < size; ++n) {
    uint32_t index = (crc >> 24) ^ data[n];
    if (index == 0) {
      index = counter;
      counter = (counter + 1) % 256;
    }
    crc = entry(index) ^ (crc << 8);
  }
  return crc;
}

}  // namespace

// The first byte seeds the step lengths; the rest is the data.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  uint32_t seed = data[0] | 1u;
  const uint8_t *bytes = data + 1;
  const size_t len = size - 1;
  const uint32_t expected = model(bytes, len);
  uint32_t whole = 0;
  fileutl_crc_buffer(bytes, len, &whole);
  if (whole != expected) abort();
  uint32_t counter = 0, crc = 0;
  for (size_t at = 0; at < len;) {
    seed = seed * 1103515245u + 12345u;
    size_t step = (seed >> 16) % 300;
    if (step > len - at) step = len - at;
    fileutl_crc_buffer_step(bytes + at, step, &counter, &crc);
    at += step;
  }
  if (crc != expected) abort();
  return 0;
}
