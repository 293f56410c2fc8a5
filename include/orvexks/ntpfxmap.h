/* The drive prefix map: which drive letter is connected to which UNC
 * prefix, shared by every process of the machine, and the rewriting of UNC
 * path names to drive path names through it. With it, the export list of a
 * host asked over the mount protocol. */
#ifndef ORVEXKS_NTPFXMAP_H
#define ORVEXKS_NTPFXMAP_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>
#include <orvexks/rpc/clnt.h>

#include <stddef.h>

KS_BEGIN_DECLS

/* Rewrites the UNC name in path (a buffer of size bytes) in place to the
 * drive form of the first map entry whose prefix covers it; a name no
 * entry covers, or one of this host, is left alone. A path beginning with
 * '%' has its %NAME% references expanded instead. 0, or -1 on failure
 * (the path is then unchanged). */
KS_API int ntpfxmap_convert(char *path, size_t size);

/* Connects the share or export that covers the UNC name unc to a free
 * drive letter (from Z: down) and enters prefix and drive in the map.
 * 0, or -1 when no provider covers it or no letter is free. */
KS_API int ntpfxmap_register(const char *unc);

/* Removes the entry of drive ("X:") from the map and disconnects the
 * drive when it is a network connection. 0, or -1. */
KS_API int ntpfxmap_unregister(const char *drive);

/* Lists the connected network drives into buf (size bytes) as texts
 * "X:=\\host\share", each terminated, the list ended by an empty text.
 * The number of drives, or -1 (ENAMETOOLONG when buf is too small). */
KS_API int ntpfxmap_get_drive_maps(char *buf, size_t size);

/* Removes every entry of the map. 0, or -1. */
KS_API int ntpfxmap_flush(void);

/* Checks every entry against the drive's current connection, marks the
 * entries that no longer hold as not in use, and returns the number found
 * valid, or -1. */
KS_API int ntpfxmap_validate_all(void);

/* ---- Export lists (mount protocol, program 100005, procedure EXPORT) --- */

typedef struct shwmnt_group {
  char *gr_name;
  struct shwmnt_group *gr_next;
} shwmnt_group_t;

typedef struct shwmnt_export {
  char *ex_dir;
  shwmnt_group_t *ex_groups;
  struct shwmnt_export *ex_next;
} shwmnt_export_t;

/* The export list of host: 0 with *exports_out the list (null when the
 * host exports nothing or does not answer, and when its reply breaks the
 * protocol: a path over 1024 bytes, a group name over 255), -1 when no
 * client could be made (*exports_out null then). Release the list with
 * shwmnt_free. */
KS_API int shwmnt_get(const char *host, shwmnt_export_t **exports_out);
KS_API void shwmnt_free(shwmnt_export_t *exports);

/* A client of host's mount service, or null (the reason printed). */
KS_API CLIENT *shwmnt_open_transport(const char *host);

/* The family's message table. */
KS_API const ks_msg_table_t *ntpfxmap_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_ntpfxmap_ks_msg_table_adr(void);

KS_END_DECLS

#endif
