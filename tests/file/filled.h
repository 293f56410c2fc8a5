// The text a call writes into the caller's buffer, or its failure, as one
// string, so that a test compares either with a single expectation.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

// "<result errno-name>" for a call that failed.
inline std::string failure(int rc) {
  const char *name = strerrorname_np(errno);
  return "<" + std::to_string(rc) + " " + (name != nullptr ? name : "0") + ">";
}

// fill(out, size) writes out and returns 0, or fails (errno cleared first).
template <class Fill>
std::string filled(Fill fill, size_t size = 1100) {
  std::vector<char> out(size + 1, '\0');
  errno = 0;
  const int rc = fill(out.data(), size);
  return rc == 0 ? std::string(out.data()) : failure(rc);
}

// The same for the usual form fn(in, out, size).
inline std::string filled(int (*fn)(const char *, char *, size_t),
                          const std::string &in, size_t size = 1100) {
  return filled([&](char *out, size_t n) { return fn(in.c_str(), out, n); },
                size);
}
