// Drives and their connections. The settings file's drive table is the set
// of connected drives: a drive whose directory is /net/HOST/REST is the
// network connection \\HOST\REST (the automounter's convention), one whose
// directory is a share of this host is \\thishost\share, and any other is
// a local drive. Connecting a prefix records a free letter in the table.
#include <orvexks/imsg.h>
#include <orvexnt/nt_registry.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pfxmap/ntpfxmap_internal.h"
#include "pfxmap/ntpfxmap_msgs.h"

namespace {

constexpr const char *kDrives = "drives";
constexpr const char *kShares = "shares";
constexpr const char *kNetRoot = "/net/";
constexpr size_t kPathSize = 1024;

// The drive table's name of drive "X:": the letter, lower-cased.
bool drive_key(const char *drive, char key[2]) {
  if (drive == nullptr || !std::isalpha(static_cast<unsigned char>(drive[0])) ||
      drive[1] != ':')
    return false;
  key[0] =
      static_cast<char>(std::tolower(static_cast<unsigned char>(drive[0])));
  key[1] = '\0';
  return true;
}

// Appends text to out (at *used of size); false when it does not fit.
bool append(char *out, size_t size, size_t *used, const char *text,
            size_t len) {
  if (len >= size - *used) return false;
  std::memcpy(out + *used, text, len);
  *used += len;
  out[*used] = '\0';
  return true;
}

// "\\" host "\" rest, '/' turned into '\', a trailing '\' added, the host
// without leading '/', ':' or '\' characters.
bool normalise(const char *host, size_t host_len, const char *rest, char *out,
               size_t size) {
  while (host_len > 0 && (*host == '/' || *host == ':' || *host == '\\')) {
    host++;
    host_len--;
  }
  size_t used = 0;
  out[0] = '\0';
  if (!append(out, size, &used, "\\\\", 2) ||
      !append(out, size, &used, host, host_len) ||
      !append(out, size, &used, "\\", 1))
    return false;
  for (const char *c = rest; *c != '\0'; c++)
    if (!append(out, size, &used, *c == '/' ? "\\" : c, 1)) return false;
  if (out[used - 1] != '\\' && !append(out, size, &used, "\\", 1)) return false;
  return true;
}

// The share of this host whose directory is dir, into name.
bool share_of(const char *dir, char *name, size_t size) {
  char value[kPathSize];
  for (uint32_t i = 0; nt_settings_enum(kShares, i, name, size, value,
                                        sizeof value) == NTREGY_OK;
       i++)
    if (std::strcmp(value, dir) == 0) return true;
  return false;
}

bool letter_in_use(char letter) {
  char target[kPathSize];
  const char key[2] = {letter, '\0'};
  return letter == 'c' ||
         nt_settings_get(kDrives, key, target, sizeof target) != NTREGY_NOT_SET;
}

}  // namespace

bool ksi_pfxmap_drive_target(const char *drive, char *out, size_t size) {
  char key[2];
  if (!drive_key(drive, key)) return false;
  const int rc = nt_settings_get(kDrives, key, out, size);
  if (rc == NTREGY_NOT_SET && key[0] == 'c' && size > 1) {
    std::strcpy(out, "/");
    return true;
  }
  return rc == NTREGY_OK;
}

bool ksi_pfxmap_drive_connection(const char *drive, char *out, size_t size) {
  char target[kPathSize];
  if (!ksi_pfxmap_drive_target(drive, target, sizeof target)) return false;
  const size_t net_len = std::strlen(kNetRoot);
  if (std::strncmp(target, kNetRoot, net_len) == 0) {
    const char *host = target + net_len;
    const char *slash = std::strchr(host, '/');
    if (slash == nullptr || slash == host || slash[1] == '\0') return false;
    return normalise(host, static_cast<size_t>(slash - host), slash + 1, out,
                     size);
  }
  char share[kPathSize];
  if (!share_of(target, share, sizeof share)) return false;
  const char *host = ksi_pfxmap_host();
  return normalise(host, std::strlen(host), share, out, size);
}

int ksi_pfxmap_mount_drive(const char *remote, const char *target,
                           char *drive_out) {
  ksi_pfxmap_trace(2, "mount_drive: connecting to [%s]\n", remote);
  for (char letter = 'z'; letter >= 'a'; letter--) {
    if (letter_in_use(letter)) continue;
    const char key[2] = {letter, '\0'};
    std::snprintf(drive_out, kDriveText, "%c:", letter - 'a' + 'A');
    const int rc = nt_settings_set(kDrives, key, target);
    if (rc == NTREGY_OK) {
      ksi_pfxmap_trace(2, "mount_drive: connected to drive %s\n", drive_out);
      return 0;
    }
    imsg_print(IMSG_ERROR, &ksi_ntpfxmap_msgs, KSI_NTPFXMAP_CANT_CONNECT,
               remote, drive_out, rc);
  }
  imsg_print(IMSG_ERROR, &ksi_ntpfxmap_msgs, KSI_NTPFXMAP_NO_DRIVE_LETTER);
  return -1;
}
