// Message catalogs as the text lookup sees them: the exported reader
// (msgcat_open, msgcat_get, msgcat_close) plus the cache's test hook.
#pragma once

#include <orvexks/msgcat.h>

inline bool ksi_catalog_is_open(const msgcat_t *handle) {
  return handle != nullptr && handle != MSGCAT_NONE;
}

// The three operations the lookup's catalog cache calls. Tests install
// their own to watch opens and evictions; null restores the real ones.
struct ksi_catalog_ops_t {
  msgcat_t *(*open)(const char *name, int mode);
  const char *(*get)(msgcat_t *handle, int set, int id, const char *dflt);
  void (*close)(msgcat_t *handle);
};
// Empties the cache (closing its catalogs) and installs `ops`.
void ksi_catalog_set_ops_for_test(const ksi_catalog_ops_t *ops);
