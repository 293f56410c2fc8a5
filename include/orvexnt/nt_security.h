/* NT security descriptors on files.
 *
 * A descriptor is kept in its self-relative Windows binary form:
 *
 *   descriptor  revision 1 (byte), Sbz1 (byte), control (16 bits), then the
 *               byte offsets of owner SID, group SID, SACL and DACL (32 bits
 *               each, 0 when absent): 20 bytes, followed by the parts
 *   ACL         revision 2 (byte), Sbz1, size in bytes (16 bits), entry
 *               count (16 bits), Sbz2 (16 bits): 8 bytes, then the entries
 *   entry       type (byte), flags (byte), size (16 bits); for allowed and
 *               denied entries the access mask (32 bits) and the SID
 *
 * All multi-byte numbers are little-endian; the bytes need no alignment.
 * Such bytes are viewed as nt_security_descriptor_t / nt_acl_t.
 *
 * A file's descriptor lives in its extended attribute "user.orvex.ntsd".
 * Writing one also applies the POSIX mode it describes (and the owner and
 * group when the process may change owners), so the kernel enforces what
 * the descriptor says. A file without the attribute (or on a file system
 * without user extended attributes) reads as the protection layout that its
 * POSIX owner, group and mode describe. An attribute that does not parse, or
 * whose mode is not the file's mode on disk, is ignored in the same way: the
 * attribute never grants more than the mode the kernel enforces.
 *
 * Paths take the library's forms (drive letters, '\' separators, UNC names)
 * and are mapped with nt_map_path. Functions returning int answer 0 or a
 * Windows system error code (ERROR_FILE_NOT_FOUND 2, ERROR_ACCESS_DENIED 5,
 * ERROR_NOT_ENOUGH_MEMORY 8, ERROR_INVALID_PARAMETER 87, ERROR_FILE_EXISTS
 * 80, ERROR_ALREADY_EXISTS 183, ERROR_INVALID_ACL 1336, ERROR_INVALID_SID
 * 1337, ERROR_INVALID_SECURITY_DESCR 1338, ...); nt_win32error2errno turns
 * one into an errno value. */
#ifndef ORVEXNT_NT_SECURITY_H
#define ORVEXNT_NT_SECURITY_H

#include <orvexnt/nt_base.h>

#include <stddef.h>
#include <stdint.h>

#include <orvexnt/nt_sid.h>

NT_BEGIN_DECLS

typedef struct nt_security_descriptor nt_security_descriptor_t; /* bytes */
typedef struct nt_acl nt_acl_t;                                 /* bytes */

/* The extended attribute that holds a file's descriptor. */
#define NT_SD_XATTR_NAME "user.orvex.ntsd"

#define NT_SD_REVISION 1
#define NT_ACL_REVISION 2
#define NT_ACL_REVISION_DS 4 /* also accepted when parsing */
#define NT_SD_HEADER_SIZE 20
#define NT_ACL_HEADER_SIZE 8
#define NT_ACE_HEADER_SIZE 4
#define NT_ACL_MAX_SIZE 65532 /* the 16-bit size, a multiple of 4 */
/* The largest descriptor the layer writes or reads from a file. */
#define NT_SD_MAX_SIZE 65536

/* Windows system error codes the layer reports besides the file ones. */
#define NT_ERROR_INVALID_ACL 1336
#define NT_ERROR_INVALID_SID 1337
#define NT_ERROR_INVALID_SECURITY_DESCR 1338

/* Descriptor control bits. */
#define NT_SE_OWNER_DEFAULTED 0x0001
#define NT_SE_GROUP_DEFAULTED 0x0002
#define NT_SE_DACL_PRESENT 0x0004
#define NT_SE_DACL_DEFAULTED 0x0008
#define NT_SE_SACL_PRESENT 0x0010
#define NT_SE_SACL_DEFAULTED 0x0020
#define NT_SE_DACL_PROTECTED 0x1000
#define NT_SE_SELF_RELATIVE 0x8000

/* Which parts a get or set concerns (SECURITY_INFORMATION). */
#define NT_OWNER_SECURITY_INFORMATION 0x1u
#define NT_GROUP_SECURITY_INFORMATION 0x2u
#define NT_DACL_SECURITY_INFORMATION 0x4u
#define NT_ALL_SECURITY_INFORMATION 0x7u

/* Entry types and flags. */
#define NT_ACCESS_ALLOWED_ACE_TYPE 0
#define NT_ACCESS_DENIED_ACE_TYPE 1
#define NT_OBJECT_INHERIT_ACE 0x01
#define NT_CONTAINER_INHERIT_ACE 0x02
#define NT_NO_PROPAGATE_INHERIT_ACE 0x04
#define NT_INHERIT_ONLY_ACE 0x08
#define NT_INHERITED_ACE 0x10

