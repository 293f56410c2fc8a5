// The catalog source form: a line-oriented text of set headers, numbered
// messages in double quotes and continuation lines (see README.md).
#include <cctype>
#include <cstdio>
#include <string>

#include "catalog_model.h"

namespace ksgencat {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

size_t skip_blanks(const std::string &line, size_t at) {
  while (at < line.size() && is_blank(line[at])) ++at;
  return at;
}

// Reads a decimal number from 1 to kMaxNumber at `at`.
bool read_number(const std::string &line, size_t &at, uint32_t &value,
                 std::string &error) {
  size_t start = at;
  uint64_t v = 0;
  while (at < line.size() &&
         std::isdigit(static_cast<unsigned char>(line[at]))) {
    v = v * 10 + static_cast<uint64_t>(line[at] - '0');
    if (v > kMaxNumber) {
      error = "number out of range (1 to 2147483647)";
      return false;
    }
    ++at;
  }
  if (at == start) {
    error = "number expected";
    return false;
  }
  if (v == 0) {
    error = "number out of range (1 to 2147483647)";
    return false;
  }
  value = static_cast<uint32_t>(v);
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes one escape after a backslash at `at` (pointing past it).
bool read_escape(const std::string &line, size_t &at, std::string &out,
                 std::string &error) {
  if (at >= line.size()) {
    error = "unterminated string";
    return false;
  }
  char c = line[at++];
  switch (c) {
    case 'n':
      out += '\n';
      return true;
    case 't':
      out += '\t';
      return true;
    case 'r':
      out += '\r';
      return true;
    case 'a':
      out += '\a';
      return true;
    case 'b':
      out += '\b';
      return true;
    case 'f':
      out += '\f';
      return true;
    case 'v':
      out += '\v';
      return true;
    case '\\':
      out += '\\';
      return true;
    case '"':
      out += '"';
      return true;
    default:
      break;
  }
  unsigned value = 0;
  int digits = 0;
  if (c == 'x') {
    for (int d;
         digits < 2 && at < line.size() && (d = hex_digit(line[at])) >= 0;
         ++digits, ++at)
      value = value * 16 + static_cast<unsigned>(d);
  } else if (c >= '0' && c <= '7') {
    value = static_cast<unsigned>(c - '0');
    for (digits = 1;
         digits < 3 && at < line.size() && line[at] >= '0' && line[at] <= '7';
         ++digits, ++at)
      value = value * 8 + static_cast<unsigned>(line[at] - '0');
  } else {
    error = std::string("unknown escape \\") + c;
    return false;
  }
  if (digits == 0 || value == 0 || value > 0xff) {
    error = "bad character escape (1 to 255 expected)";
    return false;
  }
  out += static_cast<char>(value);
  return true;
}

// Reads a quoted string starting at the quote at `at`, then allows only
// blanks or a comment behind it.
bool read_string(const std::string &line, size_t at, std::string &out,
                 std::string &error) {
  if (at >= line.size() || line[at] != '"') {
    error = "text in double quotes expected";
    return false;
  }
  for (++at;;) {
    if (at >= line.size()) {
      error = "unterminated string";
      return false;
    }
    char c = line[at++];
    if (c == '"') break;
    if (c != '\\') {
      out += c;
    } else if (!read_escape(line, at, out, error)) {
      return false;
    }
  }
  at = skip_blanks(line, at);
  if (at < line.size() && line[at] != '#') {
    error = "unexpected text after the closing quote";
    return false;
  }
  return true;
}

// One parse in progress: the set being filled and the message that a
// continuation line extends.
struct parser {
  catalog &out;
  message_set *set = nullptr;
  std::string *last_text = nullptr;

  bool line(const std::string &text, std::string &error) {
    size_t at = skip_blanks(text, 0);
    if (at == text.size() || text[at] == '#') return true;
    if (text[at] == '"') {
      if (last_text == nullptr) {
        error = "continuation line without a message before it";
        return false;
      }
      return read_string(text, at, *last_text, error);
    }
    if (text.compare(at, 3, "set") == 0) return set_line(text, at + 3, error);
    return message_line(text, at, error);
  }

  bool set_line(const std::string &text, size_t at, std::string &error) {
    if (at >= text.size() || !is_blank(text[at])) {
      error = "\"set NUMBER\" expected";
      return false;
    }
    uint32_t number = 0;
    at = skip_blanks(text, at);
    if (!read_number(text, at, number, error)) return false;
    at = skip_blanks(text, at);
    if (at < text.size() && text[at] != '#') {
      error = "unexpected text after the set number";
      return false;
    }
    auto [it, added] = out.try_emplace(number);
    if (!added) {
      error = "set " + std::to_string(number) + " defined twice";
      return false;
    }
    set = &it->second;
    last_text = nullptr;
    return true;
  }

  bool message_line(const std::string &text, size_t at, std::string &error) {
    if (!std::isdigit(static_cast<unsigned char>(text[at]))) {
      error =
          "\"set NUMBER\", NUMBER \"TEXT\" or a continuation \"TEXT\" expected";
      return false;
    }
    if (set == nullptr) {
      error = "message before the first \"set\" line";
      return false;
    }
    uint32_t number = 0;
    if (!read_number(text, at, number, error)) return false;
    if (at >= text.size() || !is_blank(text[at])) {
      error = "blank and text in double quotes expected after the number";
      return false;
    }
    auto [it, added] = set->try_emplace(number);
    if (!added) {
      error =
          "message " + std::to_string(number) + " defined twice in this set";
      return false;
    }
    last_text = &it->second;
    return read_string(text, skip_blanks(text, at), *last_text, error);
  }
};

void append_escaped(std::string &out, char c) {
  switch (c) {
    case '\n':
      out += "\\n";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '"':
      out += "\\\"";
      return;
    default:
      break;
  }
  auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte == 0x7f) {
    char octal[5];
    std::snprintf(octal, sizeof octal, "\\%03o", byte);
    out += octal;
  } else {
    out += c;
  }
}

}  // namespace

bool parse_source(const std::string &text, catalog &out, std::string &error) {
  parser p{out};
  size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string reason;
    if (!p.line(text.substr(start, end - start), reason)) {
      error = std::to_string(number) + ": " + reason;
      return false;
    }
    start = end + 1;
  }
  if (out.empty()) {
    error = std::to_string(1) +
            ": no \"set\" line: a catalog needs at least one set";
    return false;
  }
  return true;
}

// A text with newlines inside it continues on a new line after each one,
// so long texts stay readable.
std::string format_source(const catalog &cat) {
  std::string out;
  for (const auto &[set_number, set] : cat) {
    if (!out.empty()) out += '\n';
    out += "set " + std::to_string(set_number) + '\n';
    for (const auto &[number, text] : set) {
      out += std::to_string(number) + " \"";
      for (size_t i = 0; i < text.size(); ++i) {
        append_escaped(out, text[i]);
        if (text[i] == '\n' && i + 1 < text.size()) out += "\"\n  \"";
      }
      out += "\"\n";
    }
  }
  return out;
}

}  // namespace ksgencat
