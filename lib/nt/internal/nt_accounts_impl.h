// Shared pieces of the account layer: the machine domain, the well-known
// SIDs, the product group's name and buffered host account lookups.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <stddef.h>
#include <stdint.h>

#include <orvexnt/nt_accounts.h>

// The three sub-authorities A, B, C of the machine domain S-1-5-21-A-B-C.
void nti_machine_domain(uint32_t out[3]);

// The domain SID S-1-5-21-A-B-C (process lifetime).
const nt_sid_t *nti_machine_domain_sid();

// 1 and *rid when sid is S-1-5-21-A-B-C-rid of this machine; else 0.
int nti_domain_rid(const nt_sid_t *sid, uint32_t *rid);

// A new heap SID S-1-5-21-A-B-C-rid, null when memory runs out.
nt_sid_t *nti_domain_sid_alloc(uint32_t rid);

// The relative id of uid / gid; 0 and *rid, or -1 when it passes 32 bits.
int nti_uid_rid(uint32_t uid, uint32_t *rid);
int nti_gid_rid(uint32_t gid, uint32_t *rid);

// A well-known group: its number, names and SID.
struct nti_well_known {
  int number;
  const char *short_name;
  const char *qualified_name;
  const nt_sid_t *sid;
};

// The well-known groups (Everyone, CREATOR OWNER, NETWORK, Administrators);
// *count receives their number.
const nti_well_known *nti_well_known_groups(size_t *count);

// The well-known group with this SID, or null.
const nti_well_known *nti_well_known_by_sid(const nt_sid_t *sid);

// The well-known group with this short or qualified name (any case), or
// null.
const nti_well_known *nti_well_known_by_name(const char *name);

// The product group's name from the settings file (or "quillmere") into
// buf; returns buf.
char *nti_product_group_name(char *buf, size_t size);

// Host account lookups through NSS. On success *storage holds a heap
// buffer that the caller frees after using *out; 0 is returned. Otherwise
// the errno value (ENOENT when there is no such entry) and *storage is null.
int nti_getpwnam(const char *name, struct passwd *out, char **storage);
int nti_getpwuid(uid_t uid, struct passwd *out, char **storage);
int nti_getgrnam(const char *name, struct group *out, char **storage);
int nti_getgrgid(gid_t gid, struct group *out, char **storage);

// The product group's gid; 0 and *gid, or -1 when no such group exists.
int nti_product_gid(gid_t *gid);
