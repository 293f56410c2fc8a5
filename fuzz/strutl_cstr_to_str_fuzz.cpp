// Fuzzes the C string literal decoder: a decoded text is never longer than
// its literal, and a failure leaves no result.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>

#include <orvexks/stg.h>
#include <orvexks/strutl.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const int quoted = data[0] & 1;
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  char *result = reinterpret_cast<char *>(1);
  const int status = strutl_cstr_to_str(text.c_str(), quoted, &result);
  if (status != 0) {
    if (result != nullptr) abort();
    return 0;
  }
  if (result == nullptr || strlen(result) > strlen(text.c_str())) abort();
  stg_free(result);
  return 0;
}
