// Fuzzes the format walker: any format, with a converter that writes a
// fixed text bounded by its room, must give 0 or 1 with a terminated
// result inside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>

#include <orvexks/strfmt.h>

namespace {

// 's' echoes the argument (or "S"); 'f' fails.
int convert(void *, char *dst, size_t room, int, int, const char *arg,
            const char *, const char *, const char *conversion) {
  if (conversion[0] == 'f') return 1;
  const char *text = arg != nullptr ? arg : "S";
  size_t n = strlen(text);
  if (n >= room) n = room - 1;
  memcpy(dst, text, n);
  dst[n] = '\0';
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the buffer size, so that full buffers are reached.
  size_t buf_size = 1 + data[0] % 128;
  const std::string format(reinterpret_cast<const char *>(data + 1), size - 1);
  char buf[129];
  memset(buf, 'Z', sizeof buf);
  int rc =
      strfmt_gsprintf(buf, buf_size, "sft", format.c_str(), nullptr, convert);
  if (rc != 0 && rc != 1) abort();
  if (memchr(buf, '\0', buf_size) == nullptr) abort();
  if (buf[buf_size] != 'Z') abort();
  return 0;
}
