/* Accounts and security identifiers over the host's account database.
 *
 * Every user and group of the host has a SID in the machine domain
 * S-1-5-21-A-B-C, where A, B and C are the first three 32-bit words of
 * /etc/machine-id (read as 8 hex digits each):
 *
 *   user  uid u  ->  S-1-5-21-A-B-C-(1000 + 2u)    (even relative id)
 *   group gid g  ->  S-1-5-21-A-B-C-(1001 + 2g)    (odd relative id)
 *
 * so a SID names a user or a group without ambiguity although uid and gid
 * numbers overlap. Ids whose relative id would pass 32 bits have no SID.
 * Well-known SIDs (nt_get_enum_sid) complete the picture; the product group
 * is the host group named by nt_get_quillmere_group_name.
 *
 * Names: an account's qualified name is "DOMAIN\name", where the domain is
 * the host name in upper case. Lookups by name take the short or the
 * qualified form (the domain compared without regard to case); a name that
 * is not found as given is tried once more in lower case.
 *
 * Every SID returned by pointer is a heap SID of <orvexnt/nt_sid.h>, freed
 * with nt_sid_free (free() is equivalent), unless stated otherwise. */
#ifndef ORVEXNT_NT_ACCOUNTS_H
#define ORVEXNT_NT_ACCOUNTS_H

#include <orvexnt/nt_base.h>

#include <stddef.h>
#include <stdint.h>

#include <orvexnt/nt_sid.h>

NT_BEGIN_DECLS

/* Platform id of a SID that is no host user or group (well-known SIDs,
 * SIDs of other domains, placeholders). */
#define NT_ID_NONE 0xFFFFFFFFu

/* Relative ids of the machine domain. */
#define NT_USER_RID_BASE 1000u
#define NT_GROUP_RID_BASE 1001u

/* Room for a qualified name: a 256-byte host name, '\', a 256-byte account
 * name and the terminator. */
#define NT_ACCOUNT_NAME_MAX 514

/* Well-known SID numbers of nt_get_enum_sid. */
#define NT_ENUM_SID_EVERYONE 0       /* S-1-1-0 */
#define NT_ENUM_SID_PRODUCT_GROUP 1  /* the product group; none if absent */
#define NT_ENUM_SID_CREATOR_OWNER 2  /* S-1-3-0 */
#define NT_ENUM_SID_ADMINISTRATORS 4 /* S-1-5-32-544; holds uid 0 */
#define NT_ENUM_SID_NETWORK 6        /* S-1-5-2 */
#define NT_ENUM_SID_MACHINE_DOMAIN 7 /* S-1-5-21-A-B-C */
#define NT_ENUM_SID_NOBODY 26        /* S-1-0-0: stands for NOBODY/DONTCARE */

/* The answer of the user lookups: one heap block holding the record, its
 * strings and SIDs; release it with a single free(). */
typedef struct nt_passwd_sid {
  char *pw_name;          /* qualified "DOMAIN\name" */
  uint32_t pw_uid;        /* host uid */
  nt_sid_t *pw_sid;       /* user SID */
  uint32_t pw_gid;        /* host gid of the primary group */
  nt_sid_t *pw_group_sid; /* primary group SID; null when the gid has none */
  char *pw_gecos;         /* full name ("" when none) */
  char *pw_dir;           /* home directory ("" when none) */
} nt_passwd_sid_t;

/* The answer of the group lookups: one heap block; release with free(). */
typedef struct nt_group_sid {
  char *gr_name;   /* qualified "DOMAIN\name"; well-known groups carry their
                      own prefix ("BUILTIN\Administrators", "Everyone") */
  uint32_t gr_gid; /* host gid; NT_ID_NONE for a well-known group */
  nt_sid_t *gr_sid;
} nt_group_sid_t;

/* User by short or qualified name, or by user SID; null (errno ENOENT,
 * ENOMEM, or EINVAL for a null argument) when there is none. */
NT_API nt_passwd_sid_t *nt_getpwnam_sid(const char *name);
NT_API nt_passwd_sid_t *nt_getpwsid_sid(const nt_sid_t *sid);

/* Group by short or qualified name (host groups, then the well-known
 * groups "Everyone", "CREATOR OWNER", "NT AUTHORITY\NETWORK",
 * "BUILTIN\Administrators", also by their short names), or by group SID
 * (host groups and well-known groups); null as above. */
