// The INI settings file: parsing, look-ups and atomic rewrites.
#include "internal/nt_settings.h"

#include <orvexnt/nt_env.h>
#include <orvexnt/nt_registry.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

namespace {

// A settings file is a few lines; anything past this is not read, so a
// damaged or hostile file cannot make the library allocate without bound.
constexpr size_t kMaxFileBytes = 4u << 20;

bool nti_is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view nti_trim(std::string_view s) {
  while (!s.empty() && nti_is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && nti_is_blank(s.back())) s.remove_suffix(1);
  return s;
}

bool nti_iequal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A value wholly in double quotes loses them, so values may keep blanks.
std::string_view nti_unquote(std::string_view v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
    return v.substr(1, v.size() - 2);
  return v;
}

nti_ini_line nti_classify(std::string_view raw, std::string_view section,
                          bool in_section) {
  nti_ini_line line;
  line.raw = raw;
  std::string_view t = nti_trim(raw);
  if (t.find('\0') != std::string_view::npos) return line;
  if (t.empty() || t.front() == ';' || t.front() == '#') return line;
  if (t.front() == '[') {
    std::string_view inner = nti_trim(t.substr(1, t.size() - 1));
    const bool closed = t.size() >= 2 && t.back() == ']';
    if (closed) inner = nti_trim(t.substr(1, t.size() - 2));
    line.kind = (closed && !inner.empty() &&
                 inner.find_first_of("[]") == std::string_view::npos)
                    ? nti_ini_line::header
                    : nti_ini_line::bad_header;
    line.section = inner;
    return line;
  }
  const size_t eq = t.find('=');
  if (eq == std::string_view::npos) return line;
  std::string_view name = nti_trim(t.substr(0, eq));
  if (name.empty()) return line;
  line.kind = nti_ini_line::entry;
  line.section = section;
  line.in_section = in_section;
  line.name = name;
  line.value = nti_unquote(nti_trim(t.substr(eq + 1)));
  return line;
}

// Root keys: the short spelling the file uses and the long one.
constexpr const char *kRootNames[][2] = {
    {"HKCR", "HKEY_CLASSES_ROOT"},
    {"HKCU", "HKEY_CURRENT_USER"},
    {"HKLM", "HKEY_LOCAL_MACHINE"},
    {"HKU", "HKEY_USERS"},
};

int nti_root_index(std::string_view component) {
  for (size_t i = 0; i < sizeof kRootNames / sizeof kRootNames[0]; i++)
    if (nti_iequal(component, kRootNames[i][0]) ||
        nti_iequal(component, kRootNames[i][1]))
      return static_cast<int>(i);
  return -1;
}

bool nti_is_separator(char c) { return c == '\\' || c == '/'; }

// Takes the next non-empty component of *s off its front.
std::string_view nti_next_component(std::string_view *s) {
  while (!s->empty() && nti_is_separator(s->front())) s->remove_prefix(1);
  size_t n = 0;
  while (n < s->size() && !nti_is_separator((*s)[n])) n++;
  std::string_view c = s->substr(0, n);
  s->remove_prefix(n);
  return c;
}

// Values that would not read back as written get double quotes.
bool nti_needs_quotes(std::string_view v) {
  if (v.empty()) return false;
  return nti_is_blank(v.front()) || nti_is_blank(v.back()) ||
         (v.size() >= 2 && v.front() == '"' && v.back() == '"');
}

bool nti_valid_section(std::string_view s) {
  return !nti_trim(s).empty() && nti_trim(s).size() == s.size() &&
         s.find_first_of("[]\n\r") == std::string_view::npos &&
         s.find('\0') == std::string_view::npos;
}

bool nti_valid_name(std::string_view n) {
  return !n.empty() && nti_trim(n).size() == n.size() &&
         n.find_first_of("=\n\r") == std::string_view::npos &&
         n.find('\0') == std::string_view::npos && n.front() != '[' &&
         n.front() != ';' && n.front() != '#';
}

// Holds an exclusive lock on the settings file's directory for the length
// of a rewrite, so writers in other processes take turns with ours.
class nti_dir_lock {
 public:
  explicit nti_dir_lock(const std::string &dir)
      : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~nti_dir_lock() {
    if (fd_ >= 0) close(fd_);
  }
  nti_dir_lock(const nti_dir_lock &) = delete;
  nti_dir_lock &operator=(const nti_dir_lock &) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool nti_write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Writes text to a temporary file beside path and renames it over path, so
// readers see either the old file or the new one, never a mix.
int nti_replace_file(const std::string &path, std::string_view text) {
  std::string temp = path + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return NTREGY_ACCESS_DENIED;
  struct stat st;
  const mode_t mode =
      stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  bool ok = fchmod(fd, mode) == 0 && nti_write_all(fd, text) && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return NTREGY_OK;
  unlink(temp.c_str());
  return NTREGY_ACCESS_DENIED;
}

int nti_read_path(const char *path, std::string &text) {
  text.clear();
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return NTREGY_OK;  // missing or unreadable: nothing set
  char chunk[8192];
  try {
    for (;;) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      const size_t room = kMaxFileBytes - text.size();
      text.append(
          chunk, static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room);
      if (text.size() >= kMaxFileBytes) break;
    }
  } catch (const std::bad_alloc &) {
    close(fd);  // the caller reports the failure
    throw;
  }
  close(fd);
  return NTREGY_OK;
}

// Builds the new text of the file with name in section set to value (or
// removed when value is null).
std::string nti_edit(std::string_view text, std::string_view section,
                     std::string_view name, const char *value) {
  std::vector<nti_ini_line> lines = nti_ini_parse(text);
  std::string assignment;
  if (value != nullptr) {
    std::string_view v(value);
    assignment.append(name);
    assignment += '=';
    if (nti_needs_quotes(v)) assignment += '"';
    assignment.append(v);
    if (nti_needs_quotes(v)) assignment += '"';
  }

  // Where the new line goes: in place of the first occurrence, else after
  // the last line of the first matching section.
  size_t replace_at = lines.size(), insert_after = lines.size();
  bool in_target = false, section_seen = false;
  for (size_t i = 0; i < lines.size(); i++) {
    const nti_ini_line &l = lines[i];
    if (l.kind == nti_ini_line::header || l.kind == nti_ini_line::bad_header) {
      in_target = !section_seen && l.kind == nti_ini_line::header &&
                  nti_section_equal(l.section, section);
      if (in_target) {
        section_seen = true;
        insert_after = i;
      }
      continue;
    }
    if (in_target && l.kind == nti_ini_line::entry) insert_after = i;
    if (l.kind == nti_ini_line::entry && l.in_section &&
        nti_section_equal(l.section, section) && nti_iequal(l.name, name) &&
        replace_at == lines.size())
      replace_at = i;
  }

  std::string out;
  out.reserve(text.size() + assignment.size() + section.size() + 8);
  auto emit = [&out](std::string_view s) {
    out.append(s);
    out += '\n';
  };
  for (size_t i = 0; i < lines.size(); i++) {
    const nti_ini_line &l = lines[i];
    const bool same_name = l.kind == nti_ini_line::entry && l.in_section &&
                           nti_section_equal(l.section, section) &&
                           nti_iequal(l.name, name);
    if (same_name) {
      // The first occurrence takes the new value; later duplicates go, so
      // the file says one thing.
      if (i == replace_at && value != nullptr) emit(assignment);
      continue;
    }
    emit(l.raw);
    if (value != nullptr && replace_at == lines.size() && section_seen &&
        i == insert_after)
      emit(assignment);
  }
  if (value != nullptr && !section_seen) {
    if (!out.empty()) out += '\n';
    out += '[';
    out.append(section);
    out += "]\n";
    emit(assignment);
  }
  return out;
}

}  // namespace

