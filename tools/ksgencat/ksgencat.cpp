// ksgencat: compiles a message catalog source into the binary catalog the
// library reads, or dumps a binary catalog back to source form.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "catalog_model.h"

namespace {

constexpr const char kUsage[] =
    "Usage: ksgencat [-o CATALOG] SOURCE       compile SOURCE into a catalog\n"
    "       ksgencat -d [-o OUTPUT] CATALOG    dump CATALOG in source form\n"
    "       ksgencat --help\n"
    "\n"
    "Without -o a compiled catalog is written next to SOURCE with its\n"
    "extension replaced by \".cat\", and a dump goes to standard output.\n"
    "\n"
    "Source form, one item per line (blank lines and lines starting with\n"
    "'#' are ignored; '#' after an item starts a comment):\n"
    "  set NUMBER          starts set NUMBER (1 to 2147483647, once each)\n"
    "  NUMBER \"TEXT\"       message NUMBER of the current set\n"
    "  \"TEXT\"              continues the message above it\n"
    "TEXT is UTF-8 with the escapes \\n \\t \\r \\a \\b \\f \\v \\\\ \\\" "
    "\\OOO (octal)\n"
    "and \\xHH; a character 0 is not allowed.\n";

bool read_file(const std::string &path, std::string &data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buf;
  buf << in.rdbuf();
  data = buf.str();
  return !in.bad();
}

bool write_file(const std::string &path, const std::string &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (out) return true;
  std::remove(path.c_str());
  return false;
}

std::string default_output(const std::string &source) {
  size_t slash = source.find_last_of('/');
  size_t dot = source.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return source + ".cat";
  return source.substr(0, dot) + ".cat";
}

int fail(const std::string &what) {
  std::cerr << "ksgencat: " << what << '\n';
  return 1;
}

int compile(const std::string &source, std::string output) {
  std::string text;
  if (!read_file(source, text))
    return fail(source + ": " + std::strerror(errno));
  ksgencat::catalog cat;
  std::string error;
  if (!ksgencat::parse_source(text, cat, error))
    return fail(source + ":" + error);
  if (output.empty()) output = default_output(source);
  if (!write_file(output, ksgencat::write_binary(cat)))
    return fail(output + ": cannot write");
  return 0;
}

int dump(const std::string &input, const std::string &output) {
  std::string data;
  if (!read_file(input, data)) return fail(input + ": " + std::strerror(errno));
  ksgencat::catalog cat;
  std::string error;
  if (!ksgencat::read_binary(data, cat, error))
    return fail(input + ": " + error);
  std::string text = ksgencat::format_source(cat);
  if (output.empty()) {
    std::cout << text;
    return std::cout.flush() ? 0 : 1;
  }
  return write_file(output, text) ? 0 : fail(output + ": cannot write");
}

}  // namespace

int main(int argc, char **argv) {
  bool dumping = false;
  std::string output;
  std::string input;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "-d") {
      dumping = true;
    } else if (arg == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "ksgencat: unknown option " << arg << '\n' << kUsage;
      return 2;
    } else if (input.empty()) {
      input = arg;
    } else {
      std::cerr << "ksgencat: one input file expected\n" << kUsage;
      return 2;
    }
  }
  if (input.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  try {
    return dumping ? dump(input, output) : compile(input, output);
  } catch (const std::bad_alloc &) {
    return fail("out of memory");
  }
}
