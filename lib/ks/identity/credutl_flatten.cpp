// The flattened account and group records kept as cache values: fixed
// fields at fixed offsets, strings NUL-padded, ids in host byte order.
#include <cstdlib>
#include <cstring>

#include "identity/credutl_cache.h"

namespace {

// Account: name, uid, user SID, group name, gid, group SID, full name,
// home directory; two zero bytes follow each name and SID.
constexpr size_t kName = 0, kUid = 324, kUserSid = 328, kGroupName = 364,
                 kGid = 688, kGroupSid = 692, kGecos = 728, kHome = 985;
// Group: name, gid, SID.
constexpr size_t kGroupGid = 324, kGroupSidAt = 328;

// Copies s into a field of size bytes (NUL-padded); false when it needs
// size bytes or more.
bool put_string(unsigned char *field, size_t size, const char *s) {
  const size_t n = strlen(s);
  if (n >= size) return false;
  memcpy(field, s, n);
  return true;
}

// A heap copy of a NUL-padded field of size bytes.
char *get_string(const unsigned char *field, size_t size) {
  const size_t n = strnlen(reinterpret_cast<const char *>(field), size);
  char *s = static_cast<char *>(malloc(n + 1));
  if (s != nullptr) {
    memcpy(s, field, n);
    s[n] = '\0';
  }
  return s;
}

}  // namespace

void ksi_account_free(ksi_account *a) {
  free(a->name);
  free(a->group_name);
  free(a->gecos);
  free(a->home);
  a->name = a->group_name = a->gecos = a->home = nullptr;
}

void ksi_group_free(ksi_group *g) {
  free(g->name);
  g->name = nullptr;
}

bool ksi_account_flatten(const ksi_account &a, unsigned char *out) {
  memset(out, 0, KSI_CRED_PASSWD_SIZE);
  if (!put_string(out + kName, CREDUTL_CACHE_NAME_SIZE, a.name) ||
      !put_string(out + kGroupName, CREDUTL_CACHE_NAME_SIZE, a.group_name) ||
      !put_string(out + kGecos, CREDUTL_CACHE_GECOS_SIZE, a.gecos) ||
      !put_string(out + kHome, CREDUTL_CACHE_HOME_SIZE, a.home))
    return false;
  memcpy(out + kUid, &a.uid, 4);
  memcpy(out + kUserSid, &a.sid, sizeof a.sid);
  memcpy(out + kGid, &a.gid, 4);
  memcpy(out + kGroupSid, &a.group_sid, sizeof a.group_sid);
  return true;
}

bool ksi_account_unflatten(const unsigned char *in, ksi_account *a) {
  a->name = get_string(in + kName, CREDUTL_CACHE_NAME_SIZE);
  a->group_name = get_string(in + kGroupName, CREDUTL_CACHE_NAME_SIZE);
  a->gecos = get_string(in + kGecos, CREDUTL_CACHE_GECOS_SIZE);
  a->home = get_string(in + kHome, CREDUTL_CACHE_HOME_SIZE);
  memcpy(&a->uid, in + kUid, 4);
  memcpy(&a->sid, in + kUserSid, sizeof a->sid);
  memcpy(&a->gid, in + kGid, 4);
  memcpy(&a->group_sid, in + kGroupSid, sizeof a->group_sid);
  if (a->name && a->group_name && a->gecos && a->home) return true;
  ksi_account_free(a);
  return false;
}

bool ksi_group_flatten(const ksi_group &g, unsigned char *out) {
  memset(out, 0, KSI_CRED_GROUP_SIZE);
  if (!put_string(out + kName, CREDUTL_CACHE_NAME_SIZE, g.name)) return false;
  memcpy(out + kGroupGid, &g.gid, 4);
  memcpy(out + kGroupSidAt, &g.sid, sizeof g.sid);
  return true;
}

bool ksi_group_unflatten(const unsigned char *in, ksi_group *g) {
  g->name = get_string(in + kName, CREDUTL_CACHE_NAME_SIZE);
  memcpy(&g->gid, in + kGroupGid, 4);
  memcpy(&g->sid, in + kGroupSidAt, sizeof g->sid);
  return g->name != nullptr;
}
