// Arbitrary bytes as a catalog file: opened in both modes, every set and a
// few message numbers looked up. The reader must neither read outside the
// file nor allocate more than the file's size suggests.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "msg/catalog.h"
#include "msg/catalog_format.h"

namespace {

std::string temp_path() {
  char path[] = "/tmp/catalog_fuzz.XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) abort();
  close(fd);
  return path;
}

// Reads the whole text, so that a text pointer outside its set's text data
// shows up under the address sanitizer.
size_t look_up(msgcat_t *cat, int set, int id) {
  return std::strlen(msgcat_get(cat, set, id, "d"));
}

void look_up_everything(msgcat_t *cat, const uint8_t *data, size_t size) {
  if (!ksi_catalog_is_open(cat)) return;
  size_t total = 0;
  // Set numbers as the file's records may give them, plus small ones.
  for (size_t at = ksi_catfmt::kHeaderSize; at + 4 <= size;
       at += ksi_catfmt::kSetSize) {
    auto set = static_cast<int>(ksi_catfmt::get32(data + at) & 0x7fffffff);
    for (int id : {1, 2, 3, 18, 1000}) total += look_up(cat, set, id);
  }
  for (int set = -1; set <= 20; ++set)
    for (int id = -1; id <= 20; ++id) total += look_up(cat, set, id);
  if (total == SIZE_MAX) abort();  // keeps the reads
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = temp_path();
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (size > 0 && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
  for (int mode : {0, 1}) {
    msgcat_t *cat = msgcat_open(path.c_str(), mode);
    look_up_everything(cat, data, size);
    msgcat_close(cat);
  }
  return 0;
}
