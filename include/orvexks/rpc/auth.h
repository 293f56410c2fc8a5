/* RPC authentication: credential and verifier records, the client
 * authentication handles of the flavours AUTH_NONE, AUTH_UNIX and the
 * library's own AUTH_NT, and the credential bodies of the last two.
 *
 * A handle is made by its flavour's create function and released by its
 * destroy operation (KS_AUTH_DESTROY). */
#ifndef ORVEXKS_RPC_AUTH_H
#define ORVEXKS_RPC_AUTH_H

#include <orvexks/ks_base.h>
#include <orvexks/rpc/xdr.h>
#include <orvexnt/nt_sid.h>

KS_BEGIN_DECLS

/* Largest credential or verifier body on the wire. */
#define MAX_AUTH_BYTES 400
/* Longest machine name in a credential. */
#define MAX_MACHINE_NAME 255
/* Most groups an AUTH_UNIX credential carries. */
#define NGRPS 16

/* Flavours. */
#define AUTH_NONE 0
#define AUTH_NULL 0
#define AUTH_UNIX 1
#define AUTH_SYS 1
#define AUTH_SHORT 2
#define AUTH_NT 127

/* Why a credential or verifier was refused. */
enum auth_stat {
  AUTH_OK = 0,
  AUTH_BADCRED = 1,      /* invalid client credential */
  AUTH_REJECTEDCRED = 2, /* the server wants a new credential */
  AUTH_BADVERF = 3,      /* invalid client verifier */
  AUTH_REJECTEDVERF = 4, /* verifier expired or replayed */
  AUTH_TOOWEAK = 5,      /* refused for security reasons */
  AUTH_INVALIDRESP = 6,  /* invalid server verifier */
  AUTH_FAILED = 7        /* unspecified */
};

/* A credential or verifier: flavour and body (at most MAX_AUTH_BYTES). */
struct opaque_auth {
  enum_t oa_flavor;
  char *oa_base;
  uint32_t oa_length;
};

/* An 8-byte key block. */
union des_block {
  struct {
    uint32_t high;
    uint32_t low;
  } key;
  char c[8];
};

typedef struct AUTH AUTH;

/* A flavour's operations, in slot order. */
struct auth_ops {
  /* Prepares the verifier of the next call. */
  void (*ah_nextverf)(AUTH *auth);
  /* Writes credential and verifier into a call being encoded. */
  bool_t (*ah_marshal)(AUTH *auth, XDR *xdrs);
  /* Checks the verifier of a reply. */
  bool_t (*ah_validate)(AUTH *auth, struct opaque_auth *verf);
  /* Replaces a credential the server refused; false when it cannot. */
  bool_t (*ah_refresh)(AUTH *auth);
  /* Frees the handle. */
  void (*ah_destroy)(AUTH *auth);
};

struct AUTH {
  struct opaque_auth ah_cred;
  struct opaque_auth ah_verf;
  union des_block ah_key;
  const struct auth_ops *ah_ops;
  void *ah_private;
};

#define KS_AUTH_NEXTVERF(auth) (*(auth)->ah_ops->ah_nextverf)(auth)
#define KS_AUTH_MARSHALL(auth, xdrs) (*(auth)->ah_ops->ah_marshal)(auth, xdrs)
#define KS_AUTH_VALIDATE(auth, verf) (*(auth)->ah_ops->ah_validate)(auth, verf)
#define KS_AUTH_REFRESH(auth) (*(auth)->ah_ops->ah_refresh)(auth)
#define KS_AUTH_DESTROY(auth) (*(auth)->ah_ops->ah_destroy)(auth)

/* The body of an AUTH_UNIX credential. */
struct authunix_parms {
  uint32_t aup_time;  /* seconds */
  char *aup_machname; /* at most MAX_MACHINE_NAME bytes */
  int32_t aup_uid;
  int32_t aup_gid;
  uint32_t aup_len; /* entries of aup_gids, at most NGRPS */
  int32_t *aup_gids;
};

/* The body of an AUTH_NT credential in memory. The security identifiers
 * are binary NT SIDs. When decoding into a caller-supplied group array,
 * ant_len holds the array's capacity on entry. */
struct authnt_parms {
  uint32_t ant_time;
  char *ant_machname;
  nt_sid_t *ant_user;
  nt_sid_t *ant_group;
  uint32_t ant_len;
  nt_sid_t **ant_groups;
};

/* The one shared AUTH_NONE handle. */
KS_API AUTH *ks_authnone_create(void);
/* A new AUTH_UNIX handle; more than NGRPS groups are cut to NGRPS. Null
 * when memory runs out. */
KS_API AUTH *ks_authunix_create(const char *machname, int32_t uid, int32_t gid,
                                int32_t len, const int32_t *gids);
/* AUTH_UNIX for this host with uid 0, gid 0 and no groups. */
KS_API AUTH *ks_authunix_create_default(void);
/* A new AUTH_NT handle carrying as many groups as fit in the credential.
 * Null when memory runs out or the credential cannot be encoded. */
KS_API AUTH *authnt_create(const char *machname, const nt_sid_t *user,
                           const nt_sid_t *group, int32_t len,
                           nt_sid_t *const *groups);

/* Credential filters. */
KS_API bool_t xdr_ks_opaque_auth(XDR *xdrs, struct opaque_auth *ap);
KS_API bool_t xdr_ks_des_block(XDR *xdrs, union des_block *blkp);
KS_API bool_t xdr_ks_authunix_parms(XDR *xdrs, struct authunix_parms *p);
KS_API bool_t xdr_authnt_parms(XDR *xdrs, struct authnt_parms *p);

KS_END_DECLS

#endif
