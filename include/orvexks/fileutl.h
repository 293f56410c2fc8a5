/* Path names: forms, normalisation, absolute and relative conversion,
 * splitting, comparison of paths and host names, UNC names and where a
 * path lives, program files.
 *
 * A path name is 8-bit text in which '\' and '/' both separate components.
 * Drive (X:), UNC (\\host\share) and host-prefix (host:path) forms are
 * recognised; where these routines write a separator it is '\' unless a
 * routine says otherwise. Routines that read the file system map the forms
 * onto host paths through the companion library (nt_map_path); a full path
 * of this host comes back as a host path ('/'-separated).
 *
 * Results: predicates 1 or 0; routines that fill a caller buffer 0, or 1
 * (-1 where said) with errno ENAMETOOLONG when a result does not fit,
 * EINVAL for a malformed input; routines that return a text return the
 * caller's buffer or null. */
#ifndef ORVEXKS_FILEUTL_H
#define ORVEXKS_FILEUTL_H

#include <orvexks/ks_base.h>

#include <dirent.h>
#include <orvexks/list.h>
#include <orvexks/stg.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

KS_BEGIN_DECLS

/* ---- Forms. */

/* First character not NUL and second ':'. */
KS_API int fileutl_has_drive(const char *p);
/* A drive and a third character. */
KS_API int fileutl_is_drive_style(const char *p);
/* Starts with a separator, or a letter, ':' and a separator (X:a is not). */
KS_API int fileutl_is_abspn(const char *p);
/* \\host\share...: two separators, a host ended by a separator, a share. */
KS_API int fileutl_is_unc_pn(const char *p);
/* \ ; X:\ ; \\host, \\host\, \\host\share, \\host\share\ . */
KS_API int fileutl_is_root_pn(const char *p);
/* The drive part ("X:" or "") in a buffer of the calling thread. */
KS_API const char *fileutl_get_drive(const char *p);
/* The drive parts compared without regard to case: 0 when equal. */
KS_API int fileutl_is_drive_equal(const char *a, const char *b);

/* ---- Comparison (case-sensitive; '\' and '/' equal). */

KS_API int fileutl_pname_equal(const char *a, const char *b);
/* 1 when a equals b or is an ancestor of b at a component boundary. */
KS_API int fileutl_pname_equal_or_parent(const char *a, const char *b);

/* ---- Separators. */

/* The first separator of p, or null. */
KS_API char *fileutl_find_pname_sep_left(const char *p);
/* The last character of p when it is a separator, or null. */
KS_API char *fileutl_match_trailing_sep(const char *p);
/* 1 when p (len bytes; -1: measured) is at least 3 long and ends in a
 * separator and '.'. */
KS_API int fileutl_ends_with_slash_dot(const char *p, int len);
/* Removes trailing backslashes in place unless p is a root. */
KS_API void fileutl_strip_pname_sep(char *p);

/* ---- Normalisation and conversion. */

/* Splits an absolute path into its root (\, X:\ or \\host\share\) and the
 * rest; a path that is not absolute is a fatal error. */
KS_API int fileutl_root_split(const char *p, char *root, size_t rsize,
                              char *rest, size_t restsize);
/* The full host path of p (current directory applied, forms mapped);
 * 0, or -1 with errno. */
KS_API int fileutl_abspn(const char *p, char *out, size_t size);
/* The object name of p: here its full host path. Size 0 gives -1. */
KS_API int fileutl_absobjpn(const char *p, char *out, size_t size);
/* out = in without "." components and with ".." components applied
 * textually; "" becomes "\"; null when the result does not fit. */
KS_API char *fileutl_remove_embedded_dots(const char *in, char *out,
                                          size_t size);
/* path made absolute against cwd, never climbing above cwd's root; null
 * on failure. */
KS_API char *fileutl_make_abs_pn(char *out, size_t size, const char *path,
                                 const char *cwd);
/* path relative to base ("." when equal and dot_if_same), climbing at most
 * max_up levels with ".."; otherwise path itself. forward: '/' separators
 * in the result. */
KS_API char *fileutl_make_rel_pn(char *out, size_t size, const char *path,
                                 const char *base, int dot_if_same, int forward,
                                 int max_up);

/* ---- Splitting. Each returns 0, or 1 with errno ENAMETOOLONG. */

KS_API int fileutl_strip_leaf(const char *p, size_t dsize, char *dir,
                              size_t lsize, char *leaf);
