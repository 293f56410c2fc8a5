// Accounts over the host's account database (NSS), each user and group
// named by a SID of the machine domain; the process's own identity, its
// groups and the privilege decision.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <orvexnt/nt_accounts.h>

#include "internal/nt_accounts_impl.h"
#include "internal/nt_alloc_fault.h"
#include "internal/nt_tls.h"

namespace {

// The null SID S-1-0-0, standing for the NOBODY and DONTCARE placeholders.
const unsigned char kNobodySid[12] = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

constexpr size_t kShortNameMax = 256;

// Copies text into buf, or when buf is null into the member `tls` of the
// caller's per-thread block.
const char *nti_output(const char *text, char *buf, size_t size,
                       char (nti_tls_t::*tls)[NT_ACCOUNT_NAME_MAX]) {
  if (buf == nullptr) {
    nti_tls_t *block = nti_tls();
    if (block == nullptr) return nullptr;
    buf = block->*tls;
    size = NT_ACCOUNT_NAME_MAX;
  }
  const size_t n = strlen(text);
  if (n >= size) {
    errno = ERANGE;
    return nullptr;
  }
  memcpy(buf, text, n + 1);
  return buf;
}

// The host name in upper case; false when it cannot be read.
bool nti_domain(char *buf, size_t size) {
  if (gethostname(buf, size) != 0) return false;
  buf[size - 1] = '\0';
  for (char *p = buf; *p != '\0'; p++)
    *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
  return true;
}

void nti_qualify(const char *name, char *out, size_t size) {
  char domain[kShortNameMax + 1];
  if (!nti_domain(domain, sizeof domain)) domain[0] = '\0';
  snprintf(out, size, "%s\\%s", domain, name);
}

// The account part of name when it is short or qualified with this
// machine's domain; null for another domain.
const char *nti_local_part(const char *name) {
  const char *sep = strchr(name, '\\');
  if (sep == nullptr) return name;
  char domain[kShortNameMax + 1];
  if (!nti_domain(domain, sizeof domain)) return nullptr;
  const size_t n = static_cast<size_t>(sep - name);
  if (n != strlen(domain) || strncasecmp(name, domain, n) != 0) return nullptr;
  return sep + 1;
}

// Runs lookup on name and, when that finds nothing and name has upper-case
// letters, on its lower-case form.
template <typename Entry, typename Lookup>
int nti_lookup_any_case(const char *name, Entry *out, char **storage,
                        Lookup lookup) {
  int rc = lookup(name, out, storage);
  if (rc != ENOENT) return rc;
  char lower[kShortNameMax];
  const size_t n = strlen(name);
  if (n >= sizeof lower) return ENOENT;
  bool changed = false;
  for (size_t i = 0; i <= n; i++) {
    lower[i] = static_cast<char>(tolower(static_cast<unsigned char>(name[i])));
    changed |= lower[i] != name[i];
  }
  return changed ? lookup(lower, out, storage) : ENOENT;
}

// Appends len bytes to the block at *cursor and returns where they went.
char *nti_place(char **cursor, const void *bytes, size_t len) {
  char *at = *cursor;
  memcpy(at, bytes, len);
  *cursor += len;
  return at;
}

// The full name: the part of the gecos field before the first comma.
size_t nti_full_name_length(const char *gecos) {
  return gecos == nullptr ? 0 : strcspn(gecos, ",");
}

// One heap block holding the user record of pw; null with errno ENOENT
// when the uid has no SID, ENOMEM when memory runs out.
nt_passwd_sid_t *nti_make_passwd(const struct passwd &pw) {
  uint32_t urid;
  if (nti_uid_rid(pw.pw_uid, &urid) != 0) {
    errno = ENOENT;
    return nullptr;
  }
  unsigned char usid[NT_SID_MAX_LENGTH], gsid[NT_SID_MAX_LENGTH];
  uint32_t d[3], grid;
  nti_machine_domain(d);
  const uint32_t usubs[5] = {21, d[0], d[1], d[2], urid};
  const size_t ulen =
      nt_sid_build(usid, sizeof usid, NT_SID_AUTHORITY_NT, 5, usubs);
  size_t glen = 0;
  if (nti_gid_rid(pw.pw_gid, &grid) == 0) {
    const uint32_t gsubs[5] = {21, d[0], d[1], d[2], grid};
    glen = nt_sid_build(gsid, sizeof gsid, NT_SID_AUTHORITY_NT, 5, gsubs);
  }
  char qualified[NT_ACCOUNT_NAME_MAX];
  nti_qualify(pw.pw_name, qualified, sizeof qualified);
  const size_t qlen = strlen(qualified) + 1;
  const size_t flen = nti_full_name_length(pw.pw_gecos);
  const char *dir = pw.pw_dir != nullptr ? pw.pw_dir : "";
  const size_t dlen = strlen(dir) + 1;
  const size_t total =
      sizeof(nt_passwd_sid_t) + ulen + glen + qlen + flen + 1 + dlen;
  auto *rec = static_cast<nt_passwd_sid_t *>(nt_malloc(total));
  if (rec == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  char *cursor = reinterpret_cast<char *>(rec + 1);
  rec->pw_uid = pw.pw_uid;
  rec->pw_gid = pw.pw_gid;
  rec->pw_sid = reinterpret_cast<nt_sid_t *>(nti_place(&cursor, usid, ulen));
  rec->pw_group_sid =
      glen ? reinterpret_cast<nt_sid_t *>(nti_place(&cursor, gsid, glen))
           : nullptr;
  rec->pw_name = nti_place(&cursor, qualified, qlen);
  rec->pw_gecos = nti_place(&cursor, flen ? pw.pw_gecos : "", flen);
  *cursor++ = '\0';
  rec->pw_dir = nti_place(&cursor, dir, dlen);
  return rec;
}

// One heap block holding a group record.
nt_group_sid_t *nti_make_group(const char *qualified, uint32_t gid,
                               const nt_sid_t *sid) {
  const size_t slen = nt_sid_length(sid);
  const size_t qlen = strlen(qualified) + 1;
  auto *rec = static_cast<nt_group_sid_t *>(
      nt_malloc(sizeof(nt_group_sid_t) + slen + qlen));
  if (rec == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  char *cursor = reinterpret_cast<char *>(rec + 1);
  rec->gr_gid = gid;
  rec->gr_sid = reinterpret_cast<nt_sid_t *>(nti_place(&cursor, sid, slen));
  rec->gr_name = nti_place(&cursor, qualified, qlen);
  return rec;
}

nt_group_sid_t *nti_make_host_group(const struct group &gr) {
  uint32_t rid;
  if (nti_gid_rid(gr.gr_gid, &rid) != 0) {
    errno = ENOENT;
    return nullptr;
  }
  nt_sid_t *sid = nti_domain_sid_alloc(rid);
  if (sid == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  char qualified[NT_ACCOUNT_NAME_MAX];
  nti_qualify(gr.gr_name, qualified, sizeof qualified);
  nt_group_sid_t *rec = nti_make_group(qualified, gr.gr_gid, sid);
  nt_sid_free(sid);
  return rec;
}

nt_passwd_sid_t *nti_passwd_by_uid(uid_t uid) {
  struct passwd pw;
  char *storage;
  const int rc = nti_getpwuid(uid, &pw, &storage);
  if (rc != 0) {
    errno = rc;
    return nullptr;
  }
  nt_passwd_sid_t *rec = nti_make_passwd(pw);
  free(storage);
  return rec;
}

// The process's effective gid first, then its other supplementary groups,
// without repeats, in a heap array; the count, or -1 with errno.
int nti_process_gids(gid_t **out) {
  const int n = getgroups(0, nullptr);
  if (n < 0) return -1;
  auto *gids = static_cast<gid_t *>(
      nt_malloc((static_cast<size_t>(n) + 1) * sizeof(gid_t)));
  if (gids == nullptr) {
    errno = ENOMEM;
    return -1;
  }
  gids[0] = getegid();
  const int got = getgroups(n, gids + 1);
  if (got < 0) {
    free(gids);
    return -1;
  }
  int kept = 1;
  for (int i = 1; i <= got; i++) {
    bool seen = false;
    for (int j = 0; j < kept && !seen; j++) seen = gids[j] == gids[i];
    if (!seen) gids[kept++] = gids[i];
  }
  *out = gids;
  return kept;
}

// Process-lifetime copies of every product group SID handed out, so that
// a pointer stays valid when the product group changes.
struct ProductSid {
  gid_t gid;
  unsigned char sid[NT_SID_MAX_LENGTH];
  ProductSid *next;
};
pthread_mutex_t g_product_lock = PTHREAD_MUTEX_INITIALIZER;
ProductSid *g_product_sids = nullptr;

const nt_sid_t *nti_product_sid() {
  gid_t gid;
  uint32_t rid;
  if (nti_product_gid(&gid) != 0 || nti_gid_rid(gid, &rid) != 0) return nullptr;
  pthread_mutex_lock(&g_product_lock);
  ProductSid *p = g_product_sids;
  while (p != nullptr && p->gid != gid) p = p->next;
  if (p == nullptr) {
    p = static_cast<ProductSid *>(nt_malloc(sizeof *p));
    if (p != nullptr) {
      uint32_t d[3];
      nti_machine_domain(d);
      const uint32_t subs[5] = {21, d[0], d[1], d[2], rid};
      p->gid = gid;
      nt_sid_build(p->sid, sizeof p->sid, NT_SID_AUTHORITY_NT, 5, subs);
      p->next = g_product_sids;
      g_product_sids = p;
    }
  }
  pthread_mutex_unlock(&g_product_lock);
  return p ? reinterpret_cast<const nt_sid_t *>(p->sid) : nullptr;
}

// The machine-domain SID of a user or group id (`to_rid` picks which):
// 0, or -1 with errno EINVAL for an id without a SID, ENOMEM when out of
// memory.
int id_sid(uint32_t id, int (*to_rid)(uint32_t, uint32_t *),
           nt_sid_t **sid_out) {
  uint32_t rid;
  if (sid_out == nullptr || id >= 0xFFFFFFFEu || to_rid(id, &rid)) {
    errno = EINVAL;
    return -1;
  }
  if ((*sid_out = nti_domain_sid_alloc(rid)) == nullptr) {
    errno = ENOMEM;
    return -1;
  }
  return 0;
}

}  // namespace

extern "C" {

NT_API nt_passwd_sid_t *nt_getpwnam_sid(const char *name) {
  if (name == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  const char *local = nti_local_part(name);
  if (local == nullptr || *local == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  struct passwd pw;
  char *storage;
  const int rc = nti_lookup_any_case(local, &pw, &storage, nti_getpwnam);
  if (rc != 0) {
    errno = rc;
    return nullptr;
  }
  nt_passwd_sid_t *rec = nti_make_passwd(pw);
  free(storage);
  return rec;
}

NT_API nt_passwd_sid_t *nt_getpwsid_sid(const nt_sid_t *sid) {
  uint32_t rid;
  if (sid == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  if (!nti_domain_rid(sid, &rid) || rid < NT_USER_RID_BASE || rid % 2 != 0) {
    errno = ENOENT;
    return nullptr;
  }
  return nti_passwd_by_uid((rid - NT_USER_RID_BASE) / 2);
}

NT_API nt_group_sid_t *nt_getgrnam_sid(const char *name) {
  if (name == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  const char *local = nti_local_part(name);
  if (local != nullptr && *local != '\0') {
    struct group gr;
    char *storage;
    const int rc = nti_lookup_any_case(local, &gr, &storage, nti_getgrnam);
    if (rc == 0) {
      nt_group_sid_t *rec = nti_make_host_group(gr);
      free(storage);
      return rec;
    }
    if (rc != ENOENT) {
      errno = rc;
      return nullptr;
    }
  }
  const nti_well_known *w = nti_well_known_by_name(name);
  if (w == nullptr) {
    errno = ENOENT;
    return nullptr;
  }
  return nti_make_group(w->qualified_name, NT_ID_NONE, w->sid);
}

NT_API nt_group_sid_t *nt_getgrsid_sid(const nt_sid_t *sid) {
  if (sid == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  uint32_t rid;
  if (nti_domain_rid(sid, &rid) && rid >= NT_GROUP_RID_BASE && rid % 2 != 0) {
    struct group gr;
    char *storage;
    const int rc = nti_getgrgid((rid - NT_GROUP_RID_BASE) / 2, &gr, &storage);
    if (rc != 0) {
      errno = rc;
      return nullptr;
    }
    nt_group_sid_t *rec = nti_make_host_group(gr);
    free(storage);
    return rec;
  }
  const nti_well_known *w = nti_well_known_by_sid(sid);
  if (w == nullptr) {
    errno = ENOENT;
    return nullptr;
  }
  return nti_make_group(w->qualified_name, NT_ID_NONE, w->sid);
}

NT_API int nt_getgroups_sid(int count, nt_sid_t **sids) {
  if (count < 0 || (count > 0 && sids == nullptr)) {
    errno = EINVAL;
    return -1;
  }
  gid_t *gids;
  const int ngids = nti_process_gids(&gids);
  if (ngids < 0) return -1;
  uint32_t rid;
  int total = 0;
  for (int i = 0; i < ngids; i++) total += nti_gid_rid(gids[i], &rid) == 0;
  const bool admin = geteuid() == 0;
  total += 1 + (admin ? 1 : 0);
  if (count == 0) {
    free(gids);
    return total;
  }
  int filled = 0;
  bool failed = false;
  for (int i = 0; i < ngids && filled < count && !failed; i++) {
    if (nti_gid_rid(gids[i], &rid) != 0) continue;
    failed = (sids[filled] = nti_domain_sid_alloc(rid)) == nullptr;
    filled += !failed;
  }
  free(gids);
  const nt_sid_t *const extra[2] = {
      nt_get_enum_sid(NT_ENUM_SID_EVERYONE),
      admin ? nt_get_enum_sid(NT_ENUM_SID_ADMINISTRATORS) : nullptr};
  for (const nt_sid_t *sid : extra) {
    if (sid == nullptr || filled >= count || failed) continue;
    failed = (sids[filled] = nt_sid_copy(sid)) == nullptr;
    filled += !failed;
  }
  if (failed) {
    for (int i = 0; i < filled; i++) nt_sid_free(sids[i]);
    errno = ENOMEM;
    return -1;
  }
  return filled;
}

NT_API nt_sid_t *nt_get_user_sid(void) {
  nt_sid_t *sid = nullptr;
  return ntx_uid_to_sid(geteuid(), &sid) == 0 ? sid : nullptr;
}

NT_API nt_sid_t *nt_getgroup_sid(void) {
  nt_sid_t *sid = nullptr;
  return ntx_gid_to_sid(getegid(), &sid) == 0 ? sid : nullptr;
}

NT_API uint32_t nt_sid_to_uid(const nt_sid_t *sid) {
  uint32_t rid;
  if (!nti_domain_rid(sid, &rid) || rid < NT_USER_RID_BASE) return NT_ID_NONE;
  return rid % 2 == 0 ? (rid - NT_USER_RID_BASE) / 2
                      : (rid - NT_GROUP_RID_BASE) / 2;
}

NT_API int ntx_uid_to_sid(uint32_t uid, nt_sid_t **sid_out) {
  return id_sid(uid, nti_uid_rid, sid_out);
}

NT_API int ntx_gid_to_sid(uint32_t gid, nt_sid_t **sid_out) {
  return id_sid(gid, nti_gid_rid, sid_out);
}

NT_API const nt_sid_t *nt_get_enum_sid(int n) {
  switch (n) {
    case NT_ENUM_SID_PRODUCT_GROUP:
      return nti_product_sid();
    case NT_ENUM_SID_MACHINE_DOMAIN:
      return nti_machine_domain_sid();
    case NT_ENUM_SID_NOBODY:
      return reinterpret_cast<const nt_sid_t *>(kNobodySid);
    default:
      break;
  }
  size_t count;
  const nti_well_known *w = nti_well_known_groups(&count);
  for (size_t i = 0; i < count; i++)
    if (w[i].number == n) return w[i].sid;
  return nullptr;
}

NT_API int nt_sid_is_group(const nt_sid_t *sid) {
  uint32_t rid;
  if (nti_domain_rid(sid, &rid)) return rid >= NT_GROUP_RID_BASE && rid % 2;
  return nti_well_known_by_sid(sid) != nullptr;
}

NT_API int nt_is_well_known_group_cred(const char *name) {
  return nti_well_known_by_name(name) != nullptr;
}

NT_API int nt_is_privileged(void) {
  if (geteuid() == 0) return 1;
  gid_t product;
  if (nti_product_gid(&product) != 0) return 0;
  gid_t *gids;
  const int n = nti_process_gids(&gids);
  int member = 0;
  for (int i = 0; i < n && !member; i++) member = gids[i] == product;
  if (n >= 0) free(gids);
  return member;
}

// The question "is this an elevated administrative session that must be
// refused" has no Linux twin: the answer is always no, with no further
// privileged group to honour.
NT_API int nt_is_elcc(int flags, int *extra) {
  (void)flags;
  if (extra != nullptr) *extra = 0;
  return 0;
}

NT_API int nt_is_privileged_sid_creds(const nt_sid_t *user,
                                      const nt_sid_t *group, int ngroups,
                                      const nt_sid_t *const *groups) {
  uint32_t rid;
  if (user != nullptr && nti_domain_rid(user, &rid) && rid == NT_USER_RID_BASE)
    return 1;
  const nt_sid_t *product = nti_product_sid();
  const nt_sid_t *admins = nt_get_enum_sid(NT_ENUM_SID_ADMINISTRATORS);
  for (int i = -1; i < ngroups; i++) {
    const nt_sid_t *g = i < 0 ? group : (groups ? groups[i] : nullptr);
    if (g == nullptr) continue;
    if (nt_sid_equal(g, admins) || (product && nt_sid_equal(g, product)))
      return 1;
  }
  return 0;
}

NT_API const char *nt_get_domain_name(char *buf, size_t size) {
  char domain[kShortNameMax + 1];
  if (!nti_domain(domain, sizeof domain)) return nullptr;
  return nti_output(domain, buf, size, &nti_tls_t::domain);
}

NT_API const char *nt_getlogin(char *buf, size_t size) {
  nt_passwd_sid_t *rec = nti_passwd_by_uid(geteuid());
  if (rec == nullptr) return nullptr;
  const char *out = nti_output(rec->pw_name, buf, size, &nti_tls_t::login);
  free(rec);
  return out;
}

NT_API const char *nt_get_my_homedir(char *buf, size_t size) {
  nt_passwd_sid_t *rec = nti_passwd_by_uid(geteuid());
  if (rec == nullptr) return nullptr;
  const char *out = nti_output(rec->pw_dir, buf, size, &nti_tls_t::homedir);
  free(rec);
  return out;
}

NT_API const char *nt_get_quillmere_group_name(void) {
  nti_tls_t *block = nti_tls();
  if (block == nullptr) return nullptr;
  return nti_product_group_name(block->group_name, sizeof block->group_name);
}

}  // extern "C"