/* Access rights. */
#define NT_FILE_READ_DATA 0x00000001u
#define NT_FILE_WRITE_DATA 0x00000002u
#define NT_FILE_APPEND_DATA 0x00000004u
#define NT_FILE_READ_EA 0x00000008u
#define NT_FILE_WRITE_EA 0x00000010u
#define NT_FILE_EXECUTE 0x00000020u
#define NT_FILE_DELETE_CHILD 0x00000040u
#define NT_FILE_READ_ATTRIBUTES 0x00000080u
#define NT_FILE_WRITE_ATTRIBUTES 0x00000100u
#define NT_DELETE 0x00010000u
#define NT_READ_CONTROL 0x00020000u
#define NT_WRITE_DAC 0x00040000u
#define NT_WRITE_OWNER 0x00080000u
#define NT_SYNCHRONIZE 0x00100000u
#define NT_STANDARD_RIGHTS_REQUIRED 0x000F0000u
#define NT_STANDARD_RIGHTS_ALL 0x001F0000u
#define NT_SPECIFIC_RIGHTS_ALL 0x0000FFFFu
#define NT_GENERIC_ALL 0x10000000u
#define NT_GENERIC_EXECUTE 0x20000000u
#define NT_GENERIC_WRITE 0x40000000u
#define NT_GENERIC_READ 0x80000000u
#define NT_FILE_GENERIC_READ 0x00120089u
#define NT_FILE_GENERIC_WRITE 0x00120116u
#define NT_FILE_GENERIC_EXECUTE 0x001200A0u
#define NT_FILE_ALL_ACCESS 0x001F01FFu

/* One entry, as the builder takes it and the parser gives it. sid is null
 * in a parsed entry of a type other than allowed or denied; a parsed sid
 * points into the descriptor's bytes. */
typedef struct nt_ace_info {
  uint8_t type;
  uint8_t flags;
  uint32_t mask;
  const nt_sid_t *sid;
} nt_ace_info_t;

/* A parsed descriptor: pointers into its bytes, null for absent parts. A
 * DACL that the control marks absent is null; a present one may hold no
 * entries. */
typedef struct nt_sd_info {
  uint16_t control;
  const nt_sid_t *owner;
  const nt_sid_t *group;
  const nt_acl_t *dacl;
  const nt_acl_t *sacl;
} nt_sd_info_t;

/* ------------------------------------------------------------------------
 * Building and parsing descriptors
 * ------------------------------------------------------------------------ */

/* A new self-relative descriptor (revision 1, control SE_SELF_RELATIVE |
 * SE_DACL_PRESENT) with owner and group (either may be null: absent) and a
 * DACL of revision 2 holding the count entries in order (count 0: an empty
 * DACL). Only allowed and denied entries are taken. Heap bytes in *sd_out
 * (free with nt_sd_free), their length in *size_out (may be null). Returns
 * 0; 87 for a null sd_out, a negative count, null aces with count > 0, an
 * entry of another type or with a null SID; 1337 for an invalid SID; 1336
 * when the DACL passes 65532 bytes; 8 when memory runs out. */
NT_API int nt_sd_build(const nt_sid_t *owner, const nt_sid_t *group,
                       const nt_ace_info_t *aces, int count,
                       nt_security_descriptor_t **sd_out, size_t *size_out);

/* Frees a descriptor of this layer; null is ignored. free() is the same. */
NT_API void nt_sd_free(nt_security_descriptor_t *sd);

/* Checks that bytes[0 .. size) hold a self-relative descriptor of revision
 * 1 whose every part lies inside the bytes: owner and group valid SIDs, ACLs
 * of revision 2 or 4 whose entries exactly tile their declared size (each
 * entry at least 4 bytes, a multiple of 4; allowed and denied entries a
 * mask and a valid SID that fit the entry). Fills *info_out (may be null).
 * Returns 0, 87 for null bytes, 1338 for a bad header, offset or size, 1337
 * for a bad owner or group SID, 1336 for a bad ACL or entry. */
NT_API int nt_sd_parse(const void *bytes, size_t size, nt_sd_info_t *info_out);

/* Entries of an ACL from nt_sd_parse. nt_acl_count gives the entry count
 * (0 for null). nt_acl_get_ace fills *ace_out with entry index (0-based);
 * 87 when acl or ace_out is null or index is out of range. */
NT_API int nt_acl_count(const nt_acl_t *acl);
NT_API int nt_acl_get_ace(const nt_acl_t *acl, int index,
                          nt_ace_info_t *ace_out);

/* ------------------------------------------------------------------------
 * Mode bits and access masks
 * ------------------------------------------------------------------------ */

/* The masks of the protection layout for the nine mode bits: owner read
 * 0x120089, write 0x130116, execute 0x1e00a0, always 0x0c0000; group and
 * other read 0x120089, write 0x120116, execute 0x1200a0. Any output may be
 * null. */
NT_API void nt_mode_to_masks(int mode, uint32_t *owner_out, uint32_t *group_out,
                             uint32_t *other_out);

