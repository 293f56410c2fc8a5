// Vectors of environment entries: text pointers with a small header in
// front of the first slot, and the lookups over them.
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

}  // namespace

char **ksi_env_vector_new(stg_area_t area, uint32_t capacity) {
  const uint64_t bytes =
      sizeof(vector_header) + uint64_t{capacity} * sizeof(char *);
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

void ksi_env_vector_drop(stg_area_t area, char **vector) {
  if (area == STG_AREA_HEAP && vector != nullptr) stg_free(header_of(vector));
}

void ksi_env_text_drop(stg_area_t area, char *text) {
  if (area == STG_AREA_HEAP) stg_free(text);
}

char **ksi_env_empty_vector() {
  static char *empty[1] = {nullptr};
  return empty;
}

char **ksi_env_find(char **vector, const char *name, size_t name_len) {
  if (vector == nullptr) return nullptr;
  for (char **slot = vector; *slot != nullptr; ++slot) {
    if (std::strncmp(*slot, name, name_len) == 0 && (*slot)[name_len] == '=')
      return slot;
  }
  return nullptr;
}

void ksi_env_remove_slot(char **slot) {
  do {
    slot[0] = slot[1];
  } while (*slot++ != nullptr);
}