KS_API int fileutl_strip_suffix(const char *p, size_t bsize, char *base,
                                size_t ssize, char *suffix);
/* host:path (the ':' not first, no separator before it); else host "". */
KS_API int fileutl_strip_hostname(const char *p, size_t hsize, char *host,
                                  size_t psize, char *path);

/* ---- Host names. */

/* Equal as bytes or after lower-casing. */
KS_API int fileutl_hostnames_equal(const char *a, const char *b);
/* Equal after lower-casing, or sharing an address. */
KS_API int fileutl_hosts_equal(const char *a, const char *b);
/* This host's name, or a line of the alternate-host-names file. */
KS_API int fileutl_is_localhost(const char *h);
/* The alternate-host-names file ("alternate_hostnames" in the host
 * configuration directory): opened for reading, or null (and never tried
 * again once an open has failed); its next line without the newline (null
 * at the end); closed. */
KS_API FILE *fileutl_set_alt_hostname(void);
KS_API char *fileutl_get_alt_hostname(FILE *stream, char *buf, int n);
KS_API void fileutl_end_alt_hostname(FILE *stream);

/* ---- Where a path lives; UNC names and back. */

/* "host:local path" of p. */
KS_API int fileutl_where(const char *p, char *out, size_t size);
/* The host of p (this host for a path that is not UNC). */
KS_API int fileutl_path_host(const char *p, char *out, size_t size);
/* *equal = whether p lives on host (null: this host); -1 when p's host
 * cannot be found. */
KS_API int fileutl_path_host_cmp(const char *p, const char *host, int *equal);
/* The UNC name of p through a network drive or a share of this host; with
 * no share the administrative form \\host\X$\...; the non-admin variant
 * then fails (1, EINVAL) with p's full path in out. */
KS_API int fileutl_unc_pn(const char *p, char *out, size_t size);
KS_API int fileutl_non_admin_unc_pn(const char *p, char *out, size_t size);
/* The local path of a UNC name of this host; *is_local 1 when found. */
KS_API int fileutl_get_local_path(const char *unc, int *is_local, char *out,
                                  size_t size);
/* Splits \\host\share\rest into the host and its local path, and copies
 * unc to orig. */
KS_API int fileutl_path_locate(const char *unc, char *host, size_t hsize,
                               char *local, size_t lsize, char *orig,
                               size_t osize);
/* The host (empty for this host) and local path of p. */
KS_API int fileutl_get_location(const char *p, char *host, size_t hsize,
                                char *local, size_t lsize);
/* The root of p's full path. */
KS_API int fileutl_mount_pname(const char *p, char *out, size_t size);

/* ---- The versioning file system's names. p must be absolute. */

/* 1 for a UNC name on the dynamic-view or remote-view host (settings 28
 * and 55 of the file system, "view" and "rview" by default). */
KS_API int fileutl_is_qmfs_pn(const char *p);
/* 1 for the dynamic-view host, 2 for the remote-view host, else 0. */
KS_API int fileutl_qmfs_vwtype_pn(const char *p);

/* ---- Names on disk. */

/* src rebuilt with each component as stored on disk; 1 when a component
 * does not exist (errno) or the result does not fit. */
KS_API int fileutl_get_true_pname(const char *src, size_t size, char *dst);
/* The same in place, at most 1024 characters. */
KS_API int fileutl_get_true_pn(char *p);
/* The program file prog names: as given or with ".com", ".exe", ".bat",
 * ".cmd", in its directory, or else in the current directory and $PATH;
 * *not_found 1 and out = prog when there is none. */
KS_API int fileutl_expand_prog_pn(const char *prog, int *not_found, char *out,
                                  size_t size);
/* The current directory as a host path; 0, or -1 with errno. */
KS_API int fileutl_getcwd(char *buf, size_t size);
/* local copied to out; for a null or another host, then converted through
 * the drive prefix map (ntpfxmap_convert). 0, or -1 when it does not fit
 * or the conversion fails. */
KS_API int fileutl_pick_path(const char *host, const char *local, char *out,
                             size_t size);

/* ======================================================================
 * Files: status, tree walks, directories, whole files, locks, names and
 * temporary files.
 *
 * Every path goes through the companion library's mapping (nt_map_path),
 * so the drive, UNC and '\' forms reach the host file. Failures set errno
 * and print through the ks message table unless the routine is quiet.
 * ====================================================================== */

/* ---- Status. */

