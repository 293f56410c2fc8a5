// The map's shared region: a POSIX shared-memory object holding a
// process-shared robust mutex and the entry area. The first process to
// open the object sets it up under a file lock on the object, so two
// processes starting at once never both initialise the mutex; the region
// is marked ready last, and a region found unmarked (its creator died
// half-way) is set up again.
#include <orvexks/imsg.h>
#include <orvexks/pfm.h>
#include <orvexnt/nt_env.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "pfxmap/ntpfxmap_internal.h"
#include "pfxmap/ntpfxmap_msgs.h"

namespace {

constexpr uint32_t kReady = 0x50465831;  // "PFX1"
// How long a user waits for another process's hold on the map.
constexpr time_t kLockSeconds = 10;

struct region {
  std::atomic<uint32_t> ready;
  pthread_mutex_t mutex;
  alignas(8) unsigned char area[kPfxmapAreaSize];
};
static_assert(std::atomic<uint32_t>::is_always_lock_free);

region *mapped = nullptr;

const char *object_name() {
  const char *name = nt_getenv_safe("ORVEX_NTPFXMAP_SHM");
  return name != nullptr && name[0] != '\0' ? name : kPfxmapShmName;
}

bool init_mutex(pthread_mutex_t *mutex) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  const bool ok =
      pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
      pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
      pthread_mutex_init(mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

// Sizes and maps the object open on fd; the caller holds the file lock.
int map_region(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return kPfxmapNoRegion;
  if (static_cast<size_t>(st.st_size) < sizeof(region) &&
      ftruncate(fd, sizeof(region)) != 0)
    return kPfxmapNoRegion;
  void *addr =
      mmap(nullptr, sizeof(region), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (addr == MAP_FAILED) return kPfxmapNoAddress;
  auto *r = static_cast<region *>(addr);
  if (r->ready.load(std::memory_order_acquire) != kReady) {
    std::memset(r->area, 0, sizeof r->area);
    if (!init_mutex(&r->mutex)) {
      munmap(addr, sizeof(region));
      return kPfxmapNoRegion;
    }
    r->ready.store(kReady, std::memory_order_release);
  }
  mapped = r;
  return 0;
}

}  // namespace

int ksi_pfxmap_shm_attach() {
  // Everyone on the machine shares the map, whatever their file-creation
  // mask.
  const int fd = shm_open(object_name(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return kPfxmapNoRegion;
  fchmod(fd, 0666);
  int rc = kPfxmapNoRegion;
  if (flock(fd, LOCK_EX) == 0) {
    rc = map_region(fd);
    flock(fd, LOCK_UN);
  }
  close(fd);
  return rc;
}

unsigned char *ksi_pfxmap_area() { return mapped->area; }

bool ksi_pfxmap_lock() {
  pfm_inhibit();
  // A free lock, or one whose holder died, is taken at once by the try;
  // only a live holder is waited for. (The thread sanitizer also follows
  // a dead holder's recovery only on the untimed paths.)
  int rc = pthread_mutex_trylock(&mapped->mutex);
  if (rc == EBUSY) {
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += kLockSeconds;
    rc = pthread_mutex_timedlock(&mapped->mutex, &until);
  }
  if (rc == EOWNERDEAD) {
    // A process died holding the map: whatever it was writing may be half
    // done. Keep the entries when they still parse, else start empty.
    const bool intact = ksi_pfxmap_well_formed(mapped->area);
    if (!intact) std::memset(mapped->area, 0, sizeof mapped->area);
    rc = pthread_mutex_consistent(&mapped->mutex);
    ksi_pfxmap_trace(2, "recovered the map from a dead holder: %s\n",
                     intact ? "entries kept" : "entries cleared");
  }
  if (rc == 0) return true;
  pfm_enable();
  imsg_print(IMSG_ERROR, &ksi_ntpfxmap_msgs, KSI_NTPFXMAP_MUTEX_TIMEOUT);
  return false;
}

void ksi_pfxmap_unlock() {
  pthread_mutex_unlock(&mapped->mutex);
  pfm_enable();
}
