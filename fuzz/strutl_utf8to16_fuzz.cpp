// Fuzzes the UTF-8 to UTF-16 converter with every output size up to a
// bound: the output stays terminated inside its buffer, the bytes used
// never pass the input, and a complete conversion survives a round trip
// through UTF-8 unit for unit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <vector>

#include <orvexks/strutl.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const size_t units = data[0] % 64;
  const char *src = reinterpret_cast<const char *>(data + 1);
  const size_t bytes = size - 1;

  std::vector<strutl_wchar_t> out(units + 1, 0xAAAA);
  size_t used = 0;
  const int status = strutl_utf8to16(out.data(), src, bytes, units, &used);
  if (out[units] != 0xAAAA || used > bytes) abort();
  if (units == 0) return status == 3 ? 0 : (abort(), 0);
  const size_t n = strutl_wide_strlen(out.data());
  if (n >= units) abort();
  if (status != 0) return 0;

  std::vector<char> utf8(n * 3 + 1);
  if (strutl_utf16to8(utf8.data(), out.data(), n, utf8.size()) != 0) abort();
  std::vector<strutl_wchar_t> again(n + 1);
  size_t used_again = 0;
  if (strutl_utf8to16(again.data(), utf8.data(), strlen(utf8.data()), n + 1,
                      &used_again) != 0 ||
      memcmp(again.data(), out.data(), (n + 1) * sizeof(strutl_wchar_t)) != 0)
    abort();
  return 0;
}
