// Files mapped into memory. Each mapping is remembered with its length so
// that releasing it needs only its address; the list has its own mutex.
#include <orvexks/fileutl.h>
#include <orvexks/qmthread.h>
#include <orvexks/stg.h>
#include <orvexnt/nt_registry.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

struct Mapping {
  const void *address;
  size_t length;
  Mapping *next;
};

qmthread_mutex_t mappings_lock = QMTHREAD_MUTEX_INITIALIZER;
Mapping *mappings = nullptr;

// Maps length bytes of fd (an anonymous page for an empty file, so every
// mapping has an address of its own). MAP_FAILED with errno on failure.
void *map(int fd, size_t length) {
  if (length == 0)
    return mmap(nullptr, 1, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
}

}  // namespace

extern "C" {

const void *fileutl_locate_pname(const char *path, uint64_t length,
                                 uint64_t *size_out) {
  char host_path[4096];
  int err =
      path == nullptr ? EINVAL : nt_map_path(path, host_path, sizeof host_path);
  if (err != 0) {
    errno = err;
    return nullptr;
  }
  // Allocated before the file is opened: running out of memory prints a
  // message, where a raise could be delivered.
  auto *mapping = static_cast<Mapping *>(stg_malloc(sizeof(Mapping)));
  if (mapping == nullptr) return nullptr;
  const int fd = open(host_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    stg_free(mapping);
    errno = err;
    return nullptr;
  }
  struct stat st;
  void *address = MAP_FAILED;
  uint64_t size = 0;
  if (fstat(fd, &st) != 0) {
    err = errno;
  } else {
    // Never past the end of the file: touching such pages kills the caller.
    size = static_cast<uint64_t>(st.st_size);
    if (length != 0 && length < size) size = length;
    address = map(fd, static_cast<size_t>(size));
    if (address == MAP_FAILED) err = errno;
  }
  close(fd);
  if (err != 0) {
    stg_free(mapping);
    errno = err;
    return nullptr;
  }
  mapping->address = address;
  mapping->length = size == 0 ? 1 : static_cast<size_t>(size);
  qmthread_mutex_lock(&mappings_lock);
  mapping->next = mappings;
  mappings = mapping;
  qmthread_mutex_unlock(&mappings_lock);
  if (size_out != nullptr) *size_out = size;
  return address;
}

int fileutl_unlocate(const void *handle) {
  Mapping *found = nullptr;
  qmthread_mutex_lock(&mappings_lock);
  for (Mapping **link = &mappings; *link != nullptr; link = &(*link)->next) {
    if ((*link)->address == handle) {
      found = *link;
      *link = found->next;
      break;
    }
  }
  qmthread_mutex_unlock(&mappings_lock);
  if (found == nullptr) {
    errno = EINVAL;
    return -1;
  }
  munmap(const_cast<void *>(found->address), found->length);
  stg_free(found);
  return 0;
}

}  // extern "C"
