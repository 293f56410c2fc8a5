/* Security identifiers, credentials and account lookups. */
#ifndef ORVEXKS_CREDUTL_H
#define ORVEXKS_CREDUTL_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>
#include <orvexks/rpc/xdr.h>

KS_BEGIN_DECLS

struct svc_req; /* a request being served, <orvexks/rpc/svc.h> */

/* The family's message table. */
KS_API const ks_msg_table_t *credutl_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_credutl_ks_msg_table_adr(void);

/* ------------------------------------------------------------------------
 * Numeric ids. Users and groups share one id space.
 * ------------------------------------------------------------------------ */

typedef uint32_t credutl_uid_t;
typedef uint32_t credutl_gid_t;

#define CREDUTL_ID_NOBODY 0xFFFFFFFEu   /* the id of no known principal */
#define CREDUTL_ID_DONTCARE 0xFFFFFFFFu /* the id that matches anyone */

/* ------------------------------------------------------------------------
 * The SID record: a 34-byte value, copied by value and compared byte-wise.
 * Its bytes are fixed because it is also a hash key and a wire item:
 *
 *   length  number of meaningful bytes, counting length and type
 *           (2 placeholders, 7 UNIX, 2 + NT length for NT; at most 34)
 *   type    CREDUTL_SID_TYPE_*
 *   data    UNIX: id (4 bytes, most significant first), kind (1 uid, 2 gid)
 *           NT:   revision, sub-authority count n, the 6 authority bytes,
 *                 n sub-authorities of 4 bytes, most significant first
 *
 * Bytes past length are zero in every record this family builds.
 * ------------------------------------------------------------------------ */

#define CREDUTL_SID_SIZE 34
#define CREDUTL_SID_DATA_SIZE 32

#define CREDUTL_SID_TYPE_NOBODY 0
#define CREDUTL_SID_TYPE_DONTCARE 1
#define CREDUTL_SID_TYPE_UNIX 2
#define CREDUTL_SID_TYPE_NT 3

#define CREDUTL_SID_UNIX_UID 1
#define CREDUTL_SID_UNIX_GID 2

#define CREDUTL_SID_PLACEHOLDER_LENGTH 2
#define CREDUTL_SID_UNIX_LENGTH 7
#define CREDUTL_SID_NT_HEADER_LENGTH 10 /* length, type, revision, n, 6 */

/* Room for any SID text form and its terminator. */
#define CREDUTL_SID_STR_SIZE 185
/* Room for the NT form of any record (callers of credutl_sid_to_nt_sid). */
#define CREDUTL_NT_SID_BUF_SIZE 68
/* Capacity of the inline group arrays. */
#define CREDUTL_MAX_GROUPS 32

typedef struct credutl_sid {
  signed char length;
  unsigned char type;
  unsigned char data[CREDUTL_SID_DATA_SIZE];
} credutl_sid_t;

/* 1 when the record's type is known and its length fits that type. */
#define CREDUTL_IS_VALID_SID(sidp)                       \
  ((((sidp)->type == CREDUTL_SID_TYPE_NOBODY ||          \
     (sidp)->type == CREDUTL_SID_TYPE_DONTCARE) &&       \
    (sidp)->length == CREDUTL_SID_PLACEHOLDER_LENGTH) || \
   ((sidp)->type == CREDUTL_SID_TYPE_UNIX &&             \
    (sidp)->length == CREDUTL_SID_UNIX_LENGTH) ||        \
   ((sidp)->type == CREDUTL_SID_TYPE_NT &&               \
    (sidp)->length <= CREDUTL_SID_SIZE &&                \
    (sidp)->length == CREDUTL_SID_NT_HEADER_LENGTH + 4 * (sidp)->data[1]))

/* The placeholders: length 2, type NOBODY or DONTCARE, all else zero. Every
 * unknown, unmapped or failed answer of this family is a copy of NOBODY. */
KS_API extern const credutl_sid_t CREDUTL_SID_NOBODY;
KS_API extern const credutl_sid_t CREDUTL_SID_DONTCARE;