/* The host's status record of path, following a symbolic link when follow
 * is non-zero, otherwise describing the link itself. 0, or -1 with errno
 * and st->st_mode cleared. */
KS_API int fileutl_stat(const char *path, int follow, struct stat *st);
/* 1 when fileutl_stat succeeds, else 0. */
KS_API int fileutl_exists(const char *path, int follow);

/* The status of the file system holding path (the fields are this
 * platform's choice; sizes in bytes are block_size * blocks). */
typedef struct fileutl_statfs {
  uint64_t block_size;
  uint64_t total_blocks;
  uint64_t free_blocks;  /* free for the super-user */
  uint64_t avail_blocks; /* free for everyone else */
  uint64_t total_files;
  uint64_t free_files;
  uint64_t name_max; /* longest file name */
  int read_only;
} fileutl_statfs_t;
/* 0, or -1 with errno. */
KS_API int fileutl_statfs(const char *path, fileutl_statfs_t *out);
/* Not provided: always -1 with errno ENOSYS. */
KS_API int fileutl_readlink(const char *path, char *buf, size_t size);
/* 1 when size is 2 GiB or more, printing "File "<path>" is larger than 2GB
 * ..." when path is not null or empty; else 0. */
KS_API int fileutl_chk_large_file_overflow(uint64_t size, const char *path);

/* ---- Tree walks. */

/* Visitor flags: also call the visitor for a directory before / after its
 * contents. Non-directories are always visited (phase 1). */
#define FILEUTL_VISIT_BEFORE 1
#define FILEUTL_VISIT_AFTER 2
/* Callback results: the low two bits are control bits, the others an
 * error indication that the walk ORs into its result. */
#define FILEUTL_CB_NO_DESCEND 1
#define FILEUTL_CB_STOP 2
#define FILEUTL_CB_FAILED (-4)
/* Walk flags. */
#define FILEUTL_WALK_STOP_ON_FAILURE 1
#define FILEUTL_WALK_DESCEND 2
#define FILEUTL_WALK_STAT 4
#define FILEUTL_WALK_LSTAT 8 /* do not follow symbolic links */
#define FILEUTL_WALK_QUIET 16
#define FILEUTL_RM_TRACE 32

/* path: the root as given, then each component after '\' (none added after
 * a root that ends in one); root: the root as given; reldir: the entry's
 * directory relative to the root ("" for the root and its own entries,
 * components joined with '\'); name: the entry's name ("" for the root);
 * phase 1 before, 2 after a directory's contents; depth 0 for the root. */
typedef int (*fileutl_visit_fn_t)(void *arg, const char *path, const char *root,
                                  const char *reldir, const char *name,
                                  const struct stat *st, int phase, int depth);
typedef struct fileutl_visitor {
  struct fileutl_visitor *next;
  int flags;
  fileutl_visit_fn_t callback;
  void *arg;
} fileutl_visitor_t;

/* The four operations a walk uses, so that any tree can be walked:
 * status (follow as in fileutl_stat; 0 or -1 with errno), open a
 * directory (null with errno), its next entry name (null at the end; with
 * errno set non-zero on a failure), close it. */
typedef struct fileutl_walk_ops {
  int (*status)(void *arg, const char *path, int follow, struct stat *st);
  void *(*open_dir)(void *arg, const char *path);
  const char *(*read_entry)(void *arg, void *dir);
  void (*close_dir)(void *arg, void *dir);
  void *arg;
} fileutl_walk_ops_t;

/* Walks root: the visitors are called for the root, and with
 * FILEUTL_WALK_DESCEND for everything below it, depth first; a directory
 * met again below itself (same device and non-zero inode: a link loop) is
 * visited but not entered. One
 * walk runs at a time in the process. 0, the OR of the callbacks' error
 * bits, or FILEUTL_CB_FAILED after an unreadable entry or root. */
KS_API int fileutl_walk_tree(const char *root, fileutl_visitor_t *visitors,
                             int flags);
KS_API int fileutl_walk_tree_any(const char *root, fileutl_visitor_t *visitors,
                                 const fileutl_walk_ops_t *ops, int flags);
/* Removes a file, or with FILEUTL_WALK_DESCEND a whole tree (links are
 * removed, never followed). The walk's result. */
KS_API int fileutl_rm(const char *path, int flags);
/* *total_out = the sum of the sizes of every file and directory of the
 * walk. The walk's result. */
KS_API int fileutl_du(const char *root, int flags, double *total_out);

