// The binary layout of a message catalog file, shared by the library's
// reader and the catalog compiler. Every field is little-endian.
//
//   header (32 bytes)   magic "*nazgul*", major version (1), minor version,
//                       flags, number of sets, offset of the first set record
//   set record (48)     set number, offset of the next set record, offset of
//                       the message records, offset of the text data, text
//                       length, number of message records, invalid flag
//   message record (24) message number, text offset within the set's text
//                       data, invalid flag
//
// Records whose invalid flag is non-zero are skipped. Set records follow
// one another in ascending set number, message records in ascending
// message number; texts are NUL-terminated inside the text data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ksi_catfmt {

inline constexpr char kMagic[8] = {'*', 'n', 'a', 'z', 'g', 'u', 'l', '*'};
inline constexpr uint32_t kMajorVersion = 1;

inline constexpr size_t kHeaderSize = 32;
inline constexpr size_t kHeaderMajor = 8;
inline constexpr size_t kHeaderMinor = 12;
inline constexpr size_t kHeaderFlags = 16;
inline constexpr size_t kHeaderSetCount = 20;
inline constexpr size_t kHeaderFirstSet = 24;

inline constexpr size_t kSetSize = 48;
inline constexpr size_t kSetNumber = 0;
inline constexpr size_t kSetNext = 8;
inline constexpr size_t kSetMessages = 16;
inline constexpr size_t kSetText = 24;
inline constexpr size_t kSetTextLength = 32;
inline constexpr size_t kSetMessageCount = 36;
inline constexpr size_t kSetInvalid = 40;

inline constexpr size_t kMessageSize = 24;
inline constexpr size_t kMessageNumber = 0;
inline constexpr size_t kMessageText = 8;
inline constexpr size_t kMessageInvalid = 16;

inline uint32_t get32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t get64(const unsigned char *p) {
  return static_cast<uint64_t>(get32(p)) | static_cast<uint64_t>(get32(p + 4))
                                               << 32;
}

inline void put32(unsigned char *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline void put64(unsigned char *p, uint64_t v) {
  put32(p, static_cast<uint32_t>(v));
  put32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace ksi_catfmt