/* ------------------------------------------------------------------------
 * Credentials records. Inline arrays are part of the record; pointer
 * arrays and names are owned by it and released by the matching free.
 * ------------------------------------------------------------------------ */

typedef struct credutl_credentials {
  credutl_uid_t uid;
  credutl_gid_t gid;
  int32_t ngroups; /* 0..32 */
  credutl_gid_t groups[CREDUTL_MAX_GROUPS];
} credutl_credentials_t;

typedef struct credutl_full_credentials {
  credutl_uid_t uid;
  credutl_gid_t gid;
  int32_t ngroups;
  credutl_gid_t *groups; /* ngroups ids from stg_malloc */
} credutl_full_credentials_t;

typedef struct credutl_sid_credentials {
  credutl_sid_t user;
  credutl_sid_t group; /* the primary group */
  int32_t ngroups;     /* 0..32 */
  credutl_sid_t groups[CREDUTL_MAX_GROUPS];
} credutl_sid_credentials_t;

typedef struct credutl_whole_credentials {
  credutl_sid_t user;
  credutl_sid_t group;
  int32_t ngroups;
  credutl_sid_t *groups; /* stg_malloc'd; null when ngroups is 0 */
} credutl_whole_credentials_t;

typedef struct credutl_string_credentials {
  char *user; /* every name a separate malloc'd string */
  char *group;
  int32_t ngroups; /* 0..32 */
  char *groups[CREDUTL_MAX_GROUPS];
} credutl_string_credentials_t;

typedef struct credutl_whole_string_credentials {
  char *user;
  char *group;
  int32_t ngroups;
  char **groups; /* malloc'd array of ngroups malloc'd names */
} credutl_whole_string_credentials_t;

typedef struct credutl_user_sid {
  char *name;
  credutl_uid_t uid;
  credutl_sid_t sid;
} credutl_user_sid_t;

typedef struct credutl_group_sid {
  char *name;
  credutl_gid_t gid;
  credutl_sid_t sid;
} credutl_group_sid_t;

typedef struct credutl_passwd_sid {
  credutl_user_sid_t user;
  credutl_group_sid_t group;
  char *gecos; /* full name */
  char *home;  /* home directory */
} credutl_passwd_sid_t;

/* ------------------------------------------------------------------------
 * SIDs and ids. NT SIDs are the companion library's binary SIDs
 * (orvexnt/nt_sid.h), passed as untyped byte runs.
 * ------------------------------------------------------------------------ */

/* Build a UNIX SID of kind uid or gid; all 34 bytes are written. */
KS_API void credutl_unix_uid_to_sid(credutl_uid_t uid, credutl_sid_t *sid_out);
KS_API void credutl_unix_gid_to_sid(credutl_gid_t gid, credutl_sid_t *sid_out);

/* The id of a UNIX SID (assertion unless its type is UNIX); the NOBODY id
 * when the length or kind does not match. */
KS_API credutl_uid_t credutl_sid_to_unix_uid(const credutl_sid_t *sid);
KS_API credutl_gid_t credutl_sid_to_unix_gid(const credutl_sid_t *sid);

/* A valid NT SID to a record; one that does not fit 32 bytes (more than
 * six sub-authorities) becomes NOBODY. */
KS_API void credutl_nt_sid_to_sid(const void *nt_sid, credutl_sid_t *sid_out);

/* A record of type NT, NOBODY or DONTCARE to an NT SID written into nt_out
 * (size bytes, CREDUTL_NT_SID_BUF_SIZE always suffices). The placeholders
 * become the platform's stand-in SID (well-known number 26). */
KS_API void credutl_sid_to_nt_sid(const credutl_sid_t *sid, size_t size,
                                  void *nt_out);

/* Ids through the platform's account mapping; the reserved ids map to the
 * placeholders and back, anything unmapped to NOBODY. Return sid_out. */
KS_API credutl_sid_t *credutl_uid_to_sid(credutl_sid_t *sid_out,
                                         credutl_uid_t uid);
KS_API credutl_sid_t *credutl_gid_to_sid(credutl_sid_t *sid_out,
                                         credutl_gid_t gid);
KS_API credutl_uid_t credutl_sid_to_uid(const credutl_sid_t *sid);
KS_API credutl_gid_t credutl_sid_to_gid(const credutl_sid_t *sid);

