/* The installation's settings store, its registry-style interface, the drive
 * and share tables that turn Windows path forms into host paths, and the
 * user-interface language.
 *
 * The store is one INI file: $ORVEX_REGISTRY when set (and not empty), else
 * /etc/orvex/registry.ini. A missing or unreadable file means nothing is
 * set. Its form:
 *
 *   ; comment            # comment
 *   [params]             numbered installation parameters: 7=, 8=, 16=, ...
 *   8=c:\orvex
 *   [HKLM\Software\Fennick\Sentrymon]   one section per registry key path
 *   Directory=c:\sentrymon
 *   [drives]             drive letter -> host directory (c=/ by default)
 *   d=/srv/data
 *   [shares]             this host's shares: name -> host directory
 *   [accounts]           account settings (product_group=)
 *
 * Lines are trimmed of blanks; a value wholly enclosed in double quotes
 * loses them (to keep leading or trailing blanks). Backslashes are literal.
 * Section and value names compare case-insensitively; the first of
 * duplicate names wins. A line that is neither a comment, a section header
 * nor "name=value" is skipped; after a broken section header the lines up
 * to the next good header belong to no section. Key sections may name their
 * root as HKLM, HKCU, HKCR, HKU or in full (HKEY_LOCAL_MACHINE, ...).
 *
 * Writes rewrite the whole file atomically (a temporary file in the same
 * directory, then rename), serialised between threads and, through a lock
 * on the directory, between processes.
 *
 * Results of the ntregy_ and nt_settings_ calls are the registry's codes
 * below: 0 on success, 2 when the value (or key) is not set.
 */
#ifndef ORVEXNT_NT_REGISTRY_H
#define ORVEXNT_NT_REGISTRY_H

#include <orvexnt/nt_base.h>

#include <stddef.h>
#include <stdint.h>

NT_BEGIN_DECLS

/* Result codes. */
#define NTREGY_OK 0
#define NTREGY_NOT_SET 2         /* no such value, key or section */
#define NTREGY_ACCESS_DENIED 5   /* the file could not be written */
#define NTREGY_NO_MEMORY 8       /* memory ran out */
#define NTREGY_INVALID_DATA 13   /* a DWORD value that is not a number */
#define NTREGY_INVALID_PARAM 87  /* a null or malformed argument */
#define NTREGY_MORE_DATA 234     /* the buffer is too small for the value */
#define NTREGY_NO_MORE_ITEMS 259 /* enumeration index past the last value */

/* Value types: the last argument of the parameter and value calls. */
#define NTREGY_TYPE_TEXT 0 /* NUL-terminated text */
#define NTREGY_TYPE_DWORD                          \
  4 /* a 32-bit integer in host byte order; stored \
     * as decimal text, read from decimal or 0x hex */

/* Settings file in use: $ORVEX_REGISTRY or /etc/orvex/registry.ini; null
 * when the variable is set but memory for its copy runs out. */
#define NTREGY_DEFAULT_FILE "/etc/orvex/registry.ini"
NT_API const char *nt_settings_file(void);

/* ---- Generic sections ---------------------------------------------------- */

/* Copies the value of name in section into buf (size bytes, NUL-terminated).
 * NTREGY_MORE_DATA when it does not fit (buf then holds as much as fits). */
NT_API int nt_settings_get(const char *section, const char *name, char *buf,
                           size_t size);

/* Sets name in section to value, adding the section when missing; a null
 * value removes the name. Removing a name that is not set succeeds. */
NT_API int nt_settings_set(const char *section, const char *name,
                           const char *value);

/* The index-th (from 0) value of section in file order, duplicates
 * included: its name and value. NTREGY_NO_MORE_ITEMS past the last one,
 * NTREGY_NOT_SET when the section does not exist. name or value may be null
 * when not wanted. */
NT_API int nt_settings_enum(const char *section, uint32_t index, char *name,
                            size_t name_size, char *value, size_t value_size);

