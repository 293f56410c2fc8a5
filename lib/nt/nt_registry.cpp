// The registry interface over the settings file: numbered installation
// parameters, key sections and their values, and plain section access.
#include <orvexnt/nt_registry.h>

#include <cstdio>
#include <cstring>
#include <strings.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "internal/nt_settings.h"

using nti_values = std::vector<std::pair<std::string, std::string>>;

// An open key: its full section name and the values it had when opened.
struct ntregy_key {
  std::string path;
  nti_values values;
};

namespace {

constexpr const char *kParamsSection = "params";
constexpr const char *kQmfsSection = "qmfs";

const char *nti_root_name(ntregy_hkey_t key) {
  if (key == NTREGY_HKEY_CLASSES_ROOT) return "HKCR";
  if (key == NTREGY_HKEY_CURRENT_USER) return "HKCU";
  if (key == NTREGY_HKEY_LOCAL_MACHINE) return "HKLM";
  if (key == NTREGY_HKEY_USERS) return "HKU";
  return nullptr;
}

// The section name of path below key (a root or an open key).
std::string nti_key_section(ntregy_hkey_t key, const char *path) {
  const char *root = nti_root_name(key);
  std::string section = root != nullptr ? root : key->path;
  if (path != nullptr && *path != '\0') {
    section += '\\';
    section += path;
  }
  return section;
}

int nti_read_param(const char *section, uint32_t id, size_t size, void *buffer,
                   int type) {
  char name[16];
  snprintf(name, sizeof name, "%u", id);
  std::string value;
  try {
    int rc = nti_settings_lookup(section, name, value);
    return rc != NTREGY_OK ? rc : nti_value_out(value, size, buffer, type);
  } catch (const std::bad_alloc &) {
    return NTREGY_NO_MEMORY;
  }
}

}  // namespace

extern "C" {

NT_API const char *nt_settings_file(void) { return nti_settings_path(); }

NT_API int nt_settings_get(const char *section, const char *name, char *buf,
                           size_t size) {
  if (section == nullptr || name == nullptr || buf == nullptr)
    return NTREGY_INVALID_PARAM;
  try {
    std::string value;
    int rc = nti_settings_lookup(section, name, value);
    return rc != NTREGY_OK ? rc : nti_copy_text(value, buf, size);
  } catch (const std::bad_alloc &) {
    return NTREGY_NO_MEMORY;
  }
}

NT_API int nt_settings_set(const char *section, const char *name,
                           const char *value) {
  if (section == nullptr || name == nullptr) return NTREGY_INVALID_PARAM;
  return nti_settings_store(section, name, value);
}

NT_API int nt_settings_enum(const char *section, uint32_t index, char *name,
                            size_t name_size, char *value, size_t value_size) {
  if (section == nullptr) return NTREGY_INVALID_PARAM;
  try {
    nti_values values;
    int rc = nti_settings_section(section, values);
    if (rc != NTREGY_OK) return rc;
    if (index >= values.size()) return NTREGY_NO_MORE_ITEMS;
    rc = name != nullptr ? nti_copy_text(values[index].first, name, name_size)
                         : NTREGY_OK;
    if (value != nullptr && rc == NTREGY_OK)
      rc = nti_copy_text(values[index].second, value, value_size);
    return rc;
  } catch (const std::bad_alloc &) {
    return NTREGY_NO_MEMORY;
  }
}

NT_API int ntregy_get_param(uint32_t id, size_t size, void *buffer, int type) {
  return nti_read_param(kParamsSection, id, size, buffer, type);
}

NT_API int ntregy_get_qmfs_param(uint32_t id, size_t size, void *buffer,
                                 int type) {
  int rc = nti_read_param(kQmfsSection, id, size, buffer, type);
  return rc == NTREGY_NOT_SET
             ? nti_read_param(kParamsSection, id, size, buffer, type)
             : rc;
}

NT_API int ntregy_set_param(uint32_t id, size_t size, const void *buffer,
                            int type) {
  if (buffer == nullptr) return NTREGY_INVALID_PARAM;
  char name[16], number[16];
  snprintf(name, sizeof name, "%u", id);
  if (type == NTREGY_TYPE_DWORD) {
    if (size < sizeof(uint32_t)) return NTREGY_INVALID_PARAM;
    uint32_t word;
    memcpy(&word, buffer, sizeof word);
    snprintf(number, sizeof number, "%u", word);
    return nti_settings_store(kParamsSection, name, number);
  }
  if (type != NTREGY_TYPE_TEXT) return NTREGY_INVALID_PARAM;
  const char *text = static_cast<const char *>(buffer);
  try {
    return nti_settings_store(kParamsSection, name,
                              std::string(text, strnlen(text, size)).c_str());
  } catch (const std::bad_alloc &) {
    return NTREGY_NO_MEMORY;
  }
}

NT_API int ntregy_get_handle(ntregy_hkey_t key, const char *path,
                             ntregy_hkey_t *result) {
  if (key == nullptr || result == nullptr) return NTREGY_INVALID_PARAM;
  *result = nullptr;
  ntregy_key *opened = new (std::nothrow) ntregy_key;
  if (opened == nullptr) return NTREGY_NO_MEMORY;
  int rc;
  try {
    opened->path = nti_key_section(key, path);
    rc = nti_settings_section(opened->path, opened->values);
  } catch (const std::bad_alloc &) {
    rc = NTREGY_NO_MEMORY;
  }
  if (rc != NTREGY_OK) {
    delete opened;
    return rc;
  }
  *result = opened;
  return NTREGY_OK;
}

NT_API int ntregy_get_value(ntregy_hkey_t key, const char *path,
                            const char *name, size_t size, void *buffer,
                            int type) {
  if (key == nullptr || name == nullptr) return NTREGY_INVALID_PARAM;
  try {
    if (nti_root_name(key) == nullptr && (path == nullptr || *path == '\0')) {
      for (const auto &[n, v] : key->values)
        if (strcasecmp(n.c_str(), name) == 0)
          return nti_value_out(v, size, buffer, type);
      return NTREGY_NOT_SET;
    }
    std::string value;
    int rc = nti_settings_lookup(nti_key_section(key, path), name, value);
    return rc != NTREGY_OK ? rc : nti_value_out(value, size, buffer, type);
  } catch (const std::bad_alloc &) {
    return NTREGY_NO_MEMORY;
  }
}

NT_API int ntregy_enum_value(ntregy_hkey_t key, uint32_t index, char *name,
                             size_t name_size, char *value, size_t value_size) {
  if (key == nullptr || nti_root_name(key) != nullptr)
    return NTREGY_INVALID_PARAM;
  if (index >= key->values.size()) return NTREGY_NO_MORE_ITEMS;
  int rc = name != nullptr
               ? nti_copy_text(key->values[index].first, name, name_size)
               : NTREGY_OK;
  if (value != nullptr && rc == NTREGY_OK)
    rc = nti_copy_text(key->values[index].second, value, value_size);
  return rc;
}

NT_API int ntregy_close_key(ntregy_hkey_t key) {
  if (key != nullptr && nti_root_name(key) == nullptr) delete key;
  return NTREGY_OK;
}

NT_API void nt_disable_long_path(void) {}

}  // extern "C"