/* Tree iterator: every entry below root, depth first. */
typedef struct fileutl_scan fileutl_scan_t;
/* 0, or -1 with the errno in *err_out when root is not a readable
 * directory. */
KS_API int fileutl_scan_tree_begin(const char *root, int flags,
                                   fileutl_scan_t **scan_out, int *err_out);
/* 1 with the next entry (*name_out: root, '\', its path below the root;
 * valid until the next call), 0 at the end, -1 with *err_out for an entry
 * or directory that cannot be read (the next call goes on after it). */
KS_API int fileutl_scan_tree_next(fileutl_scan_t *scan, const char **name_out,
                                  struct stat *st_out, int *err_out);
/* Closes every open directory, frees the iterator, sets *scan to null. */
KS_API void fileutl_scan_tree_end(fileutl_scan_t **scan);

/* ---- Directories. */

KS_API DIR *fileutl_opendir(const char *path);
KS_API struct dirent *fileutl_readdir(DIR *dir);
/* 0 with *result = entry (filled) or null at the end, or an errno value. */
KS_API int fileutl_readdir_r(DIR *dir, struct dirent *entry,
                             struct dirent **result);
KS_API int fileutl_closedir(DIR *dir);
/* Every entry name of dir ("." and ".." as the host gives them), the
 * array and the names in area. The count, or -1 with errno. */
KS_API int fileutl_read_whole_dir(const char *dir, stg_area_t area,
                                  char ***names_out);

/* ---- Whole files. */

/* The file's bytes in memory from area (followed by a NUL not counted in
 * *size_out). 0, or 1 with the errno in *err_out: EFBIG at 2 GiB or more
 * (after a message), ENOMEM, EIO for a short read. */
KS_API int fileutl_load(const char *path, stg_area_t area, void **data_out,
                        uint64_t *size_out, int *err_out);
/* Writes length bytes to path (mode 0644 when created). The bytes go to a
 * temporary file beside path that replaces it once complete, so a failure
 * leaves path as it was; where that cannot be done (path is not a regular
 * file, or its directory cannot take a new file) path is truncated and
 * written in place. 0, or 1 with the errno in *err_out: ENOSPC when a
 * write writes nothing, EIO for a short total. */
KS_API int fileutl_dump(const void *buffer, uint64_t length, const char *path,
                        int *err_out);

/* ---- Byte-range locks: record locks visible to other processes. */

/* Locks (without waiting) or unlocks length bytes from offset; length 0 is
 * the largest range. 0, EACCES when another process holds part of the
 * range, another errno value, or 1 for an invalid descriptor. A descriptor
 * open only for reading takes a shared lock. */
KS_API int fileutl_lockfd(int fd, uint64_t offset, uint64_t length);
KS_API int fileutl_unlockfd(int fd, uint64_t offset, uint64_t length);

/* ---- Names. */

/* Creates the missing parent directories of path with mode, and path
 * itself when make_last. 0, or the errno value (errno set too): ENOENT
 * when the root is missing. */
KS_API int fileutl_mkpath(const char *path, int mode, int make_last);
/* Renames from to to (an existing to is replaced). 0, or -1 with errno.
 * The wide form takes UTF-16 texts (strutl_wchar_t). */
KS_API int fileutl_rename(const char *from, const char *to);
KS_API int fileutl_rename_w(const uint16_t *from, const uint16_t *to);
/* Renames path to path + suffix, or when that exists to path + suffix +
 * sepchar + n for the first free n = 1, 2, ...; the new name in out. 0, or
 * 1 with errno (ENAMETOOLONG past 1024 characters or size). sepchar 0 is
 * '.'. */
KS_API int fileutl_rename_unique(const char *path, const char *suffix,
                                 size_t size, char *out);
KS_API int fileutl_rename_unique_ext(const char *path, const char *suffix,
                                     int sepchar, size_t size, char *out);
KS_API int fileutl_rename_unique_w(const uint16_t *path, const uint16_t *suffix,
                                   size_t size, uint16_t *out);
/* dir + name (joined as given), then with control 0 "." and a date-time
 * token of now; with control 1 nothing, or ".1" ... ".999" while the name
 * exists. 0, or 1. */
KS_API int fileutl_make_unique_pn(const char *dir, const char *name,
                                  int control, size_t size, char *out);

/* ---- Temporary files. */

