// Credentials records: building them with a normalised group list, the
// whole (allocated) form, conversions between ids and SIDs, membership
// tests and edits of the group list.
//
// The group list of a credentials record never repeats the primary group
// and never holds an entry twice in a row; SID lists hold no placeholders.
// Lists are not sorted, so the same group may still appear twice apart.
#include <cstring>

#include <orvexks/stg.h>

#include "identity/credutl_internal.h"

namespace {

bool is_placeholder(const credutl_sid_t *sid) {
  return sid->type == CREDUTL_SID_TYPE_NOBODY ||
         sid->type == CREDUTL_SID_TYPE_DONTCARE;
}

size_t count_of(int32_t ngroups) {
  return ngroups > 0 ? static_cast<size_t>(ngroups) : 0;
}

// A heap copy of n SIDs; null for n == 0, or when memory runs out (the
// guarded heap has then reported it). *ok tells the two apart.
credutl_sid_t *copy_sid_array(const credutl_sid_t *src, size_t n, bool *ok) {
  *ok = true;
  if (n == 0) return nullptr;
  auto *copy = static_cast<credutl_sid_t *>(stg_malloc(n * sizeof *src));
  if (copy == nullptr) {
    *ok = false;
    return nullptr;
  }
  std::memcpy(copy, src, n * sizeof *copy);
  return copy;
}

bool list_has_sid(const credutl_sid_t *sid, const credutl_sid_t *groups,
                  size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (credutl_sid_eq(sid, &groups[i])) return true;
  return false;
}

// The id form of a SID list: each through credutl_sid_to_gid, those that
// map to no id left out. Returns how many were kept.
size_t sids_to_gids(const credutl_sid_t *sids, size_t n, credutl_gid_t *out) {
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    credutl_gid_t gid = credutl_sid_to_gid(&sids[i]);
    if (gid != CREDUTL_ID_NOBODY) out[kept++] = gid;
  }
  return kept;
}

bool user_matches(const credutl_sid_t *sid, const credutl_sid_t *user,
                  const credutl_sid_t *groups, size_t n) {
  if (is_placeholder(sid)) return false;
  if (credutl_sid_eq(sid, user)) return true;
  // An NT SID can name a group that stands for the caller itself.
  return sid->type == CREDUTL_SID_TYPE_NT && list_has_sid(sid, groups, n);
}

}  // namespace

