// Account and group lookups by name, id and SID over the companion
// library's account layer, answered from the account caches when possible.
// Results go to the calling thread's account or group record.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <atomic>

#include <orvexks/credutl.h>
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_env.h>

#include "identity/credutl_cache.h"
#include "internal/alloc_fault.h"
#include "thread/qmthread_internal.h"
#include "thread/tls_impl.h"

struct ksi_credutl_tls {
  credutl_passwd_sid_t passwd;  // points into account
  ksi_account account;
  credutl_group_sid_t group;  // points into group_own
  ksi_group group_own;
  credutl_sid_t usid;
  credutl_sid_t gsid;
};

namespace {

void credutl_tls_cleanup(void *record) {
  auto *t = static_cast<ksi_credutl_tls *>(record);
  ksi_account_free(&t->account);
  ksi_group_free(&t->group_own);
}

ksi_tls_slot_t credutl_slot =
    KSI_TLS_SLOT_INIT(ksi_credutl_tls, credutl_tls_cleanup);

constexpr credutl_uid_t kNobodyId = CREDUTL_ID_NOBODY;

ksi_credutl_tls *thread_state() {
  return ksi_tls_record<ksi_credutl_tls>(&credutl_slot);
}

uint32_t clip(uint32_t id) { return id > kNobodyId ? kNobodyId : id; }

char *dup(const char *s) { return strdup(s != nullptr ? s : ""); }

bool is_nobody_name(const char *name) {
  return strcasecmp(name, "nobody") == 0;
}

bool sid_is_cacheable(const credutl_sid_t *sid) {
  return sid->type == CREDUTL_SID_TYPE_NT || sid->type == CREDUTL_SID_TYPE_UNIX;
}

const nt_sid_t *as_nt(const unsigned char *bytes) {
  return reinterpret_cast<const nt_sid_t *>(bytes);
}

// Moves a lookup result into the thread's record (taking its strings).
credutl_passwd_sid_t *publish(ksi_account *a) {
  ksi_credutl_tls *t = thread_state();
  if (t == nullptr) {
    ksi_account_free(a);
    errno = ENOMEM;
    return nullptr;
  }
  ksi_account_free(&t->account);
  t->account = *a;
  t->passwd = {{a->name, a->uid, a->sid},
               {a->group_name, a->gid, a->group_sid},
               a->gecos,
               a->home};
  return &t->passwd;
}

credutl_group_sid_t *publish(ksi_group *g) {
  ksi_credutl_tls *t = thread_state();
  if (t == nullptr) {
    ksi_group_free(g);
    errno = ENOMEM;
    return nullptr;
  }
  ksi_group_free(&t->group_own);
  t->group_own = *g;
  t->group = {g->name, g->gid, g->sid};
  return &t->group;
}

bool nobody_account(ksi_account *a) {
  *a = {dup("nobody"), kNobodyId, CREDUTL_SID_NOBODY,
        dup("nobody"), kNobodyId, CREDUTL_SID_NOBODY,
        dup(""),       dup("")};
  if (a->name && a->group_name && a->gecos && a->home) return true;
  ksi_account_free(a);
  return false;
}

bool nobody_group(ksi_group *g) {
  *g = {dup("nobody"), kNobodyId, CREDUTL_SID_NOBODY};
  return g->name != nullptr;
}

// The record of an account of the platform; its primary group's name comes
// from the platform's group of that SID ("" when there is none).
bool account_from_platform(const nt_passwd_sid_t *p, ksi_account *a) {
  *a = {};
  a->name = dup(p->pw_name);
  a->uid = clip(nt_sid_to_uid(p->pw_sid));
  credutl_nt_sid_to_sid(p->pw_sid, &a->sid);
  a->gid = kNobodyId;
  a->group_sid = CREDUTL_SID_NOBODY;
  nt_group_sid_t *g = nullptr;
  if (p->pw_group_sid != nullptr) {
    g = nt_getgrsid_sid(p->pw_group_sid);
    a->gid = clip(nt_sid_to_uid(p->pw_group_sid));
    credutl_nt_sid_to_sid(p->pw_group_sid, &a->group_sid);
  }
  a->group_name = dup(g != nullptr ? g->gr_name : "");
  free(g);
  a->gecos = dup(p->pw_gecos);
  a->home = dup(p->pw_dir);
  if (a->name && a->group_name && a->gecos && a->home) return true;
  ksi_account_free(a);
  return false;
}

bool group_from_platform(const nt_group_sid_t *p, ksi_group *g) {
  g->name = dup(p->gr_name);
  g->gid = clip(nt_sid_to_uid(p->gr_sid));
  credutl_nt_sid_to_sid(p->gr_sid, &g->sid);
  return g->name != nullptr;
}

// Enters an account in the uid cache, and under sid_key and name_key when
// given, as far as the record fits the cache.
void cache_account(const ksi_account &a, const credutl_sid_t *sid_key,
                   const char *name_key) {
  unsigned char flat[KSI_CRED_PASSWD_SIZE];
  if (!ksi_account_flatten(a, flat)) return;
  if (a.uid < kNobodyId)
    ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_UID_PASSWD), &a.uid, flat);
  if (sid_key != nullptr && sid_is_cacheable(sid_key))
    ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_SID_PASSWD), sid_key,
                         flat);
  if (name_key != nullptr)
    ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_NAME_PASSWD), name_key,
                         flat);
}

