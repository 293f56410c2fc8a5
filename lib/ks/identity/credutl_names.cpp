// Name credentials: the principals of a credentials record as account and
// group names, conversions from and to ids and SIDs through the account
// lookups, deep copies, frees and comparison.
//
// Every name is a separate malloc'd string owned by the record. Anything
// without an account reads as "nobody" one way and as NOBODY the other.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <orvexks/stg.h>

#include "identity/credutl_internal.h"

namespace {

constexpr const char *kNobodyName = "nobody";

size_t inline_count(int32_t ngroups) {
  if (ngroups <= 0) return 0;
  return ngroups > CREDUTL_MAX_GROUPS ? CREDUTL_MAX_GROUPS
                                      : static_cast<size_t>(ngroups);
}

size_t whole_count(int32_t ngroups) {
  return ngroups > 0 ? static_cast<size_t>(ngroups) : 0;
}

// A name list under construction. Every name is duplicated as it is set;
// on the first failure the names made so far are released and the list
// reports it, so a failed conversion leaves nothing allocated.
struct NameList {
  char **user;
  char **group;
  char **groups;
  size_t ngroups;
  bool failed = false;

  // A null name stays null.
  void set(char **slot, const char *name) {
    if (failed || name == nullptr) return;
    *slot = strdup(name);
    if (*slot == nullptr) fail();
  }
  void fail() {
    failed = true;
    errno = ENOMEM;
    std::free(*user);
    std::free(*group);
    *user = *group = nullptr;
    for (size_t i = 0; i < ngroups; ++i) {
      std::free(groups[i]);
      groups[i] = nullptr;
    }
  }
};

const char *user_name_of_uid(credutl_uid_t uid) {
  if (uid == CREDUTL_ID_NOBODY) return kNobodyName;
  credutl_passwd_sid_t *pw = credutl_getpwuid(uid);
  return pw != nullptr ? pw->user.name : kNobodyName;
}

const char *group_name_of_gid(credutl_gid_t gid) {
  if (gid == CREDUTL_ID_NOBODY) return kNobodyName;
  credutl_group_sid_t *gr = credutl_getgrgid(gid);
  return gr != nullptr ? gr->name : kNobodyName;
}

const char *user_name_of_sid(const credutl_sid_t *sid) {
  if (sid->type == CREDUTL_SID_TYPE_NOBODY) return kNobodyName;
  credutl_passwd_sid_t *pw = credutl_getpwsid(sid);
  return pw != nullptr ? pw->user.name : kNobodyName;
}

const char *group_name_of_sid(const credutl_sid_t *sid) {
  if (sid->type == CREDUTL_SID_TYPE_NOBODY) return kNobodyName;
  credutl_group_sid_t *gr = credutl_getgrsid(sid);
  return gr != nullptr ? gr->name : kNobodyName;
}

void user_sid_of_name(const char *name, credutl_sid_t *sid_out) {
  credutl_passwd_sid_t *pw =
      name != nullptr && *name != '\0' ? credutl_getpwnam(name) : nullptr;
  *sid_out = pw != nullptr ? pw->user.sid : CREDUTL_SID_NOBODY;
}

void group_sid_of_name(const char *name, credutl_sid_t *sid_out) {
  credutl_group_sid_t *gr =
      name != nullptr && *name != '\0' ? credutl_getgrnam(name) : nullptr;
  *sid_out = gr != nullptr ? gr->sid : CREDUTL_SID_NOBODY;
}

// The SIDs of a name record's user, group and n group names.
void names_to_sids(const char *user, const char *group, char *const *groups,
                   size_t n, credutl_sid_t *user_out, credutl_sid_t *group_out,
                   credutl_sid_t *groups_out) {
  user_sid_of_name(user, user_out);
  group_sid_of_name(group, group_out);
  for (size_t i = 0; i < n; ++i) group_sid_of_name(groups[i], &groups_out[i]);
}

// A malloc'd array of n name pointers, all null; null also for n == 0.
bool alloc_names(size_t n, char ***out) {
  *out = nullptr;
  if (n == 0) return true;
  *out = static_cast<char **>(std::calloc(n, sizeof(char *)));
  if (*out == nullptr) errno = ENOMEM;
  return *out != nullptr;
}

// Deep copy of a name record's names into the given slots.
bool copy_names(const char *user, const char *group, char *const *groups,
                size_t n, NameList list) {
  list.set(list.user, user);
  list.set(list.group, group);
  for (size_t i = 0; i < n; ++i) list.set(&list.groups[i], groups[i]);
  return !list.failed;
}

bool same_name(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

}  // namespace

extern "C" {

int credutl_credentials_to_string_credentials(
    const credutl_credentials_t *c, credutl_string_credentials_t *out) {
  size_t n = inline_count(c->ngroups);
  std::memset(out, 0, sizeof *out);
  NameList list{&out->user, &out->group, out->groups, n};
  list.set(list.user, user_name_of_uid(c->uid));
  list.set(list.group, group_name_of_gid(c->gid));
  for (size_t i = 0; i < n; ++i)
    list.set(&out->groups[i], group_name_of_gid(c->groups[i]));
  if (list.failed) return 1;
  out->ngroups = static_cast<int32_t>(n);
  return 0;
}

int credutl_sid_credentials_to_string_credentials(
    const credutl_sid_credentials_t *s, credutl_string_credentials_t *out) {
  size_t n = inline_count(s->ngroups);
  std::memset(out, 0, sizeof *out);
  NameList list{&out->user, &out->group, out->groups, n};
  list.set(list.user, user_name_of_sid(&s->user));
  list.set(list.group, group_name_of_sid(&s->group));
  for (size_t i = 0; i < n; ++i)
    list.set(&out->groups[i], group_name_of_sid(&s->groups[i]));
  if (list.failed) return 1;
  out->ngroups = static_cast<int32_t>(n);
  return 0;
}

int credutl_whole_credentials_to_whole_string_credentials(
    const credutl_whole_credentials_t *w,
    credutl_whole_string_credentials_t *out) {
  size_t n = whole_count(w->ngroups);
  std::memset(out, 0, sizeof *out);
  char **groups;
  if (!alloc_names(n, &groups)) return 1;
  NameList list{&out->user, &out->group, groups, n};
  list.set(list.user, user_name_of_sid(&w->user));
  list.set(list.group, group_name_of_sid(&w->group));
  for (size_t i = 0; i < n; ++i)
    list.set(&groups[i], group_name_of_sid(&w->groups[i]));
  if (list.failed) {
    std::free(groups);
    return 1;
  }
  out->ngroups = static_cast<int32_t>(n);
  out->groups = groups;
  return 0;
}

int credutl_string_credentials_to_sid_credentials(
    const credutl_string_credentials_t *n, credutl_sid_credentials_t *out) {
  size_t count = inline_count(n->ngroups);
  credutl_sid_credentials_t result;
  std::memset(&result, 0, sizeof result);
  names_to_sids(n->user, n->group, n->groups, count, &result.user,
                &result.group, result.groups);
  result.ngroups = static_cast<int32_t>(count);
  *out = result;
  return 0;
}

int credutl_whole_string_credentials_to_whole_credentials(
    const credutl_whole_string_credentials_t *n,
    credutl_whole_credentials_t *out) {
  size_t count = whole_count(n->ngroups);
  credutl_sid_t *groups = nullptr;
  if (count > 0) {
    groups = static_cast<credutl_sid_t *>(stg_malloc(count * sizeof *groups));
    if (groups == nullptr) return 1;
  }
  names_to_sids(n->user, n->group, n->groups, count, &out->user, &out->group,
                groups);
  out->ngroups = static_cast<int32_t>(count);
  out->groups = groups;
  return 0;
}

int credutl_string_credentials_to_whole_string_credentials(
    const credutl_string_credentials_t *src,
    credutl_whole_string_credentials_t *dst) {
  size_t n = inline_count(src->ngroups);
  std::memset(dst, 0, sizeof *dst);
  char **groups;
  if (!alloc_names(n, &groups)) return 1;
  if (!copy_names(src->user, src->group, src->groups, n,
                  NameList{&dst->user, &dst->group, groups, n})) {
    std::free(groups);
    return 1;
  }
  dst->ngroups = static_cast<int32_t>(n);
  dst->groups = groups;
  return 0;
}

int credutl_copy_string_credentials(const credutl_string_credentials_t *src,
                                    credutl_string_credentials_t *dst) {
  size_t n = inline_count(src->ngroups);
  credutl_string_credentials_t copy;
  std::memset(&copy, 0, sizeof copy);
  if (!copy_names(src->user, src->group, src->groups, n,
                  NameList{&copy.user, &copy.group, copy.groups, n}))
    return 1;
  copy.ngroups = static_cast<int32_t>(n);
  *dst = copy;
  return 0;
}

int credutl_copy_whole_string_credentials(
    const credutl_whole_string_credentials_t *src,
    credutl_whole_string_credentials_t *dst) {
  size_t n = whole_count(src->ngroups);
  credutl_whole_string_credentials_t copy;
  std::memset(&copy, 0, sizeof copy);
  if (!alloc_names(n, &copy.groups)) return 1;
  if (!copy_names(src->user, src->group, src->groups, n,
                  NameList{&copy.user, &copy.group, copy.groups, n})) {
    std::free(copy.groups);
    return 1;
  }
  copy.ngroups = static_cast<int32_t>(n);
  *dst = copy;
  return 0;
}

void credutl_free_string_credentials(credutl_string_credentials_t *n) {
  std::free(n->user);
  std::free(n->group);
  for (size_t i = 0; i < inline_count(n->ngroups); ++i) {
    std::free(n->groups[i]);
    n->groups[i] = nullptr;
  }
  n->user = n->group = nullptr;
  n->ngroups = 0;
}

void credutl_free_whole_string_credentials(
    credutl_whole_string_credentials_t *n) {
  std::free(n->user);
  std::free(n->group);
  if (n->groups != nullptr) {
    for (size_t i = 0; i < whole_count(n->ngroups); ++i)
      std::free(n->groups[i]);
    std::free(n->groups);
  }
  n->user = n->group = nullptr;
  n->groups = nullptr;
  n->ngroups = 0;
}

int credutl_compare_whole_string_credentials(
    const credutl_whole_string_credentials_t *a,
    const credutl_whole_string_credentials_t *b) {
  if (a->ngroups != b->ngroups) return 0;
  if (!same_name(a->user, b->user) || !same_name(a->group, b->group)) return 0;
  for (size_t i = 0; i < whole_count(a->ngroups); ++i)
    if (!same_name(a->groups[i], b->groups[i])) return 0;
  return 1;
}

}  // extern "C"