extern "C" {

int credutl_init_credentials(credutl_uid_t uid, credutl_gid_t gid, int ngroups,
                             const credutl_gid_t *gids,
                             credutl_credentials_t *creds_out) {
  const int maxgroups = CREDUTL_MAX_GROUPS;
  KSI_CREDUTL_ASSERT(ngroups <= maxgroups, "ngroup <= maxgroups");
  // The input may be creds_out's own list: normalise into a scratch copy.
  credutl_gid_t kept[CREDUTL_MAX_GROUPS];
  size_t n = 0;
  for (size_t i = 0; i < count_of(ngroups); ++i) {
    if (gids[i] == gid) continue;
    if (n > 0 && kept[n - 1] == gids[i]) continue;
    kept[n++] = gids[i];
  }
  std::memset(creds_out, 0, sizeof *creds_out);
  creds_out->uid = uid;
  creds_out->gid = gid;
  creds_out->ngroups = static_cast<int32_t>(n);
  std::memcpy(creds_out->groups, kept, n * sizeof kept[0]);
  return 0;
}

int credutl_init_sid_credentials(const credutl_sid_t *user_sid,
                                 const credutl_sid_t *group_sid, int ngroups,
                                 const credutl_sid_t *group_sids,
                                 credutl_sid_credentials_t *out) {
  // Every input may point into out: work on copies.
  credutl_sid_t user = *user_sid;
  credutl_sid_t group = *group_sid;
  // The first 32 real groups are taken, then adjacent repeats among them
  // are dropped.
  credutl_sid_t taken[CREDUTL_MAX_GROUPS];
  size_t ntaken = 0;
  for (size_t i = 0; i < count_of(ngroups) && ntaken < CREDUTL_MAX_GROUPS;
       ++i) {
    const credutl_sid_t *sid = &group_sids[i];
    if (is_placeholder(sid) || credutl_sid_eq(sid, &group)) continue;
    taken[ntaken++] = *sid;
  }
  std::memset(out->groups, 0, sizeof out->groups);
  out->user = user;
  out->group = group;
  size_t n = 0;
  for (size_t i = 0; i < ntaken; ++i) {
    if (i > 0 && credutl_sid_eq(&taken[i], &taken[i - 1])) continue;
    out->groups[n++] = taken[i];
  }
  out->ngroups = static_cast<int32_t>(n);
  return 0;
}

void credutl_free_whole_credentials(credutl_whole_credentials_t *w) {
  stg_free(w->groups);
  w->groups = nullptr;
  w->ngroups = 0;
}

int credutl_copy_whole_credentials(const credutl_whole_credentials_t *src,
                                   credutl_whole_credentials_t *dst) {
  bool ok;
  credutl_sid_t *groups =
      copy_sid_array(src->groups, count_of(src->ngroups), &ok);
  if (!ok) return 1;
  dst->user = src->user;
  dst->group = src->group;
  dst->ngroups = src->ngroups;
  dst->groups = groups;
  return 0;
}

int credutl_compare_whole_credentials(const credutl_whole_credentials_t *a,
                                      const credutl_whole_credentials_t *b) {
  if (a->ngroups != b->ngroups) return 0;
  if (!credutl_sid_keycmp_fn(&a->user, &b->user)) return 0;
  if (!credutl_sid_keycmp_fn(&a->group, &b->group)) return 0;
  size_t n = count_of(a->ngroups);
  return n == 0 ||
         std::memcmp(a->groups, b->groups, n * sizeof *a->groups) == 0;
}

int credutl_whole_credentials_to_sid(const credutl_whole_credentials_t *w,
                                     int truncate,
                                     credutl_sid_credentials_t *out) {
  size_t n = count_of(w->ngroups);
  if (n > CREDUTL_MAX_GROUPS) {
    if (!truncate) return 1;
    n = CREDUTL_MAX_GROUPS;
  }
  std::memset(out->groups, 0, sizeof out->groups);
  out->user = w->user;
  out->group = w->group;
  out->ngroups = static_cast<int32_t>(n);
  if (n > 0) std::memcpy(out->groups, w->groups, n * sizeof *w->groups);
  return 0;
}

int credutl_sid_credentials_to_whole(const credutl_sid_credentials_t *s,
                                     credutl_whole_credentials_t *w) {
  size_t n = count_of(s->ngroups);
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  bool ok;
  credutl_sid_t *groups = copy_sid_array(s->groups, n, &ok);
  if (!ok) return 1;
  w->user = s->user;
  w->group = s->group;
  w->ngroups = static_cast<int32_t>(n);
  w->groups = groups;
  return 0;
}

int credutl_credentials_to_sid_credentials(const credutl_credentials_t *c,
                                           credutl_sid_credentials_t *out) {
  size_t n = count_of(c->ngroups);
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  credutl_sid_credentials_t result;
  std::memset(&result, 0, sizeof result);
  credutl_uid_to_sid(&result.user, c->uid);
  credutl_gid_to_sid(&result.group, c->gid);
  for (size_t i = 0; i < n; ++i)
    credutl_gid_to_sid(&result.groups[i], c->groups[i]);
  result.ngroups = static_cast<int32_t>(n);
  *out = result;
  return 0;
}

int credutl_full_credentials_to_whole_credentials(
    const credutl_full_credentials_t *f, credutl_whole_credentials_t *out) {
  size_t n = count_of(f->ngroups);
  credutl_sid_t *groups = nullptr;
  if (n > 0) {
    groups = static_cast<credutl_sid_t *>(stg_malloc(n * sizeof *groups));
    if (groups == nullptr) return 1;
    for (size_t i = 0; i < n; ++i) credutl_gid_to_sid(&groups[i], f->groups[i]);
  }
  credutl_uid_to_sid(&out->user, f->uid);
  credutl_gid_to_sid(&out->group, f->gid);
  out->ngroups = static_cast<int32_t>(n);
  out->groups = groups;
  return 0;
}

int credutl_sid_credentials_to_credentials(const credutl_sid_credentials_t *s,
                                           credutl_credentials_t *out) {
  size_t n = count_of(s->ngroups);
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  credutl_credentials_t result;
  std::memset(&result, 0, sizeof result);
  result.uid = credutl_sid_to_uid(&s->user);
  result.gid = credutl_sid_to_gid(&s->group);
  result.ngroups =
      static_cast<int32_t>(sids_to_gids(s->groups, n, result.groups));
  *out = result;
  return 0;
}

int credutl_whole_credentials_to_qmrc(const credutl_whole_credentials_t *w,
                                      credutl_full_credentials_t *out_full) {
  size_t n = count_of(w->ngroups);
  credutl_gid_t *gids = nullptr;
  if (n > 0) {
    gids = static_cast<credutl_gid_t *>(stg_malloc(n * sizeof *gids));
    if (gids == nullptr) return 1;
    n = sids_to_gids(w->groups, n, gids);
  }
  out_full->uid = credutl_sid_to_uid(&w->user);
  out_full->gid = credutl_sid_to_gid(&w->group);
  out_full->ngroups = static_cast<int32_t>(n);
  out_full->groups = gids;
  return 0;
}

int credutl_has_group(credutl_gid_t gid, const credutl_credentials_t *c) {
  if (gid == c->gid) return 1;
  size_t n = count_of(c->ngroups);
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  for (size_t i = 0; i < n; ++i)
    if (c->groups[i] == gid) return 1;
  return 0;
}

int credutl_has_group_sid(const credutl_sid_t *sid,
                          const credutl_sid_credentials_t *s) {
  size_t n = count_of(s->ngroups);
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  return credutl_sid_eq(sid, &s->group) || list_has_sid(sid, s->groups, n);
}

int credutl_has_group_whole(const credutl_sid_t *sid,
                            const credutl_whole_credentials_t *w) {
  return credutl_sid_eq(sid, &w->group) ||
         list_has_sid(sid, w->groups, count_of(w->ngroups));
}

int credutl_has_user_sid(const credutl_sid_t *sid,
                         const credutl_sid_credentials_t *s) {
  size_t n = count_of(s->ngroups);
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  return user_matches(sid, &s->user, s->groups, n);
}

int credutl_has_user(const credutl_sid_t *sid,
                     const credutl_whole_credentials_t *w) {
  return user_matches(sid, &w->user, w->groups, count_of(w->ngroups));
}

int credutl_add_group_sid_to_group_list(credutl_sid_credentials_t *s,
                                        const credutl_sid_t *sid) {
  if (s->ngroups >= CREDUTL_MAX_GROUPS) return 1;
  s->groups[count_of(s->ngroups)] = *sid;
  s->ngroups = static_cast<int32_t>(count_of(s->ngroups) + 1);
  return 0;
}

int credutl_remove_group_sid_from_group_list(credutl_sid_credentials_t *s,
                                             const credutl_sid_t *sid) {
  size_t n = count_of(s->ngroups);
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  for (size_t i = 0; i < n; ++i) {
    if (!credutl_sid_eq(sid, &s->groups[i])) continue;
    s->groups[i] = s->groups[n - 1];
    std::memset(&s->groups[n - 1], 0, sizeof s->groups[0]);
    s->ngroups = static_cast<int32_t>(n - 1);
    break;
  }
  return 0;
}

}  // extern "C"