void cache_group(const ksi_group &g, const credutl_sid_t *sid_key,
                 const char *name_key) {
  unsigned char flat[KSI_CRED_GROUP_SIZE];
  if (!ksi_group_flatten(g, flat)) return;
  if (g.gid < kNobodyId)
    ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_GID_GROUP), &g.gid, flat);
  if (sid_key != nullptr && sid_is_cacheable(sid_key))
    ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_SID_GROUP), sid_key, flat);
  if (name_key != nullptr)
    ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_NAME_GROUP), name_key,
                         flat);
}

bool cached_account(ksi_cred_table_id id, const void *key, ksi_account *a) {
  unsigned char flat[KSI_CRED_PASSWD_SIZE];
  return ksi_cred_table_lookup(ksi_cred_table_get(id), key, flat) &&
         ksi_account_unflatten(flat, a);
}

bool cached_group(ksi_cred_table_id id, const void *key, ksi_group *g) {
  unsigned char flat[KSI_CRED_GROUP_SIZE];
  return ksi_cred_table_lookup(ksi_cred_table_get(id), key, flat) &&
         ksi_group_unflatten(flat, g);
}

bool account_of_nt_sid(const nt_sid_t *nt, ksi_account *a) {
  nt_passwd_sid_t *p = nt_getpwsid_sid(nt);
  const bool ok = p != nullptr && account_from_platform(p, a);
  free(p);
  return ok;
}

bool group_of_nt_sid(const nt_sid_t *nt, ksi_group *g) {
  nt_group_sid_t *p = nt_getgrsid_sid(nt);
  const bool ok = p != nullptr && group_from_platform(p, g);
  free(p);
  return ok;
}

bool account_by_uid(credutl_uid_t uid, ksi_account *a) {
  if (cached_account(KSI_CRED_UID_PASSWD, &uid, a)) return true;
  nt_sid_t *nt = nullptr;
  if (uid >= kNobodyId || ntx_uid_to_sid(uid, &nt) != 0) return false;
  const bool ok = account_of_nt_sid(nt, a);
  nt_sid_free(nt);
  if (ok) cache_account(*a, nullptr, nullptr);
  return ok;
}

bool group_by_gid(credutl_gid_t gid, ksi_group *g) {
  if (cached_group(KSI_CRED_GID_GROUP, &gid, g)) return true;
  nt_sid_t *nt = nullptr;
  if (gid >= kNobodyId || ntx_gid_to_sid(gid, &nt) != 0) return false;
  const bool ok = group_of_nt_sid(nt, g);
  nt_sid_free(nt);
  if (ok) cache_group(*g, nullptr, nullptr);
  return ok;
}

bool account_by_sid(const credutl_sid_t *sid, ksi_account *a) {
  if (!sid_is_cacheable(sid)) return false;
  if (cached_account(KSI_CRED_SID_PASSWD, sid, a)) return true;
  bool ok;
  if (sid->type == CREDUTL_SID_TYPE_UNIX) {
    ok = account_by_uid(credutl_sid_to_unix_uid(sid), a);
  } else {
    unsigned char nt[CREDUTL_NT_SID_BUF_SIZE];
    credutl_sid_to_nt_sid(sid, sizeof nt, nt);
    ok = account_of_nt_sid(as_nt(nt), a);
  }
  if (ok) cache_account(*a, sid, nullptr);
  return ok;
}

