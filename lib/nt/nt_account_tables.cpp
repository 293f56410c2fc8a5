// The fixed tables of the account layer: the machine domain from the
// machine id, the well-known groups, the product group's name from the
// settings store, and NSS lookups with buffers that grow as needed.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <strings.h>

#include <orvexnt/nt_registry.h>

#include "internal/nt_accounts_impl.h"
#include "internal/nt_alloc_fault.h"

namespace {

// S-1-5-21-A-B-C: authority 5, four sub-authorities.
constexpr size_t kDomainSidLength = 8 + 4 * 4;

uint32_t g_domain[3];
unsigned char g_domain_sid[kDomainSidLength];
pthread_once_t g_domain_once = PTHREAD_ONCE_INIT;

// The first 24 hex digits of a machine-id file as three 32-bit words.
bool nti_read_machine_id(const char *path, uint32_t out[3]) {
  FILE *f = fopen(path, "re");
  if (f == nullptr) return false;
  char text[64] = {0};
  const bool got = fgets(text, sizeof text, f) != nullptr;
  fclose(f);
  if (!got) return false;
  for (int word = 0; word < 3; word++) {
    uint32_t value = 0;
    for (int i = 0; i < 8; i++) {
      const char c = text[word * 8 + i];
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return false;
      value = value << 4 | static_cast<uint32_t>(digit);
    }
    out[word] = value;
  }
  return true;
}

// Without a readable machine id the domain is S-1-5-21-0-0-0.
void nti_load_domain() {
  if (!nti_read_machine_id("/etc/machine-id", g_domain) &&
      !nti_read_machine_id("/var/lib/dbus/machine-id", g_domain))
    memset(g_domain, 0, sizeof g_domain);
  const uint32_t subs[4] = {21, g_domain[0], g_domain[1], g_domain[2]};
  nt_sid_build(g_domain_sid, sizeof g_domain_sid, NT_SID_AUTHORITY_NT, 4, subs);
}

// Well-known SIDs in their binary form (sub-authorities little-endian).
const unsigned char kEveryone[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
const unsigned char kCreatorOwner[12] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
const unsigned char kNetwork[12] = {1, 1, 0, 0, 0, 0, 0, 5, 2, 0, 0, 0};
const unsigned char kAdministrators[16] = {1,  2, 0, 0, 0,    0, 0, 5,
                                           32, 0, 0, 0, 0x20, 2, 0, 0};

const nt_sid_t *nti_sid(const unsigned char *bytes) {
  return reinterpret_cast<const nt_sid_t *>(bytes);
}

const nti_well_known kWellKnown[] = {
    {NT_ENUM_SID_EVERYONE, "Everyone", "Everyone", nti_sid(kEveryone)},
    {NT_ENUM_SID_CREATOR_OWNER, "CREATOR OWNER", "CREATOR OWNER",
     nti_sid(kCreatorOwner)},
    {NT_ENUM_SID_NETWORK, "NETWORK", "NT AUTHORITY\\NETWORK",
     nti_sid(kNetwork)},
    {NT_ENUM_SID_ADMINISTRATORS, "Administrators", "BUILTIN\\Administrators",
     nti_sid(kAdministrators)},
};

// Runs lookup with a buffer grown on ERANGE. Returns 0 with *storage set,
// or the errno value (ENOENT for no entry).
template <typename Entry, typename Lookup>
int nti_nss_lookup(Entry *out, char **storage, Lookup lookup) {
  *storage = nullptr;
  for (size_t size = 1024; size <= (size_t{1} << 24); size *= 4) {
    char *buf = static_cast<char *>(nt_malloc(size));
    if (buf == nullptr) return ENOMEM;
    Entry *result = nullptr;
    const int rc = lookup(out, buf, size, &result);
    if (rc == 0 && result != nullptr) {
      *storage = buf;
      return 0;
    }
    free(buf);
    if (rc != ERANGE) return rc == 0 ? ENOENT : rc;
  }
  return ERANGE;
}

}  // namespace

void nti_machine_domain(uint32_t out[3]) {
  pthread_once(&g_domain_once, nti_load_domain);
  memcpy(out, g_domain, sizeof g_domain);
}

const nt_sid_t *nti_machine_domain_sid() {
  pthread_once(&g_domain_once, nti_load_domain);
  return reinterpret_cast<const nt_sid_t *>(g_domain_sid);
}

int nti_domain_rid(const nt_sid_t *sid, uint32_t *rid) {
  if (!nt_sid_is_valid(sid) || nt_sid_sub_authority_count(sid) != 5 ||
      nt_sid_get_authority(sid) != NT_SID_AUTHORITY_NT)
    return 0;
  // The first 24 bytes are the domain's with the count byte 4 instead of 5.
  const unsigned char *b = reinterpret_cast<const unsigned char *>(sid);
  const unsigned char *d =
      reinterpret_cast<const unsigned char *>(nti_machine_domain_sid());
  if (memcmp(b + 2, d + 2, kDomainSidLength - 2) != 0) return 0;
  *rid = nt_sid_get_sub_authority(sid, 4);
  return 1;
}

nt_sid_t *nti_domain_sid_alloc(uint32_t rid) {
  uint32_t d[3];
  nti_machine_domain(d);
  const uint32_t subs[5] = {21, d[0], d[1], d[2], rid};
  return nt_sid_alloc_from(NT_SID_AUTHORITY_NT, 5, subs);
}

int nti_uid_rid(uint32_t uid, uint32_t *rid) {
  const uint64_t r = NT_USER_RID_BASE + 2 * uint64_t{uid};
  if (r > UINT32_MAX) return -1;
  *rid = static_cast<uint32_t>(r);
  return 0;
}

int nti_gid_rid(uint32_t gid, uint32_t *rid) {
  const uint64_t r = NT_GROUP_RID_BASE + 2 * uint64_t{gid};
  if (r > UINT32_MAX) return -1;
  *rid = static_cast<uint32_t>(r);
  return 0;
}

const nti_well_known *nti_well_known_groups(size_t *count) {
  *count = sizeof kWellKnown / sizeof kWellKnown[0];
  return kWellKnown;
}

const nti_well_known *nti_well_known_by_sid(const nt_sid_t *sid) {
  for (const nti_well_known &w : kWellKnown)
    if (nt_sid_equal(sid, w.sid)) return &w;
  return nullptr;
}

const nti_well_known *nti_well_known_by_name(const char *name) {
  if (name == nullptr) return nullptr;
  for (const nti_well_known &w : kWellKnown)
    if (strcasecmp(name, w.short_name) == 0 ||
        strcasecmp(name, w.qualified_name) == 0)
      return &w;
  return nullptr;
}

char *nti_product_group_name(char *buf, size_t size) {
  if (nt_settings_get("accounts", "product_group", buf, size) != NTREGY_OK ||
      buf[0] == '\0')
    snprintf(buf, size, "%s", "quillmere");
  return buf;
}

int nti_getpwnam(const char *name, struct passwd *out, char **storage) {
  return nti_nss_lookup(out, storage,
                        [name](struct passwd *pw, char *buf, size_t size,
                               struct passwd **result) {
                          return getpwnam_r(name, pw, buf, size, result);
                        });
}

int nti_getpwuid(uid_t uid, struct passwd *out, char **storage) {
  return nti_nss_lookup(
      out, storage,
      [uid](struct passwd *pw, char *buf, size_t size, struct passwd **result) {
        return getpwuid_r(uid, pw, buf, size, result);
      });
}

int nti_getgrnam(const char *name, struct group *out, char **storage) {
  return nti_nss_lookup(
      out, storage,
      [name](struct group *gr, char *buf, size_t size, struct group **result) {
        return getgrnam_r(name, gr, buf, size, result);
      });
}

int nti_getgrgid(gid_t gid, struct group *out, char **storage) {
  return nti_nss_lookup(
      out, storage,
      [gid](struct group *gr, char *buf, size_t size, struct group **result) {
        return getgrgid_r(gid, gr, buf, size, result);
      });
}

int nti_product_gid(gid_t *gid) {
  char name[256];
  nti_product_group_name(name, sizeof name);
  struct group gr;
  char *storage = nullptr;
  if (nti_getgrnam(name, &gr, &storage) != 0) return -1;
  *gid = gr.gr_gid;
  free(storage);
  return 0;
}
