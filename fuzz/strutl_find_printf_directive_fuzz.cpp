// Fuzzes the printf directive scanner: walking any text must stay inside
// it, always move forward, and report directives that begin with '%' and
// whose kind is a classified one. A text made only of literal text and
// "%%" is also formatted by strutl_snprintf, which must agree on its length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>

#include <orvexks/strutl.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  const char *s = text.c_str();
  const size_t len = strlen(s);
  size_t pos = 0;
  bool only_percents = true;
  for (;;) {
    char dir[16];
    size_t next = 0;
    int kind = 0, star_w = 0, star_p = 0;
    int found = strutl_find_printf_directive(s, pos, sizeof dir, dir, &next,
                                             &kind, &star_w, &star_p);
    if (next > len || next < pos) abort();
    if (!found) {
      if (next == len) break;
      if (s[next] != '%') abort();
      only_percents = false;
      pos = next + 1;
      continue;
    }
    if (dir[0] != '%' || s[next - 1] == '\0' || next <= pos) abort();
    if (kind <= strutl_printf_kind_null ||
        kind >= strutl_printf_kind_end_marker)
      abort();
    if (strlen(dir) >= sizeof dir) abort();
    if (kind != strutl_printf_kind_percent || strcmp(dir, "%%") != 0)
      only_percents = false;
    pos = next;
  }
  if (only_percents) {
    char out[64];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
    int n = strutl_snprintf(out, sizeof out, s);
#pragma GCC diagnostic pop
    if (n >= 0 && strlen(out) != (static_cast<size_t>(n) < sizeof out
                                      ? static_cast<size_t>(n)
                                      : sizeof out - 1))
      abort();
  }
  return 0;
}
