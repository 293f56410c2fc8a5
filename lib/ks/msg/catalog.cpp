// The message catalog reader: opens a catalog file found by name, keeps its
// set records, and reads a set's message records and texts on the first
// lookup in that set (mode 0) or all of them at once (mode 1).
//
// The file is not trusted. Every offset and length is checked against the
// file's size before anything is allocated or read, so a damaged or hostile
// file costs at most its own size in memory and never a read past its end.
// A damaged header or set chain is reported on standard error and the
// catalog treated as absent. A set whose records or texts cannot be read
// serves the default texts in mode 0 and refuses the file in mode 1.
//
// The library's own handles are used only under the message lock; a
// handle itself has no lock.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "internal/alloc_fault.h"
#include "internal/report_line.h"
#include "msg/catalog.h"
#include "msg/catalog_format.h"
#include "msg/catalog_search.h"

namespace {

namespace fmt = ksi_catfmt;

constexpr const char kReporter[] = "Message Catalog System";

struct catalog_message {
  uint32_t number;
  const char *text;  // inside the set's text data
};

enum set_state { kSetUnloaded = -1, kSetLoaded = 0, kSetBroken = 1 };

struct catalog_set {
  uint32_t number;
  uint64_t messages_offset;
  uint64_t text_offset;
  uint32_t text_length;
  uint32_t message_count;  // records in the file, invalid ones included
  int state;
  char *text;                 // text data plus a closing NUL
  catalog_message *messages;  // the valid records, in file order
  uint32_t kept;
};

}  // namespace

struct msgcat {
  int fd;  // -1 once everything is loaded (mode 1)
  uint64_t file_size;
  uint32_t set_count;
  catalog_set *sets;
};