bool group_by_sid(const credutl_sid_t *sid, ksi_group *g) {
  if (!sid_is_cacheable(sid)) return false;
  if (cached_group(KSI_CRED_SID_GROUP, sid, g)) return true;
  bool ok;
  if (sid->type == CREDUTL_SID_TYPE_UNIX) {
    ok = group_by_gid(credutl_sid_to_unix_gid(sid), g);
  } else {
    unsigned char nt[CREDUTL_NT_SID_BUF_SIZE];
    credutl_sid_to_nt_sid(sid, sizeof nt, nt);
    ok = group_of_nt_sid(as_nt(nt), g);
  }
  if (ok) cache_group(*g, sid, nullptr);
  return ok;
}

// The part of a qualified name after its first '\'; null when unqualified.
const char *short_part(const char *name) {
  const char *sep = strchr(name, '\\');
  return sep != nullptr ? sep + 1 : nullptr;
}

bool name_cached(ksi_cred_table_id id, const char *name) {
  unsigned char flat[KSI_CRED_PASSWD_SIZE];
  return ksi_cred_table_lookup(ksi_cred_table_get(id), name, flat);
}

// Enters the process's own account under its short name, with the home
// directory the platform gives for the calling user.
void preload_own_account(ksi_account *own) {
  const char *short_name = short_part(own->name);
  if (short_name == nullptr || is_nobody_name(short_name) ||
      name_cached(KSI_CRED_NAME_PASSWD, short_name))
    return;
  char home[261];
  if (nt_get_my_homedir(home, sizeof home) != nullptr) {
    char *copy = strdup(home);
    if (copy != nullptr) {
      free(own->home);
      own->home = copy;
    }
  }
  unsigned char flat[KSI_CRED_PASSWD_SIZE];
  if (ksi_account_flatten(*own, flat))
    ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_NAME_PASSWD), short_name,
                         flat);
}

// A group of the process: entered under its short name, or, when it has no
// group record, as a group "nobody" under its SID and platform id.
void preload_group(const credutl_sid_t *sid) {
  ksi_group g = {};
  if (group_by_sid(sid, &g)) {
    const char *short_name = short_part(g.name);
    if (short_name != nullptr && !is_nobody_name(short_name) &&
        !name_cached(KSI_CRED_NAME_GROUP, short_name)) {
      unsigned char flat[KSI_CRED_GROUP_SIZE];
      if (ksi_group_flatten(g, flat))
        ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_NAME_GROUP),
                             short_name, flat);
    }
    ksi_group_free(&g);
    return;
  }
  ksi_group nobody = {const_cast<char *>("nobody"), credutl_sid_to_gid(sid),
                      *sid};
  cache_group(nobody, sid, nullptr);
}

std::atomic<bool> g_preloaded{false};
qmthread_mutex_t g_preload_lock = QMTHREAD_MUTEX_INITIALIZER_NORAISE;
KSI_FORK_GUARDED(g_preload_lock);

// Caches the process's own account and groups under their short names,
// once the own account has been found.
void preload() {
  if (g_preloaded.load(std::memory_order_acquire)) return;
  qmthread_mutex_lock(&g_preload_lock);
  if (!g_preloaded.load(std::memory_order_relaxed)) {
    const credutl_sid_t user = *credutl_getusid();
    const credutl_sid_t group = *credutl_getgsid();
    ksi_account own = {};
    if (account_by_sid(&user, &own)) {
      g_preloaded.store(true, std::memory_order_release);
      preload_own_account(&own);
      ksi_account_free(&own);
      preload_group(&group);
      const int n = credutl_getgroups(0, nullptr);
      auto *groups = n > 0 ? static_cast<credutl_sid_t *>(nt_calloc(
                                 static_cast<size_t>(n), sizeof(credutl_sid_t)))
                           : nullptr;
      const int got = groups != nullptr ? credutl_getgroups(n, groups) : 0;
      for (int i = 0; i < got; i++) preload_group(&groups[i]);
      free(groups);
    }
  }
  qmthread_mutex_unlock(&g_preload_lock);
}

// QUILLMERE_GRP_LIMIT as a decimal number, or -1 when unset or not one.
int group_limit() {
  const char *text = nt_getenv_safe("QUILLMERE_GRP_LIMIT");
  if (text == nullptr || *text == '\0') return -1;
  char *end;
  errno = 0;
  const long v = strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || v < 0 || v > INT_MAX) return -1;
  return static_cast<int>(v);
}

}  // namespace