/* The three permission bits (4 read, 2 write, 1 execute) a mask holds in
 * full: read 0x120009, write 0x120116, execute 0x1200a0. GENERIC_ALL counts
 * as all three. */
NT_API int nt_mask_to_perms(uint32_t mask);

/* The POSIX mode the DACL of a parsed descriptor grants: for the UNIX owner
 * (nt_sd_unix_owner), the descriptor's group and Everyone, the permissions
 * their non-inherit-only allowed entries hold in full, less any permission
 * a denied entry for the same SID or Everyone takes away. A null DACL gives
 * 0. -1 when info is null. */
NT_API int nt_sd_mode(const nt_sd_info_t *info);

/* The SID whose POSIX owner a descriptor sets: the owner entry of the
 * protection layout (the third allowed entry that is not inherit-only, when
 * the second is Everyone or the product group), else the descriptor owner.
 * Points into the descriptor; null when there is none. */
NT_API const nt_sid_t *nt_sd_unix_owner(const nt_sd_info_t *info);

/* A new descriptor of the protection layout: owner sd_owner, group group,
 * DACL in this order: the Network deny entry (0x10116) unless network_write
 * or the mode has 020; group (full control when it is the product group,
 * its mask plus full control when it is Administrators); Everyone; the
 * unix_owner; the product group with full control unless it is the group;
 * on a directory the inherit-only entries; Administrators with full control
 * unless it is the group. On a directory the entries carry the inheritance
 * flags. Results as nt_sd_build; 1337 when the product group does not
 * exist. */
NT_API int nt_sd_build_layout(const nt_sid_t *sd_owner,
                              const nt_sid_t *unix_owner, const nt_sid_t *group,
                              int mode, int is_dir, int network_write,
                              nt_security_descriptor_t **sd_out,
                              size_t *size_out);

/* ------------------------------------------------------------------------
 * Descriptors of files
 * ------------------------------------------------------------------------ */

/* The descriptor of a file or directory (following symbolic links), with
 * the parts that what asks for (other parts absent; the DACL part's control
 * bit only when asked), in new heap bytes (*sd_out, free with nt_sd_free;
 * length in *size_out, which may be null). Returns 0 or a file error (2, 3,
 * 5, 87, ...). */
NT_API int nt_get_file_security(const char *path, uint32_t what,
                                nt_security_descriptor_t **sd_out,
                                size_t *size_out);
NT_API int nt_get_fd_security(int fd, uint32_t what,
                              nt_security_descriptor_t **sd_out,
                              size_t *size_out);

/* Writes the parts of sd (size bytes) that what names into the file's
 * descriptor, keeping the others, and applies the result to the POSIX
 * owner, group and mode. A part that what names must be present in sd
 * (else 1338). Returns 0, 87 for null arguments, 1338/1337/1336 for a
 * descriptor that does not parse, 5 when the process may not write the
 * file's descriptor or change its owner as asked, or another file error.
 * On a file system without user extended attributes only the POSIX owner,
 * group and mode are written. */
NT_API int nt_set_file_security(const char *path, uint32_t what,
                                const nt_security_descriptor_t *sd,
                                size_t size);
NT_API int nt_set_fd_security(int fd, uint32_t what,
                              const nt_security_descriptor_t *sd, size_t size);

/* Creates a new file (never opening an existing one) or directory with the
 * complete descriptor sd: owner, group and DACL must be present. Returns 0;
 * 80 (file) or 183 (directory) when path exists; 87, 1338/1337/1336 as
 * nt_set_file_security; another file error. A file created is empty and
 * closed; when its descriptor cannot be written it is removed again. */
NT_API int nt_create_file_with_security(const char *path, int is_dir,
                                        const nt_security_descriptor_t *sd,
                                        size_t size);

/* Whether the file system holding path (or, when path does not exist,
 * its directory) takes user extended attributes: *has_acl_out 1 or 0.
 * Returns 0, 87 for null arguments, or the file error of the lookup. */
NT_API int nt_fs_has_acl(const char *path, int *has_acl_out);

/* ------------------------------------------------------------------------
 * The change-owner privilege: effective uid 0 or CAP_CHOWN.
 * ------------------------------------------------------------------------ */

/* 1 when the calling thread may give files to other owners now; else 0. */
NT_API int nt_is_chown_privileged(void);

/* Raises CAP_CHOWN (and CAP_FOWNER) into the calling thread's effective set
 * when they are permitted but not effective. Returns 1 when the thread
 * holds the change-owner privilege afterwards, else 0; *saved_out (may be
 * null) records what to undo. Capabilities are per thread: restore on the
 * thread that enabled. */
NT_API int nt_enable_chown_privileges(int *saved_out);

/* Undoes nt_enable_chown_privileges: drops from the effective set what that
 * call raised. */
NT_API void nt_restore_chown_privileges(int saved);

NT_END_DECLS

#endif
