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

#include <stdio.h>

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
/* local copied to out when host is this host; 0, or -1 when it does not
 * fit. A null or another host's path needs the drive prefix map, which
 * this build does not have: -1 with errno ENOSYS. */
KS_API int fileutl_pick_path(const char *host, const char *local, char *out,
                             size_t size);

KS_END_DECLS

#endif
