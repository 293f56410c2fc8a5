// Vectors of environment entries: text pointers with a small header in
// front of the first slot and, behind the last slot, the hash of each
// entry's name, so that a lookup compares texts only where the hashes
// agree.
#include "env/evutl_internal.h"

#include <cstring>

namespace {

// Kept in front of slot 0 so that a vector alone says how big it is and
// where it came from.
struct vector_header {
  uint32_t capacity;
  uint32_t entry_size;
  stg_area_t area;
};
static_assert(sizeof(vector_header) % alignof(char *) == 0);

vector_header *header_of(char *const *vector) {
  return reinterpret_cast<vector_header *>(const_cast<char **>(vector)) - 1;
}

bool matches(const char *entry, const char *name, size_t name_len) {
  return std::strncmp(entry, name, name_len) == 0 && entry[name_len] == '=';
}

}  // namespace

char **ksi_env_vector_new(stg_area_t area, uint32_t capacity) {
  const uint64_t bytes =
      sizeof(vector_header) +
      uint64_t{capacity} * (sizeof(char *) + sizeof(uint32_t));
  auto *header = static_cast<vector_header *>(stg_alloc(area, bytes));
  if (header == nullptr) return nullptr;
  header->capacity = capacity;
  header->entry_size = sizeof(char *);
  header->area = area;
  auto **vector = reinterpret_cast<char **>(header + 1);
  vector[0] = nullptr;
  return vector;
}

uint32_t ksi_env_vector_capacity(char *const *vector) {
  return header_of(vector)->capacity;
}

uint32_t *ksi_env_hashes(char **vector) {
  return reinterpret_cast<uint32_t *>(vector + header_of(vector)->capacity);
}

char **ksi_env_empty_vector() {
  static char *empty[1] = {nullptr};
  return empty;
}

void ksi_env_vector_drop(stg_area_t area, char **vector) {
  if (area == STG_AREA_HEAP && vector != nullptr) stg_free(header_of(vector));
}

void ksi_env_text_drop(stg_area_t area, char *text) {
  if (area == STG_AREA_HEAP) stg_free(text);
}

// FNV-1a: names are short, and a lookup hashes one name per scan.
uint32_t ksi_env_name_hash(const char *name, size_t name_len) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < name_len; ++i) {
    h ^= static_cast<unsigned char>(name[i]);
    h *= 16777619u;
  }
  return h;
}

uint32_t ksi_env_entry_hash(const char *entry) {
  return ksi_env_name_hash(entry, std::strcspn(entry, "="));
}

char **ksi_env_lookup(char **vector, uint32_t count, const char *name,
                      size_t name_len) {
  if (vector == nullptr) return nullptr;
  // An entry's hash covers the text before its first '='; a name holding
  // '=' can match an entry only beyond that, so it is looked for in full.
  if (std::memchr(name, '=', name_len) != nullptr)
    return ksi_env_find(vector, name, name_len);
  const uint32_t h = ksi_env_name_hash(name, name_len);
  const uint32_t *hashes = ksi_env_hashes(vector);
  for (uint32_t i = 0; i + 1 < count; ++i) {
    if (hashes[i] == h && matches(vector[i], name, name_len)) return vector + i;
  }
  return nullptr;
}

void ksi_env_remove_at(char **vector, uint32_t count, uint32_t index) {
  uint32_t *hashes = ksi_env_hashes(vector);
  std::memmove(vector + index, vector + index + 1,
               (count - index - 1) * sizeof(char *));
  std::memmove(hashes + index, hashes + index + 1,
               (count - index - 1) * sizeof(uint32_t));
}

char *ksi_env_take(evutl_env *env, const char *name) {
  char **slot =
      ksi_env_lookup(env->vector, env->count, name, std::strlen(name));
  if (slot == nullptr) return nullptr;
  char *removed = *slot;
  ksi_env_remove_at(env->vector, env->count,
                    static_cast<uint32_t>(slot - env->vector));
  --env->count;
  ++env->removals;
  return removed;
}

char **ksi_env_find(char **vector, const char *name, size_t name_len) {
  if (vector == nullptr) return nullptr;
  for (char **slot = vector; *slot != nullptr; ++slot) {
    if (matches(*slot, name, name_len)) return slot;
  }
  return nullptr;
}

void ksi_env_remove_slot(char **slot) {
  do {
    slot[0] = slot[1];
  } while (*slot++ != nullptr);
}
