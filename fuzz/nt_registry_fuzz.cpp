// Arbitrary bytes as the settings file: read parameters as text and as
// numbers, enumerate sections and keys, map drive paths, and rewrite the
// file with one value changed, which must read back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <orvexnt/nt_registry.h>

namespace {

char settings_path[64];

void write_settings(const uint8_t *data, size_t size) {
  FILE *f = fopen(settings_path, "wb");
  if (f == nullptr) abort();
  fwrite(data, 1, size, f);
  fclose(f);
}

void read_everything() {
  char text[64], name[32];
  uint32_t word;
  static const uint32_t kIds[] = {7, 8, 9, 16, 25, 28, 55};
  for (uint32_t id : kIds) {
    ntregy_get_param(id, sizeof text, text, NTREGY_TYPE_TEXT);
    ntregy_get_param(id, sizeof word, &word, NTREGY_TYPE_DWORD);
    ntregy_get_qmfs_param(id, 4, text, NTREGY_TYPE_TEXT);
  }
  static const char *const kSections[] = {"params", "drives", "shares",
                                          "accounts"};
  for (const char *section : kSections)
    for (uint32_t i = 0; nt_settings_enum(section, i, name, sizeof name, text,
                                          3) != NTREGY_NO_MORE_ITEMS &&
                         i < 64;
         i++) {
    }
  ntregy_hkey_t key;
  if (ntregy_get_handle(NTREGY_HKEY_LOCAL_MACHINE,
                        "Software\\Fennick\\Sentrymon", &key) == NTREGY_OK) {
    for (uint32_t i = 0;
         ntregy_enum_value(key, i, name, sizeof name, text, sizeof text) !=
             NTREGY_NO_MORE_ITEMS &&
         i < 64;
         i++) {
    }
    ntregy_get_value(key, nullptr, "Directory", sizeof text, text,
                     NTREGY_TYPE_TEXT);
    ntregy_close_key(key);
  }
  nt_map_path("d:\\x\\y", text, sizeof text);
  nt_map_path("\\\\localhost\\share\\z", text, sizeof text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  snprintf(settings_path, sizeof settings_path, "%s/nt_registry_fuzz.%d.ini",
           dir, static_cast<int>(getpid()));
  setenv("ORVEX_REGISTRY", settings_path, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  write_settings(data, size);
  read_everything();
  // A rewrite keeps the file readable and the new value visible.
  char value[16];
  if (nt_settings_set("params", "8", "c:\\fuzz") != NTREGY_OK ||
      nt_settings_get("params", "8", value, sizeof value) != NTREGY_OK ||
      strcmp(value, "c:\\fuzz") != 0)
    abort();
  read_everything();
  return 0;
}
