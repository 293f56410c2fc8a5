/* Server identity and file-system object protection.
 *
 * Every object a server keeps has a UNIX owner, a group and nine mode bits,
 * held in the object's NT security descriptor: a discretionary ACL of a
 * fixed layout carries the mode, the descriptor's group the group, and the
 * layout's owner entry the owner. Results are 0 or an errno value unless a
 * line says otherwise. */
#ifndef ORVEXKS_SERVER_H
#define ORVEXKS_SERVER_H

#include <orvexks/ks_base.h>

#include <orvexks/credutl.h>
#include <orvexks/imsg.h>
#include <orvexks/sysutl_acl.h>

KS_BEGIN_DECLS

/* The family's message table. */
KS_API const ks_msg_table_t *server_id_nt_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_server_id_nt_ks_msg_table_adr(void);

typedef struct server_fsobj_prot {
  credutl_sid_t owner; /* the UNIX owner: SID of the owner entry */
  credutl_sid_t group; /* the object's group */
  int mode; /* nine mode bits; -1 when the ACL is not of the protection layout
             */
} server_fsobj_prot_t;

#define SERVER_MODE_UNKNOWN (-1)
#define SERVER_LOCK_HELD (-2)
#define SERVER_LOCK_HOLDER_UNKNOWN 65535
#define SERVER_HOSTNAME_SIZE 64 /* the buffer of server_validate_hostname */

/* Objects. clear and set are mode masks: clear -1 clears all bits, set -1
 * sets none; a DONTCARE user or group keeps the object's own. */
KS_API int server_create_fsobj(const char *path,
                               const credutl_sid_credentials_t *creds, int mode,
                               int is_dir);
KS_API int server_create_fsobj_acl(const char *path,
                                   const credutl_sid_credentials_t *creds,
                                   int mode, sysutl_acl_t acl, int is_dir);
KS_API int server_protect_fsobj(const char *path,
                                const credutl_sid_credentials_t *creds,
                                int clear, int set);
KS_API int server_protect_fsobj_acl(const char *path,
                                    const credutl_sid_credentials_t *creds,
                                    int clear, int set, int acl_flag,
                                    sysutl_acl_t acl);
/* mode_out (may be null) receives the same mode as prot_out->mode. */
KS_API int server_get_fsobj_protections(const char *path, int want_mode,
                                        server_fsobj_prot_t *prot_out,
                                        int *mode_out);
/* clear: the clear mask of the protection being verified; -1 compares the
 * whole mode, 0 with expected mode 0 checks ownership only. report_out (may
 * be null) receives a heap copy (free()) of the report. */
KS_API int server_check_fsobj_protections(const char *path,
                                          const server_fsobj_prot_t *expected,
                                          int clear, int *mode_ok_out,
                                          char **report_out);
KS_API int server_check_fsobj_protections_acl(
    const char *path, const server_fsobj_prot_t *expected, int clear,
    sysutl_acl_t acl, int *mode_ok_out, char **report_out);
/* granted_out: the mode bit that grants the access (0400, 0200, 040, 020,
 * 04, 02) or 0; of the _acl variant 1 or 0. */
KS_API int server_check_fsobj_access(
    const char *path, const credutl_whole_credentials_t *whole_creds,
    int want_write, int *granted_out);
KS_API int server_check_fsobj_access_acl(
    const char *path, const credutl_whole_credentials_t *whole_creds,
    int want_write, int *granted_out);
KS_API int server_remove_fsobj(const char *path);

/* Trees. server_protect_tree returns 1 when every object was protected,
 * else 0 with the first error in errno. server_remove_tree takes walk flags
 * (FILEUTL_WALK_QUIET 16 prints nothing) and always descends. */
KS_API int server_protect_tree(const char *root,
                               const credutl_sid_credentials_t *dir_creds,
                               const credutl_sid_credentials_t *file_creds,
                               int dir_clear, int dir_set, int file_clear,
                               int file_set, int quiet);
KS_API int server_remove_tree(const char *root, int flags);

/* The recorded identity of a storage directory. */
KS_API int server_save_ids(const char *dir);
KS_API int server_save_ids_flag(const char *dir, int flag);
KS_API int server_set_ids(const char *dir,
                          const credutl_sid_credentials_t *sid_creds);
KS_API int server_set_ids_flag(const char *dir,
                               const credutl_sid_credentials_t *sid_creds,
                               int flag);
KS_API int server_get_ids(const char *dir,
                          credutl_sid_credentials_t *sid_creds_out);
KS_API int server_allow_add_group_id(const char *dir, int allow);
KS_API int server_add_group_id(const char *dir, const credutl_sid_t *group_sid);
KS_API int server_remove_group_id(const char *dir,
                                  const credutl_sid_t *group_sid);
KS_API int server_take_ownership(const char *dir, int *done_out);
KS_API int server_replace_server_process_group(const char *dir,
                                               const credutl_sid_t *old_sid,
                                               const credutl_sid_t *new_sid);

/* Descriptors. server_get_file_sd answers platform codes (0, 8, 87, 1338,
 * ...); free its descriptor with server_sd_free. */
KS_API int server_get_file_sd(const char *path, void **sd_out);
KS_API void server_sd_free(void *sd);
KS_API int server_remove_network_denied_ace(const char *path);

/* Server-wide switches; server_enable_network_write returns the previous
 * value. The establish calls do nothing on this platform and return 0. */
KS_API int server_enable_network_write(int on);
KS_API void server_advice_impersonation(void);
KS_API int server_establish_identity_substituted(void);
KS_API int server_establish_nonpriv_identity(void);

/* Host-name file: server_validate_hostname returns 1 (this host), -1
 * (another) or 0 (empty or unreadable); buf holds SERVER_HOSTNAME_SIZE
 * bytes. server_create_hostname_file returns 0, or 1 when the file could
 * not be opened. */
KS_API int server_validate_hostname(const char *dir, char *buf);
KS_API int server_create_hostname_file(const char *dir, const char *host,
                                       const credutl_sid_credentials_t *creds);

/* Lock file: the locked descriptor, SERVER_LOCK_HELD (holder_out set to
 * SERVER_LOCK_HOLDER_UNKNOWN) or -1. */
KS_API int server_lock_set(const char *path, int *holder_out);
KS_API int server_lock_clear(const char *path, int fd);

KS_END_DECLS

#endif