extern "C" {

KS_API credutl_passwd_sid_t *credutl_getpwnam(const char *name) {
  if (name == nullptr) return nullptr;
  preload();
  ksi_account a = {};
  if (cached_account(KSI_CRED_NAME_PASSWD, name, &a)) return publish(&a);
  if (is_nobody_name(name)) {
    if (!nobody_account(&a)) return nullptr;
    cache_account(a, nullptr, name);
    return publish(&a);
  }
  nt_passwd_sid_t *p = nt_getpwnam_sid(name);
  const bool ok = p != nullptr && account_from_platform(p, &a);
  free(p);
  if (!ok) return nullptr;
  cache_account(a, &a.sid, name);
  return publish(&a);
}

KS_API credutl_passwd_sid_t *credutl_getpwuid(credutl_uid_t uid) {
  ksi_account a = {};
  return account_by_uid(uid, &a) ? publish(&a) : nullptr;
}

KS_API credutl_passwd_sid_t *credutl_getpwsid(const credutl_sid_t *sid) {
  ksi_account a = {};
  return sid != nullptr && account_by_sid(sid, &a) ? publish(&a) : nullptr;
}

KS_API credutl_group_sid_t *credutl_getgrnam(const char *name) {
  if (name == nullptr) return nullptr;
  preload();
  ksi_group g = {};
  if (cached_group(KSI_CRED_NAME_GROUP, name, &g)) return publish(&g);
  if (is_nobody_name(name)) {
    if (!nobody_group(&g)) return nullptr;
    cache_group(g, nullptr, name);
    return publish(&g);
  }
  nt_group_sid_t *p = nt_getgrnam_sid(name);
  const bool ok = p != nullptr && group_from_platform(p, &g);
  free(p);
  if (!ok) return nullptr;
  cache_group(g, &g.sid, name);
  return publish(&g);
}

KS_API credutl_group_sid_t *credutl_getgrgid(credutl_gid_t gid) {
  ksi_group g = {};
  return group_by_gid(gid, &g) ? publish(&g) : nullptr;
}

KS_API credutl_group_sid_t *credutl_getgrsid(const credutl_sid_t *sid) {
  ksi_group g = {};
  return sid != nullptr && group_by_sid(sid, &g) ? publish(&g) : nullptr;
}

KS_API const credutl_sid_t *credutl_getusid(void) {
  ksi_credutl_tls *t = thread_state();
  nt_sid_t *nt = nt_get_user_sid();
  if (t == nullptr || nt == nullptr) {
    nt_sid_free(nt);
    return &CREDUTL_SID_NOBODY;
  }
  credutl_nt_sid_to_sid(nt, &t->usid);
  nt_sid_free(nt);
  return &t->usid;
}

KS_API const credutl_sid_t *credutl_getgsid(void) {
  ksi_credutl_tls *t = thread_state();
  nt_sid_t *nt = nt_getgroup_sid();
  if (t == nullptr || nt == nullptr) {
    nt_sid_free(nt);
    return &CREDUTL_SID_NOBODY;
  }
  credutl_nt_sid_to_sid(nt, &t->gsid);
  nt_sid_free(nt);
  return &t->gsid;
}

KS_API int credutl_getgroups(int count, credutl_sid_t *sids_out) {
  if (count == 0) return nt_getgroups_sid(0, nullptr);
  const int capacity = count == INT_MIN ? INT_MAX : abs(count);
  nt_sid_t *on_stack[CREDUTL_MAX_GROUPS];
  nt_sid_t **nt = on_stack;
  if (capacity > CREDUTL_MAX_GROUPS) {
    nt = static_cast<nt_sid_t **>(
        nt_malloc(static_cast<size_t>(capacity) * sizeof(nt_sid_t *)));
    if (nt == nullptr) {
      errno = ENOMEM;
      return -1;
    }
  }
  const int filled = nt_getgroups_sid(capacity, nt);
  int n = filled;
  const int limit = group_limit();
  if (limit >= 0 && n > limit) n = limit;
  for (int i = 0; i < filled; i++) {
    if (i < n) credutl_nt_sid_to_sid(nt[i], &sids_out[i]);
    nt_sid_free(nt[i]);
  }
  if (nt != on_stack) free(nt);
  return n;
}

}  // extern "C"
