// The entries of the shared area. Each starts with its own length in
// bytes (32-bit, a multiple of 4), then a flag byte, the drive text and
// the prefix text, each terminated; a length of 0 (or the area's end)
// ends the list. Removal closes the gap, so entries stay contiguous.
#include <strings.h>

#include <cctype>
#include <cstring>

#include "pfxmap/ntpfxmap_internal.h"

namespace {

constexpr size_t kLengthBytes = sizeof(uint32_t);
constexpr size_t kMinEntry = 8;  // length, flag, two empty texts, padding

bool is_sep(char c) { return c == '\\' || c == '/'; }

uint32_t length_at(const unsigned char *area, size_t off) {
  uint32_t len;
  std::memcpy(&len, area + off, sizeof len);
  return len;
}

// The length of the entry at off when it is well formed, else 0.
size_t checked_length(const unsigned char *area, size_t off) {
  if (off + kLengthBytes > kPfxmapAreaSize) return 0;
  const uint32_t len = length_at(area, off);
  if (len < kMinEntry || len % 4 != 0 || len > kPfxmapAreaSize - off) return 0;
  const char *text = reinterpret_cast<const char *>(area + off + 5);
  const size_t room = len - 5;
  const void *drive_end = std::memchr(text, '\0', room);
  if (drive_end == nullptr) return 0;
  const size_t used = static_cast<const char *>(drive_end) - text + 1;
  return std::memchr(text + used, '\0', room - used) == nullptr ? 0 : len;
}

// The offset just after the last entry.
size_t end_of_entries(const unsigned char *area) {
  size_t off = 0;
  while (size_t len = checked_length(area, off)) off += len;
  return off;
}

}  // namespace

void ksi_pfxmap_each(unsigned char *area,
                     bool (*fn)(const ksi_pfxmap_entry &, void *), void *arg) {
  size_t off = 0;
  while (size_t len = checked_length(area, off)) {
    ksi_pfxmap_entry e;
    e.flag = reinterpret_cast<int8_t *>(area + off + kLengthBytes);
    e.drive = reinterpret_cast<const char *>(area + off + 5);
    e.prefix = e.drive + std::strlen(e.drive) + 1;
    if (!fn(e, arg)) return;
    off += len;
  }
}

bool ksi_pfxmap_add(unsigned char *area, const char *drive, const char *prefix,
                    int8_t flag) {
  const size_t drive_len = std::strlen(drive) + 1;
  const size_t prefix_len = std::strlen(prefix) + 1;
  const size_t len = (5 + drive_len + prefix_len + 3) / 4 * 4;
  const size_t off = end_of_entries(area);
  if (len > kPfxmapAreaSize - off) return false;
  std::memset(area + off, 0, len);
  const uint32_t word = static_cast<uint32_t>(len);
  std::memcpy(area + off, &word, sizeof word);
  area[off + kLengthBytes] = static_cast<unsigned char>(flag);
  std::memcpy(area + off + 5, drive, drive_len);
  std::memcpy(area + off + 5 + drive_len, prefix, prefix_len);
  if (off + len + kLengthBytes <= kPfxmapAreaSize)
    std::memset(area + off + len, 0, kLengthBytes);
  return true;
}

int ksi_pfxmap_remove(unsigned char *area, const char *drive) {
  size_t end = end_of_entries(area);
  int removed = 0;
  size_t off = 0;
  while (size_t len = checked_length(area, off)) {
    if (strcasecmp(reinterpret_cast<const char *>(area + off + 5), drive) !=
        0) {
      off += len;
      continue;
    }
    std::memmove(area + off, area + off + len, end - off - len);
    end -= len;
    std::memset(area + end, 0, len);
    removed++;
  }
  return removed;
}

bool ksi_pfxmap_well_formed(const unsigned char *area) {
  size_t off = 0;
  while (size_t len = checked_length(area, off)) off += len;
  return off + kLengthBytes > kPfxmapAreaSize || length_at(area, off) == 0;
}

bool ksi_pfxmap_covers(const char *prefix, size_t len, const char *path,
                       bool nocase) {
  if (len == 0) return false;
  for (size_t i = 0; i < len; i++) {
    const char a = prefix[i], b = path[i];
    const bool same =
        a == b || (is_sep(a) && is_sep(b)) ||
        (nocase && std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b)));
    if (!same) return false;
  }
  return path[len] == '\0' || is_sep(path[len]) || is_sep(prefix[len - 1]);
}
