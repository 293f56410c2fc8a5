/* Access control lists in the style of POSIX.1e over the NT discretionary
 * ACL of a file.
 *
 * Every object given to a caller is a handle: an ACL, one of its entries or
 * an entry's permission set. Entry and permission-set handles are views into
 * their ACL; freeing them frees only the handle. Results are 0 or an errno
 * value (EINVAL for a bad handle or argument, ENOMEM, ENOSYS) or, where a
 * line says so, a platform error code; a null handle argument gives 0
 * without effect. */
#ifndef ORVEXKS_SYSUTL_ACL_H
#define ORVEXKS_SYSUTL_ACL_H

#include <orvexks/ks_base.h>

#include <stddef.h>

#include <orvexks/credutl.h>

KS_BEGIN_DECLS

typedef struct sysutl_acl_handle *sysutl_acl_t;
typedef struct sysutl_acl_handle *sysutl_acl_entry_t;
typedef struct sysutl_acl_handle *sysutl_acl_permset_t;

#define SYSUTL_ACL_MAGIC 0x9f929d83u
#define SYSUTL_ACL_KIND_ACL 0
#define SYSUTL_ACL_KIND_ENTRY 1
#define SYSUTL_ACL_KIND_PERMSET 2

/* Entry tags. */
#define SYSUTL_ACL_USER_OBJ 1
#define SYSUTL_ACL_USER 2
#define SYSUTL_ACL_GROUP_OBJ 4
#define SYSUTL_ACL_GROUP 8
#define SYSUTL_ACL_MASK 16
#define SYSUTL_ACL_OTHER 32

/* Permissions. */
#define SYSUTL_ACL_READ 4
#define SYSUTL_ACL_WRITE 2
#define SYSUTL_ACL_EXECUTE 1

/* Which entry sysutl_acl_get_entry gives. */
#define SYSUTL_ACL_FIRST_ENTRY 0
#define SYSUTL_ACL_NEXT_ENTRY 1

/* List types: only the access list exists; the type is accepted and
 * otherwise ignored. */
#define SYSUTL_ACL_TYPE_ACCESS 0x8000
#define SYSUTL_ACL_TYPE_DEFAULT 0x4000

KS_API int sysutl_acl_init(int count, sysutl_acl_t *acl_out);
/* handle_p: the address of any handle variable, or of a heap pointer. */
KS_API int sysutl_acl_free(void *handle_p);
KS_API int sysutl_acl_create_entry(sysutl_acl_t *acl_p,
                                   sysutl_acl_entry_t *entry_out);
KS_API int sysutl_acl_delete_entry(sysutl_acl_t acl, sysutl_acl_entry_t entry);
KS_API int sysutl_acl_get_entry(sysutl_acl_t acl, int which,
                                sysutl_acl_entry_t *entry_out);
KS_API int sysutl_acl_valid(sysutl_acl_t acl, int *valid_out);
KS_API int sysutl_acl_get_permset(sysutl_acl_entry_t entry,
                                  sysutl_acl_permset_t *permset_out);
KS_API int sysutl_acl_set_permset(sysutl_acl_entry_t entry,
                                  sysutl_acl_permset_t permset);
KS_API int sysutl_acl_add_perm(sysutl_acl_permset_t permset, int perm);
KS_API int sysutl_acl_clear_perms(sysutl_acl_permset_t permset);
/* Not supported: ENOSYS. */
KS_API int sysutl_acl_delete_perm(sysutl_acl_permset_t permset, int perm);
KS_API int sysutl_acl_check_perm(sysutl_acl_permset_t permset, int perm,
                                 int *present_out);
KS_API int sysutl_acl_get_tag_type(sysutl_acl_entry_t entry, int *tag_out);
KS_API int sysutl_acl_set_tag_type(sysutl_acl_entry_t entry, int tag);
KS_API int sysutl_acl_get_qualifier(sysutl_acl_entry_t entry,
                                    credutl_sid_t *sid_out);
KS_API int sysutl_acl_set_qualifier(sysutl_acl_entry_t entry,
                                    const credutl_sid_t *sid);
/* get_file and get_fd return the platform error 1336 (invalid ACL) as it
 * is. */
KS_API int sysutl_acl_get_file(const char *path, int type,
                               sysutl_acl_t *acl_out);
KS_API int sysutl_acl_get_fd(int fd, sysutl_acl_t *acl_out);
KS_API int sysutl_acl_set_file(const char *path, int type, sysutl_acl_t acl);
KS_API int sysutl_acl_set_fd(int fd, sysutl_acl_t acl);
KS_API int sysutl_acl_set_nt_sd(const char *path, int is_dir, sysutl_acl_t acl);
/* text: release with free() or sysutl_acl_free(&text); len_out may be
 * null. */
KS_API int sysutl_acl_to_text(sysutl_acl_t acl, size_t *len_out,
                              char **text_out);
/* equal_out 1 or 0. */
KS_API int sysutl_acl_eq(sysutl_acl_t a, sysutl_acl_t b, int *equal_out);
KS_API int sysutl_acl_modify_perms(sysutl_acl_t *acl_p, int remove_mode,
                                   int add_mode);
/* Not provided on this platform: no effect, 0. */
KS_API int sysutl_acl_from_text(const char *text, sysutl_acl_t *acl_out);
KS_API int sysutl_acl_size(sysutl_acl_t acl, size_t *size_out);
KS_API int sysutl_acl_calc_mask(sysutl_acl_t *acl_p);

KS_END_DECLS

#endif