/* 1 when a and b are the same pointer or have equal length bytes and equal
 * first length bytes; else 0. */
KS_API int credutl_sid_eq(const credutl_sid_t *a, const credutl_sid_t *b);

/* Hash and key comparison for tables keyed by credutl_sid_t: all NOBODY
 * records are one key, all DONTCARE records another. The comparison
 * returns non-zero when equal. */
KS_API uint32_t credutl_sid_hash_fn(const void *sid);
KS_API int credutl_sid_keycmp_fn(const void *a, const void *b);

/* Text forms: "NOBODY", "DONTCARE", "UNIX:UID-<id>", "UNIX:GID-<id>",
 * "NT:S-1-...", or the raw "SID:<type>.<hex bytes>". buf holds at least
 * CREDUTL_SID_STR_SIZE bytes; the formatters return buf. The parser returns
 * 0 on success and 1 on malformed text (sid_out then partly written). */
KS_API char *credutl_sid_to_str(const credutl_sid_t *sid, char *buf);
KS_API char *credutl_sid_to_str_raw(const credutl_sid_t *sid, char *buf);
KS_API int credutl_str_to_sid(const char *str, credutl_sid_t *sid_out);

/* ------------------------------------------------------------------------
 * Credentials. Results are 0 for success and 1 for failure unless stated.
 * ------------------------------------------------------------------------ */

/* Fill numeric credentials (ngroups at most 32): the primary gid is left
 * out of the list and adjacent repeats collapse. 1 with errno ENOMEM when
 * scratch memory runs out. */
KS_API int credutl_init_credentials(credutl_uid_t uid, credutl_gid_t gid,
                                    int ngroups, const credutl_gid_t *gids,
                                    credutl_credentials_t *creds_out);

/* Fill SID credentials: the primary group, placeholders and adjacent
 * repeats are left out of the list, which keeps at most 32. */
KS_API int credutl_init_sid_credentials(const credutl_sid_t *user_sid,
                                        const credutl_sid_t *group_sid,
                                        int ngroups,
                                        const credutl_sid_t *group_sids,
                                        credutl_sid_credentials_t *out);

/* The calling process's credentials. */
KS_API int credutl_get_sid_credentials(credutl_sid_credentials_t *out);
KS_API int credutl_get_whole_credentials(credutl_whole_credentials_t *out);
KS_API int credutl_get_complete_whole_credentials(
    credutl_whole_credentials_t *out);

/* Whole credentials: free, deep copy, equality (1 equal, 0 not). */
KS_API void credutl_free_whole_credentials(credutl_whole_credentials_t *w);
KS_API int credutl_copy_whole_credentials(
    const credutl_whole_credentials_t *src, credutl_whole_credentials_t *dst);
KS_API int credutl_compare_whole_credentials(
    const credutl_whole_credentials_t *a, const credutl_whole_credentials_t *b);

/* Whole to inline SID credentials: more than 32 groups fail unless truncate
 * is non-zero, which keeps the first 32. */
KS_API int credutl_whole_credentials_to_sid(
    const credutl_whole_credentials_t *w, int truncate,
    credutl_sid_credentials_t *out);
KS_API int credutl_sid_credentials_to_whole(const credutl_sid_credentials_t *s,
                                            credutl_whole_credentials_t *w);

/* Ids to SIDs (every group kept, unmapped ones as NOBODY) and SIDs to ids
 * (groups that map to the NOBODY id are dropped). */
KS_API int credutl_credentials_to_sid_credentials(
    const credutl_credentials_t *c, credutl_sid_credentials_t *out);
KS_API int credutl_full_credentials_to_whole_credentials(
    const credutl_full_credentials_t *f, credutl_whole_credentials_t *out);
KS_API int credutl_sid_credentials_to_credentials(
    const credutl_sid_credentials_t *s, credutl_credentials_t *out);
KS_API int credutl_whole_credentials_to_qmrc(
    const credutl_whole_credentials_t *w, credutl_full_credentials_t *out_full);

