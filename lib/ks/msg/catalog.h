// Message catalogs as the text lookup sees them: open by name, fetch a
// text by (set, message number) with a default, close.
#pragma once

struct ksi_catalog;
typedef struct ksi_catalog ksi_catalog_t;

// The handle value that means "no catalog" (an empty name or no memory).
#define KSI_CATALOG_NONE (reinterpret_cast<ksi_catalog_t *>(-1))

// A handle, null when no file was found or it was refused, or
// KSI_CATALOG_NONE. Mode 0 loads sets on demand; mode 1 loads all at once.
ksi_catalog_t *ksi_catalog_open(const char *name, int mode);
// The catalog's text for (set, id), or `dflt`; valid until the close.
const char *ksi_catalog_get(ksi_catalog_t *handle, int set, int id,
                            const char *dflt);
// Closes a handle; null and KSI_CATALOG_NONE are ignored.
void ksi_catalog_close(ksi_catalog_t *handle);

inline bool ksi_catalog_is_open(const ksi_catalog_t *handle) {
  return handle != nullptr && handle != KSI_CATALOG_NONE;
}

// The three operations the lookup's catalog cache calls. Tests install
// their own to watch opens and evictions; null restores the real ones.
struct ksi_catalog_ops_t {
  ksi_catalog_t *(*open)(const char *name, int mode);
  const char *(*get)(ksi_catalog_t *handle, int set, int id, const char *dflt);
  void (*close)(ksi_catalog_t *handle);
};
// Empties the cache (closing its catalogs) and installs `ops`.
void ksi_catalog_set_ops_for_test(const ksi_catalog_ops_t *ops);