std::vector<nti_ini_line> nti_ini_parse(std::string_view text) {
  std::vector<nti_ini_line> lines;
  std::string_view section;
  bool in_section = false;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    nti_ini_line line = nti_classify(raw, section, in_section);
    if (line.kind == nti_ini_line::header) {
      section = line.section;
      in_section = true;
    } else if (line.kind == nti_ini_line::bad_header) {
      in_section = false;
    }
    lines.push_back(line);
  }
  return lines;
}

bool nti_section_equal(std::string_view a, std::string_view b) {
  bool first = true;
  for (;;) {
    std::string_view ca = nti_next_component(&a);
    std::string_view cb = nti_next_component(&b);
    if (ca.empty() || cb.empty()) return ca.empty() && cb.empty();
    if (first) {
      const int ra = nti_root_index(ca), rb = nti_root_index(cb);
      if (ra >= 0 || rb >= 0) {
        if (ra != rb) return false;
        first = false;
        continue;
      }
    }
    first = false;
    if (!nti_iequal(ca, cb)) return false;
  }
}

const char *nti_settings_path() {
  errno = 0;
  const char *path = nt_getenv_safe("ORVEX_REGISTRY");
  if (path == nullptr && errno == ENOMEM) return nullptr;
  return (path != nullptr && *path != '\0') ? path : NTREGY_DEFAULT_FILE;
}

