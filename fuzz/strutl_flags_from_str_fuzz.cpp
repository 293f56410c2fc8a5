// Fuzzes the flag-text parser: the result holds only the table's bits, a
// bad piece points into the caller's text, and a successful parse of the
// canonical text of those flags gives them back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>

#include <orvexks/strutl.h>

namespace {

const strutl_flag_name_t kTable[] = {{"read", 0x1},
                                     {"write", 0x2},
                                     {"exec", 0x4},
                                     {"all", 0x7},
                                     {"sync", 0x100}};
constexpr int kCount = sizeof kTable / sizeof kTable[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the separator and the case rule.
  const char *seps[] = {nullptr, ",", "::", ""};
  const char *sep = seps[data[0] & 3];
  int case_sensitive = (data[0] >> 2) & 1;
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  const char *bad = nullptr;
  uint32_t flags = strutl_flags_from_str(text.c_str(), case_sensitive, sep,
                                         kTable, kCount, &bad);
  if ((flags & ~0x107u) != 0) abort();
  if (bad != nullptr) {
    if (flags != 0 || bad < text.c_str() || bad > text.c_str() + text.size())
      abort();
    return 0;
  }
  const char *canonical = strutl_flags_to_str(flags, sep, kTable, kCount);
  const std::string copy = canonical;
  if (copy.empty()) return 0;
  if (strutl_flags_from_str(copy.c_str(), 1, sep, kTable, kCount, &bad) !=
          flags ||
      bad != nullptr)
    abort();
  return 0;
}
