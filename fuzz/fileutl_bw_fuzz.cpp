// Fuzzes the backward line reader: arbitrary content read backwards with a
// buffer whose size changes from call to call must give back the lines of
// a forward reading, last line first, each whole once its pieces (buffers
// that filled up) are joined.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <string>
#include <vector>

#include <orvexks/fileutl.h>

namespace {

std::vector<std::string> forward_lines(const std::string &content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    end = end == std::string::npos ? content.size() : end + 1;
    lines.push_back(content.substr(start, end - start));
    start = end;
  }
  return lines;
}

}  // namespace

// The first byte seeds the buffer sizes; the rest is the content.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  uint32_t seed = data[0] | 1u;
  const std::string content(reinterpret_cast<const char *>(data) + 1, size - 1);
  FILE *f = tmpfile();
  if (f == nullptr) return 0;
  fwrite(content.data(), 1, content.size(), f);
  fileutl_bw_t *reader = fileutl_bw_start(f, 1);
  if (reader == nullptr) abort();
  std::vector<std::string> backward;
  std::string pending;  // pieces of a line whose start is not reached yet
  for (;;) {
    seed = seed * 1103515245u + 12345u;
    const int buf_size = 2 + static_cast<int>((seed >> 16) % 5000);
    std::vector<char> buf(static_cast<size_t>(buf_size));
    int full = 0, bof = 0;
    const char *line =
        fileutl_bw_fgets(buf.data(), buf_size, reader, &full, &bof);
    if (line == nullptr) {
      if (bof != 1 || !pending.empty()) abort();
      break;
    }
    // The piece runs from the result to the terminator at the buffer's end
    // (it may hold NUL bytes of the content).
    const char *end = buf.data() + buf_size - 1;
    if (line < buf.data() || line >= end || *end != '\0') abort();
    const std::string piece(line, end);
    pending = piece + pending;
    if (!full) {
      backward.push_back(pending);
      pending.clear();
    }
  }
  fileutl_bw_stop(reader);
  fclose(f);
  std::vector<std::string> lines = forward_lines(content);
  if (lines.size() != backward.size()) abort();
  for (size_t n = 0; n < lines.size(); ++n)
    if (lines[lines.size() - 1 - n] != backward[n]) abort();
  return 0;
}
