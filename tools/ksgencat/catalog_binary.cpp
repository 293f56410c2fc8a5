// The catalog's binary form. Layout written: the header, all set records
// one after another (each chained to the next, the last with next 0), then
// per set its message records followed by its text data.
#include <algorithm>
#include <iterator>
#include <string>

#include "catalog_model.h"
#include "msg/catalog_format.h"

namespace ksgencat {
namespace {

namespace fmt = ksi_catfmt;

void append_zeros(std::string &out, size_t count) { out.append(count, '\0'); }

unsigned char *at(std::string &out, uint64_t offset) {
  return reinterpret_cast<unsigned char *>(out.data()) + offset;
}

const unsigned char *at(const std::string &data, uint64_t offset) {
  return reinterpret_cast<const unsigned char *>(data.data()) + offset;
}

bool inside(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

std::string write_binary(const catalog &cat) {
  std::string out;
  append_zeros(out, fmt::kHeaderSize + cat.size() * fmt::kSetSize);
  std::copy(std::begin(fmt::kMagic), std::end(fmt::kMagic), out.begin());
  fmt::put32(at(out, fmt::kHeaderMajor), fmt::kMajorVersion);
  fmt::put32(at(out, fmt::kHeaderSetCount), static_cast<uint32_t>(cat.size()));
  fmt::put64(at(out, fmt::kHeaderFirstSet), fmt::kHeaderSize);

  uint64_t record = fmt::kHeaderSize;
  size_t index = 0;
  for (const auto &[set_number, set] : cat) {
    uint64_t messages = out.size();
    append_zeros(out, set.size() * fmt::kMessageSize);
    uint64_t text = out.size();
    uint64_t message = messages;
    for (const auto &[number, body] : set) {
      fmt::put32(at(out, message + fmt::kMessageNumber), number);
      fmt::put64(at(out, message + fmt::kMessageText), out.size() - text);
      out += body;
      out += '\0';
      message += fmt::kMessageSize;
    }
    bool last = ++index == cat.size();
    unsigned char *rec = at(out, record);
    fmt::put32(rec + fmt::kSetNumber, set_number);
    fmt::put64(rec + fmt::kSetNext, last ? 0 : record + fmt::kSetSize);
    fmt::put64(rec + fmt::kSetMessages, messages);
    fmt::put64(rec + fmt::kSetText, text);
    fmt::put32(rec + fmt::kSetTextLength,
               static_cast<uint32_t>(out.size() - text));
    fmt::put32(rec + fmt::kSetMessageCount, static_cast<uint32_t>(set.size()));
    record += fmt::kSetSize;
  }
  return out;
}

// Reads what the library's reader would see: the valid set records along
// the chain and their valid message records. Bounds are checked first.
bool read_binary(const std::string &data, catalog &out, std::string &error) {
  error = "corrupt catalog";
  if (data.size() < fmt::kHeaderSize ||
      !std::equal(std::begin(fmt::kMagic), std::end(fmt::kMagic), data.begin()))
    return false;
  uint32_t major = fmt::get32(at(data, fmt::kHeaderMajor));
  if (major != fmt::kMajorVersion) {
    error = "catalog is version " + std::to_string(major) + ", need 1";
    return false;
  }
  auto count = static_cast<int32_t>(fmt::get32(at(data, fmt::kHeaderSetCount)));
  uint64_t offset = fmt::get64(at(data, fmt::kHeaderFirstSet));
  uint64_t max_records = data.size() / fmt::kSetSize;
  if (count <= 0 || static_cast<uint64_t>(count) > max_records) return false;
  int32_t found = 0;
  for (uint64_t walked = 0; found < count; ++walked) {
    if (walked >= max_records || !inside(offset, fmt::kSetSize, data.size()))
      return false;
    const unsigned char *rec = at(data, offset);
    offset = fmt::get64(rec + fmt::kSetNext);
    if (fmt::get32(rec + fmt::kSetInvalid) != 0) continue;
    ++found;
    uint64_t messages = fmt::get64(rec + fmt::kSetMessages);
    uint64_t text = fmt::get64(rec + fmt::kSetText);
    uint32_t text_length = fmt::get32(rec + fmt::kSetTextLength);
    uint32_t message_count = fmt::get32(rec + fmt::kSetMessageCount);
    if (!inside(text, text_length, data.size()) ||
        !inside(messages, uint64_t{message_count} * fmt::kMessageSize,
                data.size()))
      return false;
    std::string texts(data, text, text_length);
    message_set &set = out[fmt::get32(rec + fmt::kSetNumber)];
    for (uint32_t i = 0; i < message_count; ++i) {
      const unsigned char *msg =
          at(data, messages + uint64_t{i} * fmt::kMessageSize);
      if (fmt::get32(msg + fmt::kMessageInvalid) != 0) continue;
      uint64_t start = fmt::get64(msg + fmt::kMessageText);
      if (start > text_length) return false;
      set[fmt::get32(msg + fmt::kMessageNumber)] = texts.c_str() + start;
    }
  }
  return true;
}

}  // namespace ksgencat