/* Ids or SIDs to names ("nobody" for anything without an account). */
KS_API int credutl_credentials_to_string_credentials(
    const credutl_credentials_t *c, credutl_string_credentials_t *out);
KS_API int credutl_sid_credentials_to_string_credentials(
    const credutl_sid_credentials_t *s, credutl_string_credentials_t *out);
KS_API int credutl_whole_credentials_to_whole_string_credentials(
    const credutl_whole_credentials_t *w,
    credutl_whole_string_credentials_t *out);

/* Names to SIDs (NOBODY for an empty, null or unknown name). */
KS_API int credutl_string_credentials_to_sid_credentials(
    const credutl_string_credentials_t *n, credutl_sid_credentials_t *out);
KS_API int credutl_whole_string_credentials_to_whole_credentials(
    const credutl_whole_string_credentials_t *n,
    credutl_whole_credentials_t *out);

/* Deep copies and frees of name credentials. */
KS_API int credutl_string_credentials_to_whole_string_credentials(
    const credutl_string_credentials_t *src,
    credutl_whole_string_credentials_t *dst);
KS_API int credutl_copy_string_credentials(
    const credutl_string_credentials_t *src, credutl_string_credentials_t *dst);
KS_API int credutl_copy_whole_string_credentials(
    const credutl_whole_string_credentials_t *src,
    credutl_whole_string_credentials_t *dst);
KS_API void credutl_free_string_credentials(credutl_string_credentials_t *n);
KS_API void credutl_free_whole_string_credentials(
    credutl_whole_string_credentials_t *n);
/* 1 when the counts and all names (case-sensitive, in order) are equal. */
KS_API int credutl_compare_whole_string_credentials(
    const credutl_whole_string_credentials_t *a,
    const credutl_whole_string_credentials_t *b);

/* Membership tests (1 or 0). */
KS_API int credutl_has_group(credutl_gid_t gid, const credutl_credentials_t *c);
KS_API int credutl_has_group_sid(const credutl_sid_t *sid,
                                 const credutl_sid_credentials_t *s);
KS_API int credutl_has_group_whole(const credutl_sid_t *sid,
                                   const credutl_whole_credentials_t *w);
KS_API int credutl_has_user_sid(const credutl_sid_t *sid,
                                const credutl_sid_credentials_t *s);
KS_API int credutl_has_user(const credutl_sid_t *sid,
                            const credutl_whole_credentials_t *w);

/* Group-list edits of SID credentials. Adding to a full list returns 1 and
 * changes nothing; removing moves the last entry into the gap. */
KS_API int credutl_add_group_sid_to_group_list(credutl_sid_credentials_t *s,
                                               const credutl_sid_t *sid);
KS_API int credutl_remove_group_sid_from_group_list(
    credutl_sid_credentials_t *s, const credutl_sid_t *sid);
/* Drops the groups that name no real group or account (well-known groups,
 * "nobody"), keeping the order of the rest. Returns 0. */
KS_API int credutl_remove_well_known_groups(credutl_sid_credentials_t *s);

/* Credentials texts. The numeric form is unbounded; the SID forms are cut
 * to size bytes (1024 for credutl_sid_credentials_to_str) and a cut text
 * ends in '+'. All return buf. */
KS_API char *credutl_credentials_to_str(const credutl_credentials_t *c,
                                        char *buf);
KS_API char *credutl_sid_credentials_to_str(const credutl_sid_credentials_t *s,
                                            char *buf);
KS_API char *credutl_whole_credentials_to_str(
    const credutl_whole_credentials_t *w, size_t size, char *buf);

/* ------------------------------------------------------------------------
 * Account lookups and caches.
 *
 * Answers come from the companion library's account layer and are kept in
 * six process-wide caches (by uid, user name and SID for accounts; by gid,
 * group name and SID for groups), so that repeated lookups, and lookups by
 * the short names of the calling process's own account and groups, do not
 * reach the account database again. Names compare without regard to case.
 * Lookups never raise.
 *
 * The records returned are per thread: one account record and one group
 * record per thread, in the library's thread-local block. A record, and
 * the SIDs of credutl_getusid and credutl_getgsid, stay valid until the
 * first of: the same thread's next user (or group, or same-function)
 * lookup; that thread's outermost leave of the library lock
 * (qmthread_leave_critical_section at depth 1), its qmthread_exit or its
 * end, which free the block. Copy a record to keep it longer, or hold the
 * library lock from the lookup to the last use. The names are qualified
 * ("DOMAIN\name").
 * ------------------------------------------------------------------------ */

