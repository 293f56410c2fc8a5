// Fuzzes the option scanner: the input's first line is an option
// specification, the rest an argument vector (words separated by NUL
// bytes) and, as a whole, a command line. Every call must stay inside the
// handle's words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include <orvexks/cl.h>
#include <orvexks/stg.h>

namespace {

// Scans the handle to its end the way a tool would.
void scan(cl_handle_t *h, const char *spec, bool long_mode) {
  for (int steps = 0; steps < 4096; ++steps) {
    char *long_name = nullptr;
    const int c =
        long_mode ? cl_getopt_long(h, spec, &long_name) : cl_getopt(h, spec);
    stg_free(long_name);
    if (c == '?') {
      if (strlen(cl_eopt(h)) > 1) abort();
      (void)strlen(cl_estr(h));
      (void)cl_strerror(cl_errno(h));
      continue;
    }
    if (c != 0) continue;
    const int offset = cl_getoffset(h);
    const char *word = cl_getarg(h);
    if (word == nullptr && cl_errno(h) == 0) return;
    if (word == nullptr) {
      cl_setoffset(h, offset + 1);  // step past a glued argument
      if (cl_getoffset(h) <= offset) return;
    }
  }
  abort();  // the scanner never loops
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const size_t newline = input.find('\n');
  const std::string spec =
      input.substr(0, newline == std::string::npos ? 0 : newline);
  const std::string rest =
      newline == std::string::npos ? input : input.substr(newline + 1);

  std::vector<std::string> words;
  size_t start = 0;
  for (size_t i = 0; i <= rest.size(); ++i)
    if (i == rest.size() || rest[i] == '\0') {
      words.push_back(rest.substr(start, i - start));
      start = i + 1;
    }
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  int status = 0;
  cl_handle_t *h =
      cl_parse_argv(static_cast<int>(argv.size()), argv.data(), &status);
  if (h == nullptr) abort();
  scan(h, spec.c_str(), (size & 1) != 0);
  cl_destroy(&h);

  const std::string line(input.c_str());  // up to the first NUL
  h = cl_parse_line(line.c_str(), &status);
  if (h == nullptr) abort();
  scan(h, spec.c_str(), (size & 2) != 0);
  const char *const names[] = {"co[mment]", "l[ist]", "[x]"};
  cl_setoffset(h, static_cast<int>(size) - 2 * static_cast<int>(size));
  (void)cl_get_subcommand(h, 3, names);
  cl_destroy(&h);
  return 0;
}
