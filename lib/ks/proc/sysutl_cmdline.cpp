// Environment references, the first word of a command line and shell
// quoting. These read untrusted texts: every copy is bounded by its
// destination.
#include <orvexnt/nt_env.h>

#include <cstring>

#include "proc/sysutl_cmdline.h"

namespace {

constexpr size_t kNameMax = 256;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Appends n bytes of text to out, keeping room for the terminating NUL.
bool append(char *out, size_t size, size_t *len, const char *text, size_t n) {
  if (n >= size - *len) return false;
  std::memcpy(out + *len, text, n);
  *len += n;
  out[*len] = '\0';
  return true;
}

// The value of the variable spelled by the n bytes at name, or null.
const char *variable(const char *name, size_t n) {
  if (n == 0 || n >= kNameMax) return nullptr;
  char copy[kNameMax];
  std::memcpy(copy, name, n);
  copy[n] = '\0';
  return nt_getenv_safe(copy);
}

bool shell_safe(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || std::strchr("/._+-,:@%=", c) != nullptr;
}

}  // namespace

bool ksi_expand_env_refs(const char *in, char *out, size_t size) {
  if (size == 0) return false;
  size_t len = 0;
  out[0] = '\0';
  const char *p = in;
  while (*p != '\0') {
    const char *open = std::strchr(p, '%');
    if (open == nullptr) return append(out, size, &len, p, std::strlen(p));
    if (!append(out, size, &len, p, open - p)) return false;
    const char *close = std::strchr(open + 1, '%');
    if (close == nullptr)
      return append(out, size, &len, open, std::strlen(open));
    const char *value = variable(open + 1, close - open - 1);
    if (value != nullptr) {
      if (!append(out, size, &len, value, std::strlen(value))) return false;
      p = close + 1;
    } else {
      if (!append(out, size, &len, open, close - open)) return false;
      p = close;
    }
  }
  return true;
}

bool ksi_first_word(const char *line, char *word, size_t size, size_t *end) {
  const char *p = line;
  while (is_blank(*p)) ++p;
  if (*p == '\0' || size == 0) return false;
  size_t len = 0;
  char quote = '\0';
  for (; *p != '\0' && (quote != '\0' || !is_blank(*p)); ++p) {
    char c = *p;
    if (quote != '\0' && c == quote) {
      quote = '\0';
      continue;
    }
    if (quote == '\0' && (c == '"' || c == '\'')) {
      quote = c;
      continue;
    }
    if (c == '^' && (p[1] == '"' || p[1] == '\'' || p[1] == '\\')) c = *++p;
    if (len + 1 >= size) return false;
    word[len++] = c;
  }
  word[len] = '\0';
  *end = p - line;
  return true;
}

bool ksi_append_shell_word(const char *path, char *out, size_t size,
                           size_t *len) {
  bool safe = *path != '\0';
  for (const char *p = path; *p != '\0' && safe; ++p) safe = shell_safe(*p);
  if (safe) return append(out, size, len, path, std::strlen(path));
  if (!append(out, size, len, "'", 1)) return false;
  for (const char *p = path; *p != '\0'; ++p) {
    const bool ok = *p == '\'' ? append(out, size, len, "'\\''", 4)
                               : append(out, size, len, p, 1);
    if (!ok) return false;
  }
  return append(out, size, len, "'", 1);
}
