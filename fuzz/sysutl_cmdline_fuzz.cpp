// Fuzzes the command-line texts handed to the interpreter: environment
// references expanded into small and large buffers (a few variables are
// set, one long), the first word taken from the result and a word quoted
// for the shell. Every copy must stay inside its buffer and end with its
// NUL; the first word ends inside the text it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "proc/sysutl_cmdline.h"

namespace {

bool set_up() {
  setenv("FUZZ_A", "alpha", 1);
  setenv("FUZZ_EMPTY", "", 1);
  setenv("FUZZ_LONG", std::string(3000, 'L').c_str(), 1);
  setenv("FUZZ_PCT", "%FUZZ_A%", 1);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool ready = set_up();
  (void)ready;
  const std::string text(reinterpret_cast<const char *>(data),
                         strnlen(reinterpret_cast<const char *>(data), size));
  for (const size_t out_size : {size_t{1}, size_t{16}, ksi_cmdline_max}) {
    auto *out = static_cast<char *>(std::malloc(out_size));
    if (ksi_expand_env_refs(text.c_str(), out, out_size) &&
        std::strlen(out) >= out_size)
      std::abort();
    char word[64];
    size_t end = 0;
    if (ksi_first_word(out, word, sizeof word, &end) &&
        (end > std::strlen(out) || std::strlen(word) >= sizeof word))
      std::abort();
    std::free(out);
  }
  char quoted[256];
  size_t len = 0;
  quoted[0] = '\0';
  if (ksi_append_shell_word(text.c_str(), quoted, sizeof quoted, &len)) {
    if (len != std::strlen(quoted) || len >= sizeof quoted) std::abort();
  }
  return 0;
}