namespace {

// nti_settings_path inside the try blocks below: out of memory throws.
const char *settings_path_or_throw() {
  const char *path = nti_settings_path();
  if (path == nullptr) throw std::bad_alloc();
  return path;
}

}  // namespace

int nti_settings_lookup(std::string_view section, std::string_view name,
                        std::string &value) {
  try {
    std::string text;
    int rc = nti_read_path(settings_path_or_throw(), text);
    if (rc != NTREGY_OK) return rc;
    for (const nti_ini_line &l : nti_ini_parse(text)) {
      if (l.kind == nti_ini_line::entry && l.in_section &&
          nti_section_equal(l.section, section) && nti_iequal(l.name, name)) {
        value.assign(l.value);
        return NTREGY_OK;
      }
    }
    return NTREGY_NOT_SET;
  } catch (const std::bad_alloc &) {
    return NTREGY_NO_MEMORY;
  }
}

int nti_settings_section(
    std::string_view section,
    std::vector<std::pair<std::string, std::string>> &out) {
  try {
    out.clear();
    std::string text;
    int rc = nti_read_path(settings_path_or_throw(), text);
    if (rc != NTREGY_OK) return rc;
    bool found = false;
    for (const nti_ini_line &l : nti_ini_parse(text)) {
      if (l.kind == nti_ini_line::header &&
          nti_section_equal(l.section, section))
        found = true;
      if (l.kind == nti_ini_line::entry && l.in_section &&
          nti_section_equal(l.section, section))
        out.emplace_back(std::string(l.name), std::string(l.value));
    }
    return found ? NTREGY_OK : NTREGY_NOT_SET;
  } catch (const std::bad_alloc &) {
    return NTREGY_NO_MEMORY;
  }
}

int nti_settings_store(std::string_view section, std::string_view name,
                       const char *value) {
  if (!nti_valid_section(section) || !nti_valid_name(name) ||
      (value != nullptr && strpbrk(value, "\n\r") != nullptr))
    return NTREGY_INVALID_PARAM;
  try {
    const std::string path = settings_path_or_throw();
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    nti_dir_lock lock(dir);
    if (!lock.held()) return NTREGY_ACCESS_DENIED;
    std::string text;
    int rc = nti_read_path(path.c_str(), text);
    if (rc != NTREGY_OK) return rc;
    return nti_replace_file(path, nti_edit(text, section, name, value));
  } catch (const std::bad_alloc &) {
    return NTREGY_NO_MEMORY;
  }
}

int nti_copy_text(std::string_view text, char *buf, size_t size) {
  if (buf == nullptr || size == 0) return NTREGY_MORE_DATA;
  const size_t n = text.size() < size ? text.size() : size - 1;
  memcpy(buf, text.data(), n);
  buf[n] = '\0';
  return n == text.size() ? NTREGY_OK : NTREGY_MORE_DATA;
}

int nti_value_out(std::string_view text, size_t size, void *buffer, int type) {
  if (buffer == nullptr) return NTREGY_INVALID_PARAM;
  if (type == NTREGY_TYPE_TEXT)
    return nti_copy_text(text, static_cast<char *>(buffer), size);
  if (type != NTREGY_TYPE_DWORD) return NTREGY_INVALID_PARAM;
  if (size < sizeof(uint32_t)) return NTREGY_MORE_DATA;
  // Decimal (optionally negative, kept as its 32-bit pattern) or 0x hex.
  std::string digits(nti_trim(text));
  const bool hex = digits.size() > 2 && digits[0] == '0' &&
                   (digits[1] == 'x' || digits[1] == 'X');
  if (digits.empty() || (!hex && digits[0] != '-' &&
                         !isdigit(static_cast<unsigned char>(digits[0]))))
    return NTREGY_INVALID_DATA;
  char *end = nullptr;
  errno = 0;
  const long long v = strtoll(digits.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN ||
      v > static_cast<long long>(UINT32_MAX))
    return NTREGY_INVALID_DATA;
  const uint32_t word = static_cast<uint32_t>(v);
  memcpy(buffer, &word, sizeof word);
  return NTREGY_OK;
}