NT_API nt_group_sid_t *nt_getgrnam_sid(const char *name);
NT_API nt_group_sid_t *nt_getgrsid_sid(const nt_sid_t *sid);

/* The groups of the calling process: the effective group first, then each
 * further supplementary group, then Everyone, and Administrators when the
 * effective uid is 0. count 0 returns the number of groups and ignores sids.
 * Otherwise fills sids[0 .. min(count, number) - 1] with new heap SIDs
 * (the caller frees each) and returns how many it filled. -1 with errno
 * EINVAL for a negative count or a null array, ENOMEM when memory runs out
 * (nothing is then left allocated). */
NT_API int nt_getgroups_sid(int count, nt_sid_t **sids);

/* The SID of the process's effective user / effective group; a new heap
 * SID, or null (errno) when it cannot be made. */
NT_API nt_sid_t *nt_get_user_sid(void);
NT_API nt_sid_t *nt_getgroup_sid(void);

/* The host id of a machine-domain SID: the uid of a user SID, the gid of a
 * group SID; NT_ID_NONE for any other SID (or null). */
NT_API uint32_t nt_sid_to_uid(const nt_sid_t *sid);

/* The machine-domain SID of uid / gid into *sid_out (a new heap SID).
 * 0 on success; -1 with errno EINVAL when sid_out is null or the id has no
 * SID (0xFFFFFFFE, 0xFFFFFFFF, or a relative id past 32 bits), ENOMEM when
 * memory runs out. The account need not exist. */
NT_API int ntx_uid_to_sid(uint32_t uid, nt_sid_t **sid_out);
NT_API int ntx_gid_to_sid(uint32_t gid, nt_sid_t **sid_out);

/* Well-known SID number n (NT_ENUM_SID_*), or null when it has none (an
 * unknown number; the product group when no host group of its name
 * exists). The SID is owned by the library and stays valid for the life of
 * the process: do not free or change it. */
NT_API const nt_sid_t *nt_get_enum_sid(int n);

/* 1 when sid names a group: a machine-domain SID with an odd relative id,
 * or one of the well-known SIDs other than NOBODY; else 0. */
NT_API int nt_sid_is_group(const nt_sid_t *sid);

/* 1 when the name (short or qualified, any case) is that of a well-known
 * group (Everyone, CREATOR OWNER, NETWORK, Administrators); else 0. */
NT_API int nt_is_well_known_group_cred(const char *name);

/* 1 when the calling process is privileged: effective uid 0, or the
 * product group is its effective group or one of its supplementary
 * groups; else 0. */
NT_API int nt_is_privileged(void);

/* Whether the session is one that client checks must refuse, and in
 * *extra (may be null) whether a second privileged group (well-known SID
 * 4) also counts. Always 0 with *extra 0 on this platform. */
NT_API int nt_is_elcc(int flags, int *extra);

/* The same decision for SID credentials: 1 when user is uid 0's SID, or
 * group or one of the ngroups groups is the product group or
 * Administrators; else 0. Null SIDs are skipped. */
NT_API int nt_is_privileged_sid_creds(const nt_sid_t *user,
                                      const nt_sid_t *group, int ngroups,
                                      const nt_sid_t *const *groups);

/* The domain name (the host name in upper case), the login name (the
 * qualified name of the effective user), the home directory of the
 * effective user. Written into buf (size bytes) and buf returned; with buf
 * null into a per-thread buffer of NT_ACCOUNT_NAME_MAX bytes (one per
 * function) valid until the same thread calls that function again. Null
 * (errno ERANGE, ENOENT) when the text does not fit or there is none. */
NT_API const char *nt_get_domain_name(char *buf, size_t size);
NT_API const char *nt_getlogin(char *buf, size_t size);
NT_API const char *nt_get_my_homedir(char *buf, size_t size);

/* The product group's name: the setting product_group of section
 * [accounts] of the settings file ($ORVEX_REGISTRY, else
 * /etc/orvex/registry.ini), "quillmere" when unset. The text lives in a
 * per-thread buffer valid until the same thread calls again. */
NT_API const char *nt_get_quillmere_group_name(void);

NT_END_DECLS

#endif
