// Compiles arbitrary patterns and matches them against arbitrary names in
// both modes: nothing may read out of bounds or take more than polynomial
// time, and the quick matcher must agree with the table matcher. Raw input
// is also handed to the matcher as if it were compiled, which it must
// survive. Input: pattern, a NUL byte, name.
#include <orvexks/wild.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "wild/wild_match_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  const size_t split = strnlen(text, size);
  // Long inputs only slow the search down: the table matcher's rows grow
  // with the product of the lengths.
  if (split > 512 || size - split > 2048) return 0;
  const std::string pattern(text, split);
  const std::string name =
      split < size ? std::string(text + split + 1, size - split - 1) : "";
  const std::string name_z = name.c_str();  // up to its first NUL

  std::string compiled(2 * pattern.size() + 8, '\0');
  int wild = -1;
  const int n = wild_compile_pattern(pattern.c_str(), compiled.size(),
                                     compiled.data(), &wild);
  if (n > 0) {
    if (static_cast<size_t>(n) > compiled.size() - 3 || wild < 0) abort();
    for (int path = 0; path < 2; ++path) {
      WildChars chars;
      const int quick = wild_match(compiled.c_str(), name_z.c_str(), path);
      const int table =
          wild_match_by_table(compiled.c_str(), name_z.c_str(), path, chars);
      if (quick != table) abort();
    }
  } else if (n != WILD_BAD_PATTERN && n != WILD_NO_ROOM) {
    abort();
  }
  wild_match(pattern.c_str(), name_z.c_str(), 1);
  wild_match(pattern.c_str(), name_z.c_str(), 0);
  wild_contains_wildcard_symbols(pattern.c_str());
  return 0;
}