/* The temporary directory: preferred when it is writable and shorter than
 * 1008 characters, else the process's own (TMP, TMPDIR, c:\ or ".", chosen
 * once), without trailing separators. 0, or the errno value (ENAMETOOLONG
 * when it is longer than size - 16). len_out may be null. */
KS_API int fileutl_get_tmpdir(const char *preferred, char *out, size_t size,
                              size_t *len_out);
/* The process's temporary directory; as fileutl_get_tmpdir. */
KS_API int fileutl_tmpdir(char *out, size_t size);
/* A new file dir\<prefix><5 digits>[.ext] created exclusively and open as
 * a stream ("w+" or "w+b"); dir null: the temporary directory; prefix
 * null: "tmp"; ext null: none; name_out null: the file goes when closed;
 * mode 0: 0666. Null with errno on failure. */
KS_API FILE *fileutl_tmpfile_ext_opt(const char *dir, const char *prefix,
                                     const char *ext, char *name_out,
                                     size_t size, int binary, int mode);
KS_API FILE *fileutl_tmpfile_ext(const char *dir, const char *prefix,
                                 const char *ext, char *name_out, size_t size);
KS_API FILE *fileutl_tmpfile_ext_binary(const char *dir, const char *prefix,
                                        const char *ext, char *name_out,
                                        size_t size);

/* ---- Checksums, comparison, copying, line readers, search lists and
 * pattern lists. Paths in any of the forms are mapped onto host paths. */

/* The product's file checksum: a 32-bit value over the bytes, from the
 * reflected CRC-32 table of IEEE 802.3 with entry 0 replaced by 0x7FFFFFFF,
 * shifting left; a zero table index is replaced by a counter that runs
 * 0 .. 255 and wraps; no final inversion. Nothing gives 0, "abc" gives
 * 0xB37F2436. fileutl_crc reads the file, fileutl_crc_fd the rest of an
 * open descriptor (and its byte count); both 0, or -4 with the errno in
 * *err_out. */
KS_API int fileutl_crc(const char *path, uint32_t *crc_out, int *err_out);
KS_API int fileutl_crc_fd(int fd, uint32_t *crc_out, uint64_t *size_out,
                          int *err_out);
KS_API void fileutl_crc_buffer(const void *buf, size_t len, uint32_t *crc_out);
/* Continues a checksum: *counter_io and *crc_io start at 0 and are carried
 * from one piece of the data to the next. */
KS_API void fileutl_crc_buffer_step(const void *buf, size_t len,
                                    uint32_t *counter_io, uint32_t *crc_io);

/* Compares two files' contents: 0 with *equal_out 1 or 0, or -1 (errno)
 * when either cannot be examined, opened or read; messages unless quiet. */
KS_API int fileutl_cmp(const char *a, const char *b, int quiet, int *equal_out);

/* Copies a file (content and mode; its security descriptor where the
 * target's file system keeps one) to the path `to`, through a temporary
 * name beside it that is renamed into place, so `to` is either the old
 * file or the whole copy. A source that changes size while it is copied
 * leaves `to` alone. A directory is created with its source's mode.
 * flags are walk flags: FILEUTL_WALK_DESCEND (2) copies a directory's
 * contents recursively (an entry that fails is reported and the rest still
 * copied); FILEUTL_WALK_LSTAT (8) copies a symbolic link as a link;
 * FILEUTL_WALK_QUIET (16) prints no error message. 0, or -4 (errno set). */
KS_API int fileutl_cp(const char *from, const char *to, int flags);
/* The same, printing "<from> copy N% complete." as each tenth of a file is
 * copied, the last line of each file at 100. */
KS_API int fileutl_copy_with_progress(const char *from, const char *to,
                                      int flags);

/* fgets(buf, size, stream) that waits at most timeout_ms milliseconds
 * (negative: no limit) for the line and retries reads interrupted by
 * signals. 0 with a line; 0 with *eof_out 1 and buf "" at the end of the
 * file; 1 with *timeout_out 1 (errno ETIMEDOUT) when the time ran out,
 * buf holding what had arrived; 1 with errno on other errors. */
KS_API int fileutl_fgets_or_timeout(FILE *stream, int size, int timeout_ms,
                                    char *buf, int *eof_out, int *timeout_out);

/* Backward line reader: lines of a stream from its current position (its
 * end when at_end) towards its start. Each fileutl_bw_fgets fills buf from
 * its end and returns the line inside buf with its own newline; a line
 * longer than size - 1 comes in pieces, last piece first, with *full_out
 * 1; at the start of the stream the result is null with *bof_out 1. */