/* Cache limits: a record with a longer string is returned but not cached.
 * Names have fewer than 322 characters, the full name fewer than 257, the
 * home directory fewer than 51. */
#define CREDUTL_CACHE_NAME_SIZE 322
#define CREDUTL_CACHE_GECOS_SIZE 257
#define CREDUTL_CACHE_HOME_SIZE 51

/* Accounts by name (short or qualified), uid or SID; null when there is
 * none. "nobody" (any case) gives the fixed account nobody. */
KS_API credutl_passwd_sid_t *credutl_getpwnam(const char *name);
KS_API credutl_passwd_sid_t *credutl_getpwuid(credutl_uid_t uid);
KS_API credutl_passwd_sid_t *credutl_getpwsid(const credutl_sid_t *sid);

/* Groups by name, gid or SID; null when there is none. */
KS_API credutl_group_sid_t *credutl_getgrnam(const char *name);
KS_API credutl_group_sid_t *credutl_getgrgid(credutl_gid_t gid);
KS_API credutl_group_sid_t *credutl_getgrsid(const credutl_sid_t *sid);

/* The process's user SID and primary group SID in per-thread buffers
 * (valid as the records above); the address
 * of CREDUTL_SID_NOBODY when the platform cannot tell. */
KS_API const credutl_sid_t *credutl_getusid(void);
KS_API const credutl_sid_t *credutl_getgsid(void);

/* The process's group SIDs. count 0 returns how many there are; otherwise
 * at most |count| are written to sids_out and their number returned, cut
 * to QUILLMERE_GRP_LIMIT when that variable holds a decimal number. -1 on
 * failure (errno ENOMEM when memory runs out). */
KS_API int credutl_getgroups(int count, credutl_sid_t *sids_out);

/* Enters group under sid in the group-by-SID cache (only for an NT or UNIX
 * SID and a name of fewer than 322 characters). */
KS_API void ntcreds_update_getgrsid_cache(const credutl_sid_t *sid,
                                          const credutl_group_sid_t *group);

/* Prints the six caches, one line per entry, to standard output. */
KS_API void ntcreds_dump_cache(void);

/* The login-credential table of the versioning file system: entries of
 * NTLOGON_CRED_ENTRY_SIZE bytes keyed by the credutl_sid_t at their start.
 * add: 0, or ENOMEM. delete: 0 when an entry was removed, ENOENT when none
 * had that SID. A scan runs between start_scan and end_scan, with the
 * table locked meanwhile (other threads wait; the scanning thread must not
 * delete during the scan): set a cursor to null, then each next_entry call
 * copies one entry's SID and bytes out (either may be null) and returns 1,
 * or returns 0 at the end. */
#define NTLOGON_CRED_ENTRY_SIZE 1168
KS_API int ntlogon_cred_add_entry(const void *entry);
KS_API int ntlogon_cred_delete_entry(const credutl_sid_t *sid);
KS_API void ntlogon_cred_start_scan(void);
KS_API int ntlogon_cred_next_entry(void **cursor, credutl_sid_t *sid_out,
                                   void *entry_out);
KS_API void ntlogon_cred_end_scan(void);

/* ------------------------------------------------------------------------
 * Clients: who is calling a server, from which domain and host, and
 * whether to trust it.
 *
 * A client record names its authentication family and points at that
 * family's data: for CREDUTL_AUTH_FAMILY_ONC the struct svc_req being
 * served (its credential flavour, decoded credential and transport), for
 * CREDUTL_AUTH_FAMILY_QUILLMERE a credutl_auth_quillmere_t.
 * ------------------------------------------------------------------------ */

typedef enum credutl_auth_family {
  CREDUTL_AUTH_FAMILY_NONE = 0,
  CREDUTL_AUTH_FAMILY_QUILLMERE = 1,
  CREDUTL_AUTH_FAMILY_ONC = 2
} credutl_auth_family_t;