/* ---- Installation parameters ([params]) ---------------------------------- */

/* Reads parameter id as type (NTREGY_TYPE_TEXT or NTREGY_TYPE_DWORD) into
 * buffer of size bytes (at least 4 for a DWORD). */
NT_API int ntregy_get_param(uint32_t id, size_t size, void *buffer, int type);

/* Stores parameter id: the text in buffer (up to size bytes or its NUL) or
 * the DWORD it holds. */
NT_API int ntregy_set_param(uint32_t id, size_t size, const void *buffer,
                            int type);

/* Reads a setting of the versioning file system (section [qmfs], then
 * [params]); the same conventions as ntregy_get_param. */
NT_API int ntregy_get_qmfs_param(uint32_t id, size_t size, void *buffer,
                                 int type);

/* ---- Keys ---------------------------------------------------------------- */

/* A registry key: one of the predefined roots below, or a handle of
 * ntregy_get_handle, closed with ntregy_close_key. */
typedef struct ntregy_key *ntregy_hkey_t;

#define NTREGY_HKEY_CLASSES_ROOT ((ntregy_hkey_t)(uintptr_t)0x80000000u)
#define NTREGY_HKEY_CURRENT_USER ((ntregy_hkey_t)(uintptr_t)0x80000001u)
#define NTREGY_HKEY_LOCAL_MACHINE ((ntregy_hkey_t)(uintptr_t)0x80000002u)
#define NTREGY_HKEY_USERS ((ntregy_hkey_t)(uintptr_t)0x80000003u)

/* Opens the key path (components separated by '\'; leading, trailing and
 * doubled separators are ignored) below key, which is a root or an open
 * key. The new handle holds a snapshot of the key's values taken now.
 * NTREGY_NOT_SET when the key does not exist. */
NT_API int ntregy_get_handle(ntregy_hkey_t key, const char *path,
                             ntregy_hkey_t *result);

/* Reads value name of the key path below key (path null or empty: key
 * itself) as type into buffer (size bytes). A root key is read from the
 * file now; an open handle from its snapshot. */
NT_API int ntregy_get_value(ntregy_hkey_t key, const char *path,
                            const char *name, size_t size, void *buffer,
                            int type);

/* The index-th value of an open key (from 0, in file order): its name and
 * its text. NTREGY_NO_MORE_ITEMS past the last one. */
NT_API int ntregy_enum_value(ntregy_hkey_t key, uint32_t index, char *name,
                             size_t name_size, char *value, size_t value_size);

/* Closes a handle of ntregy_get_handle; closing a root or null does
 * nothing. Returns 0. */
NT_API int ntregy_close_key(ntregy_hkey_t key);

/* ---- Paths --------------------------------------------------------------- */

/* Maps a path in Windows form onto a host path in out (size bytes):
 * '\' becomes '/'; "X:" (with or without a separator after it) maps through
 * the drive table ([drives], c=/ by default), so c:\orvex\bin is
 * /orvex/bin; "\\thishost\share\rest" maps through the share table
 * ([shares]), "\\otherhost\share\rest" to /net/otherhost/share/rest; a
 * path that starts with one separator is host-absolute, any other is left
 * relative. Returns 0, ENOENT for a drive or local share that is not in
 * its table, EINVAL for a null path or a UNC name without a share, or
 * ENAMETOOLONG when out is too small. A literal '\' in a host file name
 * cannot be reached this way. */
NT_API int nt_map_path(const char *path, char *out, size_t size);

/* Long path names need no special form on this platform: accepted, no
 * effect. */
NT_API void nt_disable_long_path(void);

/* ---- Language ------------------------------------------------------------ */

/* The three-letter user-interface language ("ENU", "DEU", "FRA", "JPN",
 * ...) from LC_ALL, LC_MESSAGES or LANG, the first that is set and not
 * empty; "ENU" when none is or the language is not known. The text is
 * constant. */
NT_API const char *nt_get_ui_language(void);

NT_END_DECLS

#endif
