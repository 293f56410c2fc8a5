// The INI settings file behind the registry calls: reading it into lines,
// looking values up, and rewriting it atomically.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

// One line of the file. Views point into the text the line was parsed from.
struct nti_ini_line {
  enum kind_t { other, header, bad_header, entry };
  std::string_view raw;  // the line, without its line end
  kind_t kind = other;
  std::string_view section;  // header: its name; entry: its section's name
  bool in_section = false;   // entry: it follows a good header
  std::string_view name;     // entry only
  std::string_view value;    // entry only, trimmed and unquoted
};

// Splits text into lines and classifies them (never fails; bad lines are
// kind other). Throws std::bad_alloc when memory runs out.
std::vector<nti_ini_line> nti_ini_parse(std::string_view text);

// 1 when two section names are the same: compared component by component
// ('\' or '/' separated, empty components ignored), case-insensitively,
// with registry roots matched in their short and long spellings.
bool nti_section_equal(std::string_view a, std::string_view b);

// The settings file in use: $ORVEX_REGISTRY when set and not empty, else
// the default. The text lives for the life of the process. Null when the
// variable is set but memory for its copy runs out: falling back to the
// default would read and write another file.
const char *nti_settings_path();

// Finds the first value of name in section of the current file and copies
// it to value. NTREGY_OK, NTREGY_NOT_SET or NTREGY_NO_MEMORY.
int nti_settings_lookup(std::string_view section, std::string_view name,
                        std::string &value);

// The values of section in file order (duplicates kept). NTREGY_OK,
// NTREGY_NOT_SET when the section does not exist, NTREGY_NO_MEMORY.
int nti_settings_section(std::string_view section,
                         std::vector<std::pair<std::string, std::string>> &out);

// Sets (value non-null) or removes (value null) name in section and
// rewrites the file atomically. NTREGY_OK, NTREGY_INVALID_PARAM for names
// or values the file cannot hold, NTREGY_ACCESS_DENIED, NTREGY_NO_MEMORY.
int nti_settings_store(std::string_view section, std::string_view name,
                       const char *value);

// Copies text to buf (size bytes) with a NUL. NTREGY_MORE_DATA when it does
// not fit; buf then holds the longest prefix that does.
int nti_copy_text(std::string_view text, char *buf, size_t size);

// Converts a stored value to type (NTREGY_TYPE_TEXT or NTREGY_TYPE_DWORD)
// into buffer of size bytes.
int nti_value_out(std::string_view text, size_t size, void *buffer, int type);