/* Kinds of the product's own client record. */
#define CREDUTL_AUTH_QUILLMERE_HOST_ONLY 0 /* domain and host only */
#define CREDUTL_AUTH_QUILLMERE_NAMES 1     /* name credentials follow */

/* Sizes of the inline domain and host fields of credutl_auth_quillmere_t. */
#define CREDUTL_AUTH_NAME_SIZE 256

typedef struct credutl_auth_quillmere {
  int32_t kind; /* CREDUTL_AUTH_QUILLMERE_* */
  char domain[CREDUTL_AUTH_NAME_SIZE];
  char host[CREDUTL_AUTH_NAME_SIZE];
  credutl_string_credentials_t credentials; /* meaningful for kind 1 */
} credutl_auth_quillmere_t;
typedef credutl_auth_quillmere_t *credutl_auth_quillmere_p_t;

typedef struct credutl_client {
  credutl_auth_family_t auth_family;
  void *auth_data;
} credutl_client_t;

/* This machine's NT domain name in a per-thread buffer (valid until the
 * thread's next call), "<unknown>" when the platform cannot tell. */
KS_API const char *credutl_get_domain(void);

/* Splits a qualified account name at its first '/' or '\': the domain is
 * what comes before, the user what follows. Without a separator the
 * domain is "<unknown>" and the user the whole name. Both copies are cut
 * to their sizes; a null output or a size of 0 is left alone. */
KS_API void credutl_crack_fq_name(const char *name, char *domain, size_t dsize,
                                  char *user, size_t usize);

/* 1 when a and b name the same account, ignoring the domain and case;
 * a null side stands for the login name of the calling process. */
KS_API int credutl_string_eq(const char *a, const char *b);

/* The machine name of this host's AUTH_UNIX credentials, "DOMAIN/host",
 * into buf (size bytes). When it does not fit, a warning is printed and
 * buf holds "<credutl authunix machname too long>", cut to size. Returns
 * buf. A delivery point (the warning). */
KS_API char *credutl_mk_authunix_machname(char *buf, size_t size);

/* Splits an AUTH_UNIX machine name at its first '/': domain before, host
 * after; without '/' the domain is empty and the host the whole name; a
 * null machname gives two empty strings. Copies are cut to their sizes. */
KS_API void credutl_crack_authunix_machname(const char *machname, char *domain,
                                            size_t dsize, char *host,
                                            size_t hsize);

/* The caller of an RPC request as whole credentials, with the domain and
 * host its credential names (cut to dsize and hsize; either output may be
 * null). AUTH_UNIX and AUTH_NT credentials are mapped to SIDs; the product
 * group is replaced by NOBODY unless the caller's host is this host.
 * Returns 0; 2 for AUTH_NONE and 1 for any other flavour (or when memory
 * runs out), both with NOBODY as user and group and no groups. Release
 * whole_out with credutl_free_whole_credentials. */
KS_API int credutl_crack_whole_rpc_auth(struct svc_req *req,
                                        credutl_whole_credentials_t *whole_out,
                                        size_t dsize, char *domain,
                                        size_t hsize, char *host);
/* The same as SID credentials: at most 32 groups, without placeholders,
 * the primary group and repeats. */
KS_API int credutl_crack_rpc_auth(struct svc_req *req,
                                  credutl_sid_credentials_t *sid_out,
                                  size_t dsize, char *domain, size_t hsize,
                                  char *host);

/* Makes the product's own client record for this process: domain, host
 * and, for kind CREDUTL_AUTH_QUILLMERE_NAMES, the process's credentials
 * by name. client points at auth afterwards. 0, or 1 when the host name or
 * the credentials cannot be had. Release with credutl_free_client. */
KS_API int credutl_mk_client_quillmere(int kind, credutl_auth_quillmere_t *auth,
                                       credutl_client_t *client);

/* The identity, domain and host of a client. The product's own record
 * gives name credentials (*has_string_creds = 1; "nobody" for kind 0),
 * which the caller frees with credutl_free_string_credentials; an RPC
 * request gives SID credentials (*has_sid_creds = 1). A request that
 * cannot be cracked, a null client or family 0 gives NOBODY and the
 * domain and host "<unknown>". Returns 0, or the status of a failed copy
 * of name credentials. */