namespace {

void report_corrupt() { ksi_report("%s: corrupt file.", kReporter); }
void report_no_memory() { ksi_report("%s: no more memory.", kReporter); }

// Reads exactly `size` bytes at `offset`; false on a short read or error.
bool read_at(int fd, uint64_t offset, void *buf, size_t size) {
  auto *out = static_cast<unsigned char *>(buf);
  while (size > 0) {
    ssize_t got = pread(fd, out, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return true;
}

// Whether [offset, offset + length) lies inside a file of `size` bytes.
bool inside(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

// The element of a sorted array whose number is `key`, by binary search.
// The search starts at position key-1 when that exists: numbers usually
// run 1, 2, 3, ... so the first probe is then a hit.
template <typename T>
T *find_number(T *items, uint32_t count, uint32_t key) {
  if (count == 0) return nullptr;
  int64_t lo = 0;
  int64_t hi = static_cast<int64_t>(count) - 1;
  int64_t at = key >= 1 && key <= count ? key - 1 : hi / 2;
  while (lo <= hi) {
    if (items[at].number == key) return &items[at];
    if (items[at].number < key)
      lo = at + 1;
    else
      hi = at - 1;
    at = lo + (hi - lo) / 2;
  }
  return nullptr;
}

void unload_set(catalog_set &set) {
  std::free(set.text);
  std::free(set.messages);
  set.text = nullptr;
  set.messages = nullptr;
  set.kept = 0;
}

enum load_result { kLoadOk, kLoadCorrupt, kLoadNoMemory };

// Reads a set's text data and message records; drops invalid records and
// turns each kept record's offset into a pointer into the text data. Both
// ranges are checked against the file before anything is allocated.
load_result load_set(const msgcat &cat, catalog_set &set) {
  uint64_t records_size = uint64_t{set.message_count} * fmt::kMessageSize;
  if (!inside(set.text_offset, set.text_length, cat.file_size) ||
      !inside(set.messages_offset, records_size, cat.file_size))
    return kLoadCorrupt;
  set.text = static_cast<char *>(nt_malloc(size_t{set.text_length} + 1));
  auto *raw = static_cast<unsigned char *>(nt_malloc(records_size + 1));
  set.messages = static_cast<catalog_message *>(
      nt_malloc(size_t{set.message_count} * sizeof(catalog_message) + 1));
  load_result result = kLoadOk;
  if (set.text == nullptr || raw == nullptr || set.messages == nullptr) {
    result = kLoadNoMemory;
  } else if (!read_at(cat.fd, set.text_offset, set.text, set.text_length) ||
             !read_at(cat.fd, set.messages_offset, raw, records_size)) {
    result = kLoadCorrupt;
  } else {
    set.text[set.text_length] = '\0';
    for (uint32_t i = 0; i < set.message_count && result == kLoadOk; ++i) {
      const unsigned char *rec = raw + size_t{i} * fmt::kMessageSize;
      if (fmt::get32(rec + fmt::kMessageInvalid) != 0) continue;
      uint64_t offset = fmt::get64(rec + fmt::kMessageText);
      if (offset > set.text_length) {
        result = kLoadCorrupt;
        break;
      }
      set.messages[set.kept++] = {fmt::get32(rec + fmt::kMessageNumber),
                                  set.text + offset};
    }
  }
  std::free(raw);
  if (result == kLoadOk)
    set.state = kSetLoaded;
  else
    unload_set(set);
  return result;
}

void free_catalog(msgcat *cat) {
  if (cat->fd >= 0) close(cat->fd);
  for (uint32_t i = 0; cat->sets != nullptr && i < cat->set_count; ++i)
    unload_set(cat->sets[i]);
  std::free(cat->sets);
  std::free(cat);
}

// Reads one set record at `offset`. False when it is not inside the file.
// Where the set's messages lie is checked when they are loaded.
bool read_set_record(const msgcat &cat, uint64_t offset, catalog_set &set,
                     uint64_t &next, bool &valid) {
  unsigned char rec[fmt::kSetSize];
  if (!inside(offset, sizeof rec, cat.file_size) ||
      !read_at(cat.fd, offset, rec, sizeof rec))
    return false;
  next = fmt::get64(rec + fmt::kSetNext);
  valid = fmt::get32(rec + fmt::kSetInvalid) == 0;
  set = {};
  set.number = fmt::get32(rec + fmt::kSetNumber);
  set.messages_offset = fmt::get64(rec + fmt::kSetMessages);
  set.text_offset = fmt::get64(rec + fmt::kSetText);
  set.text_length = fmt::get32(rec + fmt::kSetTextLength);
  set.message_count = fmt::get32(rec + fmt::kSetMessageCount);
  set.state = kSetUnloaded;
  return true;
}

// Checks the header and reads the chain of set records. Null (reported)
// when the file is damaged, MSGCAT_NONE when memory runs out.
msgcat_t *read_catalog(msgcat *cat, const char *path) {
  unsigned char header[fmt::kHeaderSize];
  if (!read_at(cat->fd, 0, header, sizeof header) ||
      std::memcmp(header, fmt::kMagic, sizeof fmt::kMagic) != 0) {
    report_corrupt();
    return nullptr;
  }
  auto major = static_cast<int32_t>(fmt::get32(header + fmt::kHeaderMajor));
  if (major != static_cast<int32_t>(fmt::kMajorVersion)) {
    ksi_report("%s: %s is version %d, we need %d.", kReporter, path, major,
               static_cast<int>(fmt::kMajorVersion));
    return nullptr;
  }
  auto count = static_cast<int32_t>(fmt::get32(header + fmt::kHeaderSetCount));
  if (count <= 0) {
    ksi_report("%s: %s has %d sets!", kReporter, path, count);
    return nullptr;
  }
  // Each set needs a record of its own in the file: a count the file cannot
  // hold is damage, not a reason to allocate.
  uint64_t max_records = cat->file_size / fmt::kSetSize;
  if (static_cast<uint64_t>(count) > max_records) {
    report_corrupt();
    return nullptr;
  }
  cat->sets = static_cast<catalog_set *>(
      nt_calloc(static_cast<size_t>(count), sizeof(catalog_set)));
  if (cat->sets == nullptr) {
    report_no_memory();
    return MSGCAT_NONE;
  }
  // Invalid records are skipped and not counted. A chain longer than the
  // file could hold records loops back on itself.
  uint64_t offset = fmt::get64(header + fmt::kHeaderFirstSet);
  for (uint64_t walked = 0; cat->set_count < static_cast<uint32_t>(count);
       ++walked) {
    catalog_set set;
    uint64_t next = 0;
    bool valid = false;
    if (walked >= max_records ||
        !read_set_record(*cat, offset, set, next, valid)) {
      report_corrupt();
      return nullptr;
    }
    if (valid) cat->sets[cat->set_count++] = set;
    offset = next;
  }
  return cat;
}

// Mode 1: every set now, and the file closed.
msgcat_t *load_everything(msgcat *cat) {
  for (uint32_t i = 0; i < cat->set_count; ++i) {
    switch (load_set(*cat, cat->sets[i])) {
      case kLoadOk:
        break;
      case kLoadCorrupt:
        report_corrupt();
        return nullptr;
      case kLoadNoMemory:
        report_no_memory();
        return MSGCAT_NONE;
    }
  }
  close(cat->fd);
  cat->fd = -1;
  return cat;
}

msgcat_t *open_file(const char *path, int mode) {
  auto *cat = static_cast<msgcat *>(nt_calloc(1, sizeof(msgcat)));
  if (cat == nullptr) {
    report_no_memory();
    return MSGCAT_NONE;
  }
  cat->fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (cat->fd < 0 || fstat(cat->fd, &st) != 0) {
    free_catalog(cat);
    return nullptr;
  }
  cat->file_size = static_cast<uint64_t>(st.st_size);
  msgcat_t *result = read_catalog(cat, path);
  if (result == cat && mode == 1) result = load_everything(cat);
  if (result != cat) free_catalog(cat);
  return result;
}

}  // namespace

extern "C" {

KS_API msgcat_t *msgcat_open(const char *name, int mode) {
  if (name == nullptr || name[0] == '\0') return MSGCAT_NONE;
  std::string path;
  try {
    if (!ksi_catalog_find(name, path)) return nullptr;
  } catch (const std::bad_alloc &) {
    report_no_memory();
    return MSGCAT_NONE;
  }
  return open_file(path.c_str(), mode);
}

KS_API const char *msgcat_get(msgcat_t *handle, int set_number, int number,
                              const char *dflt) {
  if (!ksi_catalog_is_open(handle) || set_number < 1 || number < 1) return dflt;
  catalog_set *set = find_number(handle->sets, handle->set_count,
                                 static_cast<uint32_t>(set_number));
  if (set == nullptr) return dflt;
  // A damaged set is not retried (the file will not mend itself); one
  // that ran out of memory stays unloaded and is tried again next time.
  if (set->state == kSetUnloaded && handle->fd >= 0 &&
      load_set(*handle, *set) == kLoadCorrupt)
    set->state = kSetBroken;
  if (set->state != kSetLoaded) return dflt;
  catalog_message *msg =
      find_number(set->messages, set->kept, static_cast<uint32_t>(number));
  return msg != nullptr ? msg->text : dflt;
}

KS_API void msgcat_close(msgcat_t *handle) {
  if (ksi_catalog_is_open(handle)) free_catalog(handle);
}

}  // extern "C"
