// Keeping the map in step with the drives: clearing it, checking every
// entry against its drive's current connection, removing one drive, and
// listing the connected network drives.
#include <orvexks/ntpfxmap.h>
#include <orvexnt/nt_registry.h>

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pfxmap/ntpfxmap_internal.h"
#include "pfxmap/ntpfxmap_msgs.h"

namespace {

constexpr size_t kPathSize = 1024;
// The platform's error numbers in the traces of a failed drive query: no
// such device, and a device that is not a network connection.
constexpr int kNoDevice = 2;
constexpr int kNotConnected = 2250;

// The common start: initialised and enabled. -1 on failure, 0 when the
// map is off (the caller returns at once), 1 to go on.
int start() {
  if (ksi_pfxmap_init() != 0) return -1;
  return ksi_pfxmap_disabled() ? 0 : 1;
}

void trace_table(int level, int position, const char *drive, int error) {
  if (ksi_trace_on(kPfxmapTraceClass, level))
    imsg_print(IMSG_TRACE, &ksi_ntpfxmap_msgs, position, drive, error);
}

// The entry's prefix with a trailing '\' when it has none.
void with_trailing_sep(const char *prefix, char *out, size_t size) {
  const size_t len = std::strlen(prefix);
  const bool has =
      len > 0 && (prefix[len - 1] == '\\' || prefix[len - 1] == '/');
  std::snprintf(out, size, "%s%s", prefix, has ? "" : "\\");
}

// Whether the entry's drive still leads to its prefix. A drive that
// cannot be read counts as a mismatch with an empty connection, and every
// mismatch is traced with both sides.
bool entry_holds(const ksi_pfxmap_entry &e) {
  char target[kPathSize], connection[kPathSize] = "", prefix[kPathSize];
  with_trailing_sep(e.prefix, prefix, sizeof prefix);
  bool same = false;
  if (!ksi_pfxmap_drive_target(e.drive, target, sizeof target)) {
    trace_table(3, KSI_NTPFXMAP_QUERY_DEVICE_FAILED, e.drive, kNoDevice);
  } else if (!ksi_pfxmap_drive_connection(e.drive, connection,
                                          sizeof connection)) {
    connection[0] = '\0';
    trace_table(3, KSI_NTPFXMAP_GET_CONNECTION_FAILED, e.drive, kNotConnected);
  } else {
    same = (*e.flag & kPfxmapNoCase) != 0
               ? strcasecmp(connection, prefix) == 0
               : std::strcmp(connection, prefix) == 0;
  }
  if (!same) ksi_pfxmap_trace(3, "%s != %s\n", connection, prefix);
  return same;
}

bool validate_entry(const ksi_pfxmap_entry &e, void *arg) {
  if (entry_holds(e)) {
    *e.flag = static_cast<int8_t>(*e.flag & ~kPfxmapNotInUse);
    ++*static_cast<int *>(arg);
  } else {
    ksi_pfxmap_trace(2, "invalid entry found [%s] [%s]\n", e.drive, e.prefix);
    *e.flag = static_cast<int8_t>(*e.flag | kPfxmapNotInUse);
  }
  return true;
}

bool is_drive(const char *drive) {
  return drive != nullptr && drive[0] != '\0' && drive[1] == ':' &&
         drive[2] == '\0' &&
         ((drive[0] >= 'a' && drive[0] <= 'z') ||
          (drive[0] >= 'A' && drive[0] <= 'Z'));
}

}  // namespace

extern "C" {

int ntpfxmap_flush(void) {
  const int go = start();
  if (go <= 0) return go;
  if (!ksi_pfxmap_lock()) return -1;
  std::memset(ksi_pfxmap_area(), 0, kPfxmapAreaSize);
  ksi_pfxmap_unlock();
  return 0;
}

int ntpfxmap_validate_all(void) {
  const int go = start();
  if (go <= 0) return go;
  int valid = 0;
  if (!ksi_pfxmap_lock()) return -1;
  ksi_pfxmap_each(ksi_pfxmap_area(), validate_entry, &valid);
  ksi_pfxmap_unlock();
  return valid;
}

int ntpfxmap_unregister(const char *drive) {
  const int go = start();
  if (go <= 0) return go;
  if (!is_drive(drive)) {
    errno = EINVAL;
    return -1;
  }
  char connection[kPathSize];
  const char key[2] = {static_cast<char>(drive[0] | 0x20), '\0'};
  if (!ksi_pfxmap_lock()) return -1;
  const int removed = ksi_pfxmap_remove(ksi_pfxmap_area(), drive);
  int rc = 0;
  if (ksi_pfxmap_drive_connection(drive, connection, sizeof connection))
    rc = nt_settings_set("drives", key, nullptr);
  else if (removed == 0)
    rc = kNotConnected;
  ksi_pfxmap_unlock();
  if (rc == 0) return 0;
  imsg_print(IMSG_ERROR, &ksi_ntpfxmap_msgs, KSI_NTPFXMAP_CANT_UNMOUNT, drive,
             rc);
  return -1;
}

int ntpfxmap_get_drive_maps(char *buf, size_t size) {
  const int go = start();
  if (go < 0) return go;
  if (buf == nullptr || size == 0) {
    errno = EINVAL;
    return -1;
  }
  size_t used = 0;
  int count = 0;
  for (char letter = 'A'; go > 0 && letter <= 'Z'; letter++) {
    const char drive[kDriveText] = {letter, ':', '\0'};
    char connection[kPathSize];
    if (!ksi_pfxmap_drive_connection(drive, connection, sizeof connection))
      continue;
    connection[std::strlen(connection) - 1] = '\0';  // the trailing '\'
    const int n =
        std::snprintf(buf + used, size - used, "%s=%s", drive, connection);
    if (n < 0 || static_cast<size_t>(n) + 1 >= size - used) {
      errno = ENAMETOOLONG;
      return -1;
    }
    used += static_cast<size_t>(n) + 1;
    count++;
  }
  buf[used] = '\0';
  return count;
}

}  // extern "C"