KS_API int credutl_crack_client(const credutl_client_t *client,
                                int *has_sid_creds, int *has_string_creds,
                                credutl_sid_credentials_t *sid_out,
                                credutl_string_credentials_t *string_out,
                                size_t dsize, char *domain, size_t hsize,
                                char *host);

/* Releases what the product's own record holds (its name credentials)
 * and empties the client record; the auth record itself stays the
 * caller's. */
KS_API void credutl_free_client(credutl_client_t *client);

/* *is_priv = 1 when the client is privileged: it calls from this host and
 * its identity is privileged here (uid 0, the administrators or the
 * product group). Remote membership of the product group never counts.
 * Returns 0. */
KS_API int credutl_client_is_privileged(const credutl_client_t *client,
                                        int *is_priv);

/* 1 when the calling process is privileged, else 0. */
KS_API int credutl_is_privileged(void);

/* Server group lists are not cached here: does nothing and returns 1. */
KS_API int credutl_set_server_group_lifetime(uint32_t seconds);

/* ------------------------------------------------------------------------
 * Wire forms (XDR, RFC 4506) of the ids, SIDs, credentials, account
 * records and client records. Each filter encodes, decodes or frees by the
 * handle's x_op and returns 1 on success, 0 on failure. Decoding into a
 * record replaces its contents without freeing them. After a failed
 * decode, freeing with the same filter releases what was decoded.
 *
 * Strings and string arrays that decoding makes are malloc'd, as the
 * name-credential frees expect; the SID array of whole credentials comes
 * from stg_malloc, as credutl_free_whole_credentials expects. Inline group
 * counts outside 0..32 fail.
 * ------------------------------------------------------------------------ */

KS_API bool_t xdr_credutl_uid_t(XDR *xdrs, credutl_uid_t *uid);
KS_API bool_t xdr_credutl_gid_t(XDR *xdrs, credutl_gid_t *gid);
/* length; when non-zero, type and length - 2 data bytes. */
KS_API bool_t xdr_credutl_sid_t(XDR *xdrs, credutl_sid_t *sid);
/* uid, gid, ngroups and always all 32 group slots. */
KS_API bool_t xdr_credutl_credentials_t(XDR *xdrs, credutl_credentials_t *c);
KS_API bool_t xdr_credutl_sid_credentials_t(XDR *xdrs,
                                            credutl_sid_credentials_t *s);
/* Names of at most 1023 bytes; a null name travels as "". */
KS_API bool_t xdr_credutl_string_credentials_t(XDR *xdrs,
                                               credutl_string_credentials_t *n);
KS_API bool_t xdr_credutl_whole_credentials_t(XDR *xdrs,
                                              credutl_whole_credentials_t *w);
KS_API bool_t xdr_credutl_whole_string_credentials_t(
    XDR *xdrs, credutl_whole_string_credentials_t *n);
KS_API bool_t xdr_credutl_user_sid_t(XDR *xdrs, credutl_user_sid_t *u);
KS_API bool_t xdr_credutl_group_sid_t(XDR *xdrs, credutl_group_sid_t *g);
KS_API bool_t xdr_credutl_passwd_sid_t(XDR *xdrs, credutl_passwd_sid_t *p);
/* kind, domain, host (at most 255 bytes each) and, for kind 1, the name
 * credentials. */
KS_API bool_t xdr_credutl_auth_quillmere_t(XDR *xdrs,
                                           credutl_auth_quillmere_t *a);
/* An optional record: decoding allocates it (calloc), freeing releases it
 * and sets the pointer null. */
KS_API bool_t xdr_credutl_auth_quillmere_p_t(XDR *xdrs,
                                             credutl_auth_quillmere_t **ap);
/* Only the product's own family travels: family 1, then its record, which
 * decoding allocates (calloc) and freeing releases. */
KS_API bool_t xdr_credutl_client_t(XDR *xdrs, credutl_client_t *client);

KS_END_DECLS

#endif
