// Fuzzes the restoring half of the scrambling pair: any text it accepts
// gives bytes that scramble and restore back to themselves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include <orvexks/strutl.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::vector<char> plain(size + 1);
  if (strutl_extract_tail(text.c_str(), plain.data(), plain.size()) != 0)
    return 0;
  const size_t n = strlen(plain.data());
  std::vector<char> scrambled(n / 3 * 4 + 6);
  if (strutl_extract_head(plain.data(), scrambled.data(), scrambled.size()) !=
      0)
    abort();
  std::vector<char> back(n + 1);
  if (strutl_extract_tail(scrambled.data(), back.data(), back.size()) != 0 ||
      strcmp(back.data(), plain.data()) != 0)
    abort();
  return 0;
}