typedef struct fileutl_bw fileutl_bw_t;
KS_API fileutl_bw_t *fileutl_bw_start(FILE *stream, int at_end);
KS_API char *fileutl_bw_fgets(char *buf, int size, fileutl_bw_t *reader,
                              int *full_out, int *bof_out);
KS_API void fileutl_bw_stop(fileutl_bw_t *reader);

/* Maps the first length bytes of a file (0: all of it) read-only into
 * memory; the address is the handle, null with errno on failure.
 * *size_out (when not null) receives the mapped length. */
KS_API const void *fileutl_locate_pname(const char *path, uint64_t length,
                                        uint64_t *size_out);
/* Releases a mapping of fileutl_locate_pname: 0, or -1 with EINVAL. */
KS_API int fileutl_unlocate(const void *handle);

/* Search lists: dirs is a ';'-separated list of directories, searched from
 * entry `start` (0 the first) for name, as it stands and then with each
 * ';'-separated extension of exts appended, each candidate (directory, '\'
 * and name) tested with access(candidate, mode). 0 with the candidate in
 * out and its directory's entry in *index_out; 2 when none is accessible;
 * 1 with ENAMETOOLONG when a candidate passes 1024 characters or does not
 * fit out. */
KS_API int fileutl_resolve_pathname_index_with_ext(const char *dirs,
                                                   const char *name, int start,
                                                   int mode, const char *exts,
                                                   size_t size, char *out,
                                                   int *index_out);
KS_API int fileutl_resolve_pathname_index(const char *dirs, const char *name,
                                          int start, int mode, size_t size,
                                          char *out, int *index_out);
KS_API int fileutl_resolve_pathname(const char *dirs, const char *name,
                                    int mode, size_t size, char *out);
/* path itself, then path with each extension of exts; results as above. */
KS_API int fileutl_resolve_pathname_by_ext(const char *path, int mode,
                                           const char *exts, size_t size,
                                           char *out);
/* The names of the first directory of dirs (from entry start) holding
 * entries that match the wildcard pattern (a single name component as
 * wild.h describes it, matched in path-name mode; "." and ".." only for a
 * pattern that begins with '.'): 0 with *names_out a sorted,
 * null-terminated heap array of the full names (directory, '\', entry),
 * *count_out their number and *index_out the directory's entry; 2 when no
 * directory holds a match; 1 with errno (ENAMETOOLONG, ENOMEM, EINVAL for a
 * malformed pattern). Release the array with fileutl_resolve_pattern_free. */
KS_API int fileutl_resolve_pattern_index(const char *dirs, const char *pattern,
                                         int start, char ***names_out,
                                         int *count_out, int *index_out);
KS_API void fileutl_resolve_pattern_free(char **names);

/* Pattern lists: list holds path patterns (texts). Each is compared with
 * the tail of name holding as many separators as the pattern; a pattern
 * with '%' matches a tail that starts with the text before the '%' and
 * ends with the text after it (inexact), any other must equal the tail
 * (exact, *exact_out 1). 1 for the first match (with *cursor_out its
 * element), else 0 (cursor null). name, cursor_out and exact_out must not
 * be null. */
KS_API int fileutl_patt_list_matched_cell(list_t *list, const char *name,
                                          list_elem_t **cursor_out,
                                          int *exact_out);
KS_API int fileutl_patt_list_match(list_t *list, const char *name,
                                   int *exact_out);
/* The index of the first of count paths that equals path or is its
 * ancestor, or FILEUTL_NOT_SCOPED. */
#define FILEUTL_NOT_SCOPED 0xFFFFFFFFu
KS_API uint32_t fileutl_pname_scoped_by_list(const char *const *paths,
                                             uint32_t count, const char *path);

/* The stored spelling of p's last component (trailing separators
 * ignored) in leaf (size bytes): 0, or 1 with errno when a component does
 * not exist or the leaf does not fit (ENAMETOOLONG). */
KS_API int fileutl_get_true_leaf(const char *p, size_t size, char *leaf);
/* p with a mapped network drive replaced by its UNC name (\\host\share and
 * the path after "X:"), any other path copied; the result is limited to
 * 259 characters as the system call behind it is. 0, or 1 with errno. */
KS_API int fileutl_expand_mapped_pn(const char *p, char *out, size_t size);

KS_END_DECLS

#endif
