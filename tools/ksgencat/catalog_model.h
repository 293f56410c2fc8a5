// A message catalog in memory, as the compiler reads and writes it: sets
// by number, each holding texts by message number.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace ksgencat {

using message_set = std::map<uint32_t, std::string>;
using catalog = std::map<uint32_t, message_set>;

// Set and message numbers run from 1 to this (lookups take a C int).
inline constexpr uint32_t kMaxNumber = 0x7fffffff;

// Parses the source text; on failure returns false with `error` set to
// "LINE: reason" (line numbers from 1).
bool parse_source(const std::string &text, catalog &out, std::string &error);

// The catalog in source form. Parsing it gives the same catalog back.
std::string format_source(const catalog &cat);

// The catalog in binary form.
std::string write_binary(const catalog &cat);

// Reads a binary catalog; false with `error` set when it is damaged.
bool read_binary(const std::string &data, catalog &out, std::string &error);

}  // namespace ksgencat
