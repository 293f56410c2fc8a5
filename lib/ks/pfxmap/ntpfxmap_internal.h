// The drive prefix map's private interface: the process's view of the map
// (switches and the shared region), the entries of the region, the drive
// table and the export-list decoder.
#pragma once

#include <orvexks/ntpfxmap.h>
#include <orvexks/rpc/xdr.h>

#include <cstddef>
#include <cstdint>

#include "msg/msg_out.h"

constexpr const char *kPfxmapTraceClass = "ks/ntpfxmap";
// The bytes of entries in the shared region.
constexpr size_t kPfxmapAreaSize = 8192;
// The POSIX shared-memory object of the map; ORVEX_NTPFXMAP_SHM names
// another (tests use one each).
constexpr const char *kPfxmapShmName = "/orvex-ntpfxmap";
// A drive text "X:" with its terminator.
constexpr size_t kDriveText = 3;

// imsg_print with a printf format, when tracing of the family reaches
// level.
template <typename... Args>
void ksi_pfxmap_trace(int level, const char *format, Args... args) {
  if (ksi_trace_on(kPfxmapTraceClass, level))
    imsg_print(IMSG_TRACE, format, -1, args...);
}

// ---- Initialisation (ntpfxmap_init.cpp)

// Initialises the process's view once: the disable switch, this host's
// name, the network provider's name and the shared region. 0, or -1 after
// the failure was printed.
int ksi_pfxmap_init();
// The map is switched off (settings parameter 9 reads 1).
bool ksi_pfxmap_disabled();
// This host's name, lower-cased.
const char *ksi_pfxmap_host();
// The primary network provider's name.
const char *ksi_pfxmap_provider();
// True when host (up to len bytes) names this host.
bool ksi_pfxmap_is_local(const char *host, size_t len);
// The UNC name's host: start and length; false when unc is no UNC name
// (two separators, a host, a separator, a share).
bool ksi_pfxmap_unc_host(const char *unc, const char **host, size_t *len);

// ---- The shared region (ntpfxmap_shm.cpp)

// Opens or creates the shared region and maps it: 0, kPfxmapNoRegion
// when the object cannot be opened or sized, kPfxmapNoAddress when it
// cannot be mapped.
constexpr int kPfxmapNoRegion = -1;
constexpr int kPfxmapNoAddress = -2;
int ksi_pfxmap_shm_attach();
// The region's entry area (kPfxmapAreaSize bytes); valid after attach.
unsigned char *ksi_pfxmap_area();
// Takes the region's cross-process lock, holding raises off until the
// unlock. A holder that died is recovered from: the entries are checked
// and cleared when damaged. false (message printed) on time-out.
bool ksi_pfxmap_lock();
void ksi_pfxmap_unlock();

// ---- Entries (ntpfxmap_entries.cpp); callers hold the lock.

// Entry flag bits: top bit = not in use, bit 0 = prefix compared without
// regard to case.
constexpr int8_t kPfxmapNotInUse = INT8_MIN;
constexpr int8_t kPfxmapNoCase = 1;

struct ksi_pfxmap_entry {
  int8_t *flag;
  const char *drive;
  const char *prefix;
};

// Calls fn(entry, arg) for each entry until it returns false.
void ksi_pfxmap_each(unsigned char *area,
                     bool (*fn)(const ksi_pfxmap_entry &, void *), void *arg);
// Appends an entry (in use). false when it does not fit.
bool ksi_pfxmap_add(unsigned char *area, const char *drive, const char *prefix,
                    int8_t flag);
// Removes every entry of drive; the number removed.
int ksi_pfxmap_remove(unsigned char *area, const char *drive);
// True when the area's entries are well formed (lengths in bounds, texts
// terminated inside their entry).
bool ksi_pfxmap_well_formed(const unsigned char *area);

// True when prefix (len bytes) is a prefix of path that ends at a
// component boundary, compared without regard to case when nocase.
bool ksi_pfxmap_covers(const char *prefix, size_t len, const char *path,
                       bool nocase);

// ---- Drives (ntpfxmap_drives.cpp)

// The host directory of drive "X:" in the drive table. false when none.
bool ksi_pfxmap_drive_target(const char *drive, char *out, size_t size);
// The network connection of drive, normalised to "\\host\share\": false
// when the drive is not a network drive.
bool ksi_pfxmap_drive_connection(const char *drive, char *out, size_t size);
// Connects remote (a UNC prefix) to the first free drive letter from Z:
// down, pointing it at target; the drive into drive_out. 0 or -1.
int ksi_pfxmap_mount_drive(const char *remote, const char *target,
                           char *drive_out);

// ---- Export lists (shwmnt_xdr.cpp)

// The EXPORT reply: an optional chain of export nodes. Encodes, decodes
// and frees; chains are walked iteratively, so a long list never deepens
// the stack.
bool_t ksi_xdr_shwmnt_exports(XDR *xdrs, shwmnt_export_t **list);
// The helper layer's retry advice after a failed call: 0 to try again
// (three times), then -1.
int ksi_shwmnt_err_routine(CLIENT *client, uint32_t proc, enum clnt_stat stat,
                           int *tries);
